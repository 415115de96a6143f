// The ground truth of a generated disk image: which file's pages lie at which sectors,
// which pages were split across clusters, lost or damaged on purpose, which sectors the
// fault-injecting reader must refuse, where the partitions and their file systems lie, and
// which hard cases were placed on purpose. Every sector number is counted from the start of the
// image file. Written as JSON beside the image (docs/test_data.md describes the fields).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "gen/image_common.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct ManifestFile {
  std::string name;
  // "target" (a deleted file to recover; an image may hold several), "older-copy",
  // "stale-pages", "other-database", "other-file-id" for decoys.
  std::string role;
  std::int64_t pageCount = 0;
  std::uint16_t fileId = 0;
  std::string sha256;
  // m_lsn of page 0 as SQL Server prints it ("00000021:00000108:0001"): of two copies of one
  // database, the newer has the larger value.
  std::string headerLsn;
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
  // Where the sector after the head lies (the tail's first sector); none when it is lost.
  std::optional<std::uint64_t> tailSector;
  // The next page of the file is all zeros, so a scan sees no page where the tail ends and
  // the fragment it reports starts one page (or more) later.
  bool nextPageZero = false;
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
  int partition = 0;                // number of the partition holding it; 0: no table
};

// A situation placed on purpose to trip a recovery up, and where to find it:
//   "split-before-zero-page": `page` is split; its tail lies before page + 1, which is all
//     zeros, so the next fragment a scan sees starts at page + 2; `sector` = the tail.
//   "detached-tail": `page` is split and its tail lies alone elsewhere; `sector` = the tail.
//   "foreign-pages-on-free-ids": `pages` pages of another database (file id 1), page ids
//     from `page` on, all free in `file`'s PFS pages; `file` is the target they imitate,
//     `other` the file they come from, `sector` where they lie.
//   "older-after-header": the fragment of `other` (an older copy of target `file`) holding
//     `page` lies at `sector`, the next thing on the disk after `file`'s header fragment.
struct HardCase {
  std::string kind;
  int file = 0;
  std::int64_t page = 0;
  std::int64_t pageCount = 1;
  std::uint64_t sector = 0;
  int other = -1;  // index into Manifest::files, or -1
};

// One entry of the partition table, numbered as the kernel and libblkid number it (MBR:
// the table slot 1..4; GPT: the entry 1..128).
struct DiskPartition {
  int number = 0;
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
  std::string type;        // MBR: the type byte in hex ("c"); GPT: the type GUID
  std::string fileSystem;  // "FAT32", "NTFS", or "" when unformatted
  bool holdsDatabase = false;
};

struct PartitionInfo {
  std::uint64_t startSector = 0;  // in the image
  std::uint64_t sectorCount = 0;
  std::string fileSystem;     // "FAT32" or "NTFS"
  int number = 0;             // in the partition table; 0 for a bare partition image
  std::uint32_t mbrType = 0;  // partition type byte in the MBR; 0 for GPT or a bare partition
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
  std::optional<PartitionInfo> partition;  // the one holding the target(s)
  std::string partitionTable;              // "mbr", "gpt", or "" without a table
  std::vector<DiskPartition> partitions;   // every entry of the table
  std::vector<ManifestFile> files;
  std::vector<ManifestFragment> fragments;
  std::vector<SplitPage> splitPages;
  std::vector<PageRange> lostPages;
  std::vector<DamagedPage> damagedPages;
  std::vector<NoiseRegion> noise;
  std::vector<LiveFile> liveFiles;
  std::vector<std::uint64_t> unreadableSectors;  // ascending
  std::vector<HardCase> hardCases;

  int TargetFile() const;                // index of the first "target" file, -1 when none
  std::vector<int> TargetFiles() const;  // every "target" file, in file order
  // Fragments of one file, in file order.
  std::vector<ManifestFragment> FragmentsOf(int file) const;
  // The pages of `file` that no recovery can give back as they were: lost, partial, split
  // with a detached tail, or holding an unreadable sector. Ascending, merged ranges.
  std::vector<PageRange> UnrecoverablePages(int file) const;
};

// Adds `source` to the manifest's files with `role` (digest, file id and header LSN read
// from it) and returns its index.
int AddManifestFile(Manifest& manifest, const PageSource& source, const std::string& role);

// Adds the fragments of one file laid out as `extents` (any order, non-overlapping in the
// file), with its split, lost and partial pages.
void DescribeFileLayout(Manifest& manifest, int file, std::vector<FileExtent> extents);

// Notes, for every split page of `file`, whether the page after it is all zeros in `source`.
void NoteZeroNextPages(Manifest& manifest, int file, const PageSource& source);

// Adds the hard cases the split pages of `file` make: "detached-tail" for a tail that lies
// elsewhere, "split-before-zero-page" for a tail before an all-zero next page that is
// followed, in the same extent, by the page after it. Call after NoteZeroNextPages.
void NoteSplitHardCases(Manifest& manifest, int file);

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
