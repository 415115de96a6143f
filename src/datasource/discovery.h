// What can be chosen as a data source: the machine's disks and their partitions, found in
// sysfs, and what the kernel and libblkid say about them. Nothing here opens a device for
// more than a read-only probe of its label.
//
// Disks are the block devices of <sysfs>/block that have a size, except RAM disks (ram*,
// zram*), optical drives (listed with the partitions, as drive letters are on other
// systems) and loop devices without a backing file; in name order, numbered from 0, at
// most 31. Partitions are the partition directories of those disks, plus the optical
// drives, in name order, numbered from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "datasource/device.h"

namespace ravelin {

inline constexpr std::size_t kMaxDiskEntries = 31;
// DriveNumber is 8 bits and 0 means "none".
inline constexpr std::size_t kMaxPartitionEntries = 255;

// What a probe of a volume found; empty strings when it found nothing.
struct VolumeInfo {
  std::string label;
  std::string type;     // libblkid's name: "ntfs", "vfat", "ext4", ...
  std::string version;  // libblkid's version: "FAT32", ...
};

// Probes the volume at a device path. The default reads the device through libblkid;
// tests give a made-up tree a table instead.
using VolumeProbe = std::function<VolumeInfo(const std::string& devicePath)>;
VolumeInfo ProbeVolumeWithBlkid(const std::string& devicePath);

struct DiscoveryEnv {
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path devRoot = "/dev";
  VolumeProbe probe = ProbeVolumeWithBlkid;
};

struct DiskEntry {
  int number = 0;             // 0-based, in name order
  std::string name;           // kernel name: "sda", "nvme0n1", "loop0"
  std::string devicePath;     // device node: "/dev/sda"
  std::uint64_t sectors = 0;  // 512-byte sectors, from sysfs
  bool removable = false;
  std::string caption;  // "本地磁盘 0 (465.76 GB) [/dev/sda]"
};

struct PartitionEntry {
  int number = 0;  // 1-based entry number; becomes DriveNumber
  std::string name;
  std::string devicePath;
  std::string diskName;  // the disk it belongs to; empty for an optical drive
  std::uint64_t sectors = 0;
  bool optical = false;
  VolumeInfo volume;
  std::string text;     // device node + " " + VolumeLabel: "/dev/sda1 [SYSTEM]"
  std::string caption;  // "逻辑分区 " + text + " "
};

// "465.76 GB" or "512.00 MB": sectors / 2048 MB with two decimals, in GB from 1000 MB on.
std::string SizeText(std::uint64_t sectors);

// The disk entries' caption: "本地磁盘 " or "可移动存储 ", number, " (", size text, ") ",
// and the device node in brackets.
std::string DiskCaption(int number, std::uint64_t sectors, bool removable,
                        const std::string& devicePath);

// "[" + upper-case label + "]"; "[]" for a volume without a label or that cannot be read.
std::string VolumeLabel(const VolumeInfo& volume);
std::string VolumeLabel(const std::string& devicePath, const VolumeProbe& probe);

std::vector<DiskEntry> ListPhysicalDisks(const DiscoveryEnv& env = {});
// The partitions of `disks` and every optical drive; volumes are probed through env.probe.
std::vector<PartitionEntry> ListLogicalDrives(const std::vector<DiskEntry>& disks,
                                              const DiscoveryEnv& env = {});

// Length of the image file at `path` (of the guest disk, for a container), opened through
// `opener`. nullopt with the open's errno when it cannot be opened (a directory gives
// EISDIR), and a refused container's reason.
struct ImageSize {
  std::optional<std::uint64_t> bytes;
  int error = 0;
  std::string reason;
};
ImageSize ImageFileSize(const std::string& path, const DeviceOpener& opener = OpenSystemDevice);

}  // namespace ravelin
