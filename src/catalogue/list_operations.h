// What can be done to list II and the fragment table without a person: filter by page ids,
// tick rows that continue a chain, count the ticked fragments, put them into the assembly.
// Numbers are read back from the list's cells, as the window shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/fragment_table.h"
#include "ports/report_list.h"

namespace ravelin {

// Cells of list II (and of the Assembly list).
namespace list_column {
inline constexpr std::size_t kPosition = 0;  // "序号": 1-based position in FragmentList
inline constexpr std::size_t kSizeKB = 1;
inline constexpr std::size_t kStartPage = 2;
inline constexpr std::size_t kEndPage = 3;
inline constexpr std::size_t kRemark = 4;
inline constexpr std::size_t kStartSector = 5;
inline constexpr std::size_t kEndSector = 6;
}  // namespace list_column

// The cell's number, or 0 when it holds none.
std::int64_t CellNumber(const ReportRow& row, std::size_t column);

// Sets every row's Shown flag to whether `visible` accepts it.
void ShowWhere(FragmentTable& table, const std::function<bool(const FragmentRow&)>& visible);

// "自动勾选" from row `current`: ticks the following rows whose first page lies within
// `window` pages after the end of the last row ticked, looking `lookAhead` rows ahead of
// it. Returns the position it stopped at.
std::int64_t AutoTick(ReportList& list, std::size_t current, std::int64_t window,
                      std::int64_t lookAhead);

struct CheckedTotals {
  std::int64_t count = 0;
  std::int64_t sizeKB = 0;
};
CheckedTotals TotalsOfChecked(const ReportList& list);

// Marks the table rows behind the ticked list rows (by their "序号" cell) as chosen for the
// assembly. Cells that name no row are passed over.
void ChooseChecked(const ReportList& list, std::vector<std::int32_t>& chosen);

}  // namespace ravelin
