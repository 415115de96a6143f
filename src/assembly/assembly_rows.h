// A row of the Assembly list as tab IV works on it: the fragment's size, its first page, one
// past its last page, and its first sector, taken from the Fragment table row it shows.
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/fragment_table.h"
#include "ports/report_list.h"

namespace ravelin {

struct AssemblyRow {
  std::int64_t sizeKB = 0;  // the row has SizeKB / 8 pages (nearest integer, halves to even)
  std::int32_t startPage = 0;
  std::int64_t endPage = 0;
  std::uint64_t startSector = 0;

  std::int64_t Pages() const;
};

AssemblyRow AssemblyRowOf(const FragmentRow& row);

// The rows of the Assembly list in the order it shows them, with the numbers of the table
// rows they show (the cells are text for display and may be edited). An item that shows no
// row of `table` is left out: the list is built from the table, so none does.
std::vector<AssemblyRow> AssemblyRows(const ReportList& list, const FragmentTable& table);

// The rows of `table` that the chain passed over inside a chosen row: not among `chosen`
// (by start sector) and holding pages that all lie within one chosen row's pages. Where a
// scan merged a row across a gap of other data that happens to span as many pages as the
// file has there, the file's own pages of that gap are in such a row. In page order.
std::vector<AssemblyRow> PassedOverRows(std::vector<AssemblyRow> chosen,
                                        const FragmentTable& table);

}  // namespace ravelin
