#include "cli/saved_scan.h"

#include <CLI/CLI.hpp>

#include "cli/source_choice.h"
#include "commands/scan_info_commands.h"
#include "commands/session.h"

namespace ravelin::cli {

bool ContentUsable(const Workspace& ws, const std::string& content, bool force, std::ostream& err) {
  if (force || ContentMatchesRows(ws)) return true;
  err << "--content: " << content
      << " 与扫描信息不符(was not saved with these rows; --force uses it anyway)\n";
  return false;
}

void AddForceOption(CLI::App& cmd, bool& force) {
  cmd.add_flag("--force", force,
               "Use a content file even when its size does not match the rows, and replace "
               "existing output files");
}

bool OpenFileList(Workspace& ws, const CliEnv& env, const std::string& rows,
                  const std::string& content, const SourceArgs& source, bool force,
                  std::ostream& err) {
  if (content.empty() == source.source.empty()) {
    err << "需要 --content 或 --source 之一 (the pages come from exactly one of the content file "
           "or the source)\n";
    return false;
  }
  // The source's cluster size, or the content file's trailer's.
  std::optional<std::int64_t> sectorsPerCluster;
  if (!source.source.empty()) {
    const SourceChoice chosen = ChooseSource(ws, env, source, err);
    if (!chosen.Chosen()) return false;
    sectorsPerCluster = ClusterSizeOf(chosen);
  }
  const std::optional<std::string> contentPath =
      content.empty() ? std::nullopt : std::optional(content);
  if (!LoadScanInfo(ws, rows, contentPath, sectorsPerCluster)) {
    err << "无法打开扫描信息(cannot open the saved scan): " << rows << '\n';
    return false;
  }
  if (!ContentUsable(ws, content, force, err)) return false;
  Session(ws).ListFiles();
  if (ws.ListView3().Empty()) {
    err << "扫描信息中没有数据库文件(no database file in " << rows
        << ": no fragment starts at page 0)\n";
    return false;
  }
  return true;
}

void AddSavedScanArgs(CLI::App& cmd, std::string& rows, std::string& content, SourceArgs& source,
                      bool& force) {
  // Existence is checked when the files are opened, so that a missing one is bad usage (2).
  cmd.add_option("ROWS", rows, "Scan-info row file")->required();
  CLI::Option* contentOption =
      cmd.add_option("--content", content, "Fragment content file saved with the rows");
  CLI::Option* sourceOption = AddSourceArgs(cmd, source, "--source");
  contentOption->excludes(sourceOption);
  AddForceOption(cmd, force);
}

}  // namespace ravelin::cli
