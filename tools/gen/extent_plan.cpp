#include "gen/extent_plan.h"

#include <algorithm>
#include <set>
#include <string>

#include "gen/pfs_reader.h"
#include "gen/random.h"

namespace ravelin::gen {
namespace {

bool AllZero(const std::vector<std::uint8_t>& page) {
  return std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

Status PlanExtents(std::int64_t pageCount, const RawImageOptions& o,
                   std::vector<FileExtent>& extents, const PlanHints& hints) {
  extents.clear();
  const std::uint64_t spc = o.sectorsPerCluster;
  const auto pages = static_cast<std::uint64_t>(pageCount);
  const std::uint64_t fileSectors = pages * kSpp;
  if (o.fragments < 1 || o.splitPages < 0 || o.detachedTails < 0 || o.lostExtents < 0 ||
      o.splitBeforeZeroPage < 0) {
    return Status::BadInput("fragment counts must not be negative, and at least 1 fragment");
  }
  if (o.splitPages > 0 && spc >= kSpp) {
    return Status::BadInput("split pages need clusters smaller than a page (2, 4 or 8 sectors)");
  }
  if (o.detachedTails + o.splitBeforeZeroPage > o.splitPages) {
    return Status::BadInput(
        "detached tails and splits before a zero page are each a subset of the split pages, "
        "apart from each other");
  }
  const int alignedBreaks = o.fragments - 1 - o.splitPages - o.detachedTails;
  if (alignedBreaks < 0) {
    return Status::BadInput("each split page and each detached tail needs a fragment of its own");
  }
  if (o.lostExtents >= o.fragments) return Status::BadInput("every fragment would be lost");

  Random random(o.seed ^ 0x5EC7042Dull);
  std::set<std::uint64_t> breaks;
  std::set<std::uint64_t> splitPages;
  std::set<std::uint64_t> beforeZero;   // split pages whose next page is zero
  std::set<std::uint64_t> keptExtents;  // file sectors of extents that must not be lost
  const auto tooMany = [&] {
    return Status::BadInput("a file of " + std::to_string(pages) + " pages cannot be cut into " +
                            std::to_string(o.fragments) + " fragments as asked");
  };
  const auto isFree = [&](std::uint64_t k) {
    return !splitPages.count(k) && !splitPages.count(k + 1) && !(k > 0 && splitPages.count(k - 1));
  };
  // Split pages first, two pages apart, each with a page after it for the tail to precede:
  // the detached ones, then those before a zero page, then the rest.
  for (int i = 0, tries = 0; i < o.splitPages; ++tries) {
    if (tries > 1000 + 100 * o.splitPages || pages < 2) return tooMany();
    const bool zeroNext = i >= o.detachedTails && i < o.detachedTails + o.splitBeforeZeroPage;
    std::uint64_t k = 0;
    if (zeroNext) {
      if (hints.zeroFollowed.empty()) {
        return Status::BadInput(
            "no page of the file is followed by an all-zero free page and then a page with "
            "content, so no split page can lie before a zero page");
      }
      k = static_cast<std::uint64_t>(hints.zeroFollowed[random.Below(hints.zeroFollowed.size())]);
      if (k + 2 >= pages) continue;
    } else {
      k = random.Below(pages - 1);
    }
    if (!isFree(k)) continue;
    splitPages.insert(k);
    const std::uint64_t j = 1 + random.Below(kSpp / spc - 1);
    breaks.insert(k * kSpp + j * spc);
    if (i < o.detachedTails) breaks.insert((k + 1) * kSpp);
    if (zeroNext) {
      beforeZero.insert(k);
      keptExtents.insert(k * kSpp + j * spc);
    }
    ++i;
  }
  const std::uint64_t step = std::max<std::uint64_t>(kSpp, spc);
  const std::uint64_t positions = (fileSectors + step - 1) / step - 1;
  for (int i = 0, tries = 0; i < alignedBreaks; ++tries) {
    if (positions == 0 || tries > 1000 + 100 * alignedBreaks) return tooMany();
    const std::uint64_t b = (1 + random.Below(positions)) * step;
    const std::uint64_t page = b / kSpp;
    if (breaks.count(b) || splitPages.count(page) || (page > 0 && splitPages.count(page - 1))) {
      continue;
    }
    // Before a zero page the tail, the zero page and the page after it stay together, or
    // the scan would not see the next fragment start one page late.
    if (page >= 2 && beforeZero.count(page - 2)) continue;
    breaks.insert(b);
    ++i;
  }
  std::uint64_t cursor = 0;
  breaks.insert(fileSectors);
  for (std::uint64_t b : breaks) {
    extents.push_back({cursor, b - cursor, 0});
    cursor = b;
  }
  // Lose some extents, never the first: it holds the file header page.
  for (int i = 0, tries = 0; i < o.lostExtents; ++tries) {
    if (tries > 1000 + 100 * o.lostExtents) return tooMany();
    const auto at = 1 + static_cast<std::ptrdiff_t>(random.Below(extents.size() - 1));
    if (keptExtents.count(extents[at].fileSector)) continue;
    extents.erase(extents.begin() + at);
    ++i;
  }
  return Status::Ok();
}

std::vector<std::int64_t> ZeroFollowedPages(const PageSource& source) {
  std::vector<std::int64_t> out;
  const std::int64_t count = source.PageCount();
  if (count < 3) return out;
  const PfsReader pfs(source);
  std::vector<std::uint8_t> page(kPageSize);
  const auto zero = [&](std::int64_t n) {
    source.ReadPage(n, MutablePage(page.data(), kPageSize));
    return AllZero(page);
  };
  // One pass, reading each page once: zeroes[n] for a sliding window of three pages.
  bool z0 = zero(0), z1 = zero(1);
  for (std::int64_t k = 0; k + 2 < count; ++k) {
    const bool z2 = zero(k + 2);
    if (!z0 && z1 && !z2 && pfs.Free(k + 1)) out.push_back(k);
    z0 = z1;
    z1 = z2;
  }
  return out;
}

void SplitExtentAt(std::vector<FileExtent>& extents, std::uint64_t at) {
  for (std::size_t i = 0; i < extents.size(); ++i) {
    const FileExtent e = extents[i];
    if (at <= e.fileSector || at >= e.fileSector + e.sectorCount) continue;
    const std::uint64_t head = at - e.fileSector;
    extents[i].sectorCount = head;
    extents.insert(extents.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                   {at, e.sectorCount - head, e.diskSector + head});
    return;
  }
}

std::vector<std::uint64_t> ChooseUnreadable(std::uint64_t seed, int count,
                                            const std::vector<FileExtent>& extents,
                                            std::uint64_t totalSectors) {
  Random random(seed ^ 0xBADC0FFEEull);
  std::vector<std::uint64_t> sectors;
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0 && !extents.empty()) {
      const FileExtent& e = extents[random.Below(extents.size())];
      sectors.push_back(e.diskSector + random.Below(e.sectorCount));
    } else if (totalSectors > 0) {
      sectors.push_back(random.Below(totalSectors));
    }
  }
  return sectors;
}

}  // namespace ravelin::gen
