// `ravelin source-info SOURCE [--partition-image | --disk-image] [--json]`: chooses SOURCE
// as the window's data-source menu would and shows the Data source record and the tab I
// options the choice sets. SOURCE is a listed disk or partition (device node or kernel
// name) or an image file.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"

namespace ravelin::cli {
namespace {

std::string YesNo(bool v) { return v ? "true" : "false"; }

void PrintText(const Workspace& ws, std::ostream& out) {
  const DataSource& s = ws.source;
  const Tab1Controls& t = ws.controls.tab1;
  auto row = [&out](std::string_view name, const std::string& value) {
    out << "  " << name << std::string(name.size() < 24 ? 24 - name.size() : 1, ' ') << value
        << '\n';
  };
  out << "数据源(Data source)\n";
  row("SourceChosen", YesNo(s.SourceChosen));
  row("IsPartition", YesNo(s.IsPartition));
  row("DriveNumber", std::to_string(s.DriveNumber));
  row("SourcePath", s.SourcePath);
  row("TotalSectors", std::to_string(s.TotalSectors));
  row("SectorLimit", std::to_string(s.SectorLimit));
  row("BytesPerSector", std::to_string(s.BytesPerSector));
  row("HasFileSystem", YesNo(s.HasFileSystem));
  row("FileSystemName", s.FileSystemName);
  row("FileSystemStartSector", std::to_string(s.FileSystemStartSector));
  row("DataStartSector", std::to_string(s.DataStartSector));
  row("SectorsPerCluster", std::to_string(s.SectorsPerCluster));
  row("FatReservedSectors", std::to_string(s.FatReservedSectors));
  row("FatSectorsPerFat", std::to_string(s.FatSectorsPerFat));
  row("MftStartCluster", std::to_string(s.MftStartCluster));
  out << "扫描选项(scan options)\n";
  row("source", t.edtDataStr);
  row("--begin", t.edtbegin);
  row("--end", t.edtend);
  row("--sectors-per-cluster", t.edtsecs);
  row("--free-space-only",
      YesNo(t.chkfreespace) + (t.chkfreespaceEnabled ? "" : " (not available: no file system)"));
  row("file system", t.label5);
}

nlohmann::json ToJson(const Workspace& ws) {
  const DataSource& s = ws.source;
  const Tab1Controls& t = ws.controls.tab1;
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
          {"options",
           {{"source_text", t.edtDataStr},
            {"begin", t.edtbegin},
            {"end", t.edtend},
            {"sectors_per_cluster", t.edtsecs},
            {"free_space_only", t.chkfreespace},
            {"free_space_only_enabled", t.chkfreespaceEnabled},
            {"file_system_label", t.label5}}}};
}

}  // namespace

int RunSourceInfo(const SourceInfoOptions& options, const CliEnv& env, std::ostream& out,
                  std::ostream& err) {
  // With --json, stdout carries the document alone: memo lines go to stderr.
  TerminalUi ui(options.json ? err : out, err, env.in);
  Workspace ws(ui, env.opener);
  const Selection result = ChooseSource(
      ws, ui, env, {options.source, options.partitionImage, options.diskImage, options.partition},
      err);
  if (result == Selection::kRefused || result == Selection::kCancelled) return kExitBadSource;

  if (options.json) {
    out << ToJson(ws).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    PrintText(ws, out);
  }
  return result == Selection::kChosen ? kExitOk : kExitFailed;
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
