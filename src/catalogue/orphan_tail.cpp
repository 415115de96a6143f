#include "catalogue/orphan_tail.h"

#include <algorithm>
#include <array>
#include <bit>

#include "catalogue/left_page_repair.h"
#include "page/page_format.h"
#include "page/page_structure.h"

namespace ravelin {
namespace {

// More runs than this fitting one page, or more distinct pages from them: the folds say
// nothing there (zero sectors, repeated words), and no tail is taken. Runs that give one page
// come in chains (a page's zero sectors, copies of its sectors elsewhere).
constexpr std::size_t kMostFits = 1024;
constexpr std::size_t kMostPages = 8;

struct Fit {
  std::int32_t head;  // sectors of the page kept
  std::uint64_t sector;
};

}  // namespace

const std::vector<std::uint32_t>& SectorSignatures::Block(std::uint64_t block) {
  if (auto it = blocks_.find(block); it != blocks_.end()) return it->second;
  if (blocks_.size() >= maxBlocks_) blocks_.clear();
  std::vector<std::uint8_t> bytes(kBlockSectors * kSectorSize, 0);
  std::vector<std::uint32_t>& folds = blocks_[block];
  if (source_.ReadSectors(block * kBlockSectors, 0, static_cast<std::int32_t>(kBlockSectors),
                          MutableBytes(bytes.data(), bytes.size()))) {
    folds.resize(kBlockSectors);
    for (std::uint64_t s = 0; s < kBlockSectors; ++s)
      folds[s] = SectorFold(bytes.data() + s * kSectorSize);
  }
  return folds;
}

std::optional<std::uint32_t> SectorSignatures::Fold(std::uint64_t s) {
  const std::vector<std::uint32_t>& folds = Block(s / kBlockSectors);
  if (folds.empty()) return std::nullopt;
  return folds[s % kBlockSectors];
}

std::optional<OrphanTail> FindOrphanTail(MutablePage page, std::uint64_t headSector,
                                         std::int32_t clusterSectors, std::uint64_t gridSector,
                                         SectorSignatures& signatures, FragmentSource& source) {
  if ((page[page_header::kFlagBits + 1] & 0x0F) != 2 || clusterSectors < 1 || clusterSectors > 15 ||
      IsPageIntact(page))
    return std::nullopt;
  const auto grid = static_cast<std::uint64_t>(clusterSectors);
  const std::uint32_t stored = Load32(page, page_header::kTornBits);

  // What the tail's sectors must fold to when the page keeps its first h sectors: the stored
  // checksum less the head's share (m_tornBits, where the checksum lies, is no part of it).
  std::array<std::optional<std::uint32_t>, kSectorsPerPage> needed{};
  std::uint32_t head = std::rotl(stored, 15);
  for (std::size_t s = 0; s + 1 < kSectorsPerPage; ++s) {
    head ^= std::rotl(SectorFold(page.data() + s * kSectorSize), static_cast<int>(15 - s));
    const std::size_t kept = s + 1;
    if (kept % grid == 0 && kept + grid <= kSectorsPerPage) needed[kept] = stored ^ head;
  }

  // The folds of the sectors within reach, and every run of them that fits.
  const std::uint64_t from = headSector > kOrphanTailReach ? headSector - kOrphanTailReach : 0;
  const std::uint64_t to = headSector + kOrphanTailReach;
  std::vector<std::uint32_t> folds;
  std::vector<bool> readable;
  folds.reserve(to - from);
  readable.reserve(to - from);
  for (std::uint64_t s = from; s < to; ++s) {
    const std::optional<std::uint32_t> f = signatures.Fold(s);
    folds.push_back(f.value_or(0));
    readable.push_back(f.has_value());
  }
  std::vector<Fit> fits;
  const std::uint64_t first = from + (gridSector % grid + grid - from % grid) % grid;
  for (std::uint64_t d = first; d < to && fits.size() <= kMostFits; d += grid) {
    std::uint32_t sum = 0;
    for (std::uint64_t i = 0; i + 1 < kSectorsPerPage && d + i < to; ++i) {
      const std::size_t at = static_cast<std::size_t>(d + i - from);
      if (!readable[at]) break;
      // A run one sector longer: every sector of it one place further from the page's end.
      sum = std::rotl(sum, 1) ^ folds[at];
      const std::size_t kept = kSectorsPerPage - (i + 1);
      const bool overHead = d < headSector + kSectorsPerPage && d + i + 1 > headSector;
      if (needed[kept] && *needed[kept] == sum && !overHead)
        fits.push_back({static_cast<std::int32_t>(kept), d});
    }
  }

  if (fits.empty() || fits.size() > kMostFits) return std::nullopt;

  // The pages the fits give: one distinct page that holds, or pages that differ only in
  // their free space.
  std::vector<PageCopy> pages;
  std::vector<OrphanTail> tails;
  for (const Fit& fit : fits) {
    PageCopy trial;
    std::copy(page.begin(), page.end(), trial.begin());
    const auto sectors = static_cast<std::int32_t>(kSectorsPerPage) - fit.head;
    const std::size_t at = static_cast<std::size_t>(fit.head) * kSectorSize;
    if (!source.ReadSectors(fit.sector, 0, sectors,
                            MutableBytes(trial.data() + at, kPageSize - at)) ||
        !IsPageIntact(trial) || !IsPageStructurallySound(trial) ||
        std::find(pages.begin(), pages.end(), trial) != pages.end())
      continue;
    if (pages.size() == kMostPages) return std::nullopt;
    pages.push_back(trial);
    tails.push_back({fit.sector, sectors, false});
  }
  std::size_t chosen = 0;
  if (pages.empty()) return std::nullopt;
  if (pages.size() > 1) {
    const std::optional<std::size_t> v = FreeSpaceVersion(pages);
    if (!v) return std::nullopt;
    chosen = *v;
    tails[chosen].uncertain = true;
  }
  std::copy(pages[chosen].begin(), pages[chosen].end(), page.begin());
  return tails[chosen];
}

}  // namespace ravelin
