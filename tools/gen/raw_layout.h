// Where the pieces of a raw image go: each piece (an extent of a target or a run of decoy
// pages) gets a cluster-aligned place, with at least one cluster of gap before it.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "gen/image_common.h"
#include "gen/page_source.h"
#include "gen/random.h"

namespace ravelin::gen {

// One thing written to the image: an extent of a target or a run of decoy pages.
struct RawItem {
  int file = 0;  // index into the manifest's files
  const PageSource* source = nullptr;
  FileExtent extent;   // diskSector filled by the layout
  bool fixed = false;  // diskSector chosen by the caller
  int tag = -1;        // the caller's mark, kept through every reordering
};

using SectorSpans = std::vector<std::pair<std::uint64_t, std::uint64_t>>;  // [begin, end)

// Cluster-rounded [begin, end) of each item, sorted, and the complement in [0, total).
SectorSpans FreeSpans(const std::vector<RawItem>& items, std::uint64_t spc,
                      std::uint64_t totalSectors);

// Places each item that is not fixed in a free stretch, at least one cluster from its
// neighbours (the layout used when the caller chose the first target's extents).
Status PlaceInFreeSpace(std::vector<RawItem>& items, std::uint64_t spc, std::uint64_t totalSectors,
                        Random& random);

// Lays `items` out in their order, gap i (in clusters, >= 1) before item i; `gaps` has one
// more entry, the stretch after the last item. Returns the image's size in sectors.
std::uint64_t LayInOrder(std::vector<RawItem>& items, const std::vector<std::uint64_t>& gaps,
                         std::uint64_t spc);

// Gap sizes in clusters for `items`: random in [1, maxGap] when `totalSectors` is 0, else
// the image's spare clusters spread by random weights. kBadInput when they do not fit.
Status ChooseGaps(const std::vector<RawItem>& items, std::uint64_t spc, std::uint64_t totalSectors,
                  std::uint32_t maxGapClusters, Random& random, std::vector<std::uint64_t>& gaps);

// Moves the items of `older` right behind the item of `newer` that holds file sector 0, in
// file order starting with the first extent at or after `resumeSector` and wrapping round,
// and shrinks the gaps before them to one cluster (the spare going to the last gap).
// Returns the index of the first moved item, or -1 when either file has no item.
int PutOlderAfterHeader(std::vector<RawItem>& items, std::vector<std::uint64_t>& gaps, int newer,
                        int older, std::uint64_t resumeSector);

}  // namespace ravelin::gen
