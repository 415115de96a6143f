#include "gen/fs_mbr.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "gen/fs_tools.h"
#include "gen/image_writer.h"
#include "gen/random.h"

namespace ravelin::gen {

Status ReadPartitionTable(const std::string& imagePath, std::vector<MbrPartition>& partitions) {
  partitions.clear();
  ToolResult r;
  if (Status s = RunToolChecked({"sfdisk", "-J", imagePath}, &r); !s.ok()) return s;
  try {
    const auto j = nlohmann::json::parse(r.out);
    for (const auto& p : j.at("partitiontable").at("partitions")) {
      partitions.push_back(
          {p.at("start").get<std::uint64_t>(), p.at("size").get<std::uint64_t>(),
           static_cast<std::uint32_t>(std::stoul(p.at("type").get<std::string>(), nullptr, 16))});
    }
  } catch (const std::exception& e) {
    return Status::ToolFailed(std::string("unexpected sfdisk -J output: ") + e.what());
  }
  return Status::Ok();
}

Status BuildDiskImage(const PageSource& target, const DiskImageOptions& o,
                      const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  const bool fat32 = o.fileSystem == "fat32";
  if (!fat32 && o.fileSystem != "ntfs") {
    return Status::BadInput("the partition's file system must be fat32 or ntfs, not " +
                            o.fileSystem);
  }
  // The MBR holds 32-bit sector numbers, and sector 0 is the table itself.
  if (o.partitionStart == 0 || o.partitionStart > 0xFFFFFFFFull) {
    return Status::BadInput("the partition must start between sector 1 and 2^32 - 1");
  }
  if (Status s = RequireTools({"sfdisk"}); !s.ok()) return s;

  const std::string partition = imagePath + ".part.tmp";
  Status built;
  std::uint64_t seed = 0;
  if (fat32) {
    Fat32ImageOptions options = o.fat32;
    options.hiddenSectors = o.partitionStart;
    seed = options.seed;
    built = BuildFat32Image(target, options, partition, manifest);
  } else {
    NtfsImageOptions options = o.ntfs;
    options.hiddenSectors = o.partitionStart;
    seed = options.seed;
    built = BuildNtfsImage(target, options, partition, manifest);
  }
  if (!built.ok()) return built;

  const std::uint64_t partitionSectors = manifest.totalSectors;
  const std::uint64_t total = o.partitionStart + partitionSectors + o.trailingSectors;
  if (partitionSectors > 0xFFFFFFFFull || o.partitionStart + partitionSectors > 0xFFFFFFFFull) {
    std::remove(partition.c_str());
    return Status::BadInput("the partition does not fit an MBR's 32-bit sector numbers");
  }
  const std::string work = imagePath + ".tmp";
  const auto fail = [&](Status s) {
    std::remove(partition.c_str());
    std::remove(work.c_str());
    return s;
  };
  if (Status s = CreateSparseFile(work, total); !s.ok()) return fail(s);
  const std::uint32_t type = fat32 ? 0x0C : 0x07;  // FAT32 LBA, NTFS/exFAT
  char script[256];
  std::snprintf(script, sizeof script,
                "label: dos\nlabel-id: 0x%08x\nunit: sectors\n\nstart=%llu, size=%llu, type=%x\n",
                static_cast<unsigned>(Random(seed ^ 0xD15Cull).Next()),
                static_cast<unsigned long long>(o.partitionStart),
                static_cast<unsigned long long>(partitionSectors), type);
  if (Status s = RunToolChecked({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", "--wipe",
                                 "never", "--wipe-partitions", "never", work},
                                nullptr, script);
      !s.ok()) {
    return fail(s);
  }
  if (Status s = CopySectors(partition, 0, work, o.partitionStart, partitionSectors); !s.ok()) {
    return fail(s);
  }
  std::remove(partition.c_str());

  manifest.kind = "disk";
  ShiftSectors(manifest, o.partitionStart);
  manifest.totalSectors = total;
  manifest.partition->sectorCount = partitionSectors;
  manifest.partition->mbrType = type;
  if (std::rename(work.c_str(), imagePath.c_str()) != 0) {
    return fail(Status::IoError("cannot rename " + work + " to " + imagePath));
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
