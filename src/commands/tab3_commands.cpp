#include "commands/tab3_commands.h"

#include "commands/command_guards.h"
#include "commands/successor_dialog.h"
#include "common/messages.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

void EnableAnalysis(Workspace& ws, bool enabled) {
  ws.controls().tab3.Button1Enabled.store(enabled);
  ws.controls().tab3.chkautoEnabled.store(enabled);
  ws.ui().Changed(Change::kControls);
}

}  // namespace

void PageControl1Change(Workspace& ws, int activePage) {
  ws.controls().PageControl1 = activePage;
  if (activePage == kTabAnalysis) ListHeaderFragments(ws);
}

void ListHeaderFragments(Workspace& ws) { Session(ws).ListFiles(); }

void ListView3Click(Workspace& ws) {
  {
    MutexLock lock(ws.tableLock);
    ReportList& list = ws.LockedList(ws.ListView3());
    const std::ptrdiff_t current = list.Current();
    if (current < 0) return;
    for (const std::size_t i : list.SelectedRows()) list.Edit(i).selected = false;
    list.Edit(static_cast<std::size_t>(current)).selected = true;
  }
  ws.ui().Changed(Change::kFileList);
}

AnalysisRequest ReadAnalysisRequest(const Workspace& ws) {
  const std::vector<std::size_t> selected = ws.ListView3().SelectedRows();
  return AnalysisRequestFor(ws, selected.empty() ? ws.ListView3().Count() : selected.front(),
                            ws.controls().tab3.chkauto);
}

JobResult AnalyseFile(Workspace& ws, const AnalysisRequest& request) {
  EnableAnalysis(ws, false);
  struct Enable {
    Workspace& ws;
    ~Enable() { EnableAnalysis(ws, true); }
  } enableAtEnd{ws};
  JobResult result;
  result.name = "anlys";
  result.outcome = JobOutcome::kCompleted;
  if (!request.header) return result;  // no row selected: nothing is analysed
  DialogSuccessorQuestion question(ws);
  result.outcome = JobOutcomeOf(Session(ws).Analyse(request, &question));
  return result;
}

void Button1Click(Workspace& ws) {
  Ui& ui = ws.ui();
  if (!ws.ScanStopped().load()) {
    ui.ShowMessage(Text(TextId::kScanNotFinished));
    return;
  }
  if (RefuseWhileJobRuns(ws)) return;  // an analysis already runs
  // Tab IV, then tab III again: a window shows both in turn (no list is rebuilt by it).
  ws.controls().PageControl1 = kTabAssembly;
  ui.Changed(Change::kControls);
  ws.controls().PageControl1 = kTabAnalysis;
  ui.Changed(Change::kControls);
  ws.jobs().SetJobName("anlys");
  NewSuccessorDialog(ws.frmuserchoose());
  const AnalysisRequest request = ReadAnalysisRequest(ws);
  // Disabled now, on the window's thread, so that no second click starts a second analysis
  // before the job has begun.
  EnableAnalysis(ws, false);
  if (request.automatic) {
    ws.jobs().Register("anlys", [&ws, request] { return AnalyseFile(ws, request); });
    ws.jobs().StartThread();
    return;
  }
  ws.AnalysisOnWindowThread().store(true);
  struct Done {
    Workspace& ws;
    ~Done() { ws.AnalysisOnWindowThread().store(false); }
  } done{ws};
  AnalyseFile(ws, request);
}

}  // namespace ravelin
