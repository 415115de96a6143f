#include "datasource/file_system.h"

#include <array>
#include <limits>

#include "common/messages.h"

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

constexpr std::size_t kNtfsMftRecordSizeOffset = 0x40;  // signed 8-bit

// NTFS writes sizes above what a byte holds as a negative exponent: 256 - log2(bytes).
// Cluster sizes above 64 KiB (Windows 10 allows up to 2 MiB) and the MFT record size (on
// nearly every volume 0xF6, 1024 bytes) are written so. Nothing for a nonsense exponent.
std::optional<std::uint64_t> NtfsExponentBytes(std::uint8_t raw) {
  const unsigned shift = 256u - raw;
  if (shift < 9 || shift > 30) return std::nullopt;  // below one sector or above 1 GiB
  return std::uint64_t{1} << shift;
}

// Sectors per cluster in 512-byte sectors; 0 (which every user refuses) when the cluster
// does not fit the 16-bit field.
std::int16_t ClusterSectors512(std::uint64_t clusterBytes) {
  const std::uint64_t sectors = clusterBytes / kSectorSize;
  if (sectors > static_cast<std::uint64_t>(std::numeric_limits<std::int16_t>::max())) return 0;
  return static_cast<std::int16_t>(sectors);
}

// A count of the volume's own sectors in 512-byte sectors; all ones when that does not fit
// (no volume is that large, so every range check then refuses it).
std::uint64_t To512(std::uint64_t sectors, std::uint32_t bytesPerSector) {
  const std::uint64_t factor = bytesPerSector / kSectorSize;
  return sectors > std::numeric_limits<std::uint64_t>::max() / factor
             ? std::numeric_limits<std::uint64_t>::max()
             : sectors * factor;
}

// The MFT record size from its signed byte at 0x40: positive, in clusters; negative, 2^-n
// bytes. Records are between one sector and 64 KiB; a damaged field gives the usual 1024.
std::uint32_t NtfsMftRecordBytes(std::uint8_t raw, std::uint64_t clusterBytes) {
  std::uint64_t bytes = 0;
  if (raw >= 0x80) {
    bytes = NtfsExponentBytes(raw).value_or(0);
  } else {
    bytes = raw * clusterBytes;
  }
  if (bytes < kSectorSize || bytes > kMaxMftRecordBytes || bytes % kSectorSize != 0)
    return kDefaultMftRecordBytes;
  return static_cast<std::uint32_t>(bytes);
}

}  // namespace

BootSectorInfo ParseBootSector(ByteView sector0) {
  BootSectorInfo boot;
  const std::uint16_t bps = Load16(sector0, kBytesPerSectorOffset);
  // Only the sizes a file system may declare; anything else is a damaged field.
  if (bps == 512 || bps == 1024 || bps == 2048 || bps == 4096) boot.bytesPerSector = bps;
  const std::uint32_t bytesPerSector = boot.bytesPerSector;
  const std::uint8_t spc = Load8(sector0, kSectorsPerClusterOffset);

  if (TextAt(sector0, kOemNameOffset, "NTFS")) {
    boot.fileSystemName = kFileSystemNtfs;
    const std::uint64_t clusterBytes =
        spc <= 0x80 ? std::uint64_t{spc} * bytesPerSector : NtfsExponentBytes(spc).value_or(0);
    boot.sectorsPerCluster = ClusterSectors512(clusterBytes);
    boot.mftStartCluster = Load64(sector0, kNtfsMftClusterOffset);
    boot.mftRecordBytes =
        NtfsMftRecordBytes(Load8(sector0, kNtfsMftRecordSizeOffset), clusterBytes);
    boot.dataStartSector = 0;
    boot.fileSystemSectors = To512(Load64(sector0, kNtfsTotalSectorsOffset), bytesPerSector);
  } else if (TextAt(sector0, kFat32TypeOffset, "FAT32")) {
    boot.fileSystemName = kFileSystemFat32;
    boot.sectorsPerCluster = ClusterSectors512(std::uint64_t{spc} * bytesPerSector);
    boot.fatReservedSectors = To512(Load16(sector0, kReservedSectorsOffset), bytesPerSector);
    boot.fatSectorsPerFat = To512(Load32(sector0, kFatSectorsPerFatOffset), bytesPerSector);
    boot.dataStartSector = boot.fatReservedSectors + 2 * boot.fatSectorsPerFat;
    const std::uint16_t total16 = Load16(sector0, kTotalSectors16Offset);
    boot.fileSystemSectors =
        To512(total16 != 0 ? total16 : Load32(sector0, kTotalSectors32Offset), bytesPerSector);
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
  if (sectors == 0 || sectors > std::numeric_limits<std::uint64_t>::max() / kSectorSize) {
    return std::nullopt;
  }
  return sectors * kSectorSize;
}

int DetectFileSystem(DataSource& source, SectorReader& reader, Reporter& reporter) {
  std::array<std::uint8_t, kSectorSize> sector0{};
  if (!reader.ReadSectors(1, sector0, source.FileSystemStartSector)) {
    reporter.Log(Text(TextId::kSectorZeroUnreadable));
    return 1;
  }
  const BootSectorInfo boot = ParseBootSector(sector0);
  source.FileSystemName = boot.fileSystemName;
  source.SectorsPerCluster = boot.sectorsPerCluster;
  source.FileSystemSectorsPerCluster = boot.sectorsPerCluster;
  source.DataStartSector = boot.dataStartSector;
  if (boot.fileSystemName == kFileSystemNtfs) {
    source.MftStartCluster = boot.mftStartCluster;
    source.MftRecordBytes = boot.mftRecordBytes;
  } else if (boot.fileSystemName == kFileSystemFat32) {
    source.FatReservedSectors = boot.fatReservedSectors;
    source.FatSectorsPerFat = boot.fatSectorsPerFat;
  }
  return 0;
}

}  // namespace ravelin
