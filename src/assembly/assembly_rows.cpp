#include "assembly/assembly_rows.h"

#include <algorithm>
#include <iterator>

#include "common/rounding.h"

namespace ravelin {

std::int64_t AssemblyRow::Pages() const { return RoundHalfEven(sizeKB, 8); }

AssemblyRow AssemblyRowOf(const FragmentRow& row) {
  return {row.SizeKB, row.StartPage, row.EndPage, row.StartSector};
}

std::vector<AssemblyRow> AssemblyRows(const ReportList& list, const FragmentTable& table) {
  std::vector<AssemblyRow> rows;
  rows.reserve(list.Count());
  for (const ReportRow& item : list.Rows()) {
    if (item.tableRow < 0 || static_cast<std::uint64_t>(item.tableRow) >= table.Count()) continue;
    rows.push_back(AssemblyRowOf(table.Row(static_cast<std::size_t>(item.tableRow))));
  }
  return rows;
}

std::vector<AssemblyRow> PassedOverRows(std::vector<AssemblyRow> chosen,
                                        const FragmentTable& table) {
  std::vector<std::uint64_t> sectors;
  sectors.reserve(chosen.size());
  for (const AssemblyRow& c : chosen) sectors.push_back(c.startSector);
  std::sort(sectors.begin(), sectors.end());
  // The chosen rows by first page, each row's end raised to the furthest end of the rows
  // that begin on or before it (in place: the rows are this function's own): a row lies
  // within a chosen one when it ends by then.
  std::sort(chosen.begin(), chosen.end(),
            [](const AssemblyRow& a, const AssemblyRow& b) { return a.startPage < b.startPage; });
  std::int64_t reach = 0;
  for (AssemblyRow& c : chosen) c.endPage = reach = std::max(reach, c.endPage);

  std::vector<AssemblyRow> passed;
  for (const FragmentRow& f : table.Rows()) {
    const AssemblyRow row{f.SizeKB, f.StartPage, f.EndPage, f.StartSector};
    if (row.Pages() <= 0 || std::binary_search(sectors.begin(), sectors.end(), row.startSector))
      continue;
    const auto after = std::upper_bound(
        chosen.begin(), chosen.end(), row.startPage,
        [](std::int32_t page, const AssemblyRow& c) { return page < c.startPage; });
    if (after == chosen.begin()) continue;
    if (row.startPage + row.Pages() <= std::prev(after)->endPage) passed.push_back(row);
  }
  std::stable_sort(passed.begin(), passed.end(), [](const AssemblyRow& a, const AssemblyRow& b) {
    return a.startPage < b.startPage;
  });
  return passed;
}

}  // namespace ravelin
