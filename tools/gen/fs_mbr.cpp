#include "gen/fs_mbr.h"

#include <cstdio>

#include "gen/fs_tools.h"
#include "gen/image_writer.h"

namespace ravelin::gen {
namespace {

constexpr std::uint64_t kAlignment = 2048;  // 1 MiB, where partitioning tools put partitions
constexpr std::uint64_t kUnformattedSectors = 2048;
constexpr std::uint64_t kNotesSectors = 16;  // one sector per cluster

// A planned partition: where it goes, what it holds, and the file with its content.
struct Planned {
  TableEntry entry;
  std::string fileSystem;  // "FAT32", "NTFS" or ""
  bool database = false;
  std::string content;  // a temporary image of the partition, or "" for zeros
};

// A small FAT32 volume holding one live file, for a partition before the database's.
Status BuildExtraFat32(const std::string& path, std::uint64_t sectors, std::uint64_t start,
                       std::uint64_t seed, int number, const std::string& stageDir,
                       Manifest& manifest) {
  if (Status s = RequireTools({"mkfs.vfat", "mcopy", "mshowfat"}); !s.ok()) return s;
  if (Status s = CreateSparseFile(path, sectors); !s.ok()) return s;
  Fat32Geometry g;
  if (Status s = FormatFat32(path, 1, start, seed, "EXTRA" + std::to_string(number), g); !s.ok()) {
    return s;
  }
  const std::string notes = stageDir + "/NOTES" + std::to_string(number) + ".BIN";
  if (Status s = StageFile(notes, nullptr, kNotesSectors, seed ^ 0x4E07E5ull); !s.ok()) return s;
  if (Status s = RunToolChecked({"mcopy", "-m", "-i", path, notes, "::/NOTES.BIN"}); !s.ok()) {
    return s;
  }
  std::vector<ClusterRuns> runs;
  if (Status s = ShowFat(path, {"NOTES.BIN"}, runs); !s.ok()) return s;
  LiveFile live{"NOTES.BIN", RunsToExtents(runs[0], g, kNotesSectors), number};
  for (FileExtent& e : live.extents) e.diskSector += start;
  manifest.liveFiles.push_back(live);
  return Status::Ok();
}

Status CheckOptions(const std::vector<const PageSource*>& targets, const DiskImageOptions& o) {
  if (o.fileSystem != "fat32" && o.fileSystem != "ntfs") {
    return Status::BadInput("the partition's file system must be fat32 or ntfs, not " +
                            o.fileSystem);
  }
  if (targets.empty() || targets.front() == nullptr) {
    return Status::BadInput("a disk image needs at least one database file");
  }
  if (o.table == PartitionTableKind::kMbr) {
    // The MBR holds 32-bit sector numbers, four entries, and sector 0 is the table itself.
    if (o.partitionStart == 0 || o.partitionStart > 0xFFFFFFFFull) {
      return Status::BadInput("the partition must start between sector 1 and 2^32 - 1");
    }
    if (o.partitionsBefore.size() > 3) {
      return Status::BadInput("an MBR has room for 4 partitions: at most 3 before the database's");
    }
  } else {
    if (o.partitionStart < kGptFirstUsable) {
      return Status::BadInput("on a GPT disk the first partition starts at sector 34 or later");
    }
    if (o.trailingSectors < kGptBackupSectors) {
      return Status::BadInput(
          "a GPT keeps its backup in the last 33 sectors: --trailing 33 or more");
    }
    if (o.partitionsBefore.size() > 127) {
      return Status::BadInput(
          "a GPT has 128 entries: at most 127 partitions before the database's");
    }
  }
  return Status::Ok();
}

}  // namespace

Status BuildDiskImage(const PageSource& target, const DiskImageOptions& o,
                      const std::string& imagePath, Manifest& manifest) {
  return BuildDiskImage(std::vector<const PageSource*>{&target}, o, imagePath, manifest);
}

Status BuildDiskImage(const std::vector<const PageSource*>& targets, const DiskImageOptions& o,
                      const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  if (Status s = CheckOptions(targets, o); !s.ok()) return s;
  if (Status s = RequireTools({"sfdisk"}); !s.ok()) return s;
  const bool fat32 = o.fileSystem == "fat32";
  const bool gpt = o.table == PartitionTableKind::kGpt;
  const std::uint64_t seed = fat32 ? o.fat32.seed : o.ntfs.seed;
  TempDir temp;
  if (!temp.ok()) return Status::IoError("cannot create a temporary folder");

  // Where each partition goes; the database's comes last.
  std::vector<Planned> planned;
  std::uint64_t cursor = o.partitionStart;
  for (std::size_t i = 0; i < o.partitionsBefore.size(); ++i) {
    const ExtraPartition& extra = o.partitionsBefore[i];
    Planned p;
    p.entry.start = cursor;
    p.entry.size = extra.sectors != 0 ? extra.sectors
                   : extra.fat32      ? Fat32VolumeSectors(kFat32MinClusters + 64, 1)
                                      : kUnformattedSectors;
    p.entry.mbrType = extra.fat32 ? kMbrTypeFat32Lba : kMbrTypeLinux;
    p.entry.gptType = extra.fat32 ? kGptTypeBasicData : kGptTypeLinux;
    p.fileSystem = extra.fat32 ? "FAT32" : "";
    planned.push_back(p);
    cursor = RoundUp(p.entry.start + p.entry.size, kAlignment);
  }
  const std::uint64_t databaseStart = cursor;
  const int databaseNumber = static_cast<int>(planned.size()) + 1;

  const std::string partition = temp.File("database.part");
  Status built;
  if (fat32) {
    Fat32ImageOptions options = o.fat32;
    options.hiddenSectors = databaseStart;
    built = BuildFat32Image(targets, options, partition, manifest);
  } else {
    NtfsImageOptions options = o.ntfs;
    options.hiddenSectors = databaseStart;
    built = BuildNtfsImage(targets, options, partition, manifest);
  }
  if (!built.ok()) return built;
  Planned database;
  database.entry.start = databaseStart;
  database.entry.size = manifest.totalSectors;
  database.entry.mbrType = fat32 ? kMbrTypeFat32Lba : kMbrTypeNtfs;
  database.entry.gptType = kGptTypeBasicData;
  database.fileSystem = fat32 ? "FAT32" : "NTFS";
  database.database = true;
  database.content = partition;
  ShiftSectors(manifest, databaseStart);
  for (LiveFile& live : manifest.liveFiles) live.partition = databaseNumber;

  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (!o.partitionsBefore[i].fat32) continue;
    planned[i].content = temp.File("extra" + std::to_string(i + 1) + ".part");
    if (Status s =
            BuildExtraFat32(planned[i].content, planned[i].entry.size, planned[i].entry.start,
                            seed ^ (0xE7A0ull + i), static_cast<int>(i) + 1, temp.path(), manifest);
        !s.ok()) {
      return s;
    }
  }
  planned.push_back(database);

