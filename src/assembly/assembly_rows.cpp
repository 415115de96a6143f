#include "assembly/assembly_rows.h"

#include "catalogue/list_operations.h"
#include "common/rounding.h"
#include "common/text.h"

namespace ravelin {

std::int64_t AssemblyRow::Pages() const { return RoundHalfEven(sizeKB, 8); }

std::vector<AssemblyRow> AssemblyRows(const ReportList& list) {
  std::vector<AssemblyRow> rows;
  rows.reserve(list.Count());
  for (const ReportRow& cells : list.Rows()) {
    AssemblyRow row;
    row.sizeKB = CellNumber(cells, list_column::kSizeKB);
    row.startPage = ParseInteger<std::int32_t>(cells.Cell(list_column::kStartPage)).value_or(0);
    row.endPage = CellNumber(cells, list_column::kEndPage);
    row.startSector =
        ParseInteger<std::uint64_t>(cells.Cell(list_column::kStartSector)).value_or(0);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace ravelin
