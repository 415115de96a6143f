// Whole-disk images: a partition table (MBR or GPT, written by sfdisk) with the database's
// FAT32 or NTFS partition, made by the partition builders, at a non-zero offset; optionally
// small partitions before it, so the database's is not always partition 1. The manifest's
// sectors count from the start of the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/fs_fat32.h"
#include "gen/fs_ntfs.h"
#include "gen/manifest.h"
#include "gen/partition_table.h"

namespace ravelin::gen {

// A partition placed before the database's.
struct ExtraPartition {
  // FAT32 holding one live file of noise (NOTES.BIN), or left unformatted (zeros).
  bool fat32 = false;
  // 0: the smallest FAT32 volume (about 33 MiB, sparse), or 2048 sectors unformatted.
  std::uint64_t sectors = 0;
};

struct DiskImageOptions {
  std::string fileSystem = "fat32";  // of the database's partition: "fat32" or "ntfs"
  PartitionTableKind table = PartitionTableKind::kMbr;
  std::vector<ExtraPartition> partitionsBefore;  // MBR: at most 3
  // First sector of the first partition; each later one starts at the next multiple of 2048
  // after the one before.
  std::uint64_t partitionStart = 2048;
  std::uint64_t trailingSectors = 2048;  // unpartitioned space after the last partition
  // The database partition's own options; their seed is used for the disk too, and
  // hiddenSectors is set to where that partition starts.
  Fat32ImageOptions fat32;
  NtfsImageOptions ntfs;
};

// Every target lies deleted in the database's partition (see BuildFat32Image and
// BuildNtfsImage).
Status BuildDiskImage(const std::vector<const PageSource*>& targets,
                      const DiskImageOptions& options, const std::string& imagePath,
                      Manifest& manifest);
Status BuildDiskImage(const PageSource& target, const DiskImageOptions& options,
                      const std::string& imagePath, Manifest& manifest);

}  // namespace ravelin::gen
