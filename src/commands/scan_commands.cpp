#include "commands/scan_commands.h"

#include "commands/command_guards.h"
#include "commands/scan_resume.h"
#include "commands/workspace_fragments.h"
#include "common/clock.h"
#include "common/messages.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// The "scan" job: the free-space map when asked for, the scan, and the page-order index of
// a completed scan. However it ends, no scan is running afterwards.
JobResult ScanJob(Workspace& ws, const ScanSettings& settings,
                  const std::shared_ptr<CheckpointWriter>& checkpoints = nullptr) {
  Ui& ui = ws.ui();
  UiReporter reporter(ui, Memo::kMemo1);
  struct Idle {
    Workspace& ws;
    ~Idle() { ws.ScanStopped().store(true); }
  } idle{ws};
  JobResult result;
  result.outcome = JobOutcome::kFailed;
  result.position = settings.start;
  result.end = settings.end;

  ui.ClearMemo(Memo::kMemo1);
  if (ws.source().HasFileSystem && settings.freeSpaceOnly) {
    reporter.Log(std::string(Text(TextId::kReadingBitmap)) + NowText());
    if (ws.freeSpaceMap().BuildFreeSpaceMap(ws.source(), ws.reader(), reporter) != 0) {
      ui.ShowMessage(Text(TextId::kFreeSpaceMapFailed));
      return result;
    }
  }
  reporter.Log(std::string(Text(TextId::kScanStarted)) + NowText());
  reporter.Status(Text(TextId::kScanStarted));

  ws.FactsForScan();
  WorkspaceFragmentSink sink(ws);
  const ScanResult scan =
      ScanSource(settings, ws.source(), ws.opener(), ws.reader(), ws.freeSpaceMap(),
                 ws.ScanStopped(), sink, reporter, checkpoints.get());
  // Where it stopped, or that it completed, is the checkpoint a resumed scan starts from.
  if (checkpoints && (scan.outcome == ScanOutcome::kStopped ||
                      (scan.outcome == ScanOutcome::kCompleted &&
                       (checkpoints->Written() > 0 || checkpoints->atCompletion))))
    checkpoints->Write(scan.reached);
  result.position = scan.position;
  result.end = scan.end;
  if (scan.outcome == ScanOutcome::kStopped) result.outcome = JobOutcome::kStopped;
  if (scan.outcome != ScanOutcome::kCompleted) return result;
  reporter.Log(std::string(Text(TextId::kFinished)) + NowText());
  reporter.Status(Text(TextId::kFinished));
  BuildFragmentIndex(ws);
  result.outcome = JobOutcome::kCompleted;
  ui.Changed(Change::kFragmentList);
  return result;
}

}  // namespace

std::optional<ScanSettings> CheckScanRequest(const ScanRequest& request, std::string* error) {
  auto fail = [&](TextId message) -> std::optional<ScanSettings> {
    if (error) *error = Text(message);
    return std::nullopt;
  };
  if (!request.start) return fail(TextId::kStartNotInteger);
  if (!request.end) return fail(TextId::kEndNotInteger);
  if (!request.step) return fail(TextId::kStepNotInteger);
  if (*request.step <= 0) return fail(TextId::kStepNotPositive);
  if (*request.start < 0) return fail(TextId::kStartNegative);
  ScanSettings settings;
  settings.start = *request.start;
  settings.end = *request.end;
  settings.step = *request.step;
  settings.freeSpaceOnly = request.freeSpaceOnly;
  settings.fileId = request.fileId;
  settings.readAhead = request.readAhead;
  settings.resumeFrom = request.resumeFrom;
  if (request.pageLimit) {
    if (!request.startPageBelow) return fail(TextId::kPageLimitNotInteger);
    settings.startPageBelow = *request.startPageBelow;
  }
  return settings;
}

