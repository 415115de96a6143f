// What the kernel says about a block device: its logical sector size, its exact length,
// whether its media is removable, and the cylinder/head/sector view of it that the disk
// list shows. Image files are not block devices and answer none of these questions.
//
// Every count here is in 512-byte units, the unit every reader of the source counts in;
// bytesPerSector is the device's own logical sector size (512, 2048 for optical drives,
// 4096 for 4Kn disks), kept for captions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "datasource/device.h"

namespace ravelin {

// Device classes of the geometry record.
inline constexpr std::uint16_t kClassUnidentified = 0;
inline constexpr std::uint16_t kClassFloppy = 1;
inline constexpr std::uint16_t kClassRemovable = 2;
inline constexpr std::uint16_t kClassFixed = 3;
inline constexpr std::uint16_t kClassCdRom = 4;

struct Geometry {
  std::uint16_t deviceClass = kClassUnidentified;
  std::uint16_t removable = 0;  // 1 for the floppy, removable and CD-ROM classes
  std::uint32_t cylinders = 0;  // low 32 bits
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t totalSectors = 0;  // low 32 bits of cylinders × heads × sectors per track
};

// The extended BIOS drive-parameter block, widened by a 64-bit total.
inline constexpr std::uint16_t kDriveParamsSize = 30;
inline constexpr std::uint16_t kDriveFlagRemovable = 4;

struct DriveParams {
  std::uint16_t size = kDriveParamsSize;
  std::uint16_t flags = 0;  // kDriveFlagRemovable for removable media
  std::uint32_t cylinders = 0;
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t totalSectorsLow = 0;   // low 32 bits of cylinders × heads × sectors/track
  std::uint32_t totalSectorsHigh = 0;  // always 0
  std::uint16_t bytesPerSector = 0;
  std::uint32_t extensionPointer = 0;
  // The device's exact length / 512. Not the cylinder product: a disk is rarely a whole
  // number of 255 × 63 cylinders, and the sectors of the last partial cylinder (up to
  // 8 MB, often the end of the last partition) would otherwise never be scanned.
  std::uint64_t totalSectors = 0;
};

// What the kernel reports for a block device.
struct BlockDeviceInfo {
  std::uint64_t sizeBytes = 0;
  std::uint32_t logicalSectorSize = 512;
  std::uint32_t heads = 0;            // from HDIO_GETGEO when the driver answers, else 0
  std::uint32_t sectorsPerTrack = 0;  // likewise
  std::uint16_t deviceClass = kClassFixed;
  bool removable = false;
};

// Probes the block device at `path`, opened through `opener` (read-only). Fails (nullopt,
// errno set) for anything that is not a block device, an ordinary file included (ENOTBLK),
// and for a device without media, whose length is 0 (ENOMEDIUM).
std::optional<BlockDeviceInfo> ProbeBlockDevice(const std::string& path,
                                                const DeviceOpener& opener = OpenSystemDevice,
                                                const std::filesystem::path& sysfsRoot = "/sys");

// The geometry record of a probed device. A driver that gives no head/sector geometry
// gets the customary 255 heads × 63 sectors per track.
Geometry MakeGeometry(const BlockDeviceInfo& info);
DriveParams MakeDriveParams(const BlockDeviceInfo& info);

// Geometry of the block device at `path`. False for an ordinary file or a path that cannot
// be opened; `geometry` is then left untouched.
bool QueryGeometry(const std::string& path, Geometry& geometry,
                   const DeviceOpener& opener = OpenSystemDevice);

// Drive parameters of the whole disk at `devicePath` (/dev/sda, /dev/nvme0n1). False, with
// `params` untouched, when it is not a block device or cannot be opened.
bool GetPhysicalDriveParams(const std::string& devicePath, DriveParams& params,
                            const DeviceOpener& opener = OpenSystemDevice);

// The kernel's removable flag of block device `blockName` ("sda", "sr0", or a partition
// such as "sda1", which answers for its disk): <sysfsRoot>/block/<name>/removable, or for a
// partition the removable file of its disk. nullopt when neither exists or is unreadable.
std::optional<bool> ReadRemovableFlag(std::string_view blockName,
                                      const std::filesystem::path& sysfsRoot = "/sys");

// The same, found through the device number (<sysfsRoot>/dev/block/<major>:<minor>), which
// works whatever the device node is called.
std::optional<bool> ReadRemovableFlag(unsigned major, unsigned minor,
                                      const std::filesystem::path& sysfsRoot = "/sys");

}  // namespace ravelin
