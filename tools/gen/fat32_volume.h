// A FAT32 volume made by mkfs.vfat, and what mtools says about where its files lie: the
// pieces the FAT32 and whole-disk builders share.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gen/image_common.h"

namespace ravelin::gen {

// FAT32 needs at least this many clusters; fewer and mtools treats the volume as FAT16.
inline constexpr std::uint64_t kFat32MinClusters = 65525;

using ClusterRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;  // (first, count)

struct Fat32Geometry {
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t reservedSectors = 0;
  std::uint32_t fatCount = 0;
  std::uint64_t sectorsPerFat = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t fsInfoSector = 0;
  std::uint64_t DataStart() const { return reservedSectors + fatCount * sectorsPerFat; }
  std::uint64_t Clusters() const {
    return sectorsPerCluster == 0 ? 0 : (totalSectors - DataStart()) / sectorsPerCluster;
  }
};

// Sectors of a volume with `dataClusters` clusters of `spc` sectors (32 reserved sectors,
// two FATs), and the least any FAT32 volume of that cluster size needs.
std::uint64_t Fat32VolumeSectors(std::uint64_t dataClusters, std::uint64_t spc);
std::uint64_t Fat32SmallestVolume(std::uint64_t spc);

// Formats the existing file `path` (its whole size) as FAT32 with mkfs.vfat: fixed volume
// id and label so the same seed gives the same bytes, `hiddenSectors` in the boot sector.
// Reads the geometry back and refuses (kBadInput) a volume with too few clusters.
Status FormatFat32(const std::string& path, std::uint32_t sectorsPerCluster,
                   std::uint64_t hiddenSectors, std::uint64_t seed, const std::string& label,
                   Fat32Geometry& geometry);

// mtools starts looking for free clusters at the FSInfo "next free" hint, so without
// resetting it a new file goes after the last one written instead of into the holes that
// deleted files left. 0xFFFFFFFF means "unknown": search from the start.
Status SetNextFreeHint(const std::string& path, const Fat32Geometry& g, std::uint32_t cluster);

// The cluster runs of files in the root folder, as mshowfat lists them.
Status ShowFat(const std::string& image, const std::vector<std::string>& names,
               std::vector<ClusterRuns>& runs);

// Parses mshowfat's "::/NAME <3-10> <15> ..." into cluster runs.
ClusterRuns ParseClusterRuns(const std::string& line);

// Cluster runs of a file of `fileSectors` sectors as extents (volume sectors).
std::vector<FileExtent> RunsToExtents(const ClusterRuns& runs, const Fat32Geometry& g,
                                      std::uint64_t fileSectors);

// Removes the sectors [begin, end) from extents, splitting where needed.
std::vector<FileExtent> CutOut(const std::vector<FileExtent>& extents, std::uint64_t begin,
                               std::uint64_t end);

}  // namespace ravelin::gen
