// Telling NTFS from FAT32 by the boot sector (sector 0 of a partition or partition image)
// and reading the fields the scan and the free-space map need: sectors per cluster, where
// the cluster area begins, the FAT geometry, the first cluster of the MFT.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/reporter.h"
#include "datasource/data_source.h"
#include "datasource/sector_reader.h"

namespace ravelin {

inline constexpr std::string_view kFileSystemNtfs = "NTFS";
inline constexpr std::string_view kFileSystemFat32 = "FAT32";
inline constexpr std::string_view kFileSystemUnknown = "不可识别";

// MFT records are at most this long (NTFS allows up to 64 KiB; 1024 and 4096 are usual).
inline constexpr std::uint32_t kMaxMftRecordBytes = 65536;
inline constexpr std::uint32_t kDefaultMftRecordBytes = 1024;

// What a boot sector says, decoded with bounds checks from the first 512 bytes. The volume
// counts in sectors of its own size (offset 11: 512, 1024, 2048 or 4096 bytes); every
// sector count here is converted to the 512-byte sectors the rest of the program counts in.
struct BootSectorInfo {
  std::string fileSystemName;  // kFileSystemNtfs, kFileSystemFat32 or kFileSystemUnknown
  std::int16_t sectorsPerCluster = 0;
  std::uint64_t dataStartSector = 0;     // FAT32: reserved + 2 × sectors per FAT; else 0
  std::uint64_t fatReservedSectors = 0;  // FAT32 only
  std::uint64_t fatSectorsPerFat = 0;    // FAT32 only
  std::uint64_t mftStartCluster = 0;     // NTFS only
  // NTFS only: the MFT record size from offset 0x40; 1024 when the field is damaged.
  std::uint32_t mftRecordBytes = 0;
  // The file system's own idea of its size: FAT32 total sectors (16-bit field, or the
  // 32-bit one when that is 0), NTFS total sectors (which leave out the backup boot sector
  // in the partition's last sector).
  std::uint64_t fileSystemSectors = 0;
  std::uint32_t bytesPerSector = 512;  // the volume's own sector size, as declared
};

// Decodes sector 0. Bytes 3-6 "NTFS" make NTFS, else bytes 82-86 "FAT32" make FAT32.
// FAT32 is taken to have two FATs (the FAT count at offset 16 is not read). Sectors per
// cluster is byte 13 times the volume's sectors; on NTFS a value above 128 is the negative
// base-2 exponent of the cluster size in bytes (0xEB: 2^21 bytes, 4096 sectors, for 2 MiB
// clusters) and is decoded as such. An unrecognised boot sector keeps byte 13 as it is.
BootSectorInfo ParseBootSector(ByteView sector0);

// Bytes of the volume's cluster area as the file system describes it: FAT32 total sectors
// less the sectors in front of cluster 2; NTFS total sectors. nullopt for another file
// system or when the fields describe no area at all.
std::optional<std::uint64_t> ClusterAreaBytes(const BootSectorInfo& boot);

// Reads sector 0 of the chosen source through ReadSectors and fills FileSystemName,
// SectorsPerCluster, DataStartSector and, per file system, FatReservedSectors and
// FatSectorsPerFat or MftStartCluster and MftRecordBytes. Fields of the other file system keep
// their values. 0 on success; 1 when sector 0 cannot be read (logged in Memo1 as "512error
// 读取sec0").
int DetectFileSystem(DataSource& source, SectorReader& reader, Reporter& reporter);

}  // namespace ravelin
