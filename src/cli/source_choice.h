// Choosing SOURCE on the command line as the window's data-source menu chooses: a listed disk
// or partition (device node or kernel name), else an image file, whose kind comes from
// --partition-image / --disk-image or, without either, from its sector 0 (printed, never
// asked). `--partition N` chooses partition N of a whole-disk image (or of a disk) as a
// partition of a real disk is chosen.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_ui.h"
#include "commands/datasource_menu.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace ravelin::cli {

// Adds the source (positional SOURCE, or an option such as "--source"), the two image-kind
// flags and --partition N to a sub-command. Returns the source's option.
CLI::Option* AddSourceArgs(CLI::App& cmd, SourceArgs& args, const std::string& name = "SOURCE");

// Lists the sources into `ws` and chooses `args.source`. When it is neither a listed disk or
// partition nor a readable image file, says why on `err` and returns a refused choice.
SourceChoice ChooseSource(Workspace& ws, const CliEnv& env, const SourceArgs& args,
                          std::ostream& err);

// The cluster size saved rows are read with when they come from the chosen source: the
// choice's, or none (the content file's trailer decides) when it set no scan options.
std::optional<std::int64_t> ClusterSizeOf(const SourceChoice& chosen);

// The kind of the image at `path` as sector 0 tells it, said on `err` ("镜像类型(image
// kind): ..."); true for a partition image.
bool DetectAndReportImageKind(const std::string& path, const CliEnv& env, std::ostream& err);

}  // namespace ravelin::cli
