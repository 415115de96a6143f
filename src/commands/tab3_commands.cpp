#include "commands/tab3_commands.h"

#include "analysis/file_identification.h"
#include "catalogue/list_operations.h"
#include "commands/command_guards.h"
#include "commands/successor_dialog.h"
#include "commands/workspace_assembly.h"
#include "common/rounding.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// FragmentChosen of the Workspace, changed under its table lock.
class WorkspaceChosenMarks final : public ChosenMarks {
 public:
  explicit WorkspaceChosenMarks(Workspace& ws) : ws_(ws) {}
  void ClearAll() override {
    std::lock_guard lock(ws_.tableLock);
    VectorChosenMarks(ws_.fragments.FragmentChosen()).ClearAll();
  }
  void Mark(std::int32_t row) override {
    std::lock_guard lock(ws_.tableLock);
    VectorChosenMarks(ws_.fragments.FragmentChosen()).Mark(row);
  }

 private:
  Workspace& ws_;
};

// Manual mode's question, through the dialog.
class DialogQuestion final : public SuccessorQuestion {
 public:
  explicit DialogQuestion(Workspace& ws) : ws_(ws) {}
  std::optional<std::int32_t> AskSuccessor(const std::vector<std::int32_t>& group,
                                           std::int32_t lastRow) override {
    std::int32_t chosen = 0;
    if (ravelin::AskSuccessor(ws_, group, lastRow, chosen) != 0) return std::nullopt;
    return chosen;
  }

 private:
  Workspace& ws_;
};

void EnableAnalysis(Workspace& ws, bool enabled) {
  ws.controls.tab3.Button1Enabled.store(enabled);
  ws.controls.tab3.chkautoEnabled.store(enabled);
  ws.ui().Changed(Change::kControls);
}

}  // namespace

void PageControl1Change(Workspace& ws, int activePage) {
  ws.controls.PageControl1 = activePage;
  if (activePage == kTabAnalysis) ListHeaderFragments(ws);
}

void ListHeaderFragments(Workspace& ws) {
  {
    // A scan may be adding rows meanwhile.
    std::lock_guard lock(ws.tableLock);
    FillHeaderFragments(ws.fragments, ws.ListView3);
  }
  if (!ws.source.LiveSource) {
    UiReporter reporter(ws.ui(), Memo::kMemo2);
    NameFilesFromContent(ws.ListView3, ws.Fragments(), reporter);
  }
  ws.ui().Changed(Change::kFileList);
}

void ListView3Click(Workspace& ws) {
  ReportList& list = ws.ListView3;
  const std::ptrdiff_t current = list.Current();
  if (current < 0) return;
  for (const std::size_t i : list.SelectedRows()) list.Edit(i).selected = false;
  list.Edit(static_cast<std::size_t>(current)).selected = true;
  ws.ui().Changed(Change::kFileList);
}

AnalysisRequest ReadAnalysisRequest(const Workspace& ws) {
  AnalysisRequest request;
  const std::vector<std::size_t> selected = ws.ListView3.SelectedRows();
  if (!selected.empty()) {
    const ReportRow& row = ws.ListView3.Row(selected.front());
    request.header =
        HeaderFragment{static_cast<std::uint64_t>(CellNumber(row, file_column::kStartSector)),
                       RoundHalfEven(CellNumber(row, file_column::kSizeKB), 8)};
  }
  request.automatic = ws.controls.tab3.chkauto;
  request.map.sectorsPerCluster = ws.source.SectorsPerCluster;
  request.map.fileId = ws.CurrentFileId;
  return request;
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

  UiReporter reporter(ws.ui(), Memo::kMemo2);
  WorkspaceChosenMarks marks(ws);
  DialogQuestion question(ws);
  const AnalysisInputs in{ws.fragments, ws.Fragments(), request.map,
                          request.automatic ? nullptr : &question, &ws.Closing};
  AnalysisOutputs out{ws.pageMap, ws.FilePageCount, ws.DatabaseFileName, marks};
  const AnalysisOutcome outcome = AnalyseHeaderFragment(*request.header, in, out, reporter);
  if (outcome == AnalysisOutcome::kGaveUp) {
    result.outcome = JobOutcome::kStopped;
    return result;
  }
  if (outcome != AnalysisOutcome::kChained) {
    result.outcome = JobOutcome::kFailed;
    return result;
  }
  FillAssemblyList(ws);
  reporter.Log(kAnalysisFinishedLine);
  return result;
}

void Button1Click(Workspace& ws) {
  Ui& ui = ws.ui();
  if (!ws.ScanStopped.load()) {
    ui.ShowMessage(kScanNotFinishedMessage);
    return;
  }
  if (RefuseWhileJobRuns(ws)) return;  // an analysis already runs
  // Tab IV, then tab III again: a window shows both in turn (no list is rebuilt by it).
  ws.controls.PageControl1 = kTabAssembly;
  ui.Changed(Change::kControls);
  ws.controls.PageControl1 = kTabAnalysis;
  ui.Changed(Change::kControls);
  ws.jobs.SetJobName("anlys");
  NewSuccessorDialog(ws.frmuserchoose);
  const AnalysisRequest request = ReadAnalysisRequest(ws);
  // Disabled now, on the window's thread, so that no second click starts a second analysis
  // before the job has begun.
  EnableAnalysis(ws, false);
  if (request.automatic) {
    ws.jobs.Register("anlys", [&ws, request] { return AnalyseFile(ws, request); });
    ws.jobs.StartThread();
    return;
  }
  ws.AnalysisOnWindowThread.store(true);
  struct Done {
    Workspace& ws;
    ~Done() { ws.AnalysisOnWindowThread.store(false); }
  } done{ws};
  AnalyseFile(ws, request);
}

}  // namespace ravelin
