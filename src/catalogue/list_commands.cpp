#include "catalogue/list_commands.h"

#include <algorithm>
#include <optional>
#include <string>

#include "catalogue/command_guards.h"
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

std::int64_t CellNumber(const ReportRow& row, std::size_t column) {
  return ParseInteger<std::int64_t>(row.Cell(column)).value_or(0);
}

std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

template <typename Visible>
void SetShown(Workspace& ws, Visible visible) {
  for (std::size_t i = 0; i < ws.fragments.Count(); ++i) {
    FragmentRow& row = ws.fragments.Row(i);
    row.Shown = visible(row) ? 'Y' : 'N';
  }
  FillFragmentList(ws);
}

}  // namespace

void edtfilterClick(Workspace& ws) {
  const Tab2Controls& tab2 = ws.controls.tab2;
  if (!tab2.rb1 && !tab2.rb2 && !tab2.rb3) return;
  if (RefuseWhileJobRuns(ws)) return;
  if (tab2.rb1) {
    const auto lo = EditNumber(ws, tab2.Edit1);
    if (!lo) return;
    const auto hi = EditNumber(ws, tab2.edtendid);
    if (!hi) return;
    SetShown(ws, [&](const FragmentRow& r) { return *lo <= r.StartPage && r.StartPage < *hi; });
  } else if (tab2.rb2) {
    const auto p = EditNumber(ws, tab2.edtpgid);
    if (!p) return;
    SetShown(ws, [&](const FragmentRow& r) { return r.StartPage <= *p && *p < r.EndPage; });
  } else {
    SetShown(ws, [](const FragmentRow&) { return true; });
  }
}

void ListView2Click(Workspace& ws) {
  const std::ptrdiff_t current = ws.ListView2.Current();
  if (current < 0) return;
  ws.ListView2.Row(static_cast<std::size_t>(current)).selected = true;
  ws.ui().Changed(Change::kFragmentList);
}

void ListView2ColumnClick(Workspace& ws, std::size_t column) {
  // During a scan the worker appends to the list: a header click does nothing.
  if (!ws.ScanStopped.load() || ws.JobRunning()) return;
  if (column >= ws.ListView2.ColumnCount()) return;
  ws.SortColumn = static_cast<int>(column);
  ws.ListView2.Sort(column);
  ws.ui().Changed(Change::kFragmentList);
}

void N10Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  ws.ListView2.CheckAll(true);
  ws.ui().Changed(Change::kFragmentList);
}

void N14Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  ws.ListView2.CheckAll(false);
  ws.ui().Changed(Change::kFragmentList);
}

void N15Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  ws.ListView2.InvertChecks();
  ws.ui().Changed(Change::kFragmentList);
}

void N12Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  std::int64_t count = 0;
  std::int64_t total = 0;
  for (const std::size_t i : ws.ListView2.CheckedRows()) {
    ++count;
    total += CellNumber(ws.ListView2.Row(i), list_column::kSizeKB);
  }
  ws.ui().ShowMessage("统计结果:碎片数量为" + std::to_string(count) +
                      "总大小为:" + std::to_string(total) + "KB");
}

void N13Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  const std::ptrdiff_t current = ws.ListView2.Current();
  if (current < 0) return;
  ws.ui().SetClipboardText(
      Trimmed(ws.ListView2.Row(static_cast<std::size_t>(current)).Cell(list_column::kStartSector)));
}

void N16Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  auto& chosen = ws.fragments.FragmentChosen();
  for (const std::size_t i : ws.ListView2.CheckedRows()) {
    // "序号" is the row's 1-based position in FragmentList, also while the filter hides rows.
    const std::int64_t position = CellNumber(ws.ListView2.Row(i), list_column::kPosition);
    if (position >= 1 && static_cast<std::uint64_t>(position) <= chosen.size())
      chosen[static_cast<std::size_t>(position - 1)] = 1;
  }
  // The Assembly list is rebuilt from FragmentChosen by tab IV (FillAssemblyList).
  ws.ui().Changed(Change::kAssemblyList);
}

void Button8Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  ReportList& list = ws.ListView2;
  const std::ptrdiff_t current = list.Current();
  if (current < 0) return;
  const Tab2Controls& tab2 = ws.controls.tab2;
  const auto window = EditNumber(ws, tab2.edtpagelen);
  if (!window) return;
  const auto lookAhead = EditNumber(ws, tab2.edtlen);
  if (!lookAhead) return;

  const auto last = static_cast<std::int64_t>(list.Count()) - 1;
  auto limitFrom = [&](std::int64_t r) { return std::min<std::int64_t>(*lookAhead + r, last); };
  std::int64_t cur = CellNumber(list.Row(static_cast<std::size_t>(current)), list_column::kEndPage);
  std::int64_t r = current + 1;
  std::int64_t limit = limitFrom(r);
  while (r <= limit) {
    ReportRow& row = list.Row(static_cast<std::size_t>(r));
    const std::int64_t s = CellNumber(row, list_column::kStartPage);
    ++r;
    if (cur <= s && s <= cur + *window) {
      row.checked = true;
      cur = CellNumber(row, list_column::kEndPage);
      limit = limitFrom(r);
    }
  }
  ws.ui().Changed(Change::kFragmentList);
  ws.ui().ShowMessage("本次处理到index" + std::to_string(r));
}

void CheckBox1Click(Workspace& ws) {
  Tab1Controls& tab1 = ws.controls.tab1;
  tab1.edtmaxpageidEnabled = tab1.CheckBox1;
  ws.ui().Changed(Change::kControls);
}

}  // namespace ravelin
