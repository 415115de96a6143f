#include "cli/source_choice.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <system_error>

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

}  // namespace

CLI::Option* AddSourceArgs(CLI::App& cmd, SourceArgs& args, const std::string& name) {
  CLI::Option* source = cmd.add_option(
      name, args.source, "Device node or name of a listed disk or partition, or an image file");
  const bool positional = name.rfind("-", 0) != 0;
  if (positional) source->required();
  CLI::Option* part = cmd.add_flag("--partition-image", args.partitionImage,
                                   "The image file holds one partition (a file system)");
  CLI::Option* disk =
      cmd.add_flag("--disk-image", args.diskImage, "The image file holds a whole disk");
  part->excludes(disk);
  if (!positional) {
    part->needs(source);
    disk->needs(source);
  }
  return source;
}

Selection ChooseSource(Workspace& ws, TerminalUi& ui, const CliEnv& env, const SourceArgs& args,
                       std::ostream& err) {
  if (args.partitionImage) ui.SetAnswer(std::string(kImageKindQuestion), true);
  if (args.diskImage) ui.SetAnswer(std::string(kImageKindQuestion), false);
  ListDataSources(ws, env.discovery);
  if (const DiskEntry* disk = FindEntry(ws.DiskCaptions, args.source))
    return PhysicalDiskClick(ws, *disk);
  if (const PartitionEntry* part = FindEntry(ws.PartitionCaptions, args.source))
    return PartitionClick(ws, *part);
  if (const auto why = NotAnImage(args.source)) {
    err << *why << '\n';
    return Selection::kRefused;
  }
  ui.QueueDialogAnswer(args.source);
  return N7Click(ws);
}

}  // namespace ravelin::cli
