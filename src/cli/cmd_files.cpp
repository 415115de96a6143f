// `ravelin files ROWS (--content FILE | --source SOURCE [--partition-image | --disk-image])
// [--json]`: opens a saved scan and prints the database files it found, one per header
// fragment, as tab III lists them: number, name (with the size the file's header gives),
// the header fragment's size and start sector, and the log sequence number of its page 0,
// by which of several copies of one file the newest can be told.
#include <CLI/CLI.hpp>
#include <array>
#include <nlohmann/json.hpp>

#include "analysis/file_identification.h"
#include "catalogue/list_operations.h"
#include "catalogue/update_info.h"
#include "cli/commands.h"
#include "cli/glosses.h"
#include "cli/recovery.h"
#include "cli/saved_scan.h"
#include "cli/terminal_ui.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
int RunFiles(const FilesOptions& options, const CliEnv& env, std::ostream& out, std::ostream& err) {
  TerminalUi ui(options.json ? err : out, err, env.in);
  Workspace ws(ui, env.opener);
  if (!OpenFileList(ws, env, options.rows, options.content, options.source, options.force, err))
    return kExitBadUsage;

  nlohmann::json files = nlohmann::json::array();
  if (!options.json) {
    for (const std::string_view caption : {"序号", "文件名", "碎片大小(KB)", "开始扇区"})
      out << GlossedCaption(caption) << '\t';
    out << "LSN\n";
  }
  for (const ReportRow& row : ws.ListView3().Rows()) {
    const std::optional<std::string> lsn = PageZeroLsn(ws, row);
    if (!options.json) {
      out << row.Cell(file_column::kPosition) << '\t' << WithGloss(row.Cell(file_column::kName))
          << '\t' << row.Cell(file_column::kSizeKB) << '\t' << row.Cell(file_column::kStartSector)
          << '\t' << lsn.value_or("read disk error") << '\n';
      continue;
    }
    files.push_back({{"number", CellNumber(row, file_column::kPosition)},
                     {"name", row.Cell(file_column::kName)},
                     {"message", MessageJson(row.Cell(file_column::kName))},
                     {"size_kb", CellNumber(row, file_column::kSizeKB)},
                     {"start_page", CellNumber(row, file_column::kStartPage)},
                     {"end_page", CellNumber(row, file_column::kEndPage)},
                     {"start_sector", CellNumber(row, file_column::kStartSector)},
                     {"end_sector", CellNumber(row, file_column::kEndSector)},
                     {"lsn", lsn ? nlohmann::json(*lsn) : nlohmann::json(nullptr)}});
  }
  if (options.json) {
    const nlohmann::json doc = {{"count", files.size()}, {"files", std::move(files)}};
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }
  return kExitOk;
}

void AddFilesCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<FilesOptions>();
  CLI::App* cmd = app.add_subcommand(
      "files", "List the database files a saved scan found (the list of tab III)");
  AddSavedScanArgs(*cmd, options->rows, options->content, options->source, options->force);
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  cmd->callback([&run, options] { run.exitCode = RunFiles(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
