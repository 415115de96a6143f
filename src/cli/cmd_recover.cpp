// `ravelin recover SOURCE [--partition-image | --disk-image] [scan options] [--file N]
// --out-dir DIR [--json REPORT]` and `ravelin recover --rows ROWS --content FILE …`: the whole
// recovery unattended, as a person does it with the four tabs in automatic mode. Choose the
// source and scan it (or open a saved scan); then for every database file of the tab III
// list, or only the N-th: analyse, search until a sweep finds nothing, sort by first page,
// check, and create the MDF in DIR. Each file is printed with its page count, the fragments
// used, the missing PFS and allocated pages, the LSN of its page 0, where it went and the
// account of its pages; --json writes the same as a report file.
//
// Exit codes: 0 every file found was written, 1 some could not be (or none was found), 2 bad
// usage or an unusable source, 130 stopped by Ctrl-C.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "analysis/file_identification.h"
#include "cli/commands.h"
#include "cli/recovery.h"
#include "cli/saved_scan.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"
#include "commands/command_guards.h"
#include "commands/session.h"
#include "output/output_guard.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPagesListed = 20;  // missing pages named in the text output

using Style = ScanOptions::ProgressStyle;

// The writer's gauge: a bar redrawn in place on a terminal, a line every tenth otherwise.
class WriteProgress {
 public:
  WriteProgress(std::ostream& err, Style style, std::string name)
      : err_(err), style_(style), name_(std::move(name)) {}
  void Show(int percent) {
    if (style_ == Style::kNone) return;
    if (style_ == Style::kBar) {
      constexpr int kWidth = 30;
      const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
      err_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
           << percent << "%  write " << name_ << std::flush;
    } else if (percent / 10 != lastTenth_) {
      lastTenth_ = percent / 10;
      err_ << "write " << name_ << ": " << percent << "%\n";
    }
  }
  void End() {
    if (style_ == Style::kBar) err_ << '\n';
  }

 private:
  std::ostream& err_;
  Style style_;
  std::string name_;
  int lastTenth_ = -1;
};

std::string PageList(const std::vector<std::int64_t>& pages) {
  if (pages.empty()) return "none";
  std::ostringstream text;
  text << pages.size() << " (";
  for (std::size_t i = 0; i < pages.size() && i < kPagesListed; ++i)
    text << (i ? ", " : "") << pages[i];
  if (pages.size() > kPagesListed) text << ", …";
  text << ')';
  return text.str();
}

void PrintFile(const FileRecovery& r, std::ostream& out) {
  out << "file " << r.number << ": " << r.identification << '\n';
  if (!r.analysed) {
    out << "  the analysis did not go through (see the messages above); nothing written\n";
    return;
  }
  out << "  name: " << r.physicalName << '\n'
      << "  pages: " << r.pageCount << '\n'
      << "  fragments used: " << r.fragmentsUsed << '\n'
      << "  missing PFS pages: " << PageList(r.missing.pfs) << '\n'
      << "  missing allocated pages: " << PageList(r.missing.allocated) << '\n'
      << "  page 0 LSN: " << r.lsn.value_or("read disk error") << '\n';
  if (r.search.outcome != SearchOutcome::kSwept)
    out << "  the search for missing fragments stopped early (see the messages above)\n";
  if (!r.written) {
    out << "  output: not written\n";
    return;
  }
  out << "  output: " << r.output << '\n';
  if (r.account) {
    for (const std::string& line : r.account->SummaryLines()) out << "  " << line << '\n';
  }
}

