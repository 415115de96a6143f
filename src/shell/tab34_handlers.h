// The window's handlers of tabs III and IV, one place each: each is a call of its command in
// the core, so the window binds its widgets here and nothing else of it knows the commands.
#pragma once

#include <cstddef>

namespace ravelin {
class Workspace;
}

namespace ravelin::shell {

// The person made tab `index` the active page (PageControl1Change). Tab III (index 2)
// rebuilds the database-file list there (ListHeaderFragments).
void OnPageControl1Change(Workspace& ws, int index);

// Tab III.
void OnListView3Click(Workspace& ws);  // keeps the clicked row selected for the analysis
void OnButton1Click(Workspace& ws);    // "分析该碎片(FILTER)"

// List II's "取勾选碎片的文件名" (N17).
void OnN17Click(Workspace& ws);

// Tab IV.
void OnListView4Click(Workspace& ws);
void OnListView4ColumnClick(Workspace& ws, std::size_t column);
void OnButton5Click(Workspace& ws);  // "检查遗漏页(CHECK)"
void OnButton6Click(Workspace& ws);  // "查找遗漏碎片(SEARCH MORE)"
void OnButton2Click(Workspace& ws);  // "组合MDF(CREATE MDF)"

// The successor choice dialog's "把勾选的碎片保存为文件".
void OnSaveCandidatesClick(Workspace& ws);

// What the status bar says for a handler whose command is not in the core yet.
inline constexpr char kNotYetAvailable[] = "此功能尚未接入(not available yet)";

}  // namespace ravelin::shell
