// The window's handlers of tabs III and IV, one place each. The analysis (tab III) and the
// assembly (tab IV) are not part of the core yet: until their commands are, each handler
// here says so in the status bar and changes nothing. When a command lands, its handler here
// becomes a call of it, and nothing else in the window changes.
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
// After "把选择的碎片加入组合" (N16) has marked FragmentChosen: rebuild the Assembly list.
void AfterN16Click(Workspace& ws);

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
