#include "commands/tab2_commands.h"

#include <optional>
#include <string>

#include "catalogue/list_operations.h"
#include "commands/command_guards.h"
#include "commands/workspace_fragments.h"
#include "common/messages.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// The edit's value, or the conversion message and nothing.
std::optional<std::int32_t> EditNumber(Workspace& ws, const std::string& text) {
  const auto value = ParseInteger<std::int32_t>(text);
  if (!value) ws.ui().ShowMessage(NotAnIntegerMessage(text), kPromptCaption, MessageIcon::kError);
  return value;
}

void Filter(Workspace& ws, const std::function<bool(const FragmentRow&)>& visible) {
  {
    MutexLock lock(ws.tableLock);
    ShowWhere(ws.LockedFragments(), visible);
  }
  FillFragmentList(ws);
}

}  // namespace

void edtfilterClick(Workspace& ws) {
  const Tab2Controls& tab2 = ws.controls().tab2;
  if (!tab2.rb1 && !tab2.rb2 && !tab2.rb3) return;
  if (RefuseWhileJobRuns(ws)) return;
  if (tab2.rb1) {
    const auto lo = EditNumber(ws, tab2.Edit1);
    if (!lo) return;
    const auto hi = EditNumber(ws, tab2.edtendid);
    if (!hi) return;
    ShowFragmentsStartingIn(ws, *lo, *hi);
  } else if (tab2.rb2) {
    const auto p = EditNumber(ws, tab2.edtpgid);
    if (!p) return;
    ShowFragmentsHolding(ws, *p);
  } else {
    ShowAllFragments(ws);
  }
}

void ShowFragmentsStartingIn(Workspace& ws, std::int32_t lo, std::int32_t hi) {
  Filter(ws, [&](const FragmentRow& r) { return lo <= r.StartPage && r.StartPage < hi; });
}

void ShowFragmentsHolding(Workspace& ws, std::int32_t page) {
  Filter(ws, [&](const FragmentRow& r) { return r.StartPage <= page && page < r.EndPage; });
}

void ShowAllFragments(Workspace& ws) {
  Filter(ws, [](const FragmentRow&) { return true; });
}

void SortFragmentList(Workspace& ws, std::size_t column) {
  if (column >= ws.ListView2().ColumnCount()) return;
  ws.SortColumn() = static_cast<int>(column);
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView2()).Sort(column);
  }
  ws.ui().Changed(Change::kFragmentList);
}

void ListView2Click(Workspace& ws) {
  const std::ptrdiff_t current = ws.ListView2().Current();
  if (current < 0) return;
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView2()).Edit(static_cast<std::size_t>(current)).selected = true;
  }
  ws.ui().Changed(Change::kFragmentList);
}

void ListView2ColumnClick(Workspace& ws, std::size_t column) {
  // During a scan the worker appends to the list: a header click does nothing.
  if (!ws.ScanStopped().load() || ws.JobRunning()) return;
  SortFragmentList(ws, column);
}

void Button8Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  const std::ptrdiff_t current = ws.ListView2().Current();
  if (current < 0) return;
  const Tab2Controls& tab2 = ws.controls().tab2;
  const auto window = EditNumber(ws, tab2.edtpagelen);
  if (!window) return;
  const auto lookAhead = EditNumber(ws, tab2.edtlen);
  if (!lookAhead) return;
  std::int64_t r = 0;
  {
    MutexLock lock(ws.tableLock);
    r = AutoTick(ws.LockedList(ws.ListView2()), static_cast<std::size_t>(current), *window,
                 *lookAhead);
  }
  ws.ui().Changed(Change::kFragmentList);
  ws.ui().ShowMessage(std::string(Text(TextId::kAutoTickReached)) + std::to_string(r));
}

}  // namespace ravelin
