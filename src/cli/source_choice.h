// Choosing SOURCE on the command line as the window's data-source menu would: a listed disk
// or partition (device node or kernel name), else an image file, whose kind comes from
// --partition-image / --disk-image or, without either, from the question on the terminal.
#pragma once

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

// Adds the source (positional SOURCE, or an option such as "--source") and the two
// image-kind flags to a sub-command. Returns the source's option.
CLI::Option* AddSourceArgs(CLI::App& cmd, SourceArgs& args, const std::string& name = "SOURCE");

// Lists the sources into `ws` and chooses `args.source`. When it is neither a listed disk or
// partition nor a readable image file, says why on `err` and returns kRefused.
Selection ChooseSource(Workspace& ws, TerminalUi& ui, const CliEnv& env, const SourceArgs& args,
                       std::ostream& err);

}  // namespace ravelin::cli
