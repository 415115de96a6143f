#include "gen/fs_fat32.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "gen/extent_plan.h"
#include "gen/fs_tools.h"
#include "gen/image_raw.h"
#include "gen/random.h"
#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

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

// mtools starts looking for free clusters at the FSInfo "next free" hint, so without this a
// new file goes after the last one written instead of into the holes deleted files left.
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
               std::vector<Runs>& runs) {
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

// Cluster runs of a file of `fileSectors` sectors as extents (partition sectors).
std::vector<FileExtent> RunsToExtents(const Runs& runs, const Fat32Geometry& g,
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

// Removes the disk sectors [begin, end) from extents, splitting where needed.
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
    if (end < eEnd) {
      out.push_back({e.fileSector + (end - e.diskSector), eEnd - end, end});
    }
  }
  return out;
}

}  // namespace

Runs ParseClusterRuns(const std::string& line) {
  Runs runs;
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

Status BuildFat32Image(const PageSource& target, const Fat32ImageOptions& o,
                       const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  if (Status s = CheckFileSystemBuild(target, o.sectorsPerCluster,
                                      {"mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat"});
      !s.ok()) {
    return s;
  }
  TempDir temp;
  if (!temp.ok()) return Status::IoError("cannot create a temporary folder");

  const std::uint64_t spc = o.sectorsPerCluster;
  const std::uint64_t dbSectors = static_cast<std::uint64_t>(target.PageCount()) * kSectorsPerPage;
  std::vector<StagedFile> decoys;
  if (Status s = StageDecoys(temp.path(), o.decoys, o.sectorsPerCluster, o.seed, decoys); !s.ok()) {
    return s;
  }
  StagedFile database{o.databaseName, temp.File("database.mdf"), &target, "target"};
  if (Status s = StageFile(database.path, &target, 0, 0); !s.ok()) return s;

  std::uint64_t totalSectors = o.totalSectors;
  if (totalSectors == 0) {
    std::uint64_t dataClusters = (dbSectors + spc - 1) / spc + o.overwriteClusters + 64;
    for (const StagedFile& f : decoys) {
      dataClusters += (StagedSectors(f, o.decoys.maxClusters, spc) + spc - 1) / spc;
    }
    const std::uint64_t clusters = std::max<std::uint64_t>(kFat32MinClusters + 256, dataClusters);
    const std::uint64_t fatSectors = ((clusters + 2) * 4 + kSectorSize - 1) / kSectorSize;
    totalSectors = 32 + 2 * fatSectors + clusters * spc + 2 * spc;
  }

  const std::uint64_t smallest =
      32 + 2 * (((kFat32MinClusters + 2) * 4 + kSectorSize - 1) / kSectorSize) +
      kFat32MinClusters * spc;
  if (totalSectors < smallest) {
    return Status::BadInput("FAT32 needs at least 65525 clusters: at " + std::to_string(spc) +
                            " sectors per cluster the image needs at least " +
                            std::to_string(smallest) + " sectors");
  }

  const std::string work = imagePath + ".tmp";
  if (Status s = CreateSparseFile(work, totalSectors); !s.ok()) return s;
  const auto fail = [&](Status s) {
    std::remove(work.c_str());
    return s;
  };
  char volumeId[9];
  std::snprintf(volumeId, sizeof volumeId, "%08X", static_cast<unsigned>(Random(o.seed).Next()));
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
                                 "32",
                                 "--mbr=n",
                                 "--invariant",
                                 "-i",
                                 volumeId,
                                 "-n",
                                 "RAVELIN",
                                 "-h",
                                 std::to_string(o.hiddenSectors),
                                 work});
      !s.ok()) {
    return fail(s);
  }
  Fat32Geometry g;
  if (Status s = ReadGeometry(work, g); !s.ok()) return fail(s);
  if (g.Clusters() < kFat32MinClusters) {
    return fail(Status::BadInput("FAT32 needs at least 65525 clusters: at " + std::to_string(spc) +
                                 " sectors per cluster the image needs more than " +
                                 std::to_string(totalSectors) + " sectors"));
  }

  // 1. Live files, then every other random decoy deleted to leave holes.
  std::vector<std::string> copy = {"mcopy", "-m", "-i", work};
  for (const StagedFile& f : decoys) copy.push_back(f.path);
  copy.push_back("::/");
  std::vector<std::string> liveNames, deleted;
  int randomIndex = 0;
  for (const StagedFile& f : decoys) {
    if (f.pages == nullptr && randomIndex++ % 2 == 1) {
      deleted.push_back("::/" + f.name);
    } else {
      liveNames.push_back(f.name);
    }
  }
  if (!decoys.empty()) {
    // mcopy names the copies after the staged files, which carry the decoy names already.
    if (Status s = RunToolChecked(copy); !s.ok()) return fail(s);
  }
  if (!deleted.empty()) {
    std::vector<std::string> del = {"mdel", "-i", work};
    del.insert(del.end(), deleted.begin(), deleted.end());
    if (Status s = RunToolChecked(del); !s.ok()) return fail(s);
  }
  // 2. The database, written into the holes from the lowest free cluster on.
  if (Status s = SetNextFreeHint(work, g, 0xFFFFFFFFu); !s.ok()) return fail(s);
  if (Status s = RunToolChecked({"mcopy", "-m", "-i", work, database.path, "::/" + o.databaseName});
      !s.ok()) {
    return fail(s);
  }
  std::vector<Runs> dbRuns;
  if (Status s = ShowFat(work, {o.databaseName}, dbRuns); !s.ok()) return fail(s);
  std::vector<FileExtent> extents = RunsToExtents(dbRuns[0], g, dbSectors);
  // 3. Deleted: its clusters are free again and keep its pages.
  if (Status s = RunToolChecked({"mdel", "-i", work, "::/" + o.databaseName}); !s.ok()) {
    return fail(s);
  }
  // 4. A new file reusing some of those clusters.
  if (o.overwriteClusters > 0) {
    std::uint64_t middle = 0, seen = 0;
    std::uint64_t totalClusters = 0;
    for (auto [first, count] : dbRuns[0]) totalClusters += count;
    for (auto [first, count] : dbRuns[0]) {
      if (seen + count > totalClusters / 2) {
        middle = first + (totalClusters / 2 - seen);
        break;
      }
      seen += count;
    }
    const std::string path = temp.File("NEWFILE.BIN");
    if (Status s = StageFile(path, nullptr, o.overwriteClusters * spc, o.seed ^ 0x0E); !s.ok()) {
      return fail(s);
    }
    if (Status s = SetNextFreeHint(work, g, static_cast<std::uint32_t>(middle)); !s.ok()) {
      return fail(s);
    }
    if (Status s = RunToolChecked({"mcopy", "-m", "-i", work, path, "::/NEWFILE.BIN"}); !s.ok()) {
      return fail(s);
    }
    liveNames.push_back("NEWFILE.BIN");
  }

  std::vector<Runs> liveRuns;
  if (!liveNames.empty()) {
    if (Status s = ShowFat(work, liveNames, liveRuns); !s.ok()) return fail(s);
  }
  ToolResult check;
  if (Status s = RunToolChecked({"fsck.vfat", "-n", work}, &check); !s.ok()) return fail(s);

  manifest.kind = "fat32";
  manifest.seed = o.seed;
  manifest.totalSectors = totalSectors;
  manifest.sectorsPerCluster = o.sectorsPerCluster;
  PartitionInfo part;
  part.sectorCount = totalSectors;
  part.fileSystem = "FAT32";
  part.reservedSectors = g.reservedSectors;
  part.sectorsPerFat = g.sectorsPerFat;
  part.fatCount = g.fatCount;
  part.dataStartSector = g.DataStart();
  part.clusterCount = g.Clusters();
  manifest.partition = part;
  AddManifestFile(manifest, target, "target");
  for (std::size_t i = 0; i < liveNames.size(); ++i) {
    const StagedFile* staged = nullptr;
    for (const StagedFile& f : decoys) {
      if (f.name == liveNames[i]) staged = &f;
    }
    std::uint64_t sectors = 0;
    for (auto [first, count] : liveRuns[i]) sectors += count * spc;
    if (staged != nullptr && staged->pages != nullptr) {
      sectors = static_cast<std::uint64_t>(staged->pages->PageCount()) * kSectorsPerPage;
    }
    std::vector<FileExtent> liveExtents = RunsToExtents(liveRuns[i], g, sectors);
    for (const FileExtent& e : liveExtents) {
      extents = CutOut(extents, e.diskSector, e.diskSector + RoundUp(e.sectorCount, spc));
    }
    manifest.liveFiles.push_back({liveNames[i], liveExtents});
    if (staged != nullptr && staged->pages != nullptr) {
      AddLiveDatabase(manifest, *staged, liveExtents);
    }
  }
  DescribeFileLayout(manifest, 0, extents);
  MarkUnreadable(manifest, ChooseUnreadable(o.seed, o.unreadableSectors, extents, totalSectors));

  if (std::rename(work.c_str(), imagePath.c_str()) != 0) {
    return fail(Status::IoError("cannot rename " + work + " to " + imagePath));
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
