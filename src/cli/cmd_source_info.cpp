// `ravelin source-info SOURCE [--partition-image | --disk-image] [--json]`: chooses SOURCE
// as the window's data-source menu would and shows the Data source record and the tab I
// options the choice sets. SOURCE is a listed disk or partition (device node or kernel
// name) or an image file.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "cli/commands.h"
#include "cli/terminal_ui.h"
#include "workspace/source_selection.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

bool SamePath(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(a, ea);
  const fs::path cb = fs::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

template <typename Entry>
const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& source) {
  for (const Entry& e : entries) {
    if (source == e.name || SamePath(source, e.devicePath)) return &e;
  }
  return nullptr;
}

// Why SOURCE cannot be an image file, or nothing when it can.
std::optional<std::string> NotAnImage(const std::string& source) {
  std::error_code ec;
  const fs::file_status st = fs::status(source, ec);
  if (ec || !fs::exists(st)) {
    return "未知的数据源(unknown source): " + source +
           " 既不是列出的磁盘或分区，也不是文件 (see `ravelin sources`)";
  }
  if (fs::is_directory(st)) return "数据源是一个目录(is a directory): " + source;
  if (fs::is_block_file(st)) {
    return "块设备不在数据源列表中(not a listed disk or partition): " + source +
           " (see `ravelin sources`)";
  }
  if (!fs::is_regular_file(st)) return "不是镜像文件(not a regular file): " + source;
  return std::nullopt;
}

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
  if (options.partitionImage) ui.SetAnswer(std::string(kImageKindQuestion), true);
  if (options.diskImage) ui.SetAnswer(std::string(kImageKindQuestion), false);
  Workspace ws(ui, env.opener);
  ListDataSources(ws, env.discovery);

  Selection result = Selection::kRefused;
  if (const DiskEntry* disk = FindEntry(ws.DiskCaptions, options.source)) {
    result = PhysicalDiskClick(ws, *disk);
  } else if (const PartitionEntry* part = FindEntry(ws.PartitionCaptions, options.source)) {
    result = PartitionClick(ws, *part);
  } else if (const auto why = NotAnImage(options.source)) {
    err << *why << '\n';
    return kExitBadSource;
  } else {
    ui.QueueDialogAnswer(options.source);
    result = N7Click(ws);
  }
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
  cmd->add_option("SOURCE", options->source,
                  "Device node or name of a listed disk or partition, or an image file")
      ->required();
  CLI::Option* part = cmd->add_flag("--partition-image", options->partitionImage,
                                    "The image file holds one partition (a file system)");
  CLI::Option* disk =
      cmd->add_flag("--disk-image", options->diskImage, "The image file holds a whole disk");
  part->excludes(disk);
  cmd->add_flag("--json", options->json, "Write the record and options as JSON");
  cmd->callback(
      [&run, options] { run.exitCode = RunSourceInfo(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
