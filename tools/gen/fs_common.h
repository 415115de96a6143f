// Pieces shared by the FAT32, NTFS and whole-disk builders: staging files for the tools to
// copy in, the live decoy files, and reading a few boot-sector bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/image_common.h"
#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::gen {

// The live files a file-system image is given before the database goes in.
struct LiveDecoyOptions {
  int count = 8;                  // random-byte files DECOY001.BIN ...
  std::uint32_t minClusters = 1;  // size of each, in clusters
  std::uint32_t maxClusters = 48;
  // Page-holding live files (null: none): stay allocated, so a free-space scan skips them.
  const PageSource* olderCopy = nullptr;      // OLDCOPY.MDF
  const PageSource* otherDatabase = nullptr;  // OTHER.MDF
};

struct StagedFile {
  std::string name;                   // in the file system's root
  std::string path;                   // the staged copy
  const PageSource* pages = nullptr;  // its content when it is a database file
  std::string role;                   // manifest role of page-holding files
};

// Modification time given to staged files (the tools copy it into directory entries), so
// the same seed makes the same image.
inline constexpr std::int64_t kFixedFileTime = 1000000000;

// Writes `source`'s pages, or `sectors` of noise from `seed` when source is null, to
// `path`, with the fixed modification time.
Status StageFile(const std::string& path, const PageSource* source, std::uint64_t sectors,
                 std::uint64_t seed);

// What every file-system builder checks first: a cluster size it can make, a target with
// pages, and the outside tools it runs.
Status CheckFileSystemBuild(const PageSource& target, std::uint32_t sectorsPerCluster,
                            const std::vector<std::string>& tools);

// Sectors a staged file takes: its pages, or (noise files) at most `maxClusters` clusters.
std::uint64_t StagedSectors(const StagedFile& file, std::uint32_t maxClusters,
                            std::uint64_t sectorsPerCluster);

// Stages the random decoys (sizes from `seed`) and the page-holding ones in `dir`. Round r
// > 0 stages another `count` random decoys only, numbered on from round r - 1's (a builder
// that writes several databases gives each its own round of holes).
Status StageDecoys(const std::string& dir, const LiveDecoyOptions& options,
                   std::uint32_t sectorsPerCluster, std::uint64_t seed,
                   std::vector<StagedFile>& files, int round = 0);

// The first `count` bytes of `path` (fewer when the file is shorter).
Status ReadHead(const std::string& path, std::size_t count, std::vector<std::uint8_t>& bytes);

// Adds a page-holding live file to the manifest: a file entry with `role` and its fragments.
void AddLiveDatabase(Manifest& manifest, const StagedFile& file, std::vector<FileExtent> extents);

}  // namespace ravelin::gen
