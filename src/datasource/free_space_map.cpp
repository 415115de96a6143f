#include "datasource/free_space_map.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "common/messages.h"
#include "datasource/file_system.h"

namespace ravelin {
namespace {

// The file system's own cluster size. SectorsPerCluster follows the scan's step, which the
// person may have changed; the map's cluster numbers must not.
std::int16_t ClusterSectors(const DataSource& source) {
  return source.FileSystemSectorsPerCluster > 0 ? source.FileSystemSectorsPerCluster
                                                : source.SectorsPerCluster;
}

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

// FAT32 entries are 4 bytes: 128 of them per sector.
constexpr std::size_t kFatEntriesPerSector = kSectorSize / 4;

// MFT record header and attribute header offsets.
constexpr std::size_t kUsaOffsetField = 4;        // 16-bit offset of the update-sequence array
constexpr std::size_t kUsaCountField = 6;         // 16-bit: 1 + sectors covered
constexpr std::size_t kFirstAttributeField = 20;  // 16-bit
constexpr std::size_t kAttrLengthField = 4;       // low half of the 32-bit length
constexpr std::size_t kAttrNonResidentField = 8;  // 1 for non-resident
constexpr std::size_t kAttrRunListField = 32;     // 16-bit offset of the run list
constexpr std::size_t kMinAttributeBytes = 16;    // type, length, flags, name, id
constexpr std::size_t kMinNonResidentBytes = 64;  // header up to the initialized size
constexpr std::uint32_t kAttrData = 0x80;         // $DATA
constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;    // end of the attribute list

// FAT32 has at most 0x0FFFFFF7 entries of 4 bytes: a FAT is never longer than this. A
// larger sectors-per-FAT is a damaged boot sector, and reading it would grow the map by
// 1/32 of every byte read.
constexpr std::uint64_t kMaxFat32Sectors =
    (std::uint64_t{0x0FFFFFF7} * 4 + kSectorSize - 1) / kSectorSize;

// Clusters are read in requests of this many sectors (1 MiB).
constexpr std::uint64_t kAppendChunkSectors = 2048;

bool MulFits(std::uint64_t a, std::uint64_t b) { return b == 0 || a <= kMaxU64 / b; }

// One past the last sector the reader will serve, or nullopt when no limit is set.
std::optional<std::uint64_t> ReadableEnd(const DataSource& source) {
  if (source.SectorLimit == 0) return std::nullopt;
  if (!source.IsPartition) return source.SectorLimit;
  return source.SectorLimit == kMaxU64 ? kMaxU64 : source.SectorLimit + 1;
}

std::uint64_t LoadUnsigned(ByteView bytes, std::size_t offset, unsigned width) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= std::uint64_t{Load8(bytes, offset + i)} << (8 * i);
  return v;
}

// The O offset bytes of a later run are signed: a set top bit of the last byte makes the
// run start before the previous one (a file fragmented backwards across the volume).
std::int64_t LoadSigned(ByteView bytes, std::size_t offset, unsigned width) {
  std::uint64_t v = LoadUnsigned(bytes, offset, width);
  if (width < 8 && (v >> (8 * width - 1)) & 1) v |= kMaxU64 << (8 * width);
  return static_cast<std::int64_t>(v);
}

}  // namespace

bool ApplyUpdateSequence(MutableBytes record) {
  if (record.size() < kSectorSize || record.size() % kSectorSize != 0) return false;
  if (!(record[0] == 'F' && record[1] == 'I' && record[2] == 'L' && record[3] == 'E')) {
    return false;
  }
  const std::size_t sectors = record.size() / kSectorSize;
  const std::size_t usaOffset = Load16(record, kUsaOffsetField);
  const std::size_t usaCount = Load16(record, kUsaCountField);
  // The array holds the sequence number and one saved pair per sector of the record; a
  // record longer than what was read covers more sectors, and those are not ours to fix.
  if (usaCount < sectors + 1 || !InBounds(record.size(), usaOffset, 2 * (sectors + 1))) {
    return false;
  }
  const std::uint16_t usn = Load16(record, usaOffset);
  for (std::size_t i = 0; i < sectors; ++i) {
    if (Load16(record, (i + 1) * kSectorSize - 2) != usn) return false;  // torn write
  }
  for (std::size_t i = 0; i < sectors; ++i) {
    Store16(record, (i + 1) * kSectorSize - 2, Load16(record, usaOffset + 2 * (i + 1)));
  }
  return true;
}

