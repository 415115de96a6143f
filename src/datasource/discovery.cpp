#include "datasource/discovery.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "common/messages.h"
#include "common/text.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

// The SCSI CD-ROM major: sr0, sr1, ...
constexpr unsigned kOpticalMajor = 11;

std::optional<std::string> ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// sysfs "size" is in 512-byte units whatever the device's logical sector size.
std::uint64_t SysfsSectors(const fs::path& dir) {
  const auto line = ReadFirstLine(dir / "size");
  if (!line) return 0;
  return ParseInteger<std::uint64_t>(*line).value_or(0);
}

bool IsOptical(const std::string& name, const fs::path& dir) {
  if (StartsWith(name, "sr")) return true;
  const auto dev = ReadFirstLine(dir / "dev");  // "major:minor"
  if (!dev) return false;
  const auto colon = dev->find(':');
  return colon != std::string::npos &&
         ParseInteger<unsigned>(std::string_view(*dev).substr(0, colon)) == kOpticalMajor;
}

// A loop device counts once something is attached to it (losetup): then it has a backing
// file, and an image attached that way is listed like any disk.
bool IsAttachedLoop(const fs::path& dir) {
  const auto backing = ReadFirstLine(dir / "loop" / "backing_file");
  return backing && !backing->empty();
}

// sysfs writes a '/' of a device name as '!' (cciss!c0d0 is /dev/cciss/c0d0).
std::string DeviceNode(const fs::path& devRoot, std::string name) {
  std::replace(name.begin(), name.end(), '!', '/');
  return (devRoot / name).string();
}

// Name order with digit runs compared as numbers, so loop2 comes before loop10 and sda2
// before sda10.
bool NameLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      std::string_view na(a.data() + i, ie - i), nb(b.data() + j, je - j);
      while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
      while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

std::vector<std::string> BlockNames(const fs::path& blockDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(blockDir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NameLess);
  return names;
}

std::string FormatTwoDecimals(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

VolumeInfo ProbeVolumeWithBlkid(const std::string& devicePath) {
  VolumeInfo info;
  // libblkid opens the device read-only; an unreadable device or an empty drive gives no
  // probe and so an empty label.
  blkid_probe probe = blkid_new_probe_from_filename(devicePath.c_str());
  if (probe == nullptr) return info;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe,
                                    BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
  if (blkid_do_safeprobe(probe) == 0) {
    auto lookup = [probe](const char* name) {
      const char* value = nullptr;
      std::size_t length = 0;
      if (blkid_probe_lookup_value(probe, name, &value, &length) != 0 || value == nullptr) {
        return std::string();
      }
      return std::string(value);  // NUL-terminated; length counts the terminator
    };
    info.label = lookup("LABEL");
    info.type = lookup("TYPE");
    info.version = lookup("VERSION");
  }
  blkid_free_probe(probe);
  return info;
}

std::string SizeText(std::uint64_t sectors) {
  const double mb = static_cast<double>(sectors) / 2048.0;
  if (mb >= 1000.0) return FormatTwoDecimals(mb / 1024.0) + " GB";
  return FormatTwoDecimals(mb) + " MB";
}

std::string DiskCaption(int number, std::uint64_t sectors, bool removable,
                        const std::string& devicePath) {
  return std::string(Text(removable ? TextId::kRemovableStorage : TextId::kLocalDisk)) +
         std::to_string(number) + " (" + SizeText(sectors) + ") [" + devicePath + "]";
}

std::string VolumeLabel(const VolumeInfo& volume) {
  std::string label = volume.label;
  // ASCII letters only: a UTF-8 label keeps its other characters byte for byte.
  for (char& c : label) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return "[" + label + "]";
}

std::string VolumeLabel(const std::string& devicePath, const VolumeProbe& probe) {
  return VolumeLabel(probe ? probe(devicePath) : VolumeInfo{});
}

std::vector<DiskEntry> ListPhysicalDisks(const DiscoveryEnv& env) {
  std::vector<DiskEntry> disks;
  const fs::path blockDir = env.sysfsRoot / "block";
  for (const std::string& name : BlockNames(blockDir)) {
    if (disks.size() == kMaxDiskEntries) break;
    if (StartsWith(name, "ram") || StartsWith(name, "zram")) continue;
    const fs::path dir = blockDir / name;
    if (IsOptical(name, dir)) continue;
    if (StartsWith(name, "loop") && !IsAttachedLoop(dir)) continue;
    const std::uint64_t sectors = SysfsSectors(dir);
    if (sectors == 0) continue;

    DiskEntry disk;
    disk.number = static_cast<int>(disks.size());
    disk.name = name;
    disk.devicePath = DeviceNode(env.devRoot, name);
    disk.sectors = sectors;
    disk.removable = ReadFirstLine(dir / "removable").value_or("0") == "1";
    disk.caption = DiskCaption(disk.number, sectors, disk.removable, disk.devicePath);
    disks.push_back(std::move(disk));
  }
  return disks;
}

std::vector<PartitionEntry> ListLogicalDrives(const std::vector<DiskEntry>& disks,
                                              const DiscoveryEnv& env) {
  std::vector<PartitionEntry> found;
  const fs::path blockDir = env.sysfsRoot / "block";
  for (const DiskEntry& disk : disks) {
    std::error_code ec;
    for (fs::directory_iterator it(blockDir / disk.name, ec), end; !ec && it != end;
         it.increment(ec)) {
      std::error_code statError;
      if (!fs::exists(it->path() / "partition", statError)) continue;
      PartitionEntry p;
      p.name = it->path().filename().string();
      p.diskName = disk.name;
      p.sectors = SysfsSectors(it->path());
      found.push_back(std::move(p));
    }
  }
  // Optical drives are offered whether or not a disc is in: choosing an empty one says so.
  for (const std::string& name : BlockNames(blockDir)) {
    if (!IsOptical(name, blockDir / name)) continue;
    PartitionEntry p;
    p.name = name;
    p.optical = true;
    p.sectors = SysfsSectors(blockDir / name);
    found.push_back(std::move(p));
  }

  std::sort(found.begin(), found.end(), [](const PartitionEntry& a, const PartitionEntry& b) {
    return NameLess(a.name, b.name);
  });
  if (found.size() > kMaxPartitionEntries) found.resize(kMaxPartitionEntries);
  for (std::size_t i = 0; i < found.size(); ++i) {
    PartitionEntry& p = found[i];
    p.number = static_cast<int>(i + 1);
    p.devicePath = DeviceNode(env.devRoot, p.name);
    if (env.probe) p.volume = env.probe(p.devicePath);
    p.text = p.devicePath + " " + VolumeLabel(p.volume);
    p.caption = std::string(Text(TextId::kLogicalPartition)) + p.text + " ";
  }
  return found;
}

ImageSize ImageFileSize(const std::string& path, const DeviceOpener& opener) {
  OpenResult opened = opener(path);
  if (!opened.device) return {std::nullopt, opened.error, std::move(opened.reason)};
  return {opened.device->SizeBytes(), 0, {}};
}

}  // namespace ravelin
