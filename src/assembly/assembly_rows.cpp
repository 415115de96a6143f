#include "assembly/assembly_rows.h"

#include "common/rounding.h"

namespace ravelin {

std::int64_t AssemblyRow::Pages() const { return RoundHalfEven(sizeKB, 8); }

std::vector<AssemblyRow> AssemblyRows(const ReportList& list, const FragmentTable& table) {
  std::vector<AssemblyRow> rows;
  rows.reserve(list.Count());
  for (const ReportRow& item : list.Rows()) {
    if (item.tableRow < 0 || static_cast<std::uint64_t>(item.tableRow) >= table.Count()) continue;
    const FragmentRow& f = table.Row(static_cast<std::size_t>(item.tableRow));
    rows.push_back({f.SizeKB, f.StartPage, f.EndPage, f.StartSector});
  }
  return rows;
}

}  // namespace ravelin
