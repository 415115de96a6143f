#include "cli/scan_checkpoint_run.h"

#include <sys/stat.h>

#include <filesystem>

#include "catalogue/content_file.h"
#include "cli/output_checks.h"
#include "common/text.h"

namespace ravelin::cli {
namespace {

constexpr char kRowsStamp[] = "rows-file";
constexpr char kContentStamp[] = "content-file";

// An output the interrupted run saved, unchanged since: the resumed scan replaces its own
// file without --force. Anything else there needs --force, as for any scan.
bool SavedByCheckpoint(const ScanCheckpoint& checkpoint, const char* field,
                       const std::string& path) {
  const auto stamp = FileStamp(path);
  return stamp && FieldValue(checkpoint.saved, field) == stamp;
}

}  // namespace

std::string CheckpointPath(const std::string& rows) { return rows + ".checkpoint"; }

std::string RecoverCheckpointPath(const std::string& outDir) {
  return (std::filesystem::path(outDir) / "ravelin-recover.checkpoint").string();
}

std::int64_t SavedNumber(const ScanCheckpoint& checkpoint, const char* name) {
  return ParseInteger(FieldValue(checkpoint.saved, name).value_or("0")).value_or(0);
}

int OpenCheckpointForResume(const std::string& option, const std::string& path, bool resume,
                            bool force, std::optional<ScanCheckpoint>& checkpoint,
                            std::ostream& err) {
  if (!resume) {
    struct stat existing {};
    if (!force && ::lstat(path.c_str(), &existing) == 0) {
      err << option << ": 已有未完成扫描的检查点(" << path
          << " holds the checkpoint of an interrupted scan: --resume goes on with it, --force "
             "starts again)\n";
      return kExitBadUsage;
    }
    return kExitOk;
  }
  std::string error;
  checkpoint = ReadCheckpoint(path, &error);
  if (!checkpoint) {
    err << "--resume: 无法继续扫描(cannot resume: " << error << ": " << path << ")\n";
    return kExitBadUsage;
  }
  return kExitOk;
}

bool ResumeFromCheckpoint(Workspace& ws, const std::string& path, const ScanCheckpoint& checkpoint,
                          const CheckpointFields& identity, const ScanSettings& settings,
                          ScanRequest& request, std::ostream& err) {
  if (const auto differs = IdentityDifference(checkpoint.identity, identity)) {
    err << "--resume: 检查点属于另一次扫描(the checkpoint " << path
        << " is of another scan; the source or the options differ: " << *differs << ")\n";
    return false;
  }
  if (const auto unfit =
          CheckpointUnfit(checkpoint, settings, ClampedScanEnd(settings.end, ws.reader()))) {
    err << "--resume: 检查点无效(the checkpoint " << path << " does not fit this scan: " << *unfit
        << ")\n";
    return false;
  }
  request.resumeFrom = RestoreScan(ws, checkpoint);
  return true;
}

int PrepareCheckpointedScan(Workspace& ws, const ScanOptions& options, ScanRequest& request,
                            CheckpointedScan& scan, std::ostream& err) {
  const std::string& source = ws.source().SourcePath;
  const std::string path = CheckpointPath(options.rows);
  const std::vector<std::string> outputs = options.content.empty()
                                               ? std::vector{options.rows}
                                               : std::vector{options.rows, options.content};
  std::string error;
  const std::optional<ScanSettings> settings = CheckScanRequest(request, &error);
  if (!settings) {
    err << error << '\n';
    return kExitBadUsage;
  }
  const CheckpointFields identity = ScanIdentity(ws, *settings);

  std::optional<ScanCheckpoint> checkpoint;
  if (const int refused =
          OpenCheckpointForResume("--rows", path, options.resume, options.force, checkpoint, err);
      refused != kExitOk)
    return refused;
  if (checkpoint && !ResumeFromCheckpoint(ws, path, *checkpoint, identity, *settings, request, err))
    return kExitBadUsage;
  const bool rowsOurs = checkpoint && SavedByCheckpoint(*checkpoint, kRowsStamp, options.rows);
  const bool contentOurs =
      checkpoint && SavedByCheckpoint(*checkpoint, kContentStamp, options.content);
  // The checkpoint itself is replaced as the scan goes: only where the output road would
  // write (never on the source, never over a device node or an input).
  if (!CheckNewFile("--rows", options.rows, source, {}, options.force || rowsOurs, err) ||
      (!options.content.empty() &&
       !CheckNewFile("--content", options.content, source, {options.rows},
                     options.force || contentOurs, err)) ||
      !CheckNewFile("--rows", path, source, outputs, true, err))
    return kExitBadUsage;

  scan.resumed = checkpoint.has_value();
  scan.writer = std::make_shared<CheckpointWriter>(
      ws, path, identity, checkpoint ? checkpoint->contentKey : DrawContentKey(), outputs);
  return kExitOk;
}

bool FinishCheckpointedScan(const ScanOptions& options, const CheckpointedScan& scan,
                            JobOutcome outcome, bool saved, std::ostream& err) {
  const std::string& path = scan.writer->Path();
  if (outcome == JobOutcome::kCompleted && saved) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return true;
  }
  const auto& point = scan.writer->LastWritten();
  if (!point) return true;  // a scan that failed at once left none
  if (outcome == JobOutcome::kStopped && saved) {
    CheckpointFields stamps;
    if (const auto stamp = FileStamp(options.rows)) stamps.emplace_back(kRowsStamp, *stamp);
    if (!options.content.empty())
      if (const auto stamp = FileStamp(options.content)) stamps.emplace_back(kContentStamp, *stamp);
    if (!scan.writer->Write(*point, stamps)) return false;
  }
  err << "检查点(checkpoint): " << path << " (--resume goes on from sector " << point->position
      << ")\n";
  return true;
}

}  // namespace ravelin::cli
