// FAT32 partition images made with the real tools: mkfs.vfat formats the file, mcopy fills
// it with live decoy files, every other decoy is deleted to leave holes, the database is
// copied in (it lands fragmented in the holes) and then deleted with mdel. Its clusters are
// then free in the FAT and still hold its pages, as on a disk where a database was deleted.
#pragma once

#include <cstdint>
#include <string>

#include "gen/fs_common.h"
#include "gen/image_common.h"
#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct Fat32ImageOptions {
  std::uint64_t seed = 1;
  std::uint32_t sectorsPerCluster = 1;  // power of two, 1 to 128
  // 0: the smallest size that holds everything and still has the 65,525 clusters FAT32
  // needs (about 33 MiB at one sector per cluster; the file is sparse).
  std::uint64_t totalSectors = 0;
  // Written into the boot sector's hidden-sectors field: where the partition starts on its
  // disk (0 for a bare partition image).
  std::uint64_t hiddenSectors = 0;
  LiveDecoyOptions decoys;
  std::string databaseName = "DATA.MDF";
  // After the database is deleted, a new file of this many clusters is written starting in
  // the middle of the database's clusters: those pages are lost, as after real reuse.
  std::uint32_t overwriteClusters = 0;
  int unreadableSectors = 0;
};

// FAT32 needs at least this many clusters; fewer and mtools treats the volume as FAT16.
inline constexpr std::uint64_t kFat32MinClusters = 65525;

Status BuildFat32Image(const PageSource& target, const Fat32ImageOptions& options,
                       const std::string& imagePath, Manifest& manifest);

// Parses mshowfat's "::/NAME <3-10> <15> ..." into cluster runs (first, count).
std::vector<std::pair<std::uint64_t, std::uint64_t>> ParseClusterRuns(const std::string& line);

}  // namespace ravelin::gen
