// Tails no page follows. When the clusters holding the end of a split page lie in a piece of
// the disk that no page header follows (a piece of one cluster, or one followed by pages
// SQL Server never wrote), the next row's lead-in does not hold them and the left-page repair
// has nothing to try. A page checksum finds them instead: it is the XOR of each sector's
// fold (the XOR of its words) rotated by 15 - its place, so the head of the page fixes what
// the fold of the missing sectors must come to, and a run of sectors anywhere on the disk
// can be tested against it from the folds of its sectors alone.
//
// The folds of the source's sectors are kept once read (SectorSignatures, a few bytes a
// sector, in blocks, and no more than a bounded number of them), so several split pages
// near each other read the disk once. A tail is taken only when exactly one page comes out of
// every run that fits, and that page's structure holds (or the pages differ only in their
// free space: then the page is uncertain): zero sectors, or any run whose folds cancel, fit
// many places, and then nothing is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "catalogue/fragment_source.h"
#include "common/bytes.h"

namespace ravelin {

// How far from a split page's head the search looks for its tail, in sectors each way.
inline constexpr std::uint64_t kOrphanTailReach = 131072;  // 64 MiB

// The folds of the source's sectors, read through `source` in blocks as they are asked for.
class SectorSignatures {
 public:
  // `maxBlocks`: blocks of kBlockSectors sectors kept at most (then all are dropped and read
  // again as needed).
  explicit SectorSignatures(FragmentSource& source, std::size_t maxBlocks = 4096)
      : source_(source), maxBlocks_(maxBlocks) {}
  static constexpr std::uint64_t kBlockSectors = 2048;

  // The fold of sector `s`; nothing when its block cannot be read.
  std::optional<std::uint32_t> Fold(std::uint64_t s);

 private:
  const std::vector<std::uint32_t>& Block(std::uint64_t block);
  FragmentSource& source_;
  std::size_t maxBlocks_;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> blocks_;  // empty: unreadable
};

struct OrphanTail {
  std::uint64_t sector = 0;  // where the tail lies
  std::int32_t sectors = 0;  // how many of the page's last sectors it gives
  // Several pages fit, differing only in their free space: the one FreeSpaceVersion chose.
  bool uncertain = false;
};

// Looks for the tail of checksum page `page` (as read: its head at `headSector`, followed by
// whatever lay after it) within kOrphanTailReach sectors of the head. Tails start on the
// grid of `clusterSectors` sectors that `gridSector` lies on and give whole clusters. When
// exactly one page comes out of the runs that fit and its structure holds, `page` becomes
// that page and the tail is returned; where pages that hold and differ only in their free
// space come out, the one FreeSpaceVersion chooses, named uncertain; otherwise `page` is
// unchanged. Pages without a
// checksum are not tried.
std::optional<OrphanTail> FindOrphanTail(MutablePage page, std::uint64_t headSector,
                                         std::int32_t clusterSectors, std::uint64_t gridSector,
                                         SectorSignatures& signatures, FragmentSource& source);

}  // namespace ravelin
