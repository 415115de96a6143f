// `ravelin sources [--json]`: the data-source menu as the window shows it, with each
// partition's size and file system. `ravelin sources --image DISK.img`: the partitions of
// a whole-disk image, numbered as --partition N takes them.
#include <CLI/CLI.hpp>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/glosses.h"
#include "commands/datasource_menu.h"
#include "common/bytes.h"
#include "common/messages.h"
#include "datasource/partition_table.h"

namespace ravelin::cli {
namespace {

std::string FileSystemText(const VolumeInfo& volume) {
  if (volume.type.empty()) return "-";
  return volume.version.empty() ? volume.type : volume.type + " " + volume.version;
}

nlohmann::json DiskJson(const DiskEntry& d) {
  return {{"number", d.number},
          {"name", d.name},
          {"device", d.devicePath},
          {"sectors", d.sectors},
          {"bytes", d.sectors * kSectorSize},
          {"size_text", SizeText(d.sectors)},
          {"removable", d.removable},
          {"caption", d.caption}};
}

nlohmann::json PartitionJson(const PartitionEntry& p) {
  return {{"number", p.number},
          {"name", p.name},
          {"device", p.devicePath},
          {"disk", p.diskName},
          {"optical", p.optical},
          {"sectors", p.sectors},
          {"bytes", p.sectors * kSectorSize},
          {"size_text", SizeText(p.sectors)},
          {"label", p.volume.label},
          {"file_system", p.volume.type},
          {"file_system_version", p.volume.version},
          {"text", p.text},
          {"caption", p.caption}};
}

int RunImagePartitions(const SourcesOptions& options, std::ostream& out, std::ostream& err) {
  int error = 0;
  std::string reason;
  const auto table = ReadPartitionTable(options.image, &error, &reason);
  if (!table) {
    err << "无法打开镜像文件(cannot open the image) " << options.image << ": "
        << (reason.empty() ? std::strerror(error) : reason) << '\n';
    return kExitBadSource;
  }
  if (options.json) {
    nlohmann::json parts = nlohmann::json::array();
    for (const ImagePartition& p : table->partitions) {
      parts.push_back({{"number", p.number},
                       {"start_sector", p.start},
                       {"sectors", p.sectors},
                       {"end_sector", p.start + p.sectors},
                       {"bytes", p.sectors * kSectorSize},
                       {"size_text", SizeText(p.sectors)},
                       {"type", p.type},
                       {"name", p.name},
                       {"label", p.volume.label},
                       {"file_system", p.volume.type},
                       {"file_system_version", p.volume.version}});
    }
    const nlohmann::json doc = {{"image", options.image},
                                {"partition_table", table->kind},
                                {"partitions", std::move(parts)}};
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kExitOk;
  }
  if (table->partitions.empty()) {
    out << options.image
        << ": 没有分区表(no partition table; scan it whole, or as a partition "
           "image with --partition-image)\n";
    return kExitOk;
  }
  out << options.image << ": " << (table->kind == "gpt" ? "GPT" : "MBR") << '\n';
  out << "分区(partition)\tstart\tsectors\tsize\tfile system\tlabel\n";
  for (const ImagePartition& p : table->partitions) {
    out << p.number << '\t' << p.start << '\t' << p.sectors << '\t' << SizeText(p.sectors) << '\t'
        << FileSystemText(p.volume) << '\t' << VolumeLabel(p.volume) << '\n';
  }
  return kExitOk;
}

}  // namespace

int RunSources(const SourcesOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err) {
  if (!options.image.empty()) return RunImagePartitions(options, out, err);
  const std::vector<DiskEntry> disks = ListPhysicalDisks(env.discovery);
  const std::vector<PartitionEntry> partitions = ListLogicalDrives(disks, env.discovery);

  if (options.json) {
    nlohmann::json doc{{"disks", nlohmann::json::array()}, {"partitions", nlohmann::json::array()}};
    for (const DiskEntry& d : disks) doc["disks"].push_back(DiskJson(d));
    for (const PartitionEntry& p : partitions) doc["partitions"].push_back(PartitionJson(p));
    // Labels are bytes from the disk: invalid UTF-8 is replaced, never an exception.
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kExitOk;
  }

  // The menu, in its order: image files, a separator, the disks, a separator, the
  // partitions (each followed by its size and file system).
  out << WithGloss(Text(TextId::kOpenImageTitle)) << "\n-\n";
  for (const DiskEntry& d : disks) {
    out << d.caption << "  (" << Gloss(d.removable ? TextId::kRemovableStorage : TextId::kLocalDisk)
        << ' ' << d.number << ")\n";
  }
  out << "-\n";
  for (const PartitionEntry& p : partitions) {
    out << p.caption << ' ' << SizeText(p.sectors) << "  " << FileSystemText(p.volume) << "  ("
        << Gloss(TextId::kLogicalPartition) << ")\n";
  }
  return kExitOk;
}

void AddSourcesCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<SourcesOptions>();
  CLI::App* cmd = app.add_subcommand("sources", "List the disks and partitions to recover from");
  cmd->add_option("--image", options->image,
                  "List the partitions of this whole-disk image instead (for --partition N)")
      ->type_name("FILE");
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  cmd->callback(
      [&run, options] { run.exitCode = RunSources(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
