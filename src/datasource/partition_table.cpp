#include "datasource/partition_table.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datasource/file_system.h"
#include "datasource/guest_sketch.h"

namespace ravelin {
namespace {

bool HasText(ByteView bytes, std::size_t offset, std::string_view text) {
  if (!InBounds(bytes.size(), offset, text.size())) return false;
  return std::memcmp(bytes.data() + offset, text.data(), text.size()) == 0;
}

std::string Lookup(blkid_probe probe, const char* name) {
  const char* value = nullptr;
  std::size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &value, &length) != 0 || value == nullptr) return {};
  return value;
}

// The file system at [start, start + sectors) of the open file `fd`.
VolumeInfo ProbeSlice(int fd, std::uint64_t start, std::uint64_t sectors) {
  VolumeInfo info;
  blkid_probe probe = blkid_new_probe();
  if (probe == nullptr) return info;
  if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(start * kSectorSize),
                             static_cast<blkid_loff_t>(sectors * kSectorSize)) == 0) {
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(
        probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    if (blkid_do_safeprobe(probe) == 0) {
      info.label = Lookup(probe, "LABEL");
      info.type = Lookup(probe, "TYPE");
      info.version = Lookup(probe, "VERSION");
    }
  }
  blkid_free_probe(probe);
  return info;
}

}  // namespace

ImageKindGuess ClassifyImage(ByteView sector0, ByteView sector1) {
  if (sector0.size() >= kSectorSize) {
    const BootSectorInfo boot = ParseBootSector(sector0.first(kSectorSize));
    if (boot.fileSystemName == kFileSystemNtfs) {
      return {ImageKind::kPartitionImage, "NTFS boot sector"};
    }
    if (boot.fileSystemName == kFileSystemFat32) {
      return {ImageKind::kPartitionImage, "FAT32 boot sector"};
    }
  }
  if (HasText(sector1, 0, "EFI PART")) return {ImageKind::kWholeDiskImage, "GPT"};
  if (sector0.size() >= kSectorSize && sector0[510] == 0x55 && sector0[511] == 0xAA) {
    return {ImageKind::kWholeDiskImage, "MBR"};
  }
  return {ImageKind::kWholeDiskImage, "no boot sector"};
}

ImageKindGuess DetectImageKind(const std::string& path, const DeviceOpener& opener) {
  OpenResult opened = opener(path);
  std::vector<std::uint8_t> head(2 * kSectorSize, 0);
  if (!opened.device) return {ImageKind::kWholeDiskImage, "unreadable"};
  const std::uint64_t size = opened.device->SizeBytes();
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, head.size()));
  if (n < kSectorSize || !opened.device->ReadAt(0, MutableBytes(head.data(), n))) {
    return {ImageKind::kWholeDiskImage, "unreadable"};
  }
  const ByteView all(head.data(), n);
  return ClassifyImage(all.first(kSectorSize), all.subspan(kSectorSize));
}

