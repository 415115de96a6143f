// FAT32 partition images made with the real tools: mkfs.vfat formats the file, mcopy fills
// it with live decoy files, every other decoy is deleted to leave holes, the database is
// copied in (it lands fragmented in the holes) and then deleted with mdel. Its clusters are
// then free in the FAT and still hold its pages, as on a disk where a database was deleted.
// Several databases each get a round of their own: decoys, holes, the database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/fat32_volume.h"
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
  LiveDecoyOptions decoys;  // per database: each gets `count` random decoys of its own
  // The first database's name before deletion; the others get a number before the dot
  // (DATA2.MDF, DATA3.MDF, ...).
  std::string databaseName = "DATA.MDF";
  // After the databases are deleted, a new file of this many clusters is written starting
  // in the middle of the first database's clusters: those pages are lost, as after reuse.
  std::uint32_t overwriteClusters = 0;
  int unreadableSectors = 0;
};

// Every target is deleted and is a "target" file of the manifest (files 0 .. targets - 1).
Status BuildFat32Image(const std::vector<const PageSource*>& targets,
                       const Fat32ImageOptions& options, const std::string& imagePath,
                       Manifest& manifest);
Status BuildFat32Image(const PageSource& target, const Fat32ImageOptions& options,
                       const std::string& imagePath, Manifest& manifest);

// The name the database numbered `index` (from 0) had: DATA.MDF, DATA2.MDF, ...
std::string DatabaseFileName(const std::string& first, std::size_t index);

}  // namespace ravelin::gen
