#include "catalogue/list_operations.h"

#include <algorithm>

#include "common/text.h"

namespace ravelin {

std::int64_t CellNumber(const ReportRow& row, std::size_t column) {
  return ParseInteger<std::int64_t>(row.Cell(column)).value_or(0);
}

void ShowWhere(FragmentTable& table, const std::function<bool(const FragmentRow&)>& visible) {
  for (std::size_t i = 0; i < table.Count(); ++i) table.SetShown(i, visible(table.Row(i)));
}

std::int64_t AutoTick(ReportList& list, std::size_t current, std::int64_t window,
                      std::int64_t lookAhead) {
  const auto last = static_cast<std::int64_t>(list.Count()) - 1;
  auto limitFrom = [&](std::int64_t r) { return std::min<std::int64_t>(lookAhead + r, last); };
  std::int64_t cur = CellNumber(list.Row(current), list_column::kEndPage);
  auto r = static_cast<std::int64_t>(current) + 1;
  std::int64_t limit = limitFrom(r);
  while (r <= limit) {
    const ReportRow& row = list.Row(static_cast<std::size_t>(r));
    const std::int64_t s = CellNumber(row, list_column::kStartPage);
    ++r;
    if (cur <= s && s <= cur + window) {
      list.Edit(static_cast<std::size_t>(r - 1)).checked = true;
      cur = CellNumber(row, list_column::kEndPage);
      limit = limitFrom(r);
    }
  }
  return r;
}

CheckedTotals TotalsOfChecked(const ReportList& list) {
  CheckedTotals totals;
  for (const std::size_t i : list.CheckedRows()) {
    ++totals.count;
    totals.sizeKB += CellNumber(list.Row(i), list_column::kSizeKB);
  }
  return totals;
}

void ChooseChecked(const ReportList& list, std::vector<std::int32_t>& chosen) {
  for (const std::size_t i : list.CheckedRows()) {
    // "序号" is the row's 1-based position in FragmentList, also while the filter hides rows.
    const std::int64_t position = CellNumber(list.Row(i), list_column::kPosition);
    if (position >= 1 && static_cast<std::uint64_t>(position) <= chosen.size())
      chosen[static_cast<std::size_t>(position - 1)] = 1;
  }
}

}  // namespace ravelin
