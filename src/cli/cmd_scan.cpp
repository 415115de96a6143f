// `ravelin scan SOURCE [--partition-image | --disk-image | --partition N | --whole]
// [--begin N] [--end N] [--sectors-per-cluster N] [--free-space-only | --all-space]
// [--file-id N] [--start-page-below N] [--rows FILE [--content FILE] [--resume]] [--json]
// [--stats]`: chooses SOURCE as the menu would, puts the options over the scan settings the
// choice implies, creates the output files (so that an unusable path is reported before hours
// of scanning), runs the scan job, prints the fragment list and saves it. A disk with a
// partition table is scanned part by part as `recover` scans it (--whole: as one). Ctrl-C is
// STOP: the scan ends at its next candidate position, what it found is printed and saved,
// and the exit code is 130. With --rows a scan of one part keeps a checkpoint beside the
// rows file, which --resume goes on from.
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include "cli/commands.h"
#include "cli/freed_memory.h"
#include "cli/interrupt.h"
#include "cli/list_output.h"
#include "cli/option_checks.h"
#include "cli/output_checks.h"
#include "cli/scan_checkpoint_run.h"
#include "cli/scan_parts.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"
#include "commands/scan_commands.h"
#include "commands/scan_info_commands.h"
#include "commands/workspace_fragments.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

