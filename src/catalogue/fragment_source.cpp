#include "catalogue/fragment_source.h"

#include <algorithm>

namespace ravelin {
namespace {

// The sector offset of page `k`; false when it does not fit 64 bits (no such page exists).
bool PageOffset(std::int64_t k, std::int64_t& offset) {
  return !__builtin_mul_overflow(k, static_cast<std::int64_t>(kSectorsPerPage), &offset);
}

}  // namespace

bool FragmentSource::ReadPage(std::uint64_t startSector, std::int64_t k, MutablePage page) {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  std::int64_t offset = 0;
  return PageOffset(k, offset) &&
         ReadSectors(startSector, offset, static_cast<std::int32_t>(kSectorsPerPage), page);
}

bool FragmentSource::ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                               MutableBytes pages) {
  if (count <= 0 || static_cast<std::uint64_t>(count) * kPageSize > pages.size()) return false;
  const std::size_t bytes = static_cast<std::size_t>(count) * kPageSize;
  std::fill(pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(bytes), std::uint8_t{0});
  std::int64_t offset = 0;
  return PageOffset(k, offset) &&
         ReadSectors(startSector, offset, count * static_cast<std::int32_t>(kSectorsPerPage),
                     pages);
}

bool LiveFragmentSource::ReadPages(std::uint64_t startSector, std::int64_t k, std::int32_t count,
                                   MutableBytes pages) {
  std::int64_t lastPage = 0;
  std::int64_t lastOffset = 0;
  if (count <= 0 || k < 0 || __builtin_add_overflow(k, count - 1, &lastPage) ||
      !PageOffset(lastPage, lastOffset))
    return false;
  const std::uint64_t lastPageSector = startSector + static_cast<std::uint64_t>(lastOffset);
  if (lastPageSector < startSector || lastPageSector >= reader_.ReadableEnd()) return false;
  return FragmentSource::ReadPages(startSector, k, count, pages);
}

bool LiveFragmentSource::ReadSectors(std::uint64_t startSector, std::int64_t offset,
                                     std::int32_t count, MutableBytes buffer) {
  // Sectors before sector 0 do not exist; a sum past 2^64 names none either.
  if (offset < 0 && static_cast<std::uint64_t>(-offset) > startSector) return false;
  if (offset > 0 && static_cast<std::uint64_t>(offset) > UINT64_MAX - startSector) return false;
  return reader_.ReadSectors(count, buffer, startSector + static_cast<std::uint64_t>(offset));
}

void LiveFragmentSource::WillNeed(std::uint64_t startSector, std::int64_t pages) {
  if (pages > 0 && pages <= INT64_MAX / static_cast<std::int64_t>(kSectorsPerPage))
    reader_.AdviseWillNeed(startSector, pages * static_cast<std::int64_t>(kSectorsPerPage));
}

}  // namespace ravelin
