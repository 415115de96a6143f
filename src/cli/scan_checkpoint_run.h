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

}  // namespace ravelin::cli
