// `ravelin sources [--json]`: the data-source menu as the window shows it, with each
// partition's size and file system.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "commands/datasource_menu.h"
#include "common/bytes.h"

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
          {"size", SizeText(d.sectors)},
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
          {"size", SizeText(p.sectors)},
          {"label", p.volume.label},
          {"fileSystem", p.volume.type},
          {"fileSystemVersion", p.volume.version},
          {"text", p.text},
          {"caption", p.caption}};
}

}  // namespace

int RunSources(const SourcesOptions& options, const CliEnv& env, std::ostream& out, std::ostream&) {
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
  out << kOpenImageTitle << "\n-\n";
  for (const DiskEntry& d : disks) out << d.caption << '\n';
  out << "-\n";
  for (const PartitionEntry& p : partitions) {
    out << p.caption << ' ' << SizeText(p.sectors) << "  " << FileSystemText(p.volume) << '\n';
  }
  return kExitOk;
}

void AddSourcesCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<SourcesOptions>();
  CLI::App* cmd = app.add_subcommand("sources", "List the disks and partitions to recover from");
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  cmd->callback(
      [&run, options] { run.exitCode = RunSources(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
