#include "catalogue/fragment_source.h"

#include <algorithm>

namespace ravelin {

bool FragmentSource::ReadPage(std::uint64_t startSector, std::int64_t k, MutablePage page) {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  return ReadSectors(startSector, k * static_cast<std::int64_t>(kSectorsPerPage),
                     static_cast<std::int32_t>(kSectorsPerPage), page);
}

bool LiveFragmentSource::ReadSectors(std::uint64_t startSector, std::int64_t offset,
                                     std::int32_t count, MutableBytes buffer) {
  // Sectors before sector 0 do not exist; a sum past 2^64 names none either.
  if (offset < 0 && static_cast<std::uint64_t>(-offset) > startSector) return false;
  if (offset > 0 && static_cast<std::uint64_t>(offset) > UINT64_MAX - startSector) return false;
  return reader_.ReadSectors(count, buffer, startSector + static_cast<std::uint64_t>(offset));
}

}  // namespace ravelin
