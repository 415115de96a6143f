// What sector 0 of an image file says it is, and the partitions of a whole-disk image.
//
// An image starting with a FAT32 or NTFS boot sector is one partition (a file system); one
// whose sector 1 starts "EFI PART" (GPT) or whose sector 0 ends with the 0x55 0xAA boot
// signature without being a boot sector (MBR) is a whole disk; anything else is taken for
// a whole disk too, since a scan of the whole image misses nothing. The partitions
// themselves are read with libblkid's partition probing (MBR with its extended partitions,
// and GPT).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "datasource/discovery.h"

namespace ravelin {

enum class ImageKind { kPartitionImage, kWholeDiskImage };

struct ImageKindGuess {
  ImageKind kind = ImageKind::kWholeDiskImage;
  std::string reason;  // "FAT32 boot sector", "NTFS boot sector", "GPT", "MBR", "no boot sector"
};

// Classifies an image from its sectors 0 and 1 (sector1 may be empty for a one-sector file).
ImageKindGuess ClassifyImage(ByteView sector0, ByteView sector1);
// Reads sectors 0 and 1 of the image at `path` through `opener` and classifies them; an
// image that cannot be read is taken for a whole disk ("unreadable").
ImageKindGuess DetectImageKind(const std::string& path, const DeviceOpener& opener);

struct ImagePartition {
  int number = 0;             // 1-based, as the partition table numbers it
  std::uint64_t start = 0;    // first 512-byte sector within the image
  std::uint64_t sectors = 0;  // length in 512-byte sectors
  std::string type;           // MBR type ("0x0c") or GPT type GUID
  std::string name;           // GPT partition name; empty on MBR
  VolumeInfo volume;          // the file system found at its start, if any
};

// The logical sector size of 4Kn disks, whose partition tables count 4096-byte blocks.
inline constexpr unsigned k4KnSectorSize = 4096;

struct PartitionTable {
  std::string kind;           // "dos" (MBR) or "gpt"; empty when the image has no partition table
  unsigned sectorSize = 512;  // the block size the table counts in
  std::vector<ImagePartition> partitions;
};

// Reads the partition table of the image (or disk) at `path`, in the disk's logical sector
// size; an image whose table, read in 512-byte blocks, leads to no file system is read again
// as a 4Kn disk (4096-byte blocks). A container image's table is the guest disk's.
// Nothing, with errno in *error (and a refused container's reason in *reason), when the
// file cannot be opened; an empty table when it holds none.
std::optional<PartitionTable> ReadPartitionTable(const std::string& path, int* error = nullptr,
                                                 std::string* reason = nullptr);

}  // namespace ravelin
