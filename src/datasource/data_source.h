// The Data source record: what the user chose to recover from, filled when a disk, a
// partition or an image file is picked, and read by the sector reader, the free-space map
// and the scan. The Workspace owns the one instance.
#pragma once

#include <cstdint>
#include <string>

namespace ravelin {

struct DataSource {
  bool SourceChosen = false;
  // true: a partition, read through ReadDriveSectors; false: a whole disk or an image file,
  // read through ReadPathSectors.
  bool IsPartition = false;
  // 1-based number of the partition entry (the drive letter's number on the original
  // platform: A = 1). The partition's device node travels in SourcePath.
  std::uint8_t DriveNumber = 0;
  // Device node of a disk or partition (/dev/sda, /dev/sda1) or the path of an image file.
  std::string SourcePath;
  std::uint64_t TotalSectors = 0;
  // The read limit shown as the end sector. Path source: one past the last readable sector;
  // partition source: the last readable sector itself. 0 while no source is chosen.
  std::uint64_t SectorLimit = 0;
  // The device's logical sector size as the kernel reports it (512 for image files). For
  // captions only: every read of the source counts in 512-byte sectors whatever it says.
  std::uint32_t BytesPerSector = 512;
  bool HasFileSystem = false;
  std::string FileSystemName;  // "NTFS", "FAT32" or "不可识别"
  std::uint64_t DataStartSector = 0;
  // Where the file system begins on the source: 0 for a partition, a partition image or a
  // disk; a partition's first sector when one partition of a whole-disk image is chosen.
  // The boot sector, the FAT, the MFT and cluster numbers count from here; every other
  // sector number (the scan's range, the rows) keeps the image's numbering.
  std::uint64_t FileSystemStartSector = 0;
  std::int16_t SectorsPerCluster = 0;
  // Sectors per cluster as the boot sector gives them. SectorsPerCluster takes the scan's
  // step; the free-space map keeps counting clusters with this one.
  std::int16_t FileSystemSectorsPerCluster = 0;
  std::uint64_t FatReservedSectors = 0;
  std::uint64_t FatSectorsPerFat = 0;
  std::uint64_t MftStartCluster = 0;
  // NTFS MFT record size from the boot sector (1024 on most volumes, 4096 on many with
  // 4096-byte sectors).
  std::uint32_t MftRecordBytes = 1024;
  // true: fragment pages come from the source; false: from an opened fragment content file.
  bool LiveSource = true;
};

}  // namespace ravelin