void FreeSpaceMap::Reset() {
  map_.clear();
  map_.shrink_to_fit();
  kind_ = Kind::kNone;
  dataStartSector_ = 0;
  sectorsPerCluster_ = 1;
  maxMapBytes_ = 0;
}

int FreeSpaceMap::BuildFreeSpaceMap(const DataSource& source, SectorReader& reader,
                                    Reporter& reporter) {
  Reset();
  const bool fat32 = source.FileSystemName == kFileSystemFat32;
  const bool ntfs = source.FileSystemName == kFileSystemNtfs;
  if (!fat32 && !ntfs) return 0;  // unknown file system: empty map, every cluster free
  // A boot sector with 0 here (or a value that came through as negative) would make every
  // cluster number a division by zero.
  if (ClusterSectors(source) <= 0) return 1;

  const int result =
      fat32 ? BuildFat32(source, reader, reporter) : ReadNtfsBitmap(source, reader, reporter);
  if (result != 0) {
    if (ntfs) reporter.Message(Text(TextId::kNtfsBitmapFailed));
    Reset();
    return 1;
  }
  kind_ = fat32 ? Kind::kFat32 : Kind::kNtfs;
  dataStartSector_ = source.FileSystemStartSector + (fat32 ? source.DataStartSector : 0);
  sectorsPerCluster_ = static_cast<std::uint64_t>(ClusterSectors(source));
  return 0;
}

int FreeSpaceMap::BuildFat32(const DataSource& source, SectorReader& reader, Reporter& reporter) {
  if (source.FatSectorsPerFat > kMaxFat32Sectors) return 1;
  std::uint64_t pos = source.FileSystemStartSector + source.FatReservedSectors;
  const std::uint64_t end = pos + source.FatSectorsPerFat;
  std::vector<std::uint8_t> block(
      static_cast<std::size_t>(std::min(source.FatSectorsPerFat, kFatBlockSectors)) * kSectorSize);
  while (pos < end) {
    const std::uint64_t count = std::min(end - pos, kFatBlockSectors);
    std::fill(block.begin(), block.end(), 0);
    if (!reader.ReadSectors(static_cast<std::int32_t>(count), block, pos)) {
      reporter.Message(std::string(Text(TextId::kBitmapReadError)) + "sec" + std::to_string(pos));
      return 1;
    }
    // Every block gives a whole chunk, even the last short one: bit n stays entry n of the
    // FAT, and the bits past its last entry are 0.
    const std::size_t chunkStart = map_.size();
    map_.resize(chunkStart + kFatChunkBytes, 0);
    std::uint8_t* chunk = map_.data() + chunkStart;
    const std::size_t entries = static_cast<std::size_t>(count) * kFatEntriesPerSector;
    for (std::size_t e = 0; e < entries; ++e) {
      // Only an all-zero entry is free: end-of-chain and bad-cluster marks are in use.
      if (DecodeFixed32(block.data() + 4 * e) != 0) {
        chunk[e / 8] = static_cast<std::uint8_t>(chunk[e / 8] | (1u << (e % 8)));
      }
    }
    pos += kFatBlockSectors;
  }
  return 0;
}

