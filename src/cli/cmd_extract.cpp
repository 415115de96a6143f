// `ravelin extract ROWS --fragments N,M,... (--combined FILE [--check-order] | --dir DIR)
// [--content FILE | --source SOURCE [--partition-image | --disk-image]] [--sort COLUMN]`:
// opens a saved scan, ticks the fragments numbered N, M, ... in column 序号 of list II, and
// extracts them as "提取勾选碎片到文件" does: one combined file laid out by page number, or
// one DIR/<start sector>.hex per fragment. Pages come from the saved content file or from
// the data source the scan was made on.
#include <CLI/CLI.hpp>
#include <unordered_map>

#include "catalogue/extraction.h"
#include "catalogue/list_operations.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/output_checks.h"
#include "cli/saved_scan.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"
#include "commands/popup_menu1.h"
#include "commands/scan_info_commands.h"
#include "commands/tab2_commands.h"
#include "common/messages.h"
#include "common/text.h"

namespace ravelin::cli {

namespace {

// Ticks the rows of list II whose 序号 `selection` names, in one pass over the list: 序号
// stays the FragmentList position whatever the list shows. Says which number is missing
// and returns false when a single number names no row.
bool TickFragments(Workspace& ws, const FragmentSelection& selection, std::ostream& err) {
  // No job runs: the lock is only what every change of list II takes.
  MutexLock lock(ws.tableLock);
  ReportList& list = ws.LockedList(ws.ListView2());
  std::unordered_map<std::int64_t, std::size_t> byNumber;
  byNumber.reserve(list.Count());
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (const auto n = ParseInteger<std::int64_t>(list.Row(i).Cell(list_column::kPosition)))
      byNumber.emplace(*n, i);
  }
  if (selection.all) {
    list.CheckAll(true);
    return true;
  }
  for (const auto& [from, to] : selection.ranges) {
    if (from == to) {
      const auto it = byNumber.find(from);
      if (it == byNumber.end()) {
        err << "--fragments: 碎片 " << from << " 不在列表中(fragment " << from
            << " is not in the list of " << ws.fragments().Count()
            << " fragments, or is hidden by its saved filter)\n";
        return false;
      }
      list.Edit(it->second).checked = true;
      continue;
    }
    // A range ticks the numbers of it that exist, in one pass over the rows.
    for (const auto& [number, row] : byNumber) {
      if (number >= from && number <= to) list.Edit(row).checked = true;
    }
  }
  return true;
}

}  // namespace

int RunExtract(const ExtractOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err) {
  TerminalUi ui(out, err, env.in);
  Workspace ws(ui, env.opener);

  std::optional<std::size_t> sortColumn;
  if (!SortColumnOption(options.sort, sortColumn, err)) return kExitBadUsage;
  const auto selection = ParseFragmentSelection(options.fragments, err);
  if (!selection) return kExitBadUsage;
  // The combined file is laid out by page number: its rows go in start-page order unless
  // --sort names another column.
  if (!sortColumn && !options.combined.empty()) sortColumn = list_column::kStartPage;
  // The source's cluster size, or the content file's trailer's.
  std::optional<std::int64_t> sectorsPerCluster;
  if (!options.source.source.empty()) {
    const SourceChoice chosen = ChooseSource(ws, env, options.source, err);
    if (!chosen.Chosen()) return kExitBadSource;
    sectorsPerCluster = ClusterSizeOf(chosen);
  }
  const std::optional<std::string> content =
      options.content.empty() ? std::nullopt : std::optional(options.content);
  if (!LoadScanInfo(ws, options.rows, content, sectorsPerCluster)) return kExitBadUsage;
  if (!ContentUsable(ws, options.content, options.force, err)) return kExitBadUsage;

  if (!TickFragments(ws, *selection, err)) return kExitBadUsage;
  if (sortColumn) SortFragmentList(ws, *sortColumn);

  const std::vector<ExtractRow> rows = TickedRows(ws.ListView2());
  // Nothing is replaced unless --force says so, and nothing is written before all is checked.
  const std::vector<std::string> inputs = {options.rows, options.content};
  if (!options.combined.empty()) {
    if (!CheckNewFile("--combined", options.combined, ws.source().SourcePath, inputs, options.force,
                      err))
      return kExitBadUsage;
  } else {
    for (const ExtractRow& row : rows) {
      if (!CheckNewFile("--dir", FragmentFileName(options.dir, row), ws.source().SourcePath, inputs,
                        options.force, err))
        return kExitBadUsage;
    }
  }
  int result = 0;
  if (!options.combined.empty()) {
    if (options.checkOrder) {
      if (const auto bad = FirstOutOfOrder(rows)) {
        ws.ui().ShowMessage("error,pageid not connectted:" + std::to_string(*bad));
        return kExitFailed;
      }
    }
    result = ExtractCombined(ws, rows, options.combined);
  } else {
    result = ExtractFragmentFiles(ws, rows, options.dir);
  }
  if (result == kExtractRefused) return kExitBadUsage;
  if (result != 0) return kExitFailed;
  ws.ui().ShowMessage(Text(TextId::kSaved));
  return kExitOk;
}

void AddExtractCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd = app.add_subcommand(
      "extract", "Extract fragments of a saved scan to one combined file or one file each");
  cmd->add_option("ROWS", options->rows, "Scan-info row file")
      ->required()
      ->check(CLI::ExistingFile);
  cmd->add_option("--fragments", options->fragments,
                  "Fragments by number (column 序号): numbers and ranges such as 1-5,9,12- "
                  "or all")
      ->required()
      ->delimiter(',')
      ->type_name("LIST");
  CLI::Option* combined = cmd->add_option(
      "--combined", options->combined,
      "One file: fragments in start-page order (unless --sort), zero pages in the gaps");
  CLI::Option* check = cmd->add_flag(
      "--check-order", options->checkOrder,
      "Refuse when a fragment starts before the one before it ends (combined file only)");
  CLI::Option* dir =
      cmd->add_option("--dir", options->dir, "One file per fragment: DIR/<start sector>.hex")
          ->check(CLI::ExistingDirectory);
  combined->excludes(dir);
  check->needs(combined);
  CLI::Option* content =
      cmd->add_option("--content", options->content, "Fragment content file saved with the rows")
          ->check(CLI::ExistingFile);
  CLI::Option* source = AddSourceArgs(*cmd, options->source, "--source");
  content->excludes(source);
  cmd->add_option("--sort", options->sort,
                  "Extract in the order of this column (default: start-page for --combined, "
                  "序号 for --dir)");
  AddForceOption(*cmd, options->force);
  cmd->callback([&run, options, combined, dir, content, source] {
    if (combined->count() == 0 && dir->count() == 0) {
      run.err << "需要 --combined 或 --dir (one of --combined FILE or --dir DIR is required)\n";
      run.exitCode = kExitBadUsage;
      return;
    }
    if (content->count() == 0 && source->count() == 0) {
      run.err << "需要 --content 或 --source (pages come from the content file or the source)\n";
      run.exitCode = kExitBadUsage;
      return;
    }
    run.exitCode = RunExtract(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