nlohmann::json FileJson(const FileRecovery& r) {
  nlohmann::json file = {{"number", r.number},
                         {"identification", r.identification},
                         {"start_sector", r.headerSector},
                         {"analysed", r.analysed},
                         {"name", r.physicalName},
                         {"page_count", r.pageCount},
                         {"fragments_used", r.fragmentsUsed},
                         {"missing_pfs_pages", r.missing.pfs},
                         {"missing_allocated_pages", r.missing.allocated},
                         {"page0_lsn", r.lsn ? nlohmann::json(*r.lsn) : nlohmann::json(nullptr)},
                         {"search_completed", r.search.outcome == SearchOutcome::kSwept},
                         {"found_per_sweep", r.search.foundPerSweep},
                         {"check_completed", r.checkDone},
                         {"written", r.written},
                         {"output", r.written ? nlohmann::json(r.output) : nlohmann::json(nullptr)},
                         {"seconds",
                          {{"analysis", r.analyseSeconds},
                           {"search", r.searchSeconds},
                           {"check", r.checkSeconds},
                           {"write", r.writeSeconds}}},
                         {"log", r.log}};
  if (r.account) {
    nlohmann::json counts = nlohmann::json::object();
    nlohmann::json problems = nlohmann::json::array();
    for (std::size_t v = 0; v < kPageVerdictCount; ++v)
      counts[VerdictName(static_cast<PageVerdict>(v))] = r.account->counts[v];
    for (std::size_t n = 0; n < r.account->verdicts.size(); ++n) {
      const PageVerdict v = r.account->verdicts[n];
      if (v == PageVerdict::kDamaged || v == PageVerdict::kMissingAllocated ||
          v == PageVerdict::kUnverifiable || v == PageVerdict::kUncertain)
        problems.push_back({{"page", n}, {"verdict", VerdictName(v)}});
    }
    file["account"] = {{"all_allocated_pages_verified", r.account->AllAllocatedVerified()},
                       {"summary", r.account->SummaryLines()},
                       {"counts", std::move(counts)},
                       {"problem_pages", std::move(problems)}};
  }
  return file;
}

bool WriteReport(Workspace& ws, const std::string& path, const nlohmann::json& report) {
  const std::string text =
      report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  auto file = CreateOutput(ws, path, text.size());
  if (!file) return false;
  if (!file->Append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) ||
      !file->Commit()) {
    ShowWriteFailed(ws, *file);
    return false;
  }
  return true;
}

// The folder for the rebuilt files: made when missing, refused when it is not a folder, may
// not be written or lies on the source.
bool PrepareOutDir(const Workspace& ws, const std::string& dir, std::ostream& err) {
  if (dir.empty()) {  // would otherwise mean the working folder
    err << "--out-dir: 没有文件夹名(no folder named)\n";
    return false;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);  // a failure shows in the check below
  // The checks look at the folder a file inside it would land in.
  const std::string inside = (fs::path(dir) / "x.mdf").string();
  std::optional<std::string> why = CheckOutputFolder(inside);
  if (!why) why = OutputOnSource(ws.source.SourcePath, inside);
  if (why) {
    err << "--out-dir: " << *why << '\n';
    return false;
  }
  return true;
}

}  // namespace

