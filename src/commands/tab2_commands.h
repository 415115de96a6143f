// The controls of tab II around list II: the filter, clicks in the list and on its header,
// and "自动勾选".
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelin {

class Workspace;

// "过滤": by the selected radio button, rb1 (lo <= StartPage < hi), rb2 (the fragment holds
// page p) or rb3 (everything), then rebuilds list II. An edit that is not a decimal integer
// stops it with the conversion message before any row changes.
void edtfilterClick(Workspace& ws);

// What the filter does with numbers: list II shows the rows that start on a page in
// [lo, hi), the rows that hold `page`, or every row.
void ShowFragmentsStartingIn(Workspace& ws, std::int32_t lo, std::int32_t hi);
void ShowFragmentsHolding(Workspace& ws, std::int32_t page);
void ShowAllFragments(Workspace& ws);
// Sorts list II by `column` (shared with the Assembly list as the sort column).
void SortFragmentList(Workspace& ws, std::size_t column);

// A click in the list marks the current row selected.
void ListView2Click(Workspace& ws);
// A header click sorts list II by that column, unless a scan or another job runs.
void ListView2ColumnClick(Workspace& ws, std::size_t column);

// "自动勾选": from the current row, ticks the following rows that continue the chain within
// edtpagelen pages, looking edtlen rows ahead of the last row ticked.
void Button8Click(Workspace& ws);

}  // namespace ravelin