std::string Clock(double seconds) {
  const auto s = static_cast<long long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

// Shows how far the scan has come: a bar redrawn in place on a terminal, plain lines (every
// tenth of the way) otherwise.
class Progress {
 public:
  Progress(std::ostream& err, ScanOptions::ProgressStyle style, std::int64_t begin,
           std::int64_t end)
      : err_(err), style_(style), begin_(begin), end_(end) {}

  void Show(std::int64_t position, bool last) {
    if (style_ == ScanOptions::ProgressStyle::kNone || end_ <= begin_) return;
    const double done = std::clamp(
        static_cast<double>(position - begin_) / static_cast<double>(end_ - begin_), 0.0, 1.0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double bytes = static_cast<double>(position - begin_) * 512.0;
    const double rate = seconds > 0 ? bytes / seconds : 0;  // bytes per second
    const double left = rate > 0 ? (1.0 - done) * (end_ - begin_) * 512.0 / rate : 0;
    const int percent = static_cast<int>(done * 100.0);
    char figures[96];
    std::snprintf(figures, sizeof figures, "%3d%%  %8.1f MB/s  %s left", percent, rate / 1e6,
                  Clock(left).c_str());
    if (style_ == ScanOptions::ProgressStyle::kBar) {
      err_ << ProgressBarLine(done, figures) << (last ? "\n" : "") << std::flush;
    } else if (percent / 10 != lastTenth_ || last) {
      lastTenth_ = percent / 10;
      err_ << "scan: " << figures << '\n';
    }
  }

 private:
  std::ostream& err_;
  ScanOptions::ProgressStyle style_;
  std::int64_t begin_;
  std::int64_t end_;
  int lastTenth_ = -1;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

int ApplyScanSettings(const Workspace& ws, const SourceChoice& chosen, const ScanOptions& options,
                      ScanRequest& request, std::ostream& err) {
  // What the choice of source implies, then the options over it.
  request = ScanRequest{};
  if (chosen.range) {
    request.start = static_cast<std::int64_t>(chosen.range->begin);
    request.end = static_cast<std::int64_t>(chosen.range->end);
    request.step = chosen.range->sectorsPerCluster;
  }
  request.freeSpaceOnly = chosen.freeSpaceOnly;
  if (options.begin) request.start = *options.begin;
  if (options.end) request.end = *options.end;
  if (options.sectorsPerCluster) request.step = *options.sectorsPerCluster;
  if (options.freeSpaceOnly) {
    if (!ws.source().HasFileSystem) {
      err << "--free-space-only: 此数据源没有可读的文件系统(the source has no file system to map; "
             "choose a partition, or an image with --partition-image)\n";
      return kExitBadSource;
    }
    request.freeSpaceOnly = true;
  }
  if (options.allSpace) request.freeSpaceOnly = false;
  if (options.fileId) request.fileId = static_cast<std::uint16_t>(*options.fileId);
  if (options.startPageBelow) {
    request.pageLimit = true;
    request.startPageBelow = static_cast<std::int32_t>(*options.startPageBelow);
  }
  request.readAhead = !options.noReadAhead;
  const std::int64_t begin = request.start.value_or(0);
  const std::int64_t askedEnd = request.end.value_or(0);
  if (askedEnd <= begin) {
    if (!options.end && !options.begin) {
      // Nothing asked for: the source itself holds nothing to scan (a zero-byte image).
      err << "数据源没有可扫描的扇区(the source has no sectors to scan: it ends at sector "
          << askedEnd << ")\n";
      return kExitBadSource;
    }
    err << "--end " << askedEnd << " 不大于 --begin " << begin << " (--end must be above --begin"
        << (options.end ? "" : "; the source ends there") << ")\n";
    return kExitBadUsage;
  }
  return kExitOk;
}

std::optional<ScanRun> RunScanJob(Workspace& ws, TerminalUi& ui, const ScanRequest& request,
                                  ScanOptions::ProgressStyle style, StopOnInterrupt& interrupt,
                                  std::ostream& err,
                                  std::shared_ptr<CheckpointWriter> checkpoints) {
  const std::optional<ScanSettings> settings = PrepareScan(ws, request);
  if (!settings) return std::nullopt;  // refused: the message says why
  StartScanJob(ws, *settings, std::move(checkpoints));
  ScanRun run;
  if (interrupt.TakeRequest()) {  // asked while the scan was being prepared
    run.interrupted = true;
    StopScan(ws);
  }

  // A resumed scan's bar and rate count from where it goes on.
  const std::int64_t begin =
      settings->resumeFrom ? settings->resumeFrom->position : settings->start;
  // The bar runs to the end the scan really uses: the source's last sector when the end
  // asked for lies beyond it.
  const std::int64_t end = ClampedScanEnd(settings->end, ws.reader());
  Progress progress(err, style, begin, end);
  const auto started = std::chrono::steady_clock::now();
  while (!ws.jobs().WaitIdle(std::chrono::milliseconds(100))) {
    if (interrupt.TakeRequest()) {
      run.interrupted = true;
      StopScan(ws);
    }
    progress.Show(std::max(begin, ui.Position()), false);
  }
  ws.jobs().JoinAll();
  ReturnFreedMemory();
  run.result = ws.jobs().LastResult();
  run.begin = begin;
  // A scan that ran to its end has covered the whole range, whatever position its last
  // step reported.
  progress.Show(run.result.outcome == JobOutcome::kCompleted ? end : run.result.position, true);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return run;
}

namespace {

// A disk with a partition table, scanned part by part (see ScanParts): one fragment list,
// numbered across the parts, whose rows keep the disk's sector numbers, so that the saved
// scan is one scan of the disk. Each part is said on stderr with the rows it found; the
// JSON gives each row's `found_in`.
int RunScanParts(const std::vector<ScanPart>& parts, const ScanOptions& options, const CliEnv& env,
                 StopOnInterrupt& interrupt, std::ostream& out, std::ostream& err) {
  // Each part is a scan of its own: a checkpoint of one would not say where the others are.
  if (options.resume) {
    err << "--resume: 分区逐个扫描的磁盘没有检查点(a disk scanned part by part keeps no "
           "checkpoint; scan one part with --partition N, or the disk as one with --whole, to "
           "resume)\n";
    return kExitBadUsage;
  }
  TerminalUi ui(err, err, env.in);
  // The whole disk, as the saved rows and content are read from it.
  Workspace all(ui, env.opener);
  all.SetShowsLists(false);
  SourceArgs disk = options.source;
  disk.diskImage = true;
  disk.whole = true;
  if (!ChooseSource(all, env, disk, err).Chosen()) return kExitBadSource;
  std::optional<ScanInfoOutputs> outputs;
  if (!options.rows.empty()) {
    if (!CheckNewFile("--rows", options.rows, all.source().SourcePath, {}, options.force, err) ||
        (!options.content.empty() &&
         !CheckNewFile("--content", options.content, all.source().SourcePath, {options.rows},
                       options.force, err)))
      return kExitBadUsage;
    outputs = CreateScanInfoOutputs(
        all, options.rows, options.content.empty() ? std::nullopt : std::optional(options.content));
    if (!outputs) return kExitBadUsage;
  }

  WorkspaceFragmentSink sink(all);
  std::vector<std::string> foundIn;  // per row of the whole list
  // The content file records one cluster size, with which a saved scan's split pages are
  // rejoined: that of the part that found the most fragments.
  std::size_t mostRows = 0;
  bool stopped = false;
  bool partFailed = false;
  for (const ScanPart& part : parts) {
    Workspace ws(ui, env.opener);
    ws.SetShowsLists(false);
    const SourceChoice chosen = ChooseSource(ws, env, part.scan.source, err);
    ScanRequest request;
    if (!chosen.Chosen() || ApplyScanSettings(ws, chosen, part.scan, request, err) != kExitOk) {
      partFailed = true;
      continue;
    }
    if (options.progress != ScanOptions::ProgressStyle::kNone) err << "scan " << part.label << '\n';
    const std::optional<ScanRun> scan =
        RunScanJob(ws, ui, request, options.progress, interrupt, err);
    if (!scan || scan->result.outcome == JobOutcome::kFailed) {
      partFailed = true;
      continue;
    }
    if (ws.fragments().Count() > mostRows) {
      mostRows = ws.fragments().Count();
      all.source().SectorsPerCluster = ws.source().SectorsPerCluster;
    }
    const std::size_t first = all.fragments().Count() + 1;
    for (FragmentRow row : ws.fragments().Rows()) {
      row.No = static_cast<std::int32_t>(all.fragments().Count() + 1);
      sink.Append(std::move(row));
      foundIn.push_back(part.label);
    }
    err << part.label << ": " << ws.fragments().Count() << " fragments";
    if (ws.fragments().Count() > 0) err << " (" << first << "-" << all.fragments().Count() << ")";
    err << '\n';
    if (scan->interrupted || scan->result.outcome == JobOutcome::kStopped) {
      stopped = true;
      break;
    }
  }
  BuildFragmentIndex(all);
  FillFragmentList(all);

  if (stopped) err << "已停止扫描(stopped)\n";
  PrintFragmentList(all, out, options.json, stopped, &foundIn);
  int exitCode = partFailed ? kExitFailed : kExitOk;
  if (outputs && !SaveScanInfo(all, *outputs)) exitCode = kExitFailed;
  if (interrupt.Requested() && exitCode == kExitOk) exitCode = interrupt.ExitCode();
  if (partFailed) err << "a part of the disk could not be scanned (see the messages above)\n";
  return exitCode;
}

}  // namespace

int RunScan(const ScanOptions& options, const CliEnv& env, std::ostream& out, std::ostream& err) {
  // Ctrl-C from here on is STOP: what was found is printed and saved.
  StopOnInterrupt interrupt;
  if (const std::vector<ScanPart> parts = ScanParts(options, env, err); parts.size() > 1)
    return RunScanParts(parts, options, env, interrupt, out, err);
  // The list is the output: the scan's log lines go to stderr with the messages.
  TerminalUi ui(err, err, env.in);
  Workspace ws(ui, env.opener);
  ws.SetShowsLists(false);
  const SourceChoice chosen = ChooseSource(ws, env, options.source, err);
  if (!chosen.Chosen()) return kExitBadSource;
  ScanRequest request;
  if (const int refused = ApplyScanSettings(ws, chosen, options, request, err); refused != kExitOk)
    return refused;

  // The outputs exist (under temporary names) before the scan starts; the checkpoint beside
  // them is checked (and, with --resume, read) first.
  std::optional<ScanInfoOutputs> outputs;
  CheckpointedScan checkpointed;
  if (!options.rows.empty()) {
    if (const int refused = PrepareCheckpointedScan(ws, options, request, checkpointed, err);
        refused != kExitOk)
      return refused;
    outputs = CreateScanInfoOutputs(
        ws, options.rows, options.content.empty() ? std::nullopt : std::optional(options.content));
    if (!outputs) return kExitBadUsage;
  }

  const std::optional<ScanRun> scan =
      RunScanJob(ws, ui, request, options.progress, interrupt, err, checkpointed.writer);
  if (!scan) return kExitBadSource;
  const auto outcome = scan->result.outcome;
  const std::int64_t reached = scan->result.position;
  const std::int64_t begin = scan->begin;
  const double seconds = scan->seconds;

  const bool stopped = outcome == JobOutcome::kStopped;
  if (stopped) err << "已停止扫描(stopped)\n";
  PrintFragmentList(ws, out, options.json, stopped);
  int exitCode = outcome == JobOutcome::kFailed ? kExitFailed : kExitOk;
  // A stopped scan still saves what it found; a failed one saves nothing, so that no row
  // file of a scan that never ran looks like a finished one (the outputs' temporary files
  // go with them).
  if (outputs && outcome == JobOutcome::kFailed) {
    err << "扫描失败，未保存扫描信息(the scan failed; " << options.rows << " was not written)\n";
  } else if (outputs) {
    const bool saved = SaveScanInfo(ws, *outputs, checkpointed.writer->ContentKey());
    if (!saved || !FinishCheckpointedScan(options, checkpointed, outcome, saved, err))
      exitCode = kExitFailed;
  }
  if (interrupt.Requested() && exitCode == kExitOk) exitCode = interrupt.ExitCode();
  if (options.stats) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto sectors = static_cast<double>(reached - begin);
    char line[200];
    std::snprintf(line, sizeof line,
                  "stats: %.0f sectors in %.3f s, %.1f MB/s, %zu fragments, peak memory %ld KiB, "
                  "read %llu bytes\n",
                  sectors, seconds, seconds > 0 ? sectors * 512 / seconds / 1e6 : 0.0,
                  ws.fragments().Count(), usage.ru_maxrss,
                  static_cast<unsigned long long>(ws.SourceBytesRead()));
    err << line;
    if (checkpointed.writer) {
      std::snprintf(line, sizeof line, "stats: %d checkpoints written in %.3f s\n",
                    checkpointed.writer->Written(),
                    std::chrono::duration<double>(checkpointed.writer->Cost()).count());
      err << line;
    }
  }
  return exitCode;
}

void AddScanSettingArgs(CLI::App& cmd, ScanOptions& options) {
  constexpr std::int64_t kMaxSector = std::numeric_limits<std::int64_t>::max();
  cmd.add_option("--begin", options.begin, "First sector to scan (default: as chosen)")
      ->check(IntegerIn(0, kMaxSector));
  cmd.add_option("--end", options.end,
                 "Sector where the scan stops, above --begin (default: the end)")
      ->check(IntegerIn(1, kMaxSector));
  cmd.add_option("--sectors-per-cluster", options.sectorsPerCluster,
                 "Stride between candidate positions, in sectors (1..32767)")
      ->check(IntegerIn(1, 32767));
  CLI::Option* freeOnly = cmd.add_flag("--free-space-only", options.freeSpaceOnly,
                                       "Skip clusters the file system marks in use");
  CLI::Option* all = cmd.add_flag("--all-space", options.allSpace, "Scan every cluster");
  freeOnly->excludes(all);
  cmd.add_option("--file-id", options.fileId,
                 "File id of the pages to look for, 1..32767 (default 1)")
      ->check(IntegerIn(1, 32767));
  cmd.add_option("--start-page-below", options.startPageBelow,
                 "List only fragments whose first page number is below N")
      ->check(IntegerIn(0, std::numeric_limits<std::int32_t>::max()));
  cmd.add_flag("--no-read-ahead", options.noReadAhead,
               "Read each window only when the scan reaches it (for comparison)");
}

std::string ProgressBarLine(double done, const std::string& text) {
  constexpr std::size_t kWidest = 30;
  std::size_t columns = 80;
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns = size.ws_col;
  // One column stays free: a line that fills the last one wraps on some terminals.
  const std::size_t room = columns - 1;
  std::string line = "\r";
  if (room >= text.size() + 4 + 5) {  // at least a 5-wide bar: "[#####] "
    const std::size_t width = std::min(kWidest, room - text.size() - 3);
    const auto filled = static_cast<std::size_t>(std::clamp(done, 0.0, 1.0) * double(width));
    line += "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] ";
  }
  line += text.substr(0, room);
  // Clears what a longer line before it left behind.
  if (line.size() - 1 < room) line += std::string(room - (line.size() - 1), ' ');
  return line;
}

void ResolveProgressStyle(ScanOptions& options) {
  if (options.progress == ScanOptions::ProgressStyle::kAuto) {
    options.progress = ::isatty(STDERR_FILENO) != 0 ? ScanOptions::ProgressStyle::kBar
                                                    : ScanOptions::ProgressStyle::kLines;
  }
}

void AddScanCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<ScanOptions>();
  CLI::App* cmd =
      app.add_subcommand("scan", "Scan a disk, partition or image for the pages of a database");
  AddSourceArgs(*cmd, options->source);
  AddScanSettingArgs(*cmd, *options);
  CLI::Option* rows = cmd->add_option("--rows", options->rows,
                                      "Save the fragment rows to this scan-info file (created "
                                      "before the scan starts; saved also when it is stopped)");
  cmd->add_option("--content", options->content,
                  "Save every fragment's sectors to this content file too")
      ->needs(rows);
  AddWholeOption(*cmd, options->source);
  cmd->add_flag("--force", options->force,
                "Replace existing --rows and --content files (and a checkpoint beside them)");
  cmd->add_flag("--resume", options->resume,
                "Go on from the checkpoint an interrupted scan left beside --rows (same source "
                "and options)")
      ->needs(rows);
  cmd->add_flag("--json", options->json, "Write the fragment list as JSON");
  cmd->add_flag("--stats", options->stats, "Report throughput and peak memory on stderr");
  cmd->callback([&run, options] {
    ResolveProgressStyle(*options);
    run.exitCode = RunScan(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
