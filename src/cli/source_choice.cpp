#include "cli/source_choice.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <system_error>

#include "cli/option_checks.h"
#include "datasource/partition_table.h"

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

// `what` + source + `after`, appended in place: GCC 12 warns (-Wrestrict, a false alarm)
// on literal + string + literal chains once they are inlined.
std::string Say(std::string_view what, const std::string& source, std::string_view after = {}) {
  std::string text;
  text.reserve(what.size() + source.size() + after.size());
  text.append(what).append(source).append(after);
  return text;
}

// Why SOURCE cannot be an image file, or nothing when it can.
std::optional<std::string> NotAnImage(const std::string& source) {
  std::error_code ec;
  const fs::file_status st = fs::status(source, ec);
  if (ec || !fs::exists(st)) {
    return Say("未知的数据源(unknown source): ", source,
               " 既不是列出的磁盘或分区，也不是文件 (see `ravelin sources`)");
  }
  if (fs::is_directory(st)) return Say("数据源是一个目录(is a directory): ", source);
  if (fs::is_block_file(st)) {
    return Say("块设备不在数据源列表中(not a listed disk or partition): ", source,
               " (see `ravelin sources`)");
  }
  if (!fs::is_regular_file(st)) return Say("不是镜像文件(not a regular file): ", source);
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
  CLI::Option* partition =
      cmd.add_option("--partition", args.partition,
                     "Partition N of a whole-disk image (see `ravelin sources --image FILE`)")
          ->type_name("N")
          ->check(IntegerIn(1, 65535));
  part->excludes(disk);
  partition->excludes(part);
  partition->excludes(disk);
  if (!positional) {
    part->needs(source);
    disk->needs(source);
    partition->needs(source);
  }
  return source;
}

std::optional<std::int64_t> ClusterSizeOf(const SourceChoice& chosen) {
  if (!chosen.range) return std::nullopt;
  return chosen.range->sectorsPerCluster;
}

bool DetectAndReportImageKind(const std::string& path, const CliEnv& env, std::ostream& err) {
  const ImageKindGuess guess = DetectImageKind(path, env.opener);
  const bool partition = guess.kind == ImageKind::kPartitionImage;
  err << "镜像类型(image kind): " << (partition ? "partition image" : "whole-disk image") << " ("
      << guess.reason << " in sector 0; --partition-image or --disk-image to say otherwise)\n";
  return partition;
}

SourceChoice ChooseSource(Workspace& ws, const CliEnv& env, const SourceArgs& args,
                          std::ostream& err) {
  ListDataSources(ws, env.discovery);
  if (const DiskEntry* disk = FindEntry(ws.DiskCaptions(), args.source)) {
    if (args.partition) return ChooseImagePartitionSource(ws, disk->devicePath, *args.partition);
    return ChooseDiskSource(ws, *disk);
  }
  if (const PartitionEntry* part = FindEntry(ws.PartitionCaptions(), args.source))
    return ChoosePartitionSource(ws, *part);
  if (const auto why = NotAnImage(args.source)) {
    err << *why << '\n';
    return {};
  }
  if (args.partition) return ChooseImagePartitionSource(ws, args.source, *args.partition);
  // Opened first, so an image that cannot be read (a container its library refuses) is
  // refused before anything is said of its kind.
  const SourceChoice opened = OpenImageSource(ws, args.source);
  if (!opened.Chosen()) return opened;
  bool partitionImage = args.partitionImage;
  if (args.partitionImage) {
    // A partition table in front of the file system would be taken for a boot sector.
    const ImageKindGuess guess = DetectImageKind(args.source, env.opener);
    const auto table = ReadPartitionTable(args.source);
    if (guess.kind == ImageKind::kWholeDiskImage && table && !table->partitions.empty()) {
      err << "--partition-image: " << args.source << " 有分区表(holds a " << guess.reason
          << " partition table): choose one of its partitions with --partition N (see "
             "`ravelin sources --image "
          << args.source << "`)\n";
      return {};
    }
  } else if (!args.diskImage) {
    partitionImage = DetectAndReportImageKind(args.source, env, err);
  }
  return TakeImageAs(ws, args.source, partitionImage);
}

}  // namespace ravelin::cli
