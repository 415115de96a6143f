// Raw disk images: a database file cut into extents at cluster boundaries and scattered over
// an image in any order, with noise between the pieces (random bytes, zeros, runs of pages
// of other databases, of another file id, stale copies, a whole older copy of the file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/image_common.h"
#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::gen {

// Look-alike pages written as noise. Every pointer may be null; the sources must outlive
// the build.
struct DecoySources {
  const PageSource* olderCopy = nullptr;      // written once, whole ("older-copy")
  const PageSource* stalePages = nullptr;     // short runs of stale copies ("stale-pages")
  const PageSource* otherDatabase = nullptr;  // runs ("other-database")
  const PageSource* otherFileId = nullptr;    // runs ("other-file-id")
};

struct RawImageOptions {
  std::uint64_t seed = 1;
  std::uint32_t sectorsPerCluster = 8;  // power of two, 1 to 128
  // 0: as small as the layout allows (gaps of 1 to maxGapClusters clusters). Otherwise the
  // image has exactly this many sectors and the spare room is spread over the gaps.
  std::uint64_t totalSectors = 0;

  // The target's layout, when `extents` is empty: cut into `fragments` extents, of which
  // `splitPages` end inside a page (clusters below 16 sectors only); `detachedTails` of those
  // split pages get their tail as an extent of its own, so it does not lie before the next
  // page; `lostExtents` extents (never the first) are not written at all.
  int fragments = 8;
  int splitPages = 0;
  int detachedTails = 0;
  int lostExtents = 0;
  // Chosen layout: used as given (file sectors in any order; disk sectors must be
  // cluster-aligned and leave room for the noise the options ask for).
  std::vector<FileExtent> extents;
  bool shuffle = true;  // false: the target's extents lie in file order

  int staleRuns = 0;
  int otherDatabaseRuns = 0;
  int otherFileIdRuns = 0;
  int maxRunPages = 8;
  std::uint32_t maxGapClusters = 64;
  double zeroGapShare = 0.5;  // share of gaps left as zeros (holes) rather than random bytes
  int unreadableSectors = 0;  // half inside the target's extents, half anywhere
};

// Writes the image to `imagePath` (via a temporary name) and describes it in `manifest`.
Status BuildRawImage(const PageSource& target, const DecoySources& decoys,
                     const RawImageOptions& options, const std::string& imagePath,
                     Manifest& manifest);

// Cuts a file of `pageCount` pages into extents as RawImageOptions describes (diskSector
// left 0). Exposed for the file-system builders and for tests.
Status PlanExtents(std::int64_t pageCount, const RawImageOptions& options,
                   std::vector<FileExtent>& extents);

// Chooses `count` unreadable sectors: half inside `extents`, the rest in [0, totalSectors).
std::vector<std::uint64_t> ChooseUnreadable(std::uint64_t seed, int count,
                                            const std::vector<FileExtent>& extents,
                                            std::uint64_t totalSectors);

}  // namespace ravelin::gen
