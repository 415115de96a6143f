#include "datasource/file_system.h"

#include <array>
#include <limits>

namespace ravelin {
namespace {

// Boot sector offsets.
constexpr std::size_t kOemNameOffset = 3;          // "NTFS    " on NTFS
constexpr std::size_t kBytesPerSectorOffset = 11;  // 16-bit
constexpr std::size_t kSectorsPerClusterOffset = 13;
constexpr std::size_t kReservedSectorsOffset = 14;  // 16-bit
constexpr std::size_t kTotalSectors16Offset = 19;   // 16-bit, 0 on FAT32 volumes
constexpr std::size_t kTotalSectors32Offset = 32;
constexpr std::size_t kFatSectorsPerFatOffset = 36;
constexpr std::size_t kNtfsTotalSectorsOffset = 40;  // 64-bit
constexpr std::size_t kNtfsMftClusterOffset = 48;    // 64-bit
constexpr std::size_t kFat32TypeOffset = 82;         // "FAT32   "

bool TextAt(ByteView bytes, std::size_t offset, std::string_view text) {
  if (!InBounds(bytes.size(), offset, text.size())) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (bytes[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

// NTFS writes cluster sizes above 64 KiB (Windows 10 allows up to 2 MiB) as a negative
// exponent: byte 13 = 256 - log2(cluster bytes). Taken literally, 0xEB (2 MiB) would be
// read as 235 sectors and every cluster number of the free-space map would be wrong.
std::int16_t NtfsSectorsPerCluster(std::uint8_t raw, std::uint32_t bytesPerSector) {
  if (raw <= 0x80) return raw;
  const unsigned shift = 256u - raw;
  if (shift > 30) return 0;  // nonsense: leave it to the callers' check of 0
  const std::uint64_t clusterBytes = std::uint64_t{1} << shift;
  const std::uint64_t sectors = clusterBytes / bytesPerSector;
  if (sectors == 0 ||
      sectors > static_cast<std::uint64_t>(std::numeric_limits<std::int16_t>::max())) {
    return 0;
  }
  return static_cast<std::int16_t>(sectors);
}

}  // namespace

BootSectorInfo ParseBootSector(ByteView sector0) {
  BootSectorInfo boot;
  const std::uint16_t bps = Load16(sector0, kBytesPerSectorOffset);
  // Only the sizes a file system may declare; anything else is a damaged field.
  if (bps == 512 || bps == 1024 || bps == 2048 || bps == 4096) boot.bytesPerSector = bps;
  const std::uint8_t spc = Load8(sector0, kSectorsPerClusterOffset);

  if (TextAt(sector0, kOemNameOffset, "NTFS")) {
    boot.fileSystemName = kFileSystemNtfs;
    boot.sectorsPerCluster = NtfsSectorsPerCluster(spc, boot.bytesPerSector);
    boot.mftStartCluster = Load64(sector0, kNtfsMftClusterOffset);
    boot.dataStartSector = 0;
    boot.fileSystemSectors = Load64(sector0, kNtfsTotalSectorsOffset);
  } else if (TextAt(sector0, kFat32TypeOffset, "FAT32")) {
    boot.fileSystemName = kFileSystemFat32;
    boot.sectorsPerCluster = spc;
    boot.fatReservedSectors = Load16(sector0, kReservedSectorsOffset);
    boot.fatSectorsPerFat = Load32(sector0, kFatSectorsPerFatOffset);
    boot.dataStartSector = boot.fatReservedSectors + 2 * boot.fatSectorsPerFat;
    const std::uint16_t total16 = Load16(sector0, kTotalSectors16Offset);
    boot.fileSystemSectors = total16 != 0 ? total16 : Load32(sector0, kTotalSectors32Offset);
  } else {
    boot.fileSystemName = kFileSystemUnknown;
    boot.sectorsPerCluster = spc;
    boot.dataStartSector = 0;
  }
  return boot;
}

std::optional<std::uint64_t> ClusterAreaBytes(const BootSectorInfo& boot) {
  std::uint64_t sectors = 0;
  if (boot.fileSystemName == kFileSystemNtfs) {
    sectors = boot.fileSystemSectors;
  } else if (boot.fileSystemName == kFileSystemFat32) {
    if (boot.fileSystemSectors <= boot.dataStartSector) return std::nullopt;
    sectors = boot.fileSystemSectors - boot.dataStartSector;
  } else {
    return std::nullopt;
  }
  if (sectors == 0 || sectors > std::numeric_limits<std::uint64_t>::max() / boot.bytesPerSector) {
    return std::nullopt;
  }
  return sectors * boot.bytesPerSector;
}

int DetectFileSystem(DataSource& source, SectorReader& reader, Reporter& reporter) {
  std::array<std::uint8_t, kSectorSize> sector0{};
  if (!reader.ReadSectors(1, sector0, source.FileSystemStartSector)) {
    reporter.Log("512error 读取sec0");
    return 1;
  }
  const BootSectorInfo boot = ParseBootSector(sector0);
  source.FileSystemName = boot.fileSystemName;
  source.SectorsPerCluster = boot.sectorsPerCluster;
  source.FileSystemSectorsPerCluster = boot.sectorsPerCluster;
  source.DataStartSector = boot.dataStartSector;
  if (boot.fileSystemName == kFileSystemNtfs) {
    source.MftStartCluster = boot.mftStartCluster;
  } else if (boot.fileSystemName == kFileSystemFat32) {
    source.FatReservedSectors = boot.fatReservedSectors;
    source.FatSectorsPerFat = boot.fatSectorsPerFat;
  }
  return 0;
}

}  // namespace ravelin