int FreeSpaceMap::ReadNtfsBitmap(const DataSource& source, SectorReader& reader,
                                 Reporter& reporter) {
  if (ClusterSectors(source) <= 0) return 1;
  const auto spc = static_cast<std::uint64_t>(ClusterSectors(source));
  // Records are whole sectors; a damaged size field leaves no record to read.
  const std::uint32_t recordBytes = source.MftRecordBytes;
  if (recordBytes < kSectorSize || recordBytes > kMaxMftRecordBytes ||
      recordBytes % kSectorSize != 0) {
    return 1;
  }
  const std::uint64_t recordSectors = recordBytes / kSectorSize;
  const std::uint64_t recordOffset = kBitmapRecordNumber * recordSectors;
  if (!MulFits(source.MftStartCluster, spc) ||
      source.MftStartCluster * spc > kMaxU64 - recordOffset - source.FileSystemStartSector) {
    return 1;
  }
  const std::uint64_t recordSector =
      source.FileSystemStartSector + source.MftStartCluster * spc + recordOffset;

  // A corrupt run can name any stretch of the volume; the map never needs more than one
  // bit per cluster of it. Twice that, plus slack, leaves room for a $Bitmap that was
  // grown ahead of the volume and still stops a run list that would pull the whole
  // partition into memory.
  const std::optional<std::uint64_t> end = ReadableEnd(source);
  maxMapBytes_ = 0;
  if (end) {
    const std::uint64_t clusters = *end / spc + 1;
    maxMapBytes_ = 2 * (clusters / 8 + 1) + spc * kSectorSize + (std::uint64_t{1} << 20);
  }

  std::vector<std::uint8_t> record(recordBytes, 0);
  if (!reader.ReadSectors(static_cast<std::int32_t>(recordSectors), record, recordSector)) {
    reporter.Message(std::string(Text(TextId::kBitmapReadError)) +
                     std::to_string(kBitmapRecordNumber) + "sec" + std::to_string(recordSector));
    return 1;
  }
  // The last two bytes of each sector of the record are on disk the update sequence
  // number; the real bytes sit in the update-sequence array. A run list that crosses the
  // sector boundary at 510 would otherwise decode two wrong bytes.
  if (!ApplyUpdateSequence(record)) return 1;
  const ByteView rec(record);

  // Walk the attributes to $DATA. Every step is checked against the record: a length of 0
  // would stand still forever, and a damaged length would walk off the record.
  std::size_t a = Load16(rec, kFirstAttributeField);
  std::size_t length = 0;
  for (;;) {
    if (!InBounds(rec.size(), a, kMinAttributeBytes)) return 1;
    const std::uint32_t type = Load32(rec, a);
    if (type == kAttrEnd) return 1;  // no $DATA in the record
    length = Load16(rec, a + kAttrLengthField);
    if (length < kMinAttributeBytes) return 1;
    if (type == kAttrData) break;
    a += length;
  }
  // $Bitmap's data is always non-resident; a resident one has no run list to follow.
  if (Load8(rec, a + kAttrNonResidentField) != 1 || length < kMinNonResidentBytes) return 1;
  const std::size_t limit = std::min(a + length, rec.size());
  std::size_t r = a + Load16(rec, a + kAttrRunListField);

  std::int64_t prev = 0;
  bool first = true;
  for (;;) {
    if (r >= limit) return 1;  // the run list must end with its 0 inside the attribute
    const std::uint8_t h = rec[r];
    if (h == 0) break;
    const unsigned lengthBytes = h & 0x0F;
    const unsigned offsetBytes = h >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
        r + 1 + lengthBytes + offsetBytes > limit) {
      return 1;
    }
    const std::uint64_t runLength = LoadUnsigned(rec, r + 1, lengthBytes);
    if (!MulFits(runLength, spc) || !MulFits(runLength * spc, kSectorSize)) return 1;
    const std::uint64_t runBytes = runLength * spc * kSectorSize;
    if (maxMapBytes_ != 0 && (runBytes > maxMapBytes_ || map_.size() > maxMapBytes_ - runBytes)) {
      return 1;
    }

    if (offsetBytes == 0) {
      // A sparse run has no clusters: it reads as zeros.
      map_.resize(map_.size() + static_cast<std::size_t>(runBytes), 0);
    } else {
      std::uint64_t start = 0;
      if (first) {
        start = LoadUnsigned(rec, r + 1 + lengthBytes, offsetBytes);
      } else {
        const std::int64_t delta = LoadSigned(rec, r + 1 + lengthBytes, offsetBytes);
        // 64-bit arithmetic throughout: volumes of more than 2^32 clusters exist.
        if ((delta < 0 && prev < std::numeric_limits<std::int64_t>::min() - delta) ||
            (delta > 0 && prev > std::numeric_limits<std::int64_t>::max() - delta)) {
          return 1;
        }
        const std::int64_t s = prev + delta;
        if (s < 0) return 1;
        start = static_cast<std::uint64_t>(s);
      }
      if (start > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
          !MulFits(start, spc) || start * spc > kMaxU64 - runLength * spc) {
        return 1;
      }
      if (end &&
          start * spc + runLength * spc > *end - std::min(*end, source.FileSystemStartSector))
        return 1;  // run beyond the partition
      if (AppendClusters(start, runLength, source, reader, reporter) != 0) {
        reporter.Message(Text(TextId::kBitmapWriteFailed));
        return 1;
      }
      prev = static_cast<std::int64_t>(start);
      first = false;
    }
    r += 1 + lengthBytes + offsetBytes;
  }
  return 0;
}

