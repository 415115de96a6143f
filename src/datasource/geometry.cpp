#include "datasource/geometry.h"

#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>

#include "common/bytes.h"

namespace ravelin {

namespace {

// Device numbers whose class the kernel does not spell out in sysfs.
constexpr unsigned kFloppyMajor = 2;
constexpr unsigned kScsiCdRomMajor = 11;

// Customary translation when the driver gives no geometry (as a BIOS does for large disks).
constexpr std::uint32_t kDefaultHeads = 255;
constexpr std::uint32_t kDefaultSectorsPerTrack = 63;

// "0\n" or "1\n"; anything else is no answer.
std::optional<bool> ReadFlagFile(const std::filesystem::path& file) {
  std::ifstream in(file);
  char c = 0;
  if (!in.get(c)) return std::nullopt;
  if (c == '0') return false;
  if (c == '1') return true;
  return std::nullopt;
}

bool Exists(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::exists(p, ec);
}

// A device directory answers for itself; a partition's directory sits inside its disk's
// directory, and the disk holds the flag. The ".." is resolved by the kernel after it
// follows the sysfs symlink, so it lands in the disk's real directory.
std::optional<bool> RemovableOfDeviceDir(const std::filesystem::path& dir) {
  if (Exists(dir / "removable")) return ReadFlagFile(dir / "removable");
  if (Exists(dir / "partition")) return ReadFlagFile(dir / ".." / "removable");
  return std::nullopt;
}

}  // namespace

std::optional<bool> ReadRemovableFlag(std::string_view blockName,
                                      const std::filesystem::path& sysfsRoot) {
  // A kernel block name is one path component; refuse anything that could walk elsewhere.
  if (blockName.empty() || blockName == "." || blockName == ".." ||
      blockName.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string name(blockName);
  if (auto flag = RemovableOfDeviceDir(sysfsRoot / "block" / name)) return flag;
  return RemovableOfDeviceDir(sysfsRoot / "class" / "block" / name);
}

std::optional<bool> ReadRemovableFlag(unsigned major, unsigned minor,
                                      const std::filesystem::path& sysfsRoot) {
  return RemovableOfDeviceDir(sysfsRoot / "dev" / "block" /
                              (std::to_string(major) + ":" + std::to_string(minor)));
}

std::optional<BlockDeviceInfo> ProbeBlockDevice(const std::string& path, const DeviceOpener& opener,
                                                const std::filesystem::path& sysfsRoot) {
  OpenResult opened = opener(path);
  if (!opened.device) {
    errno = opened.error;
    return std::nullopt;
  }
  const std::optional<BlockDetails> block = opened.device->Block();
  if (!block) {
    errno = ENOTBLK;  // an image file has no geometry
    return std::nullopt;
  }
  BlockDeviceInfo info;
  info.sizeBytes = opened.device->SizeBytes();
  // A card reader without a card, an empty optical drive or an unbound loop device answers
  // with length 0: there is no disk to list or to read.
  if (info.sizeBytes == 0) {
    errno = ENOMEDIUM;
    return std::nullopt;
  }
  info.logicalSectorSize = opened.device->LogicalSectorSize();
  info.heads = block->heads;
  info.sectorsPerTrack = block->sectorsPerTrack;
  if (block->major == kScsiCdRomMajor) {
    info.deviceClass = kClassCdRom;
    info.removable = true;
  } else if (block->major == kFloppyMajor) {
    info.deviceClass = kClassFloppy;
    info.removable = true;
  } else {
    info.removable = ReadRemovableFlag(block->major, block->minor, sysfsRoot).value_or(false);
    info.deviceClass = info.removable ? kClassRemovable : kClassFixed;
  }
  return info;
}

Geometry MakeGeometry(const BlockDeviceInfo& info) {
  Geometry g;
  g.deviceClass = info.deviceClass;
  g.removable = (info.deviceClass == kClassFloppy || info.deviceClass == kClassRemovable ||
                 info.deviceClass == kClassCdRom)
                    ? 1
                    : 0;
  const bool driverGeometry = info.heads > 0 && info.sectorsPerTrack > 0;
  g.heads = driverGeometry ? info.heads : kDefaultHeads;
  g.sectorsPerTrack = driverGeometry ? info.sectorsPerTrack : kDefaultSectorsPerTrack;
  const std::uint64_t sectors = info.sizeBytes / kSectorSize;
  const std::uint64_t cylinders = sectors / (std::uint64_t{g.heads} * g.sectorsPerTrack);
  g.cylinders = static_cast<std::uint32_t>(cylinders);
  g.totalSectors = static_cast<std::uint32_t>(cylinders * g.heads * g.sectorsPerTrack);
  g.bytesPerSector = info.logicalSectorSize;
  return g;
}

DriveParams MakeDriveParams(const BlockDeviceInfo& info) {
  const Geometry g = MakeGeometry(info);
  DriveParams p;
  p.flags = g.removable ? kDriveFlagRemovable : 0;
  p.cylinders = g.cylinders;
  p.heads = g.heads;
  p.sectorsPerTrack = g.sectorsPerTrack;
  p.totalSectorsLow = g.totalSectors;
  p.totalSectorsHigh = 0;
  p.bytesPerSector = static_cast<std::uint16_t>(g.bytesPerSector);
  p.extensionPointer = 0;
  p.totalSectors = info.sizeBytes / kSectorSize;
  return p;
}

bool QueryGeometry(const std::string& path, Geometry& geometry, const DeviceOpener& opener) {
  const auto info = ProbeBlockDevice(path, opener);
  if (!info) return false;
  geometry = MakeGeometry(*info);
  return true;
}

bool GetPhysicalDriveParams(const std::string& devicePath, DriveParams& params,
                            const DeviceOpener& opener) {
  const auto info = ProbeBlockDevice(devicePath, opener);
  if (!info) return false;
  params = MakeDriveParams(*info);
  return true;
}

}  // namespace ravelin
