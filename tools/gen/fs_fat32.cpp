#include "gen/fs_fat32.h"

#include <algorithm>
#include <cstdio>

#include "gen/extent_plan.h"
#include "gen/fs_tools.h"

namespace ravelin::gen {
namespace {

// The first cluster past the middle of a file's clusters.
std::uint64_t MiddleCluster(const ClusterRuns& runs) {
  std::uint64_t total = 0, seen = 0;
  for (auto [first, count] : runs) total += count;
  for (auto [first, count] : runs) {
    if (seen + count > total / 2) return first + (total / 2 - seen);
    seen += count;
  }
  return runs.empty() ? 2 : runs.front().first;
}

}  // namespace

std::string DatabaseFileName(const std::string& first, std::size_t index) {
  if (index == 0) return first;
  const std::size_t dot = first.rfind('.');
  const std::string number = std::to_string(index + 1);
  return dot == std::string::npos ? first + number
                                  : first.substr(0, dot) + number + first.substr(dot);
}

Status BuildFat32Image(const PageSource& target, const Fat32ImageOptions& o,
                       const std::string& imagePath, Manifest& manifest) {
  return BuildFat32Image(std::vector<const PageSource*>{&target}, o, imagePath, manifest);
}

Status BuildFat32Image(const std::vector<const PageSource*>& targets, const Fat32ImageOptions& o,
                       const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  if (targets.empty() || targets.front() == nullptr) {
    return Status::BadInput("a FAT32 image needs at least one database file");
  }
  for (const PageSource* t : targets) {
    if (Status s = CheckFileSystemBuild(*t, o.sectorsPerCluster,
                                        {"mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat"});
        !s.ok()) {
      return s;
    }
  }
  TempDir temp;
  if (!temp.ok()) return Status::IoError("cannot create a temporary folder");

  const std::uint64_t spc = o.sectorsPerCluster;
  // Round r: its decoys, then target r, named as it was before deletion.
  std::vector<std::vector<StagedFile>> rounds(targets.size());
  std::vector<StagedFile> databases;
  std::uint64_t dataClusters = o.overwriteClusters + 64;
  for (std::size_t r = 0; r < targets.size(); ++r) {
    if (Status s = StageDecoys(temp.path(), o.decoys, o.sectorsPerCluster, o.seed, rounds[r],
                               static_cast<int>(r));
        !s.ok()) {
      return s;
    }
    const std::string name = DatabaseFileName(o.databaseName, r);
    databases.push_back(
        {name, temp.File("database" + std::to_string(r) + ".mdf"), targets[r], "target"});
    if (Status s = StageFile(databases.back().path, targets[r], 0, 0); !s.ok()) return s;
    dataClusters += (StagedSectors(databases.back(), 0, spc) + spc - 1) / spc;
    for (const StagedFile& f : rounds[r]) {
      dataClusters += (StagedSectors(f, o.decoys.maxClusters, spc) + spc - 1) / spc;
    }
  }

  std::uint64_t totalSectors = o.totalSectors;
  if (totalSectors == 0) {
    totalSectors =
        Fat32VolumeSectors(std::max<std::uint64_t>(kFat32MinClusters + 256, dataClusters), spc);
  }
  if (totalSectors < Fat32SmallestVolume(spc)) {
    return Status::BadInput("FAT32 needs at least 65525 clusters: at " + std::to_string(spc) +
                            " sectors per cluster the image needs at least " +
                            std::to_string(Fat32SmallestVolume(spc)) + " sectors");
  }

  const std::string work = imagePath + ".tmp";
  if (Status s = CreateSparseFile(work, totalSectors); !s.ok()) return s;
  const auto fail = [&](Status s) {
    std::remove(work.c_str());
    return s;
  };
  Fat32Geometry g;
  if (Status s = FormatFat32(work, o.sectorsPerCluster, o.hiddenSectors, o.seed, "RAVELIN", g);
      !s.ok()) {
    return fail(s);
  }

  std::vector<std::string> liveNames;
  std::vector<std::string> dbNames;
  for (std::size_t r = 0; r < targets.size(); ++r) {
    // 1. Live files, then every other random decoy deleted to leave holes.
    std::vector<std::string> copy = {"mcopy", "-m", "-i", work};
    for (const StagedFile& f : rounds[r]) copy.push_back(f.path);
    copy.push_back("::/");
    std::vector<std::string> deleted;
    int randomIndex = 0;
    for (const StagedFile& f : rounds[r]) {
      if (f.pages == nullptr && randomIndex++ % 2 == 1) {
        deleted.push_back("::/" + f.name);
      } else {
        liveNames.push_back(f.name);
      }
    }
    if (!rounds[r].empty()) {
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
    const StagedFile& db = databases[r];
    if (Status s = RunToolChecked({"mcopy", "-m", "-i", work, db.path, "::/" + db.name}); !s.ok()) {
      return fail(s);
    }
    dbNames.push_back(db.name);
  }
  std::vector<ClusterRuns> dbRuns;
  if (Status s = ShowFat(work, dbNames, dbRuns); !s.ok()) return fail(s);
  std::vector<std::vector<FileExtent>> extents;
  for (std::size_t r = 0; r < targets.size(); ++r) {
    extents.push_back(RunsToExtents(
        dbRuns[r], g, static_cast<std::uint64_t>(targets[r]->PageCount()) * kSectorsPerPage));
  }
  // 3. Deleted: their clusters are free again and keep their pages.
  std::vector<std::string> del = {"mdel", "-i", work};
  for (const std::string& name : dbNames) del.push_back("::/" + name);
  if (Status s = RunToolChecked(del); !s.ok()) return fail(s);
  // 4. A new file reusing some of the first database's clusters.
  if (o.overwriteClusters > 0) {
    const std::string path = temp.File("NEWFILE.BIN");
    if (Status s = StageFile(path, nullptr, o.overwriteClusters * spc, o.seed ^ 0x0E); !s.ok()) {
      return fail(s);
    }
    if (Status s = SetNextFreeHint(work, g, static_cast<std::uint32_t>(MiddleCluster(dbRuns[0])));
        !s.ok()) {
      return fail(s);
    }
    if (Status s = RunToolChecked({"mcopy", "-m", "-i", work, path, "::/NEWFILE.BIN"}); !s.ok()) {
      return fail(s);
    }
    liveNames.push_back("NEWFILE.BIN");
  }

  std::vector<ClusterRuns> liveRuns;
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
  for (const PageSource* t : targets) AddManifestFile(manifest, *t, "target");
  for (std::size_t i = 0; i < liveNames.size(); ++i) {
    const StagedFile* staged = nullptr;
    for (const auto& round : rounds) {
      for (const StagedFile& f : round) {
        if (f.name == liveNames[i]) staged = &f;
      }
    }
    std::uint64_t sectors = 0;
    for (auto [first, count] : liveRuns[i]) sectors += count * spc;
    if (staged != nullptr && staged->pages != nullptr) {
      sectors = static_cast<std::uint64_t>(staged->pages->PageCount()) * kSectorsPerPage;
    }
    std::vector<FileExtent> liveExtents = RunsToExtents(liveRuns[i], g, sectors);
    for (const FileExtent& e : liveExtents) {
      for (auto& x : extents) {
        x = CutOut(x, e.diskSector, e.diskSector + RoundUp(e.sectorCount, spc));
      }
    }
    manifest.liveFiles.push_back({liveNames[i], liveExtents});
    if (staged != nullptr && staged->pages != nullptr) {
      AddLiveDatabase(manifest, *staged, liveExtents);
    }
  }
  std::vector<FileExtent> allExtents;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    DescribeFileLayout(manifest, static_cast<int>(t), extents[t]);
    NoteZeroNextPages(manifest, static_cast<int>(t), *targets[t]);
    NoteSplitHardCases(manifest, static_cast<int>(t));
    allExtents.insert(allExtents.end(), extents[t].begin(), extents[t].end());
  }
  MarkUnreadable(manifest, ChooseUnreadable(o.seed, o.unreadableSectors, allExtents, totalSectors));

  if (std::rename(work.c_str(), imagePath.c_str()) != 0) {
    return fail(Status::IoError("cannot rename " + work + " to " + imagePath));
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
