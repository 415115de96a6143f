// Raw disk images: one or more deleted database files (the targets), each cut into extents at
// cluster boundaries and scattered over an image in any order, with noise between the pieces
// (random bytes, zeros, runs of pages of other databases, of another file id, stale copies,
// a whole older copy of the file), and some hard cases placed on purpose.
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
  // Of the split pages, this many are chosen where the next page of the file is all zero
  // and free (by the file's PFS pages) and the one after it has content: the tail lies
  // before a zero page, and the next fragment a scan sees starts one page later. Each
  // target gets as many ("split-before-zero-page" hard cases).
  int splitBeforeZeroPage = 0;
  // Chosen layout: used as given (file sectors in any order; disk sectors must be
  // cluster-aligned and leave room for the noise the options ask for).
  std::vector<FileExtent> extents;
  bool shuffle = true;  // false: the target's extents lie in file order

  int staleRuns = 0;
  int otherDatabaseRuns = 0;
  int otherFileIdRuns = 0;
  int maxRunPages = 8;
  // Runs of the other database take page ids that the first target's PFS pages mark free,
  // so a page number alone cannot tell them from the target ("foreign-pages-on-free-ids").
  bool otherDatabaseOnFreePages = false;
  // With two or more targets, the second being an older copy of the first: all of the older
  // copy's fragments lie right after the first target's header fragment, one cluster on,
  // starting with the one that continues where the header fragment ends. Chaining by
  // nearest sector then walks into the older copy ("older-after-header").
  bool olderAfterHeader = false;
  std::uint32_t maxGapClusters = 64;
  double zeroGapShare = 0.5;  // share of gaps left as zeros (holes) rather than random bytes
  int unreadableSectors = 0;  // half inside the target's extents, half anywhere
};

// Writes the image to `imagePath` (via a temporary name) and describes it in `manifest`.
// Every target is deleted and fragmented as the options say, and is a "target" file of the
// manifest (files 0 .. targets - 1, in this order). `extents`, when given, place the first
// target only.
Status BuildRawImage(const std::vector<const PageSource*>& targets, const DecoySources& decoys,
                     const RawImageOptions& options, const std::string& imagePath,
                     Manifest& manifest);
Status BuildRawImage(const PageSource& target, const DecoySources& decoys,
                     const RawImageOptions& options, const std::string& imagePath,
                     Manifest& manifest);

}  // namespace ravelin::gen
