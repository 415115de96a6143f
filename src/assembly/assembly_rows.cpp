#include "assembly/assembly_rows.h"

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

}  // namespace ravelin
