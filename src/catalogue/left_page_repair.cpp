#include "catalogue/left_page_repair.h"

#include <algorithm>
#include <array>

#include "common/rounding.h"
#include "page/page_format.h"

namespace ravelin {

bool LeftPageRepairApplies(std::int32_t sectorsPerCluster) {
  return sectorsPerCluster >= 1 && sectorsPerCluster <= 15;
}

int LeftPageRepair(MutablePage previousPage, LeadInView leadIn, std::int32_t sectorsPerCluster) {
  if (!LeftPageRepairApplies(sectorsPerCluster)) return -1;
  const auto spc = static_cast<std::size_t>(sectorsPerCluster);
  // 16 / spc to the nearest integer, an exact half to the even neighbour.
  const auto trials = static_cast<std::size_t>(
      RoundHalfEven(static_cast<std::int64_t>(kSectorsPerPage), static_cast<std::int64_t>(spc)));

  std::array<std::uint8_t, kPageSize> saved;
  std::copy(previousPage.begin(), previousPage.end(), saved.begin());
  for (std::size_t k = 0; k < trials; ++k) {
    // k x spc never exceeds 15 for spc in 1..15, so the tail always comes from leadIn.
    const std::size_t tail = std::min(k * spc * kSectorSize, leadIn.size());
    std::copy(leadIn.end() - static_cast<std::ptrdiff_t>(tail), leadIn.end(),
              previousPage.end() - static_cast<std::ptrdiff_t>(tail));
    if (IsPageIntact(previousPage)) return static_cast<int>(k);
  }
  std::copy(saved.begin(), saved.end(), previousPage.begin());
  return -1;
}

}  // namespace ravelin
