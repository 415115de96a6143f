#include "commands/workspace_fragments.h"

#include <algorithm>

#include "catalogue/fragment_rows.h"
#include "commands/command_guards.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin {

const FragmentRow* WorkspaceFragmentSink::Last() const {
  // The scan is the only writer while it runs: reading its own rows needs no lock.
  return ws_.fragments().Empty() ? nullptr : &ws_.fragments().Row(ws_.fragments().Count() - 1);
}

void WorkspaceFragmentSink::Append(FragmentRow row) {
  {
    MutexLock lock(ws_.tableLock);
    FragmentTable& table = ws_.LockedFragments();
    table.Append(std::move(row));
    const std::size_t i = table.Count() - 1;
    if (ws_.showsLists()) ws_.LockedList(ws_.ListView2()).Append(FragmentListItem(table.Row(i), i));
  }
  ws_.ui().Changed(Change::kFragmentList);
}

void WorkspaceFragmentSink::RemoveLast() {
  MutexLock lock(ws_.tableLock);
  ws_.LockedFragments().RemoveLast();
  if (ws_.showsLists()) ws_.LockedList(ws_.ListView2()).RemoveLast();
}

void WorkspaceFragmentSink::KeepPage(std::uint64_t sector, PageView page) {
  ws_.Facts().Keep(sector, page);
}

bool AddFragment(Workspace& ws, std::int32_t no, std::int64_t pages, std::int32_t startPage,
                 std::uint64_t startSector, const std::optional<std::string>& inheritedRemark) {
  const Tab1Controls& tab1 = ws.controls().tab1;
  if (tab1.CheckBox1) {
    const auto limit = ParseInteger(tab1.edtmaxpageid);
    if (limit && startPage >= *limit) return false;
  }
  UiReporter reporter(ws.ui(), Memo::kMemo1);
  auto row =
      MakeFragmentRow(no, pages, startPage, startSector, inheritedRemark, ws.reader(), reporter);
  if (!row) return false;
  WorkspaceFragmentSink(ws).Append(std::move(*row));
  return true;
}

void FillFragmentList(Workspace& ws) {
  if (!ws.showsLists()) return;
  {
    MutexLock lock(ws.tableLock);
    FillFragmentList(ws.fragments(), ws.LockedList(ws.ListView2()));
  }
  ws.ui().Changed(Change::kFragmentList);
}

void BuildFragmentIndex(Workspace& ws) {
  MutexLock lock(ws.tableLock);
  ws.LockedFragments().BuildFragmentIndex();
}

std::size_t FragmentListCount(const Workspace& ws) {
  if (ws.showsLists()) return ws.ListView2().Count();
  return static_cast<std::size_t>(
      std::count_if(ws.fragments().Rows().begin(), ws.fragments().Rows().end(),
                    [](const FragmentRow& row) { return row.Shown != 'N'; }));
}

void ForEachFragmentListItem(const Workspace& ws, const std::function<void(const ReportRow&)>& f) {
  if (ws.showsLists()) {
    for (const ReportRow& item : ws.ListView2().Rows()) f(item);
    return;
  }
  // As FillFragmentList builds the list: the shown rows in table order, captioned with their
  // position in the table.
  const auto& rows = ws.fragments().Rows();
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].Shown != 'N') f(FragmentListItem(rows[i], i));
}

}  // namespace ravelin
