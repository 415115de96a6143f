// Cutting a file into extents as a file system would have scattered it: breaks at cluster
// boundaries, some inside a page (split pages), some tails detached, some extents lost.
#pragma once

#include <cstdint>
#include <vector>

#include "gen/image_common.h"
#include "gen/image_raw.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct PlanHints {
  // Pages k whose next page is all zero and free and whose page after that has content:
  // where options.splitBeforeZeroPage split pages go (ZeroFollowedPages finds them).
  std::vector<std::int64_t> zeroFollowed;
};

// Cuts a file of `pageCount` pages into extents as RawImageOptions describes (diskSector
// left 0, file order). The first extent, holding the file header page, is never lost, nor
// is the tail of a split page placed before a zero page.
Status PlanExtents(std::int64_t pageCount, const RawImageOptions& options,
                   std::vector<FileExtent>& extents, const PlanHints& hints = {});

// Pages k of `source` with content, k + 1 all zero and free by the file's own PFS pages,
// and k + 2 with content.
std::vector<std::int64_t> ZeroFollowedPages(const PageSource& source);

// Cuts the extent holding file sector `at` in two there (nothing when `at` already begins
// an extent or lies in none). Keeps file order.
void SplitExtentAt(std::vector<FileExtent>& extents, std::uint64_t at);

// Chooses `count` unreadable sectors: half inside `extents`, the rest in [0, totalSectors).
std::vector<std::uint64_t> ChooseUnreadable(std::uint64_t seed, int count,
                                            const std::vector<FileExtent>& extents,
                                            std::uint64_t totalSectors);

}  // namespace ravelin::gen
