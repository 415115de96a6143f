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
bool OpenFileList(Workspace& ws, const CliEnv& env, const std::string& rows,
                  const std::string& content, const SourceArgs& source, bool force,
                  std::ostream& err);

// False, after saying so on `err`, when the content file opened in `ws` was not saved with
// its rows (its size says so) and `force` is not set: every page read from it would be
// read from the wrong place.
bool ContentUsable(const Workspace& ws, const std::string& content, bool force, std::ostream& err);

// Adds ROWS, --content, --force and the source options to a sub-command.
void AddSavedScanArgs(CLI::App& cmd, std::string& rows, std::string& content, SourceArgs& source,
                      bool& force);
// Adds --force to a sub-command that takes --content.
void AddForceOption(CLI::App& cmd, bool& force);

}  // namespace ravelin::cli