namespace {

// The partition table of the open file `fd` read in blocks of `sectorSize` bytes (0: what
// libblkid takes for the device: the kernel's logical sector size, or 512 for a file).
PartitionTable ProbeTable(int fd, unsigned sectorSize) {
  PartitionTable table;
  blkid_probe probe = blkid_new_probe();
  if (probe != nullptr && blkid_probe_set_device(probe, fd, 0, 0) == 0 &&
      (sectorSize == 0 || blkid_probe_set_sectorsize(probe, sectorSize) == 0)) {
    table.sectorSize = blkid_probe_get_sectorsize(probe);
    blkid_probe_enable_superblocks(probe, 0);
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
    blkid_partlist list = blkid_probe_get_partitions(probe);
    if (list != nullptr) {
      if (blkid_parttable root = blkid_partlist_get_table(list)) {
        if (const char* kind = blkid_parttable_get_type(root)) table.kind = kind;
      }
      const int count = blkid_partlist_numof_partitions(list);
      for (int i = 0; i < count; ++i) {
        blkid_partition part = blkid_partlist_get_partition(list, i);
        if (part == nullptr) continue;
        ImagePartition p;
        p.number = blkid_partition_get_partno(part);
        // libblkid gives both in 512-byte sectors, whatever the table's block size.
        p.start = static_cast<std::uint64_t>(blkid_partition_get_start(part));
        p.sectors = static_cast<std::uint64_t>(blkid_partition_get_size(part));
        if (const char* type = blkid_partition_get_type_string(part)) {
          p.type = type;
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02x", blkid_partition_get_type(part) & 0xff);
          p.type = hex;
        }
        if (const char* name = blkid_partition_get_name(part)) p.name = name;
        // An extended partition is a container of others, not a file system.
        if (blkid_partition_is_extended(part) == 0) p.volume = ProbeSlice(fd, p.start, p.sectors);
        table.partitions.push_back(std::move(p));
      }
    }
  }
  if (probe != nullptr) blkid_free_probe(probe);
  return table;
}

bool HoldsFileSystem(const PartitionTable& table) {
  return std::any_of(table.partitions.begin(), table.partitions.end(),
                     [](const ImagePartition& p) { return !p.volume.type.empty(); });
}

// The partition table of the open file `fd`, in its logical sector size.
PartitionTable ProbeFile(int fd) {
  PartitionTable table = ProbeTable(fd, 0);
  // An image file tells nothing of the disk's sector size, and libblkid reads its table in
  // 512-byte blocks. A table written for 4096-byte blocks (a 4Kn disk) then shows no GPT
  // (its header lies at byte 4096) or MBR entries that point at 1/8 of their real places;
  // where no partition holds a file system, the table is read again in 4096-byte blocks
  // and kept when that finds one.
  if (table.sectorSize == kSectorSize && !HoldsFileSystem(table)) {
    PartitionTable large = ProbeTable(fd, k4KnSectorSize);
    if (HoldsFileSystem(large)) table = std::move(large);
  }
  return table;
}

// Copies into the sketch what libblkid reads beyond a volume's first piece to name its
// label: a FAT32 volume's root directory, an NTFS volume's $Volume record in the MFT.
// True when that was new.
bool CopyLabelPieces(GuestSketch& sketch, Device& guest, std::uint64_t start) {
  std::vector<std::uint8_t> sector0(kSectorSize);
  if (!guest.ReadAt(start * kSectorSize, sector0)) return false;
  const BootSectorInfo boot = ParseBootSector(sector0);
  if (boot.sectorsPerCluster <= 0) return false;
  const auto spc = static_cast<std::uint64_t>(boot.sectorsPerCluster);
  std::uint64_t sector = 0;
  if (boot.fileSystemName == kFileSystemFat32) {
    const std::uint32_t rootCluster = Load32(sector0, 44);
    if (rootCluster < 2) return false;
    sector = boot.dataStartSector + (rootCluster - 2) * spc;
  } else if (boot.fileSystemName == kFileSystemNtfs) {
    sector = boot.mftStartCluster * spc + 3 * boot.mftRecordBytes / kSectorSize;
  } else {
    return false;
  }
  const std::uint64_t limit = guest.SizeBytes() / kSectorSize;
  if (sector >= limit || start >= limit - sector) return false;
  return sketch.CopyPieceAt((start + sector) * kSectorSize);
}

// The partition table of a container's guest disk, probed on a sketch of it:
// 1. copy the first and the last piece of the guest (MBR, GPT and its backup header);
// 2. probe; copy the piece at each partition's start (its file system's superblock, or an
//    extended partition's first EBR) and the piece at its end (the next logical
//    partition's EBR follows the one before it), and where its label lies;
// 3. probe again while step 2 copied something new: each round can reveal one more link
//    of an EBR chain. The rounds are bounded by the most partitions a menu lists.
std::optional<PartitionTable> ProbeGuest(Device& guest, int* error) {
  GuestSketch sketch(guest);
  if (sketch.Fd() < 0) {
    if (error) *error = sketch.Error();
    return std::nullopt;
  }
  const std::uint64_t size = guest.SizeBytes();
  sketch.CopyPieceAt(0);
  if (size > 0) sketch.CopyPieceAt(size - 1);
  PartitionTable table;
  for (std::size_t round = 0; round <= kMaxPartitionEntries; ++round) {
    table = ProbeFile(sketch.Fd());
    bool grew = false;
    for (const ImagePartition& p : table.partitions) {
      if (p.start > size / kSectorSize || p.sectors > size / kSectorSize - p.start) continue;
      grew |= sketch.CopyPieceAt(p.start * kSectorSize);
      grew |= sketch.CopyPieceAt((p.start + p.sectors) * kSectorSize);
      grew |= CopyLabelPieces(sketch, guest, p.start);
    }
    if (!grew) break;
  }
  return table;
}

}  // namespace

std::optional<PartitionTable> ReadPartitionTable(const std::string& path, int* error,
                                                 std::string* reason) {
  OpenResult opened = OpenSystemDevice(path);
  if (!opened.device) {
    if (error) *error = opened.error;
    if (reason) *reason = opened.reason;
    return std::nullopt;
  }
  if (opened.device->Container()) return ProbeGuest(*opened.device, error);
  opened.device.reset();

  // Read-only, like every open of a source.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  PartitionTable table = ProbeFile(fd);
  ::close(fd);
  return table;
}

}  // namespace ravelin
