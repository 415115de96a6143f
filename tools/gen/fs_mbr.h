// Whole-disk images: an MBR partition table (written by sfdisk) with one FAT32 or NTFS
// partition at a non-zero offset, holding a deleted database as the partition builders
// make it. The manifest's sectors count from the start of the disk.
#pragma once

#include <cstdint>
#include <string>

#include "gen/fs_fat32.h"
#include "gen/fs_ntfs.h"
#include "gen/manifest.h"

namespace ravelin::gen {

struct DiskImageOptions {
  std::string fileSystem = "fat32";      // "fat32" or "ntfs"
  std::uint64_t partitionStart = 2048;   // first sector of the partition
  std::uint64_t trailingSectors = 2048;  // unpartitioned space after it
  // The partition's own options; their seed is used for the disk too, and hiddenSectors is
  // set to partitionStart.
  Fat32ImageOptions fat32;
  NtfsImageOptions ntfs;
};

Status BuildDiskImage(const PageSource& target, const DiskImageOptions& options,
                      const std::string& imagePath, Manifest& manifest);

struct MbrPartition {
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint32_t type = 0;
};
// The partition table as sfdisk reads it back.
Status ReadPartitionTable(const std::string& imagePath, std::vector<MbrPartition>& partitions);

}  // namespace ravelin::gen
