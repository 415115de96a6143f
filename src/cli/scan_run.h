// The scan as `ravelin scan` and `ravelin recover` run it: the scan options put over what
// the chosen source implies, and the "scan" job started and waited for with a progress
// display, Ctrl-C being STOP.
#pragma once

#include <memory>
#include <optional>
#include <ostream>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/terminal_ui.h"
#include "commands/datasource_menu.h"
#include "commands/scan_commands.h"
#include "commands/scan_resume.h"
#include "workspace/jobs.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// --begin, --end, --sectors-per-cluster, --free-space-only/--all-space, --file-id,
// --start-page-below, --no-read-ahead.
void AddScanSettingArgs(CLI::App& cmd, ScanOptions& options);
// kAuto becomes a bar on a terminal (stderr), plain lines otherwise.
void ResolveProgressStyle(ScanOptions& options);
// "\r[###   ] text" to redraw in place, fitted to the terminal's width so that it never wraps
// onto a new line: the bar shrinks (down to none) and then the text is cut. `done` in [0, 1].
std::string ProgressBarLine(double done, const std::string& text);

// The scan `options` ask for over the one `chosen` implies, into `request`. kExitOk, or the
// exit code after saying why on `err` when they cannot apply to this source.
int ApplyScanSettings(const Workspace& ws, const SourceChoice& chosen, const ScanOptions& options,
                      ScanRequest& request, std::ostream& err);

struct ScanRun {
  JobResult result;
  std::int64_t begin = 0;    // first sector scanned
  double seconds = 0;        // wall time of the scan
  bool interrupted = false;  // Ctrl-C or SIGTERM stopped it
};
// Starts the scan of `request` and waits for it; a signal `interrupt` catches stops it.
// Nothing when the scan was refused (the message says why).
// With `checkpoints`, the job keeps checkpoints through it (scan_resume.h).
std::optional<ScanRun> RunScanJob(Workspace& ws, TerminalUi& ui, const ScanRequest& request,
                                  ScanOptions::ProgressStyle style, StopOnInterrupt& interrupt,
                                  std::ostream& err,
                                  std::shared_ptr<CheckpointWriter> checkpoints = nullptr);

}  // namespace ravelin::cli
