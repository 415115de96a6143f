// `ravelin recover SOURCE [--partition-image | --disk-image] [scan options] [--file N]
// --out-dir DIR [--json REPORT]` and `ravelin recover --rows ROWS --content FILE …`: the whole
// recovery unattended, as a person does it with the four tabs in automatic mode. Choose the
// source and scan it (or open a saved scan); then for every database file of the tab III
// list, or only the N-th: analyse, search until a sweep finds nothing, sort by first page,
// check, and create the MDF in DIR. Each file is printed with its page count, the fragments
// used, the missing PFS and allocated pages, the LSN of its page 0, where it went and the
// account of its pages; --json writes the same as a report file.
//
// A disk (device or image) with an MBR or GPT, given without --partition N, --partition-image,
// --begin or --end, is taken as a person means it: each partition is scanned as --partition N
// scans it (its file system, its clusters, free space only unless --all-space), the space
// outside the partitions raw, and every file is listed once, numbered in that order, with
// where it was found. --whole keeps one raw scan of the whole disk.
//
// Every output is checked before the scan starts and before anything is made; an existing
// report is replaced only with --force; --json - writes the report to standard output (the
// text then goes to stderr). Stopped part-way, it still prints and reports the files it
// finished.
//
// Each file gets a status from its page account: complete (every page in use came back
// sound), incomplete (pages in use missing, written as zero pages), doubtful (pages damaged,
// uncertain or unverifiable), or not written; the run ends with one line that counts them.
//
// Exit codes: 0 every file found is complete; 1 a file is incomplete, doubtful or not
// written, a page could not be read, a part of the disk could not be scanned, or no file was
// found; 2 bad usage or an unusable source; 130 stopped by Ctrl-C (143 by SIGTERM).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "analysis/file_identification.h"
#include "cli/account_json.h"
#include "cli/commands.h"
#include "cli/glosses.h"
#include "cli/option_checks.h"
#include "cli/output_checks.h"
#include "cli/recovery.h"
#include "cli/saved_scan.h"
#include "cli/scan_checkpoint_run.h"
#include "cli/scan_parts.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/terminal_ui.h"
#include "commands/command_guards.h"
#include "commands/session.h"
#include "common/bytes.h"
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
      err_ << ProgressBarLine(std::clamp(percent, 0, 100) / 100.0,
                              std::to_string(percent) + "%  write " + name_)
           << std::flush;
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

// What a rebuilt file is worth: its account's status, or "not written". A file is complete
// only when it was written and every page in use came back sound.
std::string StatusOf(const FileRecovery& r) {
  if (!r.written || !r.account) return "not written";
  return FileStatusName(r.account->Assess().status);
}

// The allocated pages the file lacks: the account's (what was written as zero pages for want
// of them) once the file is written, else what the check found.
std::vector<std::int64_t> MissingAllocated(const FileRecovery& r) {
  if (!r.account) return r.missing.allocated;
  std::vector<std::int64_t> pages;
  for (std::size_t n = 0; n < r.account->verdicts.size(); ++n)
    if (r.account->verdicts[n] == PageVerdict::kMissingAllocated)
      pages.push_back(static_cast<std::int64_t>(n));
  return pages;
}

void PrintFile(const FileRecovery& r, const std::string& foundIn, std::ostream& out) {
  // Named by its physical name once the analysis has read page 32; the list's remark stays
  // beside it when it says something else (a header fragment that ends before page 32).
  const bool named = r.analysed && !r.physicalName.empty();
  out << "file " << r.number << ": " << (named ? r.physicalName : WithGloss(r.identification))
      << '\n';
  if (named && !r.identification.starts_with(r.physicalName))
    out << "  listed as: " << WithGloss(r.identification) << '\n';
  if (!foundIn.empty()) out << "  found in: " << foundIn << '\n';
  if (!r.analysed) {
    out << "  the analysis did not go through (see the messages above); nothing written\n";
    return;
  }
  out << "  pages: " << r.pageCount << '\n'
      << "  fragments used: " << r.fragmentsUsed << '\n'
      << "  missing PFS pages: " << PageList(r.missing.pfs) << '\n'
      << "  missing allocated pages: " << PageList(MissingAllocated(r)) << '\n'
      << "  page 0 LSN: " << r.lsn.value_or("read disk error") << '\n';
  if (r.unreadablePages > 0)
    out << "  unreadable pages reported: " << r.unreadablePages << " (see the messages above)\n";
  if (r.search.outcome != SearchOutcome::kSwept)
    out << "  the search for missing fragments stopped early (see the messages above)\n";
  if (!r.written) {
    out << "  output: not written\n";
    return;
  }
  out << "  output: " << r.output << '\n';
  if (r.account) {
    out << "  status: " << StatusLine(r.account->Assess()) << '\n';
    for (const std::string& line : r.account->SummaryLines()) out << "  " << line << '\n';
  }
}

