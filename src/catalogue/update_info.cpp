#include "catalogue/update_info.h"

#include <array>
#include <cstdio>

#include "catalogue/list_operations.h"
#include "common/text.h"
#include "page/page_format.h"

namespace ravelin {

std::string LsnText(ByteView page) {
  char text[24];
  std::snprintf(text, sizeof text, "%08X%08X%04X",
                static_cast<unsigned>(Load32(page, page_header::kLsn)),
                static_cast<unsigned>(Load32(page, page_header::kLsn + 4)),
                static_cast<unsigned>(Load16(page, page_header::kLsn + 8)));
  return text;
}

bool AppendLsnToHeaderRows(ReportList& list, FragmentSource& source) {
  std::array<std::uint8_t, kPageSize> page;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (ParseInteger<std::int64_t>(list.Row(i).Cell(list_column::kStartPage)) != 0) continue;
    const auto sector = ParseInteger<std::uint64_t>(list.Row(i).Cell(list_column::kStartSector));
    if (!sector || !source.ReadPage(*sector, 0, page)) return false;
    ReportRow& row = list.Edit(i);
    if (row.cells.size() <= list_column::kRemark) row.cells.resize(list_column::kRemark + 1);
    row.cells[list_column::kRemark] = Trim(row.cells[list_column::kRemark]) + " " + LsnText(page);
  }
  return true;
}

}  // namespace ravelin