ScanRequest ScanRequestFromControls(const Workspace& ws, bool readAhead) {
  const Tab1Controls& tab1 = ws.controls().tab1;
  ScanRequest request;
  request.start = ParseInteger(tab1.edtbegin);
  request.end = ParseInteger(tab1.edtend);
  request.step = ParseInteger(tab1.edtsecs);
  request.freeSpaceOnly = tab1.chkfreespace;
  request.fileId = ws.CurrentFileId();
  request.pageLimit = tab1.CheckBox1;
  if (tab1.CheckBox1) request.startPageBelow = ParseInteger<std::int32_t>(tab1.edtmaxpageid);
  request.readAhead = readAhead;
  return request;
}

std::optional<ScanSettings> ReadScanSettings(const Workspace& ws, std::string* error) {
  return CheckScanRequest(ScanRequestFromControls(ws, true), error);
}

JobResult ScanDataSource(Workspace& ws, bool readAhead) {
  auto settings = ReadScanSettings(ws, nullptr);
  if (!settings) {
    ws.ScanStopped().store(true);
    return {"scan", JobOutcome::kFailed, 0, 0};
  }
  settings->readAhead = readAhead;
  ws.source().SectorsPerCluster = static_cast<std::int16_t>(settings->step);
  return ScanJob(ws, *settings);
}

std::optional<ScanSettings> PrepareScan(Workspace& ws, const ScanRequest& request) {
  Ui& ui = ws.ui();
  if (!ws.source().SourceChosen) {
    ui.ShowMessage(Text(TextId::kChooseSource), kPromptCaption, MessageIcon::kWarning);
    return std::nullopt;
  }
  // A manual analysis reads the fragment table on this thread while it waits for an answer;
  // a scan appending to the table meanwhile would pull it from under it.
  if (ws.AnalysisOnWindowThread().load()) {
    ui.ShowMessage(Text(TextId::kJobRunning), kPromptCaption, MessageIcon::kWarning);
    return std::nullopt;
  }
  // Options that are not numbers are refused here, before any thread starts, instead of
  // ending the job silently and leaving it looking busy.
  std::string error;
  auto settings = CheckScanRequest(request, &error);
  if (!settings) ui.ShowMessage(error, kPromptCaption, MessageIcon::kWarning);
  return settings;
}

void StartScanJob(Workspace& ws, const ScanSettings& settings,
                  std::shared_ptr<CheckpointWriter> checkpoints) {
  ws.CurrentFileId() = settings.fileId;
  // The step is the cluster size from now on (low 16 bits), also when it is scanned at 16.
  ws.source().SectorsPerCluster = static_cast<std::int16_t>(settings.step);
  ws.ScanStopped().store(false);
  ws.jobs().Register("scan",
                     [&ws, settings, checkpoints] { return ScanJob(ws, settings, checkpoints); });
  ws.jobs().SetJobName("scan");
  ws.jobs().StartThread();
}

void StopScan(Workspace& ws) { ws.ScanStopped().store(true); }

void btnscanClick(Workspace& ws, bool readAhead) {
  if (!ws.ReadCurrentFileId()) {
    ws.ui().ShowMessage(NotAnIntegerMessage(ws.controls().tab1.Edit2), kPromptCaption,
                        MessageIcon::kError);
    return;
  }
  N2Click(ws, readAhead);
}

void N2Click(Workspace& ws, bool readAhead) {
  const auto settings = PrepareScan(ws, ScanRequestFromControls(ws, readAhead));
  if (!settings) return;
  Tab1Controls& tab1 = ws.controls().tab1;
  ws.controls().PageControl1 = 0;  // the scan's log on tab I is what to watch now
  tab1.btnscanEnabled = false;
  tab1.optionsEnabled = false;
  tab1.chkfreespaceEnabled = false;
  ws.ui().Changed(Change::kControls);
  StartScanJob(ws, *settings);
}

void btnstopClick(Workspace& ws) { N3Click(ws); }

void N3Click(Workspace& ws) { StopScan(ws); }
void CheckBox1Click(Workspace& ws) {
  Tab1Controls& tab1 = ws.controls().tab1;
  tab1.edtmaxpageidEnabled = tab1.CheckBox1;
  ws.ui().Changed(Change::kControls);
}

}  // namespace ravelin