  const std::uint64_t end = databaseStart + database.entry.size;
  const std::uint64_t total = end + o.trailingSectors;
  if (!gpt && (database.entry.size > 0xFFFFFFFFull || end > 0xFFFFFFFFull)) {
    return Status::BadInput("the partition does not fit an MBR's 32-bit sector numbers");
  }
  const std::string work = imagePath + ".tmp";
  const auto fail = [&](Status s) {
    std::remove(work.c_str());
    return s;
  };
  if (Status s = CreateSparseFile(work, total); !s.ok()) return fail(s);
  std::vector<TableEntry> entries;
  for (const Planned& p : planned) entries.push_back(p.entry);
  if (Status s = WritePartitionTable(work, o.table, entries, seed); !s.ok()) return fail(s);
  for (const Planned& p : planned) {
    if (p.content.empty()) continue;
    if (Status s = CopySectors(p.content, 0, work, p.entry.start, p.entry.size); !s.ok()) {
      return fail(s);
    }
  }

  manifest.kind = "disk";
  manifest.totalSectors = total;
  manifest.partitionTable = gpt ? "gpt" : "mbr";
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const Planned& p = planned[i];
    manifest.partitions.push_back({static_cast<int>(i) + 1, p.entry.start, p.entry.size,
                                   TypeText(o.table, p.entry), p.fileSystem, p.database});
  }
  manifest.partition->sectorCount = database.entry.size;
  manifest.partition->number = databaseNumber;
  manifest.partition->mbrType = gpt ? 0 : database.entry.mbrType;
  if (std::rename(work.c_str(), imagePath.c_str()) != 0) {
    return fail(Status::IoError("cannot rename " + work + " to " + imagePath));
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
