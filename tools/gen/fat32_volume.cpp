#include "gen/fat32_volume.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/bytes.h"
#include "gen/fs_common.h"
#include "gen/fs_tools.h"
#include "gen/random.h"

namespace ravelin::gen {
namespace {

constexpr std::uint64_t kReservedSectors = 32;

std::uint64_t FatSectors(std::uint64_t clusters) {
  return ((clusters + 2) * 4 + kSectorSize - 1) / kSectorSize;
}

Status ReadGeometry(const std::string& path, Fat32Geometry& g) {
  std::vector<std::uint8_t> boot;
  if (Status s = ReadHead(path, kSectorSize, boot); !s.ok()) return s;
  if (boot.size() < kSectorSize || Load16(boot, 510) != 0xAA55 ||
      std::string(boot.begin() + 82, boot.begin() + 87) != "FAT32") {
    return Status::ToolFailed("mkfs.vfat left no FAT32 boot sector in " + path);
  }
  g.sectorsPerCluster = Load8(boot, 13);
  g.reservedSectors = Load16(boot, 14);
  g.fatCount = Load8(boot, 16);
  g.totalSectors = Load32(boot, 32);
  g.sectorsPerFat = Load32(boot, 36);
  g.fsInfoSector = Load16(boot, 48);
  return Status::Ok();
}

}  // namespace

std::uint64_t Fat32VolumeSectors(std::uint64_t dataClusters, std::uint64_t spc) {
  return kReservedSectors + 2 * FatSectors(dataClusters) + dataClusters * spc + 2 * spc;
}

std::uint64_t Fat32SmallestVolume(std::uint64_t spc) {
  return kReservedSectors + 2 * FatSectors(kFat32MinClusters) + kFat32MinClusters * spc;
}

Status FormatFat32(const std::string& path, std::uint32_t spc, std::uint64_t hiddenSectors,
                   std::uint64_t seed, const std::string& label, Fat32Geometry& g) {
  char volumeId[9];
  std::snprintf(volumeId, sizeof volumeId, "%08X", static_cast<unsigned>(Random(seed).Next()));
  if (Status s = RunToolChecked({"mkfs.vfat",
                                 "-F",
                                 "32",
                                 "-s",
                                 std::to_string(spc),
                                 "-S",
                                 "512",
                                 "-f",
                                 "2",
                                 "-R",
                                 std::to_string(kReservedSectors),
                                 "--mbr=n",
                                 "--invariant",
                                 "-i",
                                 volumeId,
                                 "-n",
                                 label,
                                 "-h",
                                 std::to_string(hiddenSectors),
                                 path});
      !s.ok()) {
    return s;
  }
  if (Status s = ReadGeometry(path, g); !s.ok()) return s;
  if (g.Clusters() < kFat32MinClusters) {
    return Status::BadInput("FAT32 needs at least 65525 clusters: at " + std::to_string(spc) +
                            " sectors per cluster the volume needs more than " +
                            std::to_string(g.totalSectors) + " sectors");
  }
  return Status::Ok();
}

Status SetNextFreeHint(const std::string& path, const Fat32Geometry& g, std::uint32_t cluster) {
  std::uint8_t bytes[4];
  EncodeFixed32(bytes, cluster);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return Status::IoError("cannot open " + path);
  const off_t at = static_cast<off_t>(g.fsInfoSector * kSectorSize + 492);
  const bool ok = ::pwrite(fd, bytes, 4, at) == 4;
  ::close(fd);
  return ok ? Status::Ok() : Status::IoError("cannot write the FSInfo sector of " + path);
}

Status ShowFat(const std::string& image, const std::vector<std::string>& names,
               std::vector<ClusterRuns>& runs) {
  std::vector<std::string> argv = {"mshowfat", "-i", image};
  for (const std::string& n : names) argv.push_back("::/" + n);
  ToolResult r;
  if (Status s = RunToolChecked(argv, &r); !s.ok()) return s;
  runs.assign(names.size(), {});
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string prefix = "::/" + names[i] + " ";
      if (line.compare(0, prefix.size(), prefix) == 0) runs[i] = ParseClusterRuns(line);
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (runs[i].empty()) return Status::ToolFailed("mshowfat did not list " + names[i]);
  }
  return Status::Ok();
}

ClusterRuns ParseClusterRuns(const std::string& line) {
  ClusterRuns runs;
  std::size_t at = 0;
  while ((at = line.find('<', at)) != std::string::npos) {
    const std::size_t close = line.find('>', at);
    if (close == std::string::npos) break;
    const std::string run = line.substr(at + 1, close - at - 1);
    const std::size_t dash = run.find('-');
    try {
      const std::uint64_t first = std::stoull(run.substr(0, dash));
      const std::uint64_t last =
          dash == std::string::npos ? first : std::stoull(run.substr(dash + 1));
      if (last >= first) runs.emplace_back(first, last - first + 1);
    } catch (const std::exception&) {
      return {};
    }
    at = close + 1;
  }
  return runs;
}

std::vector<FileExtent> RunsToExtents(const ClusterRuns& runs, const Fat32Geometry& g,
                                      std::uint64_t fileSectors) {
  std::vector<FileExtent> extents;
  std::uint64_t fileSector = 0;
  for (auto [first, count] : runs) {
    if (fileSector >= fileSectors) break;
    const std::uint64_t sectors = std::min(count * g.sectorsPerCluster, fileSectors - fileSector);
    extents.push_back({fileSector, sectors, g.DataStart() + (first - 2) * g.sectorsPerCluster});
    fileSector += sectors;
  }
  return extents;
}

std::vector<FileExtent> CutOut(const std::vector<FileExtent>& extents, std::uint64_t begin,
                               std::uint64_t end) {
  std::vector<FileExtent> out;
  for (const FileExtent& e : extents) {
    const std::uint64_t eEnd = e.diskSector + e.sectorCount;
    if (end <= e.diskSector || begin >= eEnd) {
      out.push_back(e);
      continue;
    }
    if (begin > e.diskSector) out.push_back({e.fileSector, begin - e.diskSector, e.diskSector});
    if (end < eEnd) out.push_back({e.fileSector + (end - e.diskSector), eEnd - end, end});
  }
  return out;
}

}  // namespace ravelin::gen