nlohmann::json FileJson(const FileRecovery& r) {
  nlohmann::json file = {{"number", r.number},
                         {"identification", r.identification},
                         {"identification_message", MessageJson(r.identification)},
                         {"start_sector", r.headerSector},
                         {"analysed", r.analysed},
                         {"name", r.physicalName},
                         {"status", StatusOf(r)},
                         {"page_count", r.pageCount},
                         {"fragments_used", r.fragmentsUsed},
                         {"missing_pfs_pages", r.missing.pfs},
                         {"missing_allocated_pages", MissingAllocated(r)},
                         {"check_missing_allocated_pages", r.missing.allocated},
                         {"unreadable_pages", r.unreadablePages},
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
                         {"log", r.log},
                         {"log_messages", LogMessagesJson(r.log)}};
  if (r.account) file["account"] = AccountJson(*r.account);
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
  // With the report on standard output, the text goes to stderr so that stdout is JSON.
  const bool jsonToStdout = options.json == "-";
  std::ostream& text = jsonToStdout ? err : out;
  // Each file's log lines come back with its steps (FileRecovery::log); the memo, which
  // holds them all again, is not kept.
  std::ostream memo(nullptr);
  TerminalUi ui(memo, err, env.in);
  ui.KeepMemoVerbatim();
  StopOnInterrupt interrupt;
  const Style style = options.scan.progress;

  // Every output is checked before anything is made and before the scan starts; the folder
  // is made then, and goes again if nothing is written into it.
  OutDir folder;
  bool prepared = false;
  auto prepareOutputs = [&](const std::string& sourcePath) {
    prepared = true;
    if (!OutDir::Check("--out-dir", options.outDir, sourcePath, err) ||
        !folder.Make("--out-dir", options.outDir, err))
      return false;
    return options.json.empty() || jsonToStdout ||
           CheckNewFile("--json", options.json, sourcePath, {options.rows, options.content},
                        options.force, err);
  };

  // The scan keeps a checkpoint in the output folder; --resume goes on from the part and
  // the point it holds (the files of the parts before it are in the folder already).
  const std::string checkpointPath = RecoverCheckpointPath(options.outDir);
  std::optional<ScanCheckpoint> checkpoint;
  if (!saved) {
    if (const int refused = OpenCheckpointForResume("--out-dir", checkpointPath, options.resume,
                                                    options.force, checkpoint, err);
        refused != kExitOk)
      return refused;
  }
  const std::int64_t resumePart = checkpoint ? SavedNumber(*checkpoint, kRecoverPart) : 0;
  std::shared_ptr<CheckpointWriter> writer;

  const std::vector<ScanPart> parts =
      saved ? std::vector<ScanPart>{{options.scan, ""}} : ScanParts(options.scan, env, err);
  if (checkpoint && (resumePart < 0 || resumePart >= static_cast<std::int64_t>(parts.size()))) {
    err << "--resume: 检查点属于另一次扫描(the checkpoint " << checkpointPath
        << " is of another scan: it reached part " << resumePart << ", the source has "
        << parts.size() << ")\n";
    return kExitBadUsage;
  }
  const bool severalParts = parts.size() > 1;
  std::int64_t found = 0;  // database files found so far, numbered in this order
  std::set<std::string> taken;
  bool stopped = false;
  bool partFailed = false;
  // Whether every file handled so far, by this run or by the interrupted one it goes on
  // from, came back complete with no part refused: a resumed run's verdict covers both.
  bool soFarComplete =
      !checkpoint || FieldValue(checkpoint->saved, kRecoverAllComplete).value_or("no") == "yes";
  std::int64_t handledBefore = 0;  // files the interrupted run handled
  std::vector<FileRecovery> done;
  std::uint64_t bytesRead = 0, bytesWritten = 0;  // over every part, for --stats
  nlohmann::json reportFiles = nlohmann::json::array();
  for (std::size_t partIndex = 0; partIndex < parts.size(); ++partIndex) {
    const ScanPart& part = parts[partIndex];
    if (stopped) break;
    const auto index = static_cast<std::int64_t>(partIndex);
    const bool resumed = checkpoint && index == resumePart;
    if (checkpoint && index < resumePart) {
      err << "scan " << (part.label.empty() ? "the source" : part.label)
          << ": 已在中断前完成(finished before the interruption; its files are in "
          << options.outDir << ")\n";
      continue;
    }
    if (resumed) found = SavedNumber(*checkpoint, kRecoverFilesBefore);
    const std::int64_t filesDone = resumed ? SavedNumber(*checkpoint, kRecoverFilesDone) : 0;
    Workspace ws(ui, env.opener);
    ws.SetShowsLists(false);
    writer.reset();  // each part's scan keeps its own, over its own Workspace
    if (!saved) {
      const SourceChoice chosen = ChooseSource(ws, env, part.scan.source, err);
      if (!chosen.Chosen()) {
        if (!severalParts) return kExitBadSource;
        partFailed = true;
        continue;
      }
      if (!prepared && !prepareOutputs(ws.source().SourcePath)) return kExitBadUsage;
      if (severalParts && style != Style::kNone) err << "scan " << part.label << '\n';
      ScanRequest request;
      if (const int refused = ApplyScanSettings(ws, chosen, part.scan, request, err);
          refused != kExitOk) {
        if (!severalParts) return refused;
        partFailed = true;
        continue;
      }
      std::string refusal;
      if (const auto settings = CheckScanRequest(request, &refusal)) {
        CheckpointFields identity = ScanIdentity(ws, *settings);
        identity.emplace_back("part", part.label.empty() ? "the source" : part.label);
        identity.emplace_back("recover-file", options.file ? std::to_string(*options.file) : "all");
        if (resumed && !ResumeFromCheckpoint(ws, checkpointPath, *checkpoint, identity, *settings,
                                             request, err))
          return kExitBadUsage;
        writer = std::make_shared<CheckpointWriter>(ws, checkpointPath, identity, 0,
                                                    std::vector<std::string>{});
        writer->atCompletion = true;
        writer->state = {{kRecoverPart, std::to_string(index)},
                         {kRecoverFilesBefore, std::to_string(found)},
                         {kRecoverAllComplete, soFarComplete && !partFailed ? "yes" : "no"},
                         {kRecoverFilesDone, std::to_string(filesDone)}};
      }
      const std::optional<ScanRun> scan =
          RunScanJob(ws, ui, request, part.scan.progress, interrupt, err, writer);
      if (!scan || scan->result.outcome == JobOutcome::kFailed) {
        if (!severalParts) return kExitBadSource;
        partFailed = true;
        continue;
      }
      if (scan->interrupted) {
        stopped = true;
        break;
      }
      if (options.stats) {
        char line[160];
        std::snprintf(line, sizeof line, "stats: scan %.3f s, %zu fragments, read %llu bytes\n",
                      scan->seconds, ws.fragments().Count(),
                      static_cast<unsigned long long>(ws.SourceBytesRead()));
        err << line;
      }
      Session(ws).ListFiles();
    } else {
      if (!OpenFileList(ws, env, options.rows, options.content, {}, options.force, err))
        return kExitBadUsage;
      if (!prepareOutputs(ws.source().SourcePath)) return kExitBadUsage;
    }

    const auto files = static_cast<std::int64_t>(ws.ListView3().Count());
    for (std::int64_t n = 1; n <= files && !stopped; ++n) {
      const std::int64_t number = found + n;
      if (options.file && *options.file != number) continue;
      if (n <= filesDone) {
        ++handledBefore;
        err << "file " << number << ": 已在中断前处理(handled before the interruption; see "
            << options.outDir << ")\n";
        continue;
      }
      if (style != Style::kNone) err << "analyse " << number << '\n';
      std::unique_ptr<WriteProgress> progress;
      auto outputFor = [&](const std::string& physicalName) {
        const std::string name = RecoveredFileName(physicalName, options.outDir, taken);
        progress = std::make_unique<WriteProgress>(err, style, name);
        ui.SetProgressHook([&progress](int percent) { progress->Show(percent); });
        return (fs::path(options.outDir) / name).string();
      };
      auto wait = [&] {
        while (!ws.jobs().WaitIdle(std::chrono::milliseconds(100))) {
          if (interrupt.TakeRequest()) {
            stopped = true;
            ws.Closing().store(true);  // the analysis ends at its next step
          }
        }
        ws.jobs().JoinAll();
      };
      FileRecovery r = RecoverFile(ws, n, true, true, outputFor, wait, !options.json.empty());
      r.number = number;
      ui.SetProgressHook(nullptr);
      if (progress) progress->End();
      if (interrupt.TakeRequest()) stopped = true;
      if (r.written) folder.Keep();
      // A file the interruption cut short is not reported; those finished before it are.
      if (stopped && !r.written) break;
      PrintFile(r, part.label, text);
      const std::uint64_t wrote =
          r.written ? static_cast<std::uint64_t>(r.pageCount) * kPageSize : 0;
      if (options.stats) {
        using ull = unsigned long long;
        char line[320];
        std::snprintf(line, sizeof line,
                      "stats: file %lld analysis %.3f s, search %.3f s, check %.3f s, write "
                      "%.3f s; read %llu, %llu, %llu, %llu bytes; wrote %llu bytes\n",
                      static_cast<long long>(number), r.analyseSeconds, r.searchSeconds,
                      r.checkSeconds, r.writeSeconds, ull{r.analyseRead}, ull{r.searchRead},
                      ull{r.checkRead}, ull{r.writeRead}, ull{wrote});
        err << line;
      }
      // The checkpoint of the completed scan now says this file is done too.
      soFarComplete = soFarComplete && StatusOf(r) == "complete" && r.unreadablePages == 0;
      if (!saved && writer && writer->LastWritten()) {
        writer->state[2].second = soFarComplete && !partFailed ? "yes" : "no";
        writer->state[3].second = std::to_string(n);
        writer->Write(*writer->LastWritten());
      }
      if (!options.json.empty()) {
        nlohmann::json file = FileJson(r);
        file["found_in"] =
            part.label.empty() ? nlohmann::json(nullptr) : nlohmann::json(part.label);
        reportFiles.push_back(std::move(file));
      }
      r.log = {};  // the report has them
      bytesWritten += wrote;
      done.push_back(std::move(r));
    }
    found += files;
    bytesRead += ws.SourceBytesRead();
  }
  if (options.stats) {
    err << "stats: read " << bytesRead << " bytes from the source in all, wrote " << bytesWritten
        << " bytes\n";
  }
  if (!stopped && !saved) {
    std::error_code ec;
    fs::remove(checkpointPath, ec);  // every part was scanned and its files handled
  }
  if (stopped) {
    err << "已停止(stopped)\n";
    if (writer && writer->LastWritten())
      err << "检查点(checkpoint): " << checkpointPath << " (--resume goes on from "
          << writer->state.front().first << " " << writer->state.front().second << ", sector "
          << writer->LastWritten()->position << ")\n";
  } else if (found == 0) {
    // Said, and reported: a run that found nothing is no success.
    err << "没有找到数据库文件(no database file found: no fragment starts at page 0)\n";
  } else if (options.file && *options.file > found) {
    err << "没有第 " << *options.file << " 个数据库文件(no database file " << *options.file << ": "
        << found << " found)\n";
    return kExitBadUsage;
  }
  // One verdict per file, and for the run: 0 only when every file found came back complete
  // and nothing failed to read.
  std::map<std::string, std::int64_t> statuses = {
      {"complete", 0}, {"incomplete", 0}, {"doubtful", 0}, {"not written", 0}};
  std::int64_t unreadable = 0;
  for (const FileRecovery& r : done) {
    ++statuses[StatusOf(r)];
    unreadable += r.unreadablePages;
  }
  const auto written = static_cast<std::int64_t>(done.size()) - statuses["not written"];
  const bool allComplete = found > 0 &&
                           statuses["complete"] == static_cast<std::int64_t>(done.size()) &&
                           !partFailed && unreadable == 0 && soFarComplete;
  int exitCode = stopped ? interrupt.ExitCode() : (allComplete ? kExitOk : kExitFailed);
  if (!options.json.empty()) {
    nlohmann::json counts = nlohmann::json::object();
    for (const auto& [status, count] : statuses) counts[status] = count;
    const nlohmann::json report = {
        {"source", saved ? options.rows : options.scan.source.source},
        {"out_dir", options.outDir},
        {"database_files_found", found},
        {"interrupted", stopped},
        {"files", std::move(reportFiles)},
        {"status_counts", std::move(counts)},
        {"unreadable_pages", unreadable},
        {"all_complete", allComplete && !stopped},
        {"all_written",
         written == static_cast<std::int64_t>(done.size()) && !partFailed && !stopped}};
    Workspace reporting(ui, env.opener);
    if (jsonToStdout) {
      out << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (!prepared && !CheckNewFile("--json", options.json, options.scan.source.source, {},
                                          options.force, err)) {
      // Every part was refused before the outputs were checked: they still are, before writing.
      exitCode = kExitFailed;
    } else if (!WriteReport(reporting, options.json, report) && !stopped) {
      exitCode = kExitFailed;
    }
  }
  const std::int64_t asked = options.file ? 1 : found;
  text << "recovered " << written << " of " << asked << " database file" << (asked == 1 ? "" : "s")
       << (stopped ? " before the stop" : "") << ": " << statuses["complete"] << " complete, "
       << statuses["incomplete"] << " incomplete, " << statuses["doubtful"] << " doubtful";
  if (statuses["not written"] > 0) text << ", " << statuses["not written"] << " not written";
  if (unreadable > 0) text << "; " << unreadable << " unreadable pages reported";
  if (partFailed) text << "; a part of the disk could not be scanned (see the messages above)";
  if (handledBefore > 0 || (checkpoint && resumePart > 0))
    text << "; resumed: the files of the parts and files handled before the interruption are in "
         << options.outDir << (soFarComplete ? "" : ", not all of them complete");
  if (!options.json.empty() && !jsonToStdout) text << "; report: " << options.json;
  text << '\n';
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
  AddWholeOption(*cmd, options->scan.source);
  CLI::Option* rows =
      cmd->add_option("--rows", options->rows, "Recover from this saved scan-info row file");
  rows->excludes(source);
  cmd->add_option("--content", options->content, "The fragment content file saved with --rows")
      ->needs(rows);
  AddForceOption(*cmd, options->force);
  cmd->add_option("--file", options->file,
                  "Only the N-th database file found (as `ravelin files` numbers them)")
      ->check(IntegerIn(1, std::numeric_limits<std::int64_t>::max()));
  cmd->add_option("--out-dir", options->outDir, "Folder for the rebuilt .mdf files")->required();
  // As on every command, --json alone writes JSON to standard output; here it may also name
  // a report file.
  cmd->add_option("--json", options->json,
                  "Write the report as JSON to this file, or to standard output when no file "
                  "(or -) is given")
      ->expected(0, 1)
      ->default_str("-")
      ->type_name("[REPORT]");
  cmd->add_flag("--stats", options->stats,
                "Report on stderr the time each step took and the bytes it read and wrote");
  cmd->add_flag("--resume", options->resume,
                "Go on from the checkpoint an interrupted recovery left in --out-dir (same "
                "source and options)")
      ->excludes(rows);
  cmd->callback([&run, options] {
    ResolveProgressStyle(options->scan);
    run.exitCode = RunRecover(*options, run.env, run.out, run.err);
  });
}

}  // namespace ravelin::cli