int FreeSpaceMap::AppendClusters(std::uint64_t firstCluster, std::uint64_t clusterCount,
                                 const DataSource& source, SectorReader& reader,
                                 Reporter& reporter) {
  if (ClusterSectors(source) <= 0) return 1;
  const auto spc = static_cast<std::uint64_t>(ClusterSectors(source));
  if (!MulFits(firstCluster, spc) || !MulFits(clusterCount, spc)) return 1;
  if (firstCluster * spc > kMaxU64 - source.FileSystemStartSector) return 1;
  const std::uint64_t s = source.FileSystemStartSector + firstCluster * spc;
  const std::uint64_t n = clusterCount * spc;
  if (!MulFits(n, kSectorSize) ||
      n * kSectorSize > std::numeric_limits<std::size_t>::max() - map_.size()) {
    return 1;
  }

  const std::size_t base = map_.size();
  map_.resize(base + static_cast<std::size_t>(n * kSectorSize), 0);
  std::uint64_t done = 0;
  while (done < n) {
    const std::uint64_t count = std::min(n - done, kAppendChunkSectors);
    MutableBytes out(map_.data() + base + done * kSectorSize,
                     static_cast<std::size_t>(count * kSectorSize));
    if (!reader.ReadSectors(static_cast<std::int32_t>(count), out, s + done)) {
      // Find the sector that failed, so the message says how far the run got.
      std::uint64_t good = 0;
      while (good < count &&
             reader.ReadSectors(1, out.subspan(good * kSectorSize), s + done + good)) {
        ++good;
      }
      reporter.Message("512bitmaperror" + std::to_string(done + good) + "sec" + std::to_string(s));
      map_.resize(base);
      return 1;
    }
    done += count;
  }
  return 0;
}

bool FreeSpaceMap::IsClusterInUse(std::uint64_t sector) const {
  std::uint64_t k = 0;
  const std::uint64_t bits = static_cast<std::uint64_t>(map_.size()) * 8;
  switch (kind_) {
    case Kind::kNone:
      return false;
    case Kind::kFat32: {
      if (sector < dataStartSector_) return false;
      const std::uint64_t q = (sector - dataStartSector_) / sectorsPerCluster_;
      if (q >= bits) return false;
      k = q + 2;
      break;
    }
    case Kind::kNtfs:
      if (sector < dataStartSector_) return false;
      k = (sector - dataStartSector_) / sectorsPerCluster_;
      break;
  }
  // One byte is all the bit needs: a cluster whose bit sits in the map's last byte is
  // looked up like any other.
  if (k >= bits) return false;
  return (map_[static_cast<std::size_t>(k / 8)] >> (k % 8)) & 1;
}

}  // namespace ravelin