int RunRecover(const RecoverOptions& options, const CliEnv& env, std::ostream& out,
               std::ostream& err) {
  const bool saved = !options.rows.empty();
  if (saved == !options.scan.source.source.empty()) {
    err << "需要 SOURCE 或 --rows 之一 (recover either a source, or a saved scan with --rows and "
           "--content)\n";
    return kExitBadUsage;
  }
  if (saved && options.content.empty()) {
    err << "--rows 需要 --content (a saved scan is recovered from its content file)\n";
    return kExitBadUsage;
  }
  std::ostringstream memo;
  TerminalUi ui(memo, err, env.in);
  Workspace ws(ui, env.opener);
  StopOnInterrupt interrupt;
  const Style style = options.scan.progress;

  if (!saved) {
    const SourceChoice chosen = ChooseSource(ws, env, options.scan.source, err);
    if (!chosen.Chosen()) return kExitBadSource;
    if (!PrepareOutDir(ws, options.outDir, err)) return kExitBadUsage;
    ScanRequest request;
    if (const int refused = ApplyScanSettings(ws, chosen, options.scan, request, err);
        refused != kExitOk)
      return refused;
    const std::optional<ScanRun> scan =
        RunScanJob(ws, ui, request, options.scan.progress, interrupt, err);
    if (!scan) return kExitBadSource;
    if (scan->interrupted) {
      err << "已停止(stopped)\n";
      return kExitInterrupted;
    }
    if (scan->result.outcome == JobOutcome::kFailed) return kExitBadSource;
    if (options.stats) {
      char line[120];
      std::snprintf(line, sizeof line, "stats: scan %.3f s, %zu fragments\n", scan->seconds,
                    ws.fragments.Count());
      err << line;
    }
    Session(ws).ListFiles();
    if (ws.ListView3.Empty()) {
      err << "没有找到数据库文件(no database file found: no fragment starts at page 0)\n";
      return kExitFailed;
    }
  } else {
    if (!OpenFileList(ws, env, options.rows, options.content, {}, options.force, err))
      return kExitBadUsage;
    if (!PrepareOutDir(ws, options.outDir, err)) return kExitBadUsage;
  }

  const auto files = static_cast<std::int64_t>(ws.ListView3.Count());
  if (options.file && (*options.file < 1 || *options.file > files)) {
    err << "没有第 " << *options.file << " 个数据库文件(no database file " << *options.file << ": "
        << files << " found)\n";
    return kExitBadUsage;
  }
  const std::int64_t first = options.file.value_or(1);
  const std::int64_t last = options.file.value_or(files);

  std::set<std::string> taken;
  bool stopped = false;
  bool allWritten = true;
  nlohmann::json reportFiles = nlohmann::json::array();
  for (std::int64_t n = first; n <= last && !stopped; ++n) {
    if (style != Style::kNone) err << "analyse " << n << "/" << files << '\n';
    std::unique_ptr<WriteProgress> progress;
    auto outputFor = [&](const std::string& physicalName) {
      const std::string name = RecoveredFileName(physicalName, options.outDir, taken);
      progress = std::make_unique<WriteProgress>(err, style, name);
      ui.SetProgressHook([&progress](int percent) { progress->Show(percent); });
      return (fs::path(options.outDir) / name).string();
    };
    auto wait = [&] {
      while (!ws.jobs.WaitIdle(std::chrono::milliseconds(100))) {
        if (interrupt.TakeRequest()) {
          stopped = true;
          ws.Closing.store(true);  // the analysis ends at its next step
        }
      }
      ws.jobs.JoinAll();
    };
    const FileRecovery r = RecoverFile(ws, n, true, true, outputFor, wait);
    ui.SetProgressHook(nullptr);
    if (progress) progress->End();
    if (interrupt.TakeRequest()) stopped = true;
    if (stopped) break;
    PrintFile(r, out);
    if (options.stats) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "stats: file %lld analysis %.3f s, search %.3f s, check %.3f s, write %.3f s\n",
                    static_cast<long long>(n), r.analyseSeconds, r.searchSeconds, r.checkSeconds,
                    r.writeSeconds);
      err << line;
    }
    allWritten = allWritten && r.written;
    reportFiles.push_back(FileJson(r));
  }
  if (stopped) {
    err << "已停止(stopped)\n";
    return kExitInterrupted;
  }
  int exitCode = allWritten ? kExitOk : kExitFailed;
  if (!options.json.empty()) {
    const nlohmann::json report = {{"source", saved ? options.rows : options.scan.source.source},
                                   {"out_dir", options.outDir},
                                   {"database_files_found", files},
                                   {"files", std::move(reportFiles)},
                                   {"all_written", allWritten}};
    if (!WriteReport(ws, options.json, report)) exitCode = kExitFailed;
  }
  return exitCode;
}

void AddRecoverCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<RecoverOptions>();
  CLI::App* cmd = app.add_subcommand(
      "recover",
      "Recover every database file on a disk, partition or image (or a saved scan): scan, "
      "analyse, search, check and write each rebuilt .mdf into --out-dir");
  CLI::Option* source = AddSourceArgs(*cmd, options->scan.source);
  source->required(false);  // or --rows
  AddScanSettingArgs(*cmd, options->scan);
  CLI::Option* rows =
      cmd->add_option("--rows", options->rows, "Recover from this saved scan-info row file");
  rows->excludes(source);
  cmd->add_option("--content", options->content, "The fragment content file saved with --rows")
      ->needs(rows);
  AddForceOption(*cmd, options->force);
  cmd->add_option("--file", options->file,
                  "Only the N-th database file found (as `ravelin files` numbers them)");
  cmd->add_option("--out-dir", options->outDir, "Folder for the rebuilt .mdf files")->required();
  cmd->add_option("--json", options->json, "Also write the report as JSON to this file");
  cmd->add_flag("--stats", options->stats, "Report the time each step took on stderr");
  cmd->callback([&run, options] {
    ResolveProgressStyle(options->scan);
    run.exitCode = RunRecover(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
