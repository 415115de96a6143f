// A row of the Assembly list as tab IV reads it back from its cells: the fragment's size,
// its first page, one past its last page, and its first sector.
#pragma once

#include <cstdint>
#include <vector>

#include "ports/report_list.h"

namespace ravelin {

struct AssemblyRow {
  std::int64_t sizeKB = 0;  // the row has SizeKB / 8 pages (nearest integer, halves to even)
  std::int32_t startPage = 0;
  std::int64_t endPage = 0;
  std::uint64_t startSector = 0;

  std::int64_t Pages() const;
};

// The rows of the Assembly list in the order it shows them. Cells that hold no number count
// as 0.
std::vector<AssemblyRow> AssemblyRows(const ReportList& list);

}  // namespace ravelin
