// The ground truth of a generated disk image: which file's pages lie at which sectors,
// which pages were split across clusters, lost or damaged on purpose, which sectors the
// fault-injecting reader must refuse, and where the partition and its file system lie.
// Every sector number is counted from the start of the image file. Written as JSON beside
// the image (docs/test_data.md describes the fields).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "gen/image_common.h"

namespace ravelin::gen {

struct ManifestFile {
  std::string name;
  // "target" (the file to recover), "older-copy", "stale-pages", "other-database",
  // "other-file-id", or "live" for a decoy that lies in a live file.
  std::string role;
  std::int64_t pageCount = 0;
  std::uint16_t fileId = 0;
  std::string sha256;
};

// A run of a file's sectors at one place (an extent) and the pages whose first sector, the
// one holding the page header, lies in it: what a scan sees as one fragment.
struct ManifestFragment {
  int file = 0;  // index into Manifest::files
  FileExtent extent;
  std::int64_t firstPage = 0;     // -1 when no page header lies in the extent
  std::int64_t pageCount = 0;     // pages whose header lies in the extent
  std::uint64_t startSector = 0;  // sector of firstPage's header
};

// A page whose sectors lie in more than one extent (clusters smaller than a page).
struct SplitPage {
  int file = 0;
  std::int64_t page = 0;
  std::uint64_t headSector = 0;   // where its header sector lies
  std::uint32_t headSectors = 0;  // sectors that follow the header in the same extent, +1
  // The rest of the page lies, in order, directly before the sector where the next page's
  // header lies: the case a left-page repair mends.
  bool tailBeforeNextPage = false;
};

struct PageRange {
  int file = 0;
  std::int64_t firstPage = 0;
  std::int64_t pageCount = 0;
};

// A page that a recovery cannot get back as it was: "partial" (some of its sectors are on
// no extent), "split" (tail not before the next page), "unreadable" (holds an unreadable
// sector).
struct DamagedPage {
  int file = 0;
  std::int64_t page = 0;
  std::string reason;
};

// Bytes between the files: "random" or "zeros".
struct NoiseRegion {
  std::uint64_t sector = 0;
  std::uint64_t sectorCount = 0;
  std::string kind;
};

struct LiveFile {
  std::string name;
  std::vector<FileExtent> extents;  // fileSector relative to the file
};

struct PartitionInfo {
  std::uint64_t startSector = 0;  // in the image
  std::uint64_t sectorCount = 0;
  std::string fileSystem;     // "FAT32" or "NTFS"
  std::uint32_t mbrType = 0;  // partition type byte in the MBR, 0 for a bare partition image
  // Boot-sector facts, relative to the partition's first sector.
  std::uint64_t reservedSectors = 0;  // FAT32
  std::uint64_t sectorsPerFat = 0;    // FAT32
  std::uint32_t fatCount = 0;         // FAT32
  std::uint64_t dataStartSector = 0;  // FAT32: sector of cluster 2; NTFS: 0
  std::uint64_t mftStartCluster = 0;  // NTFS
  std::uint64_t clusterCount = 0;
};

struct Manifest {
  std::string kind;  // "raw", "fat32", "ntfs", "disk"
  std::uint64_t seed = 0;
  std::uint64_t totalSectors = 0;
  std::uint32_t sectorsPerCluster = 1;
  std::optional<PartitionInfo> partition;
  std::vector<ManifestFile> files;
  std::vector<ManifestFragment> fragments;
  std::vector<SplitPage> splitPages;
  std::vector<PageRange> lostPages;
  std::vector<DamagedPage> damagedPages;
  std::vector<NoiseRegion> noise;
  std::vector<LiveFile> liveFiles;
  std::vector<std::uint64_t> unreadableSectors;  // ascending

  int TargetFile() const;  // index of the "target" file, -1 when none
  // Fragments of one file, in file order.
  std::vector<ManifestFragment> FragmentsOf(int file) const;
};

// Adds the fragments of one file laid out as `extents` (any order, non-overlapping in the
// file), with its split, lost and partial pages.
void DescribeFileLayout(Manifest& manifest, int file, std::vector<FileExtent> extents);

// Records `sectors` as unreadable and every page of a file that holds one as damaged.
void MarkUnreadable(Manifest& manifest, std::vector<std::uint64_t> sectors);

// Moves every sector number by `delta` (a partition image placed inside a disk image).
void ShiftSectors(Manifest& manifest, std::uint64_t delta);

std::string ManifestToJson(const Manifest& manifest);
Status ManifestFromJson(const std::string& text, Manifest& manifest);
// Written to a temporary name and renamed, so a half-written manifest never exists.
Status WriteManifest(const Manifest& manifest, const std::string& path);
Status ReadManifest(const std::string& path, Manifest& manifest);

}  // namespace ravelin::gen
