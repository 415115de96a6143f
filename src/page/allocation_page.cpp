#include "page/allocation_page.h"

#include <algorithm>

#include "page/page_format.h"

namespace ravelin {

std::optional<PfsBytes> ReadPfsBytes(PageView page) {
  const std::size_t row = Load16(page, page_header::kRow0Offset);
  if (row < kPageHeaderSize || row >= kPageSize - 96) return std::nullopt;
  const auto length = static_cast<std::int16_t>(Load16(page, row + 2));
  const std::int64_t pid = static_cast<std::int32_t>(Load32(page, page_header::kPageNumber));
  std::size_t count = length > 4 ? static_cast<std::size_t>(length - 4) : 0;
  count = std::min({count, static_cast<std::size_t>(kPagesPerPfs), kPageSize - (row + 4)});
  return PfsBytes{page.subspan(row + 4, count), pid == 1 ? 0 : pid};
}

}  // namespace ravelin
