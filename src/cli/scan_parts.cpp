#include "cli/scan_parts.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

#include "commands/datasource_menu.h"
#include "common/bytes.h"
#include "datasource/partition_table.h"

namespace ravelin::cli {

namespace fs = std::filesystem;

void AddWholeOption(CLI::App& cmd, SourceArgs& args) {
  cmd.add_flag("--whole", args.whole,
               "On a disk with a partition table, one raw scan of the whole disk instead of "
               "each partition scanned as --partition N scans it")
      ->excludes("--partition")
      ->excludes("--partition-image");
}

std::vector<ScanPart> ScanParts(const ScanOptions& scan, const CliEnv& env, std::ostream& err) {
  const SourceArgs& args = scan.source;
  const std::vector<ScanPart> asGiven = {{scan, ""}};
  if (args.partition || args.partitionImage || args.whole || scan.begin || scan.end) return asGiven;
  std::error_code ec;
  const auto status = fs::status(args.source, ec);
  if (ec || !(fs::is_regular_file(status) || fs::is_block_file(status))) return asGiven;
  if (DetectImageKind(args.source, env.opener).kind != ImageKind::kWholeDiskImage) return asGiven;
  const std::optional<PartitionTable> table = ReadPartitionTable(args.source);
  if (!table || table->partitions.empty()) return asGiven;

  std::vector<ScanPart> parts;
  // A stretch of the disk scanned raw, every sector of it.
  auto raw = [&](std::string label, std::uint64_t from, std::optional<std::uint64_t> to) {
    ScanPart part{scan, std::move(label)};
    part.scan.source.diskImage = true;
    part.scan.begin = static_cast<std::int64_t>(from);
    if (to) part.scan.end = static_cast<std::int64_t>(*to);
    part.scan.freeSpaceOnly = false;
    parts.push_back(std::move(part));
  };
  std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;  // [start, end) of partitions
  for (const ImagePartition& p : table->partitions) {
    if (p.sectors == 0) continue;
    taken.emplace_back(p.start, p.start + p.sectors);
    const std::string label = "partition " + std::to_string(p.number);
    // Only a FAT32 or NTFS volume tells its clusters and free space; any other partition
    // (another file system, none, a damaged boot sector) is scanned raw, whole.
    const VolumeInfo& v = p.volume;
    if (v.type != "ntfs" && !(v.type == "vfat" && v.version == "FAT32")) {
      raw(label + " (no FAT32 or NTFS file system: scanned raw)", p.start, p.start + p.sectors);
      continue;
    }
    ScanPart part{scan, label};
    part.scan.source.partition = p.number;
    part.scan.source.diskImage = false;
    parts.push_back(std::move(part));
  }
  std::sort(taken.begin(), taken.end());
  // The stretches outside the partitions, raw; the last runs to the end of the disk. A
  // stretch shorter than a page cannot hold one.
  auto outside = [&](std::uint64_t from, std::optional<std::uint64_t> to) {
    if (to && *to < from + kSectorsPerPage) return;
    raw("sectors " + std::to_string(from) + "-" +
            (to ? std::to_string(*to - 1) : std::string("end")) + " outside the partitions",
        from, to);
  };
  std::uint64_t next = 0;
  for (const auto& [start, end] : taken) {
    if (start > next) outside(next, start);
    next = std::max(next, end);
  }
  outside(next, std::nullopt);
  err << "分区表(partition table): " << table->kind << ", " << taken.size()
      << (taken.size() == 1 ? " partition" : " partitions")
      << ": each is scanned as --partition N scans it, the space outside them raw (--whole "
         "scans the disk as one)\n";
  return parts;
}

}  // namespace ravelin::cli
