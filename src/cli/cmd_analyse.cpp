// `ravelin analyse ROWS (--content FILE | --source SOURCE …) --file N [--manual]
// [--sectors-per-cluster N] [--json]`: opens a saved scan, selects the N-th database file of
// tab III and runs the analysis ("分析该碎片(FILTER)"): automatic by default, as the "anlys"
// job; with --manual on the terminal, asking which fragment follows wherever several could.
// Prints the chained fragments (the Assembly list in the order it is built) and the log.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <sstream>

#include "analysis/file_identification.h"
#include "assembly/assembly_rows.h"
#include "catalogue/list_operations.h"
#include "cli/commands.h"
#include "cli/glosses.h"
#include "cli/list_output.h"
#include "cli/output_checks.h"
#include "cli/saved_scan.h"
#include "cli/terminal_ui.h"
#include "commands/session.h"
#include "commands/successor_dialog.h"
#include "commands/workspace_assembly.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

nlohmann::json AssemblyJson(const Workspace& ws) {
  // The list is built in table order from the chosen rows: row i of the list is the i-th
  // chosen row of the table.
  std::vector<std::size_t> tableRows;
  const auto& chosen = ws.fragments().FragmentChosen();
  for (std::size_t i = 0; i < chosen.size(); ++i)
    if (chosen[i] == 1) tableRows.push_back(i);
  nlohmann::json rows = nlohmann::json::array();
  for (std::size_t i = 0; i < AssemblyCount(ws); ++i) {
    nlohmann::json item = FragmentRowJson(AssemblyItem(ws, i));
    if (i < tableRows.size()) item["fragment"] = tableRows[i] + 1;  // 序号 in list II
    rows.push_back(std::move(item));
  }
  return rows;
}

}  // namespace

int RunAnalyse(const AnalyseOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err) {
  if (options.manual && env.in == nullptr) {
    err << "--manual 需要终端(--manual asks which fragment follows on the terminal, and standard "
           "input is not one)\n";
    return kExitBadUsage;
  }
  // The log is printed after the list; questions and messages go to stderr as they come.
  std::ostringstream memo;
  TerminalUi ui(memo, err, env.in);
  ui.KeepMemoVerbatim();  // the log is a report: glossed when printed as text
  Workspace ws(ui, env.opener);
  ws.SetShowsLists(false);
  if (!OpenFileList(ws, env, options.rows, options.content, options.source, options.force, err))
    return kExitBadUsage;
  const auto files = static_cast<std::int64_t>(ws.ListView3().Count());
  if (options.file < 1 || options.file > files) {
    err << "没有第 " << options.file << " 个数据库文件(no database file " << options.file
        << ": the saved scan found " << files << ", see `ravelin files`)\n";
    return kExitBadUsage;
  }
  if (!options.out.empty() && !CheckNewFile("--out", options.out, ws.source().SourcePath,
                                            {options.rows, options.content}, options.force, err))
    return kExitBadUsage;
  if (options.sectorsPerCluster) {
    ws.source().SectorsPerCluster = static_cast<std::int16_t>(*options.sectorsPerCluster);
  }

  const auto selected = static_cast<std::size_t>(options.file - 1);
  Session session(ws);
  const AnalysisRequest request = AnalysisRequestFor(ws, selected, !options.manual);
  AnalysisResult analysis;
  if (options.manual) {
    DialogSuccessorQuestion question(ws);  // asked on the terminal
    analysis = session.Analyse(request, &question);
  } else {
    analysis =
        session.AnalyseAsJob(request, [&ws] { ws.jobs().WaitIdle(std::chrono::hours(24 * 365)); });
  }
  const bool completed = analysis.Completed();
  // Tab IV, as a person goes on from there: SEARCH MORE, the sort by first page, CHECK with
  // the page account, CREATE MDF.
  bool written = options.out.empty();
  if (completed) {
    if (options.search) session.Search();
    if (options.check || !options.out.empty()) session.SortAssembly(list_column::kStartPage);
    if (options.check) {
      session.Check();
      if (CanWrite(session.Rows())) session.Account();
    }
    if (!options.out.empty() && CanWrite(session.Rows()))
      written = session.Write(options.out, /*account=*/false).Completed();
  }
  const std::vector<std::string> log = Lines(memo.str());
  if (options.json) {
    const ReportRow& file = ws.ListView3().Row(selected);
    const nlohmann::json doc = {{"file",
                                 {{"number", options.file},
                                  {"name", file.Cell(file_column::kName)},
                                  {"message", MessageJson(file.Cell(file_column::kName))},
                                  {"start_sector", CellNumber(file, file_column::kStartSector)},
                                  {"size_kb", CellNumber(file, file_column::kSizeKB)}}},
                                {"completed", completed},
                                {"file_page_count", ws.FilePageCount()},
                                {"database_file_name", ws.DatabaseFileName()},
                                {"fragments", AssemblyJson(ws)},
                                {"log", log},
                                {"log_messages", LogMessagesJson(log)}};
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    PrintList(
        ws.ListView4().Captions(), AssemblyCount(ws),
        [&ws](std::size_t i) { return AssemblyItem(ws, i); }, out);
    out << '\n';
    for (const std::string& line : log) out << WithGloss(line) << '\n';
  }
  return completed && written ? kExitOk : kExitFailed;
}

void AddAnalyseCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* cmd = app.add_subcommand(
      "analyse", "Chain the fragments of one database file of a saved scan (tab III)");
  AddSavedScanArgs(*cmd, options->rows, options->content, options->source, options->force);
  cmd->add_option("--file", options->file, "Number of the database file, as `ravelin files` lists")
      ->required();
  cmd->add_flag("--manual", options->manual,
                "Ask on the terminal which fragment follows where several could (else the "
                "nearest on disk is taken)");
  cmd->add_option("--sectors-per-cluster", options->sectorsPerCluster,
                  "Cluster size of the scanned disk, in sectors (default: as the saved scan or "
                  "the source says)");
  cmd->add_flag("--json", options->json, "Write the result as JSON");
  cmd->add_flag("--search", options->search,
                "Then search for missing fragments until a sweep finds none (SEARCH MORE)");
  cmd->add_flag("--check", options->check, "Then list the missing pages (CHECK)");
  cmd->add_option("--out", options->out, "Then write the rebuilt .mdf to this file (CREATE MDF)");
  cmd->callback(
      [&run, options] { run.exitCode = RunAnalyse(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
