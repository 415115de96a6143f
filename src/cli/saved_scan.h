// Opening a saved scan for the commands that work on tab III: the row file, and the pages
// from the content file or from the source the scan was made on; then the database files
// listed as tab III lists them.
#pragma once

#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_ui.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// Opens ROWS with its pages from `content` or from `source` (exactly one given), and visits
// tab III. Says why on `err` and returns false when that cannot be done or the scan found no
// database file.
bool OpenFileList(Workspace& ws, TerminalUi& ui, const CliEnv& env, const std::string& rows,
                  const std::string& content, const SourceArgs& source, std::ostream& err);

// Adds ROWS, --content and the source options to a sub-command.
void AddSavedScanArgs(CLI::App& cmd, std::string& rows, std::string& content, SourceArgs& source);

}  // namespace ravelin::cli
