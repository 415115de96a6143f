// `ravelin source-info SOURCE [--partition-image | --disk-image] [--json]`: chooses SOURCE
// as the window's data-source menu would and shows the Data source record and the tab I
// options the choice sets. SOURCE is a listed disk or partition (device node or kernel
// name) or an image file.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"
#include "datasource/container_device.h"
#include "datasource/discovery.h"

namespace ravelin::cli {
namespace {

std::string YesNo(bool v) { return v ? "true" : "false"; }

// The scan options a choice sets as tab I's edits would show them: blank while the choice
// leaves them as they were (they start blank).
struct OptionTexts {
  std::string begin, end, sectorsPerCluster, fileSystem;
};

OptionTexts TextsOf(const SourceChoice& chosen) {
  if (!chosen.range) return {};
  const SourceScanRange& r = *chosen.range;
  return {std::to_string(r.begin), std::to_string(r.end), std::to_string(r.sectorsPerCluster),
          r.fileSystemName};
}

// The container an image file is, for an image read through its path; nothing for a raw
// image or a partition read through its own device.
std::optional<ContainerInfo> ContainerOfSource(const Workspace& ws, const CliEnv& env) {
  if (ws.source().IsPartition) return std::nullopt;
  return ContainerOf(ws.source().SourcePath, env.opener);
}

// "VHDX (dynamic), guest disk 16384 sectors (8.00 MB)", or "none (raw)".
std::string ContainerText(const std::optional<ContainerInfo>& container) {
  if (!container) return "none (raw)";
  const std::uint64_t sectors = container->guestBytes / kSectorSize;
  std::string text(ContainerKindName(container->kind));
  if (!container->detail.empty()) text += " (" + container->detail + ")";
  return text + ", guest disk " + std::to_string(sectors) + " sectors (" + SizeText(sectors) + ")";
}

void PrintText(const Workspace& ws, const SourceChoice& chosen,
               const std::optional<ContainerInfo>& container, std::ostream& out) {
  const DataSource& s = ws.source();
  const OptionTexts t = TextsOf(chosen);
  auto row = [&out](std::string_view name, const std::string& value) {
    out << "  " << name << std::string(name.size() < 24 ? 24 - name.size() : 1, ' ') << value
        << '\n';
  };
  out << "数据源(Data source)\n";
  row("source chosen", YesNo(s.SourceChosen));
  row("partition device", YesNo(s.IsPartition));
  row("drive number", std::to_string(s.DriveNumber));
  row("path", s.SourcePath);
  row("container", ContainerText(container));
  row("total sectors", std::to_string(s.TotalSectors));
  row("reads end at sector", std::to_string(s.SectorLimit));
  row("bytes per sector", std::to_string(s.BytesPerSector));
  row("file system found", YesNo(s.HasFileSystem));
  row("file system", s.FileSystemName);
  row("file system starts at", std::to_string(s.FileSystemStartSector));
  row("data area starts at", std::to_string(s.DataStartSector));
  row("sectors per cluster", std::to_string(s.SectorsPerCluster));
  row("FAT reserved sectors", std::to_string(s.FatReservedSectors));
  row("sectors per FAT", std::to_string(s.FatSectorsPerFat));
  row("MFT starts at cluster", std::to_string(s.MftStartCluster));
  out << "扫描选项(scan options)\n";
  row("source", chosen.caption);
  row("--begin", t.begin);
  row("--end", t.end);
  row("--sectors-per-cluster", t.sectorsPerCluster);
  row("--free-space-only",
      YesNo(chosen.freeSpaceOnly) +
          (chosen.freeSpaceAvailable ? "" : " (not available: no file system)"));
  row("file system", t.fileSystem);
}

nlohmann::json ContainerJson(const std::optional<ContainerInfo>& container) {
  if (!container) return nullptr;
  return {{"kind", ContainerKindName(container->kind)},
          {"detail", container->detail},
          {"guest_bytes", container->guestBytes},
          {"guest_sectors", container->guestBytes / kSectorSize}};
}

nlohmann::json ToJson(const Workspace& ws, const SourceChoice& chosen,
                      const std::optional<ContainerInfo>& container) {
  const DataSource& s = ws.source();
  const OptionTexts t = TextsOf(chosen);
  // snake_case keys, as in every document of the command line; the control names of the
  // window are kept as the values' names in brackets in the text output only.
  return {{"source",
           {{"source_chosen", s.SourceChosen},
            {"is_partition", s.IsPartition},
            {"drive_number", s.DriveNumber},
            {"source_path", s.SourcePath},
            {"total_sectors", s.TotalSectors},
            {"sector_limit", s.SectorLimit},
            {"bytes_per_sector", s.BytesPerSector},
            {"has_file_system", s.HasFileSystem},
            {"file_system_name", s.FileSystemName},
            {"file_system_start_sector", s.FileSystemStartSector},
            {"data_start_sector", s.DataStartSector},
            {"sectors_per_cluster", s.SectorsPerCluster},
            {"fat_reserved_sectors", s.FatReservedSectors},
            {"fat_sectors_per_fat", s.FatSectorsPerFat},
            {"mft_start_cluster", s.MftStartCluster}}},
          {"container", ContainerJson(container)},
          {"options",
           {{"source_text", chosen.caption},
            {"begin", t.begin},
            {"end", t.end},
            {"sectors_per_cluster", t.sectorsPerCluster},
            {"free_space_only", chosen.freeSpaceOnly},
            {"free_space_only_enabled", chosen.freeSpaceAvailable},
            {"file_system_label", t.fileSystem}}}};
}

}  // namespace

int RunSourceInfo(const SourceInfoOptions& options, const CliEnv& env, std::ostream& out,
                  std::ostream& err) {
  // With --json, stdout carries the document alone: memo lines go to stderr.
  TerminalUi ui(options.json ? err : out, err, env.in);
  Workspace ws(ui, env.opener);
  const SourceChoice chosen = ChooseSource(
      ws, env, {options.source, options.partitionImage, options.diskImage, options.partition}, err);
  if (!chosen.Chosen()) return kExitBadSource;

  const std::optional<ContainerInfo> container = ContainerOfSource(ws, env);
  if (options.json) {
    out << ToJson(ws, chosen, container)
               .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
        << '\n';
  } else {
    PrintText(ws, chosen, container, out);
  }
  return chosen.selection == Selection::kChosen ? kExitOk : kExitFailed;
}

void AddSourceInfoCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<SourceInfoOptions>();
  CLI::App* cmd = app.add_subcommand(
      "source-info", "Choose a disk, partition or image file and show what the choice sets");
  auto args = std::make_shared<SourceArgs>();
  AddSourceArgs(*cmd, *args);
  cmd->add_flag("--json", options->json, "Write the record and options as JSON");
  cmd->callback([&run, options, args] {
    options->source = args->source;
    options->partitionImage = args->partitionImage;
    options->diskImage = args->diskImage;
    options->partition = args->partition;
    run.exitCode = RunSourceInfo(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
