#include "catalogue/left_page_repair.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/rounding.h"
#include "page/page_format.h"
#include "page/page_structure.h"

namespace ravelin {
namespace {

using PageBytes = PageCopy;

std::size_t TrialCount(std::int32_t clusterSectors) {
  // 16 / cluster to the nearest integer, an exact half to the even neighbour.
  return static_cast<std::size_t>(RoundHalfEven(static_cast<std::int64_t>(kSectorsPerPage),
                                                static_cast<std::int64_t>(clusterSectors)));
}

// The last `sectors` sectors of the page replaced by the last ones of the lead-in.
void TakeTail(MutablePage page, LeadInView leadIn, std::size_t sectors) {
  const std::size_t tail = std::min(sectors * kSectorSize, leadIn.size());
  std::copy(leadIn.end() - static_cast<std::ptrdiff_t>(tail), leadIn.end(),
            page.end() - static_cast<std::ptrdiff_t>(tail));
}

// Torn-page (1) or checksum (2) protection, from the page's first sector, which no trial
// replaces.
bool IsProtected(PageView page) {
  const int nibble = page[5] & 0x0F;
  return nibble == 1 || nibble == 2;
}

bool StructureHolds(PageView page) {
  PageBytes restored;
  std::copy(page.begin(), page.end(), restored.begin());
  RestoreTornBits(restored);
  return IsPageStructurallySound(restored);
}

bool IsTornPageProtected(PageView page) { return (page[5] & 0x0F) == 1; }

// The coarsest grid a learned cluster size is tried on: 16 would give no trial.
constexpr std::int32_t kLargestLearnedTrial = 8;

// A GAM, SGAM or BCM page maps 63904 extents from the start of its interval of 511232 pages
// in a bitmap of 7988 bytes: slot 1, after its 4-byte record header.
constexpr std::int64_t kIntervalPages = 511232;
constexpr std::int64_t kIntervalExtents = 63904;

// Whether the page is a GAM (8), SGAM (9) or BCM (17) page whose bits for extents beyond a
// file of `filePages` pages all keep the value SQL Server formats them with (GAM 1: free;
// the others 0). Real files keep them so; DCM and IAM pages are not judged. Nothing when the
// page is none of those or its bitmap cannot be found.
std::optional<bool> BeyondSizeBitsKept(PageView trial, std::int64_t filePages) {
  const std::uint8_t type = trial[page_header::kType];
  if (filePages <= 0 || (type != 8 && type != 9 && type != 17)) return std::nullopt;
  PageBytes page;
  std::copy(trial.begin(), trial.end(), page.begin());
  RestoreTornBits(page);
  if (Load16(page, page_header::kSlotCnt) < 2) return std::nullopt;
  const std::size_t bitmap = Load16(page, kPageSize - 4) + 4u;
  if (bitmap + kIntervalExtents / 8 > kPageSize - 4) return std::nullopt;
  const std::int64_t first = (filePages + 7) / 8 - Load32(page, page_header::kPageNumber) /
                                                       kIntervalPages * kIntervalExtents;
  const int initial = type == 8 ? 1 : 0;
  for (std::int64_t e = std::max<std::int64_t>(first, 0); e < kIntervalExtents; ++e)
    if (((page[bitmap + static_cast<std::size_t>(e / 8)] >> (e % 8)) & 1) != initial) return false;
  return true;
}

// Whether the versions, which share the page's header, differ only between m_freeData and
// the slot array.
bool DifferOnlyInFreeSpace(const std::vector<PageBytes>& versions) {
  const PageBytes& first = versions.front();
  const std::size_t from = Load16(first, page_header::kFreeData);
  const std::size_t slots = 2u * Load16(first, page_header::kSlotCnt);
  if (from < kPageHeaderSize || slots > kPageSize - from) return false;
  const std::size_t to = kPageSize - slots;
  for (const PageBytes& v : versions) {
    if (!std::equal(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(from), first.begin()) ||
        !std::equal(v.begin() + static_cast<std::ptrdiff_t>(to), v.end(),
                    first.begin() + static_cast<std::ptrdiff_t>(to)))
      return false;
  }
  return true;
}

// The number of the page's sectors that are all zero.
std::size_t ZeroSectors(const PageBytes& page) {
  std::size_t zero = 0;
  for (std::size_t at = 0; at < kPageSize; at += kSectorSize)
    if (std::all_of(page.begin() + static_cast<std::ptrdiff_t>(at),
                    page.begin() + static_cast<std::ptrdiff_t>(at + kSectorSize),
                    [](std::uint8_t b) { return b == 0; }))
      ++zero;
  return zero;
}

// The repair with trials of whole clusters of `clusterSectors` sectors.
LeftPageResult RepairOnGrid(MutablePage page, LeadInView leadIn, std::int32_t clusterSectors,
                            std::int64_t filePages);

}  // namespace

std::optional<std::size_t> FreeSpaceVersion(const std::vector<PageCopy>& versions) {
  if (versions.empty() || !DifferOnlyInFreeSpace(versions)) return std::nullopt;
  // A zero sector folds to nothing in the checksum and carries no torn bits to speak of, so
  // it passes in any place: a hole of the disk next to the head or before the tail passes as
  // well as the page's own bytes. Sectors that are not zero and still pass are far less
  // likely to do so by chance.
  std::size_t best = 0, bestZero = ZeroSectors(versions.front());
  for (std::size_t i = 1; i < versions.size(); ++i) {
    const std::size_t zero = ZeroSectors(versions[i]);
    if (zero < bestZero) best = i, bestZero = zero;
  }
  return best;
}

bool LeftPageRepairApplies(std::int32_t sectorsPerCluster) {
  return sectorsPerCluster >= 1 && sectorsPerCluster <= 15;
}

std::int32_t LearnClusterSectors(const std::vector<std::uint64_t>& startSectors) {
  if (startSectors.size() < 2) return 1;
  std::int32_t cluster = static_cast<std::int32_t>(kSectorsPerPage);
  const std::uint64_t first = startSectors.front();
  for (const std::uint64_t s : startSectors) {
    const std::uint64_t d = s > first ? s - first : first - s;
    while (cluster > 1 && d % static_cast<std::uint64_t>(cluster) != 0) cluster /= 2;
  }
  return cluster;
}

std::int32_t RepairClusterSectors(std::int32_t sectorsPerCluster,
                                  const std::vector<std::uint64_t>& startSectors) {
  if (sectorsPerCluster != 1) return sectorsPerCluster;
  return LearnClusterSectors(startSectors);
}

bool PageHolds(PageView page) {
  return IsProtected(page) ? ProtectionHolds(page) : StructureHolds(page);
}

LeftPageResult RepairLeftPage(MutablePage page, LeadInView leadIn, std::int32_t clusterSectors,
                              bool learned, std::int64_t filePages) {
  if (!learned || clusterSectors < 1) return RepairOnGrid(page, leadIn, clusterSectors, filePages);
  // A learned size is a multiple of the true one; a finer grid holds every trial of a coarser.
  LeftPageResult result;
  for (std::int32_t grid = std::min(clusterSectors, kLargestLearnedTrial); grid >= 1; grid /= 2) {
    result = RepairOnGrid(page, leadIn, grid, filePages);
    if (result.outcome != LeftPageOutcome::kFailed) break;
  }
  return result;
}

namespace {

LeftPageResult RepairOnGrid(MutablePage page, LeadInView leadIn, std::int32_t clusterSectors,
                            std::int64_t filePages) {
  LeftPageResult result;
  if (!LeftPageRepairApplies(clusterSectors)) return result;
  const bool protectedPage = IsProtected(page);
  if (PageHolds(page)) {
    result.outcome = LeftPageOutcome::kIntact;
    result.byStructure = !protectedPage && !IsPageIntact(page);
    return result;
  }
  const auto spc = static_cast<std::size_t>(clusterSectors);
  const std::size_t trials = TrialCount(clusterSectors);

  // Every version that passes, with whether its structure holds.
  struct Passing {
    std::size_t sectors;
    bool sound;
  };
  std::vector<Passing> passing;
  PageBytes trial;
  for (std::size_t k = 1; k < trials; ++k) {
    std::copy(page.begin(), page.end(), trial.begin());
    TakeTail(trial, leadIn, k * spc);
    const bool sound = StructureHolds(trial);
    const bool passes =
        protectedPage ? IsPageIntact(trial) && (sound || !IsTornPageProtected(trial)) : sound;
    if (passes) passing.push_back({k * spc, sound});
  }
  result.passing = static_cast<std::int32_t>(passing.size());
  if (passing.empty()) {
    result.outcome = LeftPageOutcome::kFailed;
    return result;
  }

  // Versions that differ only where the lead-in repeats the page's own sectors are one page:
  // keep the first of each distinct page.
  auto version = [&](std::size_t sectors) {
    PageBytes v;
    std::copy(page.begin(), page.end(), v.begin());
    TakeTail(v, leadIn, sectors);
    return v;
  };
  std::vector<Passing> distinct;
  std::vector<PageBytes> pages;
  for (const Passing& p : passing) {
    PageBytes v = version(p.sectors);
    if (std::find(pages.begin(), pages.end(), v) != pages.end()) continue;
    pages.push_back(v);
    distinct.push_back(p);
  }
  const Passing* chosen = nullptr;
  if (distinct.size() == 1) {
    chosen = &distinct.front();
    result.byStructure = !protectedPage;
  } else {
    const auto sound =
        std::count_if(distinct.begin(), distinct.end(), [](const Passing& p) { return p.sound; });
    if (sound == 1) {
      chosen = &*std::find_if(distinct.begin(), distinct.end(),
                              [](const Passing& p) { return p.sound; });
      result.byStructure = true;
    }
    // An allocation page: the one version whose bits past the file's size are as formatted.
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < distinct.size() && chosen == nullptr; ++i)
      if (BeyondSizeBitsKept(pages[i], filePages).value_or(false)) kept.push_back(i);
    if (kept.size() == 1) {
      chosen = &distinct[kept.front()];
      result.byStructure = true;
    }
  }
  if (chosen == nullptr) {
    result.outcome = LeftPageOutcome::kUncertain;
    // Versions that differ only in the page's free space (stale bytes SQL Server never
    // reads) are all pages that pass their test: one is written rather than the page as
    // read, which fails it; the page stays uncertain.
    if (const std::optional<std::size_t> v = FreeSpaceVersion(pages)) {
      const Passing& written = distinct[*v];
      TakeTail(page, leadIn, written.sectors);
      result.sectors = static_cast<std::int32_t>(written.sectors);
    }
    return result;
  }
  TakeTail(page, leadIn, chosen->sectors);
  result.outcome = LeftPageOutcome::kRepaired;
  result.sectors = static_cast<std::int32_t>(chosen->sectors);
  return result;
}

}  // namespace

int LeftPageRepair(MutablePage previousPage, LeadInView leadIn, std::int32_t sectorsPerCluster) {
  if (!LeftPageRepairApplies(sectorsPerCluster)) return -1;
  const auto spc = static_cast<std::size_t>(sectorsPerCluster);
  const std::size_t trials = TrialCount(sectorsPerCluster);
  PageBytes saved;
  std::copy(previousPage.begin(), previousPage.end(), saved.begin());
  for (std::size_t k = 0; k < trials; ++k) {
    // k x spc never exceeds 15 for spc in 1..15, so the tail always comes from leadIn.
    TakeTail(previousPage, leadIn, k * spc);
    if (IsPageIntact(previousPage)) return static_cast<int>(k);
  }
  std::copy(saved.begin(), saved.end(), previousPage.begin());
  return -1;
}

}  // namespace ravelin
