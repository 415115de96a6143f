#include "datasource/sector_reader.h"

#include <cerrno>
#include <limits>
#include <utility>

namespace ravelin {

namespace {

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

// Checks shared by every entry point; nothing is read when they fail.
bool AcceptableRequest(std::int32_t count, MutableBytes buffer) {
  if (count < 0 || count > kMaxSectorsPerRequest) return false;
  return static_cast<std::uint64_t>(count) * kSectorSize <= buffer.size();
}

}  // namespace

SectorReader::SectorReader(const DataSource& source, DeviceOpener opener)
    : source_(source), opener_(std::move(opener)) {}

SectorReader::~SectorReader() = default;

bool SectorReader::ReadSectors(std::int32_t count, MutableBytes buffer, std::uint64_t sector) {
  if (!AcceptableRequest(count, buffer)) return false;
  std::uint64_t n = static_cast<std::uint64_t>(count);

  if (source_.SectorLimit > 0) {
    // Everything here is done in 64 bits: sectors beyond 2^32 are ordinary on today's disks.
    const std::uint64_t end = ReadableEnd();
    if (sector > end || n > end - sector) {
      if (sector >= end) return false;  // wholly past the end: read nothing
      n = end - sector;
    }
  }
  const auto shortened = static_cast<std::int32_t>(n);  // n <= count, so it fits
  if (source_.IsPartition) {
    return ReadDriveSectors(source_.DriveNumber, source_.SourcePath, sector, shortened, buffer);
  }
  return ReadPathSectors(source_.SourcePath, shortened, buffer, sector);
}

std::uint64_t SectorReader::ReadableEnd() const {
  // A partition's limit is its last readable sector; a disk's or image's limit is already
  // one past its end.
  if (source_.SectorLimit == 0) return kMaxU64;
  if (!source_.IsPartition) return source_.SectorLimit;
  return source_.SectorLimit == kMaxU64 ? kMaxU64 : source_.SectorLimit + 1;
}

bool SectorReader::ReadPathSectors(const std::string& path, std::int32_t count, MutableBytes buffer,
                                   std::uint64_t sector) {
  if (!AcceptableRequest(count, buffer)) return false;
  if (count == 0) return true;
  Device* device = Acquire(pathDevice_, path, -1);
  return device != nullptr && ReadFrom(*device, count, buffer, sector);
}

bool SectorReader::ReadDriveSectors(std::uint8_t driveNumber, const std::string& devicePath,
                                    std::uint64_t sector, std::int32_t count, MutableBytes buffer) {
  if (!AcceptableRequest(count, buffer)) return false;
  if (count == 0) return true;
  Device* device = Acquire(driveDevice_, devicePath, driveNumber);
  return device != nullptr && ReadFrom(*device, count, buffer, sector);
}

void SectorReader::AdviseSequential() {
  sequential_ = true;
  if (pathDevice_.device) pathDevice_.device->AdviseSequential();
  if (driveDevice_.device) driveDevice_.device->AdviseSequential();
}

void SectorReader::AdviseWillNeed(std::uint64_t sector, std::int64_t count) {
  HeldDevice& held = source_.IsPartition ? driveDevice_ : pathDevice_;
  if (!held.device || count <= 0 || sector > kMaxU64 / kSectorSize) return;
  held.device->WillNeed(sector * kSectorSize, static_cast<std::uint64_t>(count) * kSectorSize);
}

void SectorReader::Close() {
  pathDevice_ = HeldDevice{};
  driveDevice_ = HeldDevice{};
}

std::uint32_t SectorReader::PathDeviceSectorSize() const {
  return pathDevice_.device ? pathDevice_.device->LogicalSectorSize() : 0;
}

std::uint32_t SectorReader::DriveDeviceSectorSize() const {
  return driveDevice_.device ? driveDevice_.device->LogicalSectorSize() : 0;
}

Device* SectorReader::Acquire(HeldDevice& slot, const std::string& path, int driveNumber) {
  if (slot.device && slot.path == path && slot.driveNumber == driveNumber) {
    return slot.device.get();
  }
  // Close the old device before opening the new one: never two handles for one reader.
  slot = HeldDevice{};
  OpenResult opened = opener_(path);
  if (!opened.device) {
    lastOpenError_ = opened.error != 0 ? opened.error : EIO;
    return nullptr;
  }
  lastOpenError_ = 0;
  slot.device = std::move(opened.device);
  if (sequential_) slot.device->AdviseSequential();
  slot.path = path;
  slot.driveNumber = driveNumber;
  return slot.device.get();
}

bool SectorReader::ReadFrom(Device& device, std::int32_t count, MutableBytes buffer,
                            std::uint64_t sector) {
  // Always 512-byte units, whatever the device's logical sector size: a 4096-byte-sector
  // disk read as count × 4096 bytes would overrun a buffer sized count × 512. Buffered
  // reads of block devices accept any 512-byte-aligned offset.
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kSectorSize;
  if (sector > kMaxU64 / kSectorSize) return false;
  const std::uint64_t offset = sector * kSectorSize;
  if (bytes > kMaxU64 - offset) return false;
  return device.ReadAt(offset, buffer.first(static_cast<std::size_t>(bytes)));
}

}  // namespace ravelin
