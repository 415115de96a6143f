// Streams the content of a disk image to a file, placement by placement in sector order, so
// that an image of any size is written with a few megabytes of memory. Sectors that no
// placement covers are left as holes (they read back as zeros).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/image_common.h"
#include "gen/page_source.h"

namespace ravelin::gen {

enum class FillKind { kZeros, kRandom, kPages };

// What lies at sectors [sector, sector + sectorCount) of the image.
struct Placement {
  std::uint64_t sector = 0;
  std::uint64_t sectorCount = 0;
  FillKind kind = FillKind::kZeros;
  // kPages: the source, and the sector of its file (page n starts at sector 16n) that lands
  // on `sector`. Sectors past the end of the file are zeros.
  const PageSource* source = nullptr;
  std::uint64_t sourceSector = 0;
  // kRandom: the bytes depend only on this seed, not on how the writer splits its buffers.
  std::uint64_t seed = 0;
};

struct WriteOptions {
  // true: a new file. Placements may not overlap, all-zero stretches become holes and the
  // file is cut to totalSectors. false: overlay onto an existing file (a file system made
  // by its own tools); every placed sector is written, zeros included, and nothing else is
  // touched.
  bool newFile = true;
  std::uint64_t totalSectors = 0;
  // Sector of the file at which image sector 0 lies (a partition inside a disk image).
  std::uint64_t baseSector = 0;
};

// Writes `placements` (any order) into `path`. Overlapping placements, or placements that
// reach past totalSectors of a new file, are refused (kBadInput) before anything is written.
Status WritePlacements(const std::string& path, std::vector<Placement> placements,
                       const WriteOptions& options);

// Fills `out` with the deterministic noise of a kRandom placement, starting `offset` bytes
// into it.
void FillRandom(std::uint64_t seed, std::uint64_t offset, MutableBytes out);

// Copies sectors [sector, sector + count) of the file behind `source` into `out` (count *
// 512 bytes), zeros beyond its end.
void ReadSourceSectors(const PageSource& source, std::uint64_t sector, std::uint64_t count,
                       MutableBytes out);

// Writes the whole file behind `source` to `path` (via a temporary name, sparse).
Status WriteSourceFile(const PageSource& source, const std::string& path);

// Copies `count` sectors from one file to another (sparse: zero stretches are skipped, so
// the target must read as zeros there already).
Status CopySectors(const std::string& from, std::uint64_t fromSector, const std::string& to,
                   std::uint64_t toSector, std::uint64_t count);

}  // namespace ravelin::gen
