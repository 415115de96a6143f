// The free-space map: the partition's cluster allocation bitmap, so that a scan limited to
// free space can skip every position a live file occupies. Bit n (bit n mod 8 of byte
// n / 8, least significant first) is 1 when cluster n is in use.
//
// FAT32: bit n is FAT entry n of the first FAT (any non-zero entry is in use), cluster of
// sector s = (s - DataStartSector) / SectorsPerCluster + 2.
// NTFS: the content of the $Bitmap system file (MFT record 6), cluster of sector s =
// s / SectorsPerCluster.
// Any other file system: an empty map, every cluster free.
//
// Built on the scan's worker thread; nothing else touches it while a scan runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/reporter.h"
#include "datasource/data_source.h"
#include "datasource/file_system.h"
#include "datasource/sector_reader.h"

namespace ravelin {

// FAT32 is read in blocks of this many sectors; each block gives one chunk of the map.
inline constexpr std::uint64_t kFatBlockSectors = 12288;
inline constexpr std::size_t kFatChunkBytes = kFatBlockSectors * 128 / 8;  // 196,608
// The usual MFT record size; the boot sector gives each volume's own (DataSource::
// MftRecordBytes). Record 6 is $Bitmap.
inline constexpr std::size_t kMftRecordBytes = kDefaultMftRecordBytes;
inline constexpr std::uint32_t kBitmapRecordNumber = 6;

class FreeSpaceMap {
 public:
  // Discards the previous map and builds a new one for the chosen source. 0 on success,
  // 1 on failure, after a message box saying why (the scan then says "生成存储位图失败").
  // Fails without a message of its own when SectorsPerCluster is 0 or negative on FAT32
  // or NTFS, or when sectors per FAT exceed what any FAT32 volume can have. The file-system fields
  // are remembered for IsClusterInUse.
  int BuildFreeSpaceMap(const DataSource& source, SectorReader& reader, Reporter& reporter);

  // True when the cluster holding `sector` is marked in use. False before the first build,
  // after a failed one, for any sector whose bit lies past the end of the map, and for the
  // sectors in front of a FAT32 cluster area (they belong to no cluster, so nothing marks
  // them; a scan that starts there reads them).
  bool IsClusterInUse(std::uint64_t sector) const;

  // The NTFS part of the build: reads MFT record 6, MftRecordBytes long (with its
  // update-sequence fix-up), finds
  // its non-resident $DATA attribute and appends the clusters of every run of its run list
  // in order. 0 on success, 1 on failure (a message box names the failing read; a record
  // that is damaged, has no $DATA, or whose run list leaves the record or the partition
  // fails without one).
  int ReadNtfsBitmap(const DataSource& source, SectorReader& reader, Reporter& reporter);

  // Appends clusters [firstCluster, firstCluster + clusterCount) of the source to the map,
  // read in large requests. 0 on success; 1 after "512bitmaperror" + sectors read before
  // the failing one + "sec" + the run's first sector.
  int AppendClusters(std::uint64_t firstCluster, std::uint64_t clusterCount,
                     const DataSource& source, SectorReader& reader, Reporter& reporter);

  ByteView Bytes() const { return map_; }
  std::size_t SizeBytes() const { return map_.size(); }

 private:
  enum class Kind { kNone, kFat32, kNtfs };

  int BuildFat32(const DataSource& source, SectorReader& reader, Reporter& reporter);
  void Reset();

  std::vector<std::uint8_t> map_;
  Kind kind_ = Kind::kNone;
  std::uint64_t dataStartSector_ = 0;
  std::uint64_t sectorsPerCluster_ = 1;
  // Upper bound on the NTFS map while it is being built (see ReadNtfsBitmap).
  std::uint64_t maxMapBytes_ = 0;
};

// Applies the NTFS update-sequence fix-up to a multi-sector record in place: the last two
// bytes of each 512-byte sector hold the update sequence number and are replaced by the
// saved originals from the update-sequence array. False, leaving `record` unchanged, when
// the record has no "FILE" signature, the array does not fit, or a sector does not end with
// the sequence number (a torn write).
bool ApplyUpdateSequence(MutableBytes record);

}  // namespace ravelin
