// What the person can do with list II (the fragment list of tab II): filter it by page ids,
// sort it, tick rows by hand or automatically, count the ticked fragments, copy a start
// sector, and put ticked fragments into the Assembly list. Also the page-number limit
// option of tab I. Numbers are read back from the list's cells, as the window shows them.
#pragma once

#include <cstddef>

namespace ravelin {

class Workspace;

// Cells of list II (and of the Assembly list).
namespace list_column {
inline constexpr std::size_t kPosition = 0;  // "序号": 1-based position in FragmentList
inline constexpr std::size_t kSizeKB = 1;
inline constexpr std::size_t kStartPage = 2;
inline constexpr std::size_t kEndPage = 3;
inline constexpr std::size_t kRemark = 4;
inline constexpr std::size_t kStartSector = 5;
inline constexpr std::size_t kEndSector = 6;
}  // namespace list_column

// "过滤": by the selected radio button, rb1 (lo <= StartPage < hi), rb2 (the fragment holds
// page p) or rb3 (everything), then rebuilds list II. An edit that is not a decimal integer
// stops it with the conversion message before any row changes.
void edtfilterClick(Workspace& ws);

// A click in the list marks the current row selected.
void ListView2Click(Workspace& ws);
// A header click sorts list II by that column, unless a scan or another job runs.
void ListView2ColumnClick(Workspace& ws, std::size_t column);

void N10Click(Workspace& ws);  // tick every row
void N14Click(Workspace& ws);  // clear every tick
void N15Click(Workspace& ws);  // invert every tick
void N12Click(Workspace& ws);  // statistics of the ticked rows
void N13Click(Workspace& ws);  // copy the current row's start sector to the clipboard
void N16Click(Workspace& ws);  // add the ticked rows to the assembly

// "自动勾选": from the current row, ticks the following rows that continue the chain within
// edtpagelen pages, looking edtlen rows ahead of the last row ticked.
void Button8Click(Workspace& ws);

// Tab I "开始页面号小于": the limit edit is usable only while the box is ticked.
void CheckBox1Click(Workspace& ws);

}  // namespace ravelin
