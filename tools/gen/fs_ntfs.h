// NTFS partition images made with the real tools: mkntfs formats the file, ntfscp copies the
// live decoy files in, and the database's extents are then written straight into clusters
// that $Bitmap marks free, as a deleted file's clusters would be. ntfs-3g has no delete
// tool, so the "deleted" file is laid down where one would have been; the file system stays
// consistent because nothing it owns is touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/fs_common.h"
#include "gen/image_common.h"
#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct NtfsImageOptions {
  std::uint64_t seed = 1;
  std::uint32_t sectorsPerCluster = 8;  // power of two, 1 to 128
  std::uint64_t totalSectors = 0;       // 0: room for everything, at least 8 MiB
  std::uint64_t hiddenSectors = 0;      // partition start on its disk
  LiveDecoyOptions decoys;
  // Each database is cut into this many pieces before it goes into free space; a piece that
  // meets an allocated cluster is split further there.
  int fragments = 6;
  std::uint32_t maxGapClusters = 16;  // free clusters skipped before each piece
  double randomGapShare = 0.5;        // skipped free clusters filled with random bytes
  int unreadableSectors = 0;
};

// Every target is laid into free clusters (its pieces mixed with the others') and is a
// "target" file of the manifest (files 0 .. targets - 1).
Status BuildNtfsImage(const std::vector<const PageSource*>& targets,
                      const NtfsImageOptions& options, const std::string& imagePath,
                      Manifest& manifest);
Status BuildNtfsImage(const PageSource& target, const NtfsImageOptions& options,
                      const std::string& imagePath, Manifest& manifest);

// The $Bitmap content of an NTFS image, read with ntfscat.
Status ReadNtfsBitmap(const std::string& imagePath, std::vector<std::uint8_t>& bitmap);

// Cluster runs (first, count) of a file's $DATA, from `ntfsinfo -v -F`.
Status NtfsFileRuns(const std::string& imagePath, const std::string& name,
                    std::vector<std::pair<std::uint64_t, std::uint64_t>>& runs);

}  // namespace ravelin::gen
