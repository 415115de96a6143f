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
    out << "  " << name << std::string(name.size() < 20 ? 20 - name.size() : 1, ' ') << value
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
  row("DataStartSector", std::to_string(s.DataStartSector));
  row("SectorsPerCluster", std::to_string(s.SectorsPerCluster));
  row("FatReservedSectors", std::to_string(s.FatReservedSectors));
  row("FatSectorsPerFat", std::to_string(s.FatSectorsPerFat));
  row("MftStartCluster", std::to_string(s.MftStartCluster));
  out << "扫描选项(scan options)\n";
  row("edtDataStr", t.edtDataStr);
  row("edtbegin", t.edtbegin);
  row("edtend", t.edtend);
  row("edtsecs", t.edtsecs);
  row("chkfreespace", YesNo(t.chkfreespace) + (t.chkfreespaceEnabled ? "" : " (disabled)"));
  row("label5", t.label5);
}

nlohmann::json ToJson(const Workspace& ws) {
  const DataSource& s = ws.source;
  const Tab1Controls& t = ws.controls.tab1;
  return {{"source",
           {{"SourceChosen", s.SourceChosen},
            {"IsPartition", s.IsPartition},
            {"DriveNumber", s.DriveNumber},
            {"SourcePath", s.SourcePath},
            {"TotalSectors", s.TotalSectors},
            {"SectorLimit", s.SectorLimit},
            {"BytesPerSector", s.BytesPerSector},
            {"HasFileSystem", s.HasFileSystem},
            {"FileSystemName", s.FileSystemName},
            {"DataStartSector", s.DataStartSector},
            {"SectorsPerCluster", s.SectorsPerCluster},
            {"FatReservedSectors", s.FatReservedSectors},
            {"FatSectorsPerFat", s.FatSectorsPerFat},
            {"MftStartCluster", s.MftStartCluster}}},
          {"options",
           {{"edtDataStr", t.edtDataStr},
            {"edtbegin", t.edtbegin},
            {"edtend", t.edtend},
            {"edtsecs", t.edtsecs},
            {"chkfreespace", t.chkfreespace},
            {"chkfreespaceEnabled", t.chkfreespaceEnabled},
            {"label5", t.label5}}}};
}

}  // namespace

int RunSourceInfo(const SourceInfoOptions& options, const CliEnv& env, std::ostream& out,
                  std::ostream& err) {
  // With --json, stdout carries the document alone: memo lines go to stderr.
  TerminalUi ui(options.json ? err : out, err, env.in);
  Workspace ws(ui, env.opener);
  const Selection result =
      ChooseSource(ws, ui, env, {options.source, options.partitionImage, options.diskImage}, err);
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
    run.exitCode = RunSourceInfo(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
