// `ravelin fragments ROWS [--content FILE] [--filter-range LO HI | --holding-page P]
// [--sort COLUMN] [--lsn] [--json]`: opens a saved scan (the row file, and the content file
// when given) and prints list II as the window shows it: filtered, sorted, and with the
// update information appended to the memo of page-0 rows when --lsn is given.
#include <CLI/CLI.hpp>

#include "catalogue/fragment_rows.h"
#include "catalogue/list_operations.h"
#include "catalogue/update_info.h"
#include "cli/commands.h"
#include "cli/list_output.h"
#include "cli/saved_scan.h"
#include "cli/terminal_ui.h"
#include "commands/popup_menu1.h"
#include "commands/scan_info_commands.h"
#include "commands/tab2_commands.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

struct ColumnName {
  const char* english;
  std::size_t column;
};
constexpr ColumnName kColumnNames[] = {
    {"position", list_column::kPosition},    {"size", list_column::kSizeKB},
    {"start-page", list_column::kStartPage}, {"end-page", list_column::kEndPage},
    {"remark", list_column::kRemark},        {"start-sector", list_column::kStartSector},
    {"end-sector", list_column::kEndSector}};

}  // namespace

std::optional<std::size_t> FragmentListColumn(const std::string& text) {
  if (const auto n = ParseInteger<std::int64_t>(text)) {
    if (*n >= 0 && *n <= static_cast<std::int64_t>(list_column::kEndSector))
      return static_cast<std::size_t>(*n);
    return std::nullopt;
  }
  const ReportList captions = MakeFragmentListView();
  for (std::size_t c = 0; c < captions.ColumnCount(); ++c)
    if (captions.Captions()[c] == text) return c;
  for (const ColumnName& name : kColumnNames)
    if (text == name.english) return name.column;
  return std::nullopt;
}

bool SortColumnOption(const std::string& sort, std::optional<std::size_t>& column,
                      std::ostream& err) {
  column.reset();
  if (sort.empty()) return true;
  column = FragmentListColumn(sort);
  if (!column) err << "未知的列(unknown column): " << sort << '\n';
  return column.has_value();
}

int RunFragments(const FragmentsOptions& options, const CliEnv& env, std::ostream& out,
                 std::ostream& err) {
  // With --json, stdout carries the document alone: messages and memo lines go to stderr.
  TerminalUi ui(options.json ? err : out, err, env.in);
  Workspace ws(ui, env.opener);

  std::optional<std::size_t> sortColumn;
  if (!SortColumnOption(options.sort, sortColumn, err)) return kExitBadUsage;
  const std::optional<std::string> content =
      options.content.empty() ? std::nullopt : std::optional(options.content);
  // The content file's trailer tells the cluster size.
  if (!LoadScanInfo(ws, options.rows, content, std::nullopt)) return kExitFailed;
  if (!ContentUsable(ws, options.content, options.force, err)) return kExitBadUsage;

  if (options.filterRange.size() == 2)
    ShowFragmentsStartingIn(ws, options.filterRange[0], options.filterRange[1]);
  else if (options.holdingPage)
    ShowFragmentsHolding(ws, *options.holdingPage);
  if (sortColumn) SortFragmentList(ws, *sortColumn);
  if (options.lsn && !UpdateInformation(ws)) return kExitFailed;

  PrintFragmentList(ws, out, options.json);
  return kExitOk;
}

void AddFragmentsCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<FragmentsOptions>();
  CLI::App* cmd =
      app.add_subcommand("fragments", "List the fragments of a saved scan (the list of tab II)");
  cmd->add_option("ROWS", options->rows, "Scan-info row file")
      ->required()
      ->check(CLI::ExistingFile);
  cmd->add_option("--content", options->content,
                  "Fragment content file saved with the rows (pages are read from it)")
      ->check(CLI::ExistingFile);
  CLI::Option* range = cmd->add_option("--filter-range", options->filterRange,
                                       "Only fragments whose first page p has LO <= p < HI")
                           ->expected(2)
                           ->type_name("LO HI");
  CLI::Option* holding =
      cmd->add_option("--holding-page", options->holdingPage, "Only fragments that hold page P");
  range->excludes(holding);
  cmd->add_option("--sort", options->sort,
                  "Sort by a column: 0-6, its caption, or position, size, start-page, end-page, "
                  "remark, start-sector, end-sector");
  cmd->add_flag("--lsn", options->lsn,
                "Append the log sequence number of page 0 to the memo of header fragments")
      ->needs("--content");
  AddForceOption(*cmd, options->force);
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  cmd->callback(
      [&run, options] { run.exitCode = RunFragments(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
