// `ravelin scan --rows R` keeps a checkpoint of the running scan at R.checkpoint, and
// `--resume` goes on from it. Before the scan: the checkpoint read and checked against the
// source and options now (refused, exit 2, nothing written, when they differ), the outputs
// checked, the rows restored. After: a finished scan that saved its outputs removes the
// checkpoint; a stopped one keeps it, with the stamps of what it saved.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "commands/scan_commands.h"
#include "commands/scan_resume.h"
#include "workspace/jobs.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// Where the checkpoint of a scan saved at `rows` lies: beside it.
std::string CheckpointPath(const std::string& rows);

struct CheckpointedScan {
  std::shared_ptr<CheckpointWriter> writer;
  bool resumed = false;
};

// Checks the outputs of `options` (--rows, --content and the checkpoint beside them) and,
// with --resume, the checkpoint, and restores its rows into `ws` and its point into
// `request`. The exit code after saying why on `err` when the scan may not start.
int PrepareCheckpointedScan(Workspace& ws, const ScanOptions& options, ScanRequest& request,
                            CheckpointedScan& scan, std::ostream& err);

// After the scan and the save of its outputs (`saved`: they were written): removes the
// checkpoint of a completed scan, or, for a stopped one, writes it again with the stamps of
// the outputs and says how to go on. False when that last checkpoint could not be written.
bool FinishCheckpointedScan(const ScanOptions& options, const CheckpointedScan& scan,
                            JobOutcome outcome, bool saved, std::ostream& err);

// `ravelin recover` keeps its checkpoint in the output folder: which part of the disk it
// reached (`kRecoverPart`, numbered from 0), the files found in the parts before it
// (`kRecoverFilesBefore`) and those of this part already handled (`kRecoverFilesDone`), with
// the scan of that part.
std::string RecoverCheckpointPath(const std::string& outDir);
inline constexpr char kRecoverPart[] = "part";
inline constexpr char kRecoverFilesBefore[] = "files-before";
inline constexpr char kRecoverFilesDone[] = "files-done";
// "yes" while every file handled so far came back complete and no part was refused.
inline constexpr char kRecoverAllComplete[] = "all-complete";

// The number `name` holds in the checkpoint's saved fields (0 when none).
std::int64_t SavedNumber(const ScanCheckpoint& checkpoint, const char* name);

// Reads the checkpoint at `path` for --resume, or, without it, refuses one left there unless
// --force. Nothing and kExitOk when there is none to go on from; the exit code after saying
// why on `err` when the run may not start.
int OpenCheckpointForResume(const std::string& option, const std::string& path, bool resume,
                            bool force, std::optional<ScanCheckpoint>& checkpoint,
                            std::ostream& err);

// Whether `checkpoint` goes on as the scan `identity` and `settings` of `ws` describe: its
// rows then put into the table and its point into `request`; false after saying on `err`
// why not (another source, other options, a point off this scan's grid).
bool ResumeFromCheckpoint(Workspace& ws, const std::string& path, const ScanCheckpoint& checkpoint,
                          const CheckpointFields& identity, const ScanSettings& settings,
                          ScanRequest& request, std::ostream& err);

}  // namespace ravelin::cli
