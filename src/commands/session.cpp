#include "commands/session.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "analysis/file_identification.h"
#include "analysis/version_guard.h"
#include "assembly/assembly_list.h"
#include "assembly/assembly_rows.h"
#include "catalogue/list_operations.h"
#include "commands/command_guards.h"
#include "commands/tab3_commands.h"
#include "commands/workspace_assembly.h"
#include "common/messages.h"
#include "common/rounding.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Hands everything on and keeps the log lines and the count of unreadable pages for the
// step's result.
class LogRecorder final : public Reporter {
 public:
  LogRecorder(Reporter& to, StepResult& result, bool keep)
      : to_(to), result_(result), keep_(keep) {}
  void Log(std::string_view line) override {
    if (keep_) result_.log.emplace_back(line);
    to_.Log(line);
  }
  void Message(std::string_view text, std::string_view caption, Severity severity) override {
    to_.Message(text, caption, severity);
  }
  void UnreadablePage(std::int64_t page, std::string_view text, std::string_view caption) override {
    ++result_.unreadablePages;
    to_.UnreadablePage(page, text, caption);
  }
  void Progress(int percent) override { to_.Progress(percent); }
  void Position(std::int64_t done, std::int64_t total) override { to_.Position(done, total); }
  void Status(std::string_view text) override { to_.Status(text); }
  void Yield() override { to_.Yield(); }

 private:
  Reporter& to_;
  StepResult& result_;
  bool keep_;
};

// The writer's log lines and messages belong to CREATE MDF; an account taken for CHECK keeps
// only the gauge and lets the window breathe.
class GaugeOnly final : public Reporter {
 public:
  explicit GaugeOnly(Reporter& to) : to_(to) {}
  void Log(std::string_view) override {}
  void Message(std::string_view, std::string_view, Severity) override {}
  void Progress(int percent) override { to_.Progress(percent); }
  void Yield() override { to_.Yield(); }

 private:
  Reporter& to_;
};

// FragmentChosen of the Workspace, changed under its table lock.
class WorkspaceChosenMarks final : public ChosenMarks {
 public:
  explicit WorkspaceChosenMarks(Workspace& ws) : ws_(ws) {}
  void ClearAll() override {
    MutexLock lock(ws_.tableLock);
    VectorChosenMarks(ws_.LockedFragments().FragmentChosen()).ClearAll();
  }
  void Mark(std::int32_t row) override {
    MutexLock lock(ws_.tableLock);
    VectorChosenMarks(ws_.LockedFragments().FragmentChosen()).Mark(row);
  }

 private:
  Workspace& ws_;
};

// The Assembly list and FragmentChosen as the search changes them, under the table lock.
class WorkspaceSearchList final : public SearchList {
 public:
  explicit WorkspaceSearchList(Workspace& ws) : ws_(ws) {}
  std::vector<AssemblyRow> SortedRows() override {
    SortAssemblyList(ws_, kFirstPageColumn);
    return AssemblyListRows(ws_);
  }
  void Choose(std::int32_t row) override { WorkspaceChosenMarks(ws_).Mark(row); }
  void Rebuild() override { RebuildAssemblyList(ws_); }
  bool Chosen(std::int32_t row) const override {
    const auto& chosen = ws_.fragments().FragmentChosen();
    return row >= 0 && static_cast<std::size_t>(row) < chosen.size() &&
           chosen[static_cast<std::size_t>(row)] == 1;
  }

 private:
  static constexpr std::size_t kFirstPageColumn = 2;
  Workspace& ws_;
};

// What the writer needs of the page map: which pages the file's PFS pages call free.
MdfWriteOptions WriteOptionsOf(const Workspace& ws) {
  const PageMap& map = ws.pageMap();
  MdfWriteOptions options;
  options.knownFree = [&map](std::int64_t n) {
    return map.Contains(n) && map.AllocState(n) == kAllocFree;
  };
  options.fileId = ws.CurrentFileId();
  options.versionUncertain = ws.VersionUncertainPages();
  options.passedOver = PassedOverRows(AssemblyListRows(ws), ws.fragments());
  return options;
}

void Fail(StepResult& result, StepOutcome outcome, std::string why) {
  result.outcome = outcome;
  result.why = std::move(why);
}

}  // namespace

bool CanWrite(const std::vector<AssemblyRow>& rows) {
  return !rows.empty() && rows.front().startPage == 0;
}

std::vector<DatabaseFile> Session::ListFiles() {
  {
    // A scan may be adding rows meanwhile.
    MutexLock lock(ws_.tableLock);
    FillHeaderFragments(ws_.fragments(), ws_.LockedList(ws_.ListView3()));
  }
  if (!ws_.source().LiveSource) {
    UiReporter reporter(ws_.ui(), Memo::kMemo2);
    const auto names = NameFilesFromContent(ws_.ListView3(), ws_.Fragments(), reporter);
    MutexLock lock(ws_.tableLock);
    ReportList& list = ws_.LockedList(ws_.ListView3());
    for (const auto& [row, name] : names) list.Edit(row).cells[file_column::kName] = name;
  }
  ws_.ui().Changed(Change::kFileList);
  std::vector<DatabaseFile> files;
  files.reserve(ws_.ListView3().Count());
  for (std::size_t i = 0; i < ws_.ListView3().Count(); ++i) {
    const ReportRow& row = ws_.ListView3().Row(i);
    files.push_back({i, row.Cell(file_column::kName),
                     static_cast<std::uint64_t>(CellNumber(row, file_column::kStartSector)),
                     CellNumber(row, file_column::kSizeKB)});
  }
  return files;
}

AnalysisRequest AnalysisRequestFor(const Workspace& ws, std::size_t row, bool automatic) {
  AnalysisRequest request;
  if (row < ws.ListView3().Count()) {
    const ReportRow& cells = ws.ListView3().Row(row);
    request.header =
        HeaderFragment{static_cast<std::uint64_t>(CellNumber(cells, file_column::kStartSector)),
                       RoundHalfEven(CellNumber(cells, file_column::kSizeKB), 8)};
  }
  request.automatic = automatic;
  request.map.sectorsPerCluster = ws.source().SectorsPerCluster;
  request.map.fileId = ws.CurrentFileId();
  return request;
}

AnalysisResult Session::Analyse(const AnalysisRequest& request, SuccessorQuestion* question) {
  AnalysisResult result;
  if (!request.header) {
    Fail(result, StepOutcome::kFailed, "no database file selected");
    return result;
  }
  UiReporter memo2(ws_.ui(), Memo::kMemo2);
  LogRecorder reporter(memo2, result, keepLog_);
  WorkspaceChosenMarks marks(ws_);
  const AnalysisInputs in{ws_.fragments(), ws_.DecidingFragments(), request.map,
                          request.automatic ? nullptr : question, &ws_.Closing()};
  AnalysisOutputs out{ws_.pageMap(), ws_.FilePageCount(), ws_.DatabaseFileName(), marks};
  const AnalysisOutcome outcome = AnalyseHeaderFragment(*request.header, in, out, reporter);
  ws_.VersionUncertainPages() = std::move(out.versionUncertain);
  result.filePageCount = ws_.FilePageCount();
  result.databaseFileName = ws_.DatabaseFileName();
  if (outcome == AnalysisOutcome::kGaveUp) {
    Fail(result, StepOutcome::kStopped, "the successor question was given up");
  } else if (outcome != AnalysisOutcome::kChained) {
    if (ws_.Closing().load())
      Fail(result, StepOutcome::kStopped, "stopped");
    else
      Fail(result, StepOutcome::kFailed, "the analysis ended before the chain went through");
  } else {
    FillAssemblyList(ws_);
    reporter.Log(Text(TextId::kAnalysisFinished));
    result.outcome = StepOutcome::kCompleted;
    result.fragmentsChained = static_cast<std::int64_t>(AssemblyCount(ws_));
  }
  return result;
}

AnalysisResult Session::AnalyseAsJob(const AnalysisRequest& request,
                                     const std::function<void()>& wait) {
  auto result = std::make_shared<AnalysisResult>();
  result->why = "the analysis job ended with an error";
  ws_.jobs().SetJobName("anlys");
  ws_.jobs().Register("anlys", [this, request, result] {
    *result = Analyse(request, nullptr);
    return JobResult{"anlys", JobOutcomeOf(*result)};
  });
  ws_.jobs().StartThread();
  wait();
  ws_.jobs().JoinAll();
  return std::move(*result);
}

void Session::SortAssembly(std::size_t column) {
  if (column >= ws_.ListView4().ColumnCount()) return;
  ws_.SortColumn() = static_cast<int>(column);
  SortAssemblyList(ws_, column);
  ws_.ui().Changed(Change::kAssemblyList);
}

SearchStepResult Session::Search() {
  SearchStepResult result;
  Ui& ui = ws_.ui();
  UiReporter memo3Ui(ui, Memo::kMemo3);
  LogRecorder memo3(memo3Ui, result, keepLog_);
  {
    // The page map's own tag lines go to the memo of tab III, whoever fills the map.
    UiReporter memo2Ui(ui, Memo::kMemo2);
    LogRecorder memo2(memo2Ui, result, keepLog_);
    PageMapSettings settings;
    settings.sectorsPerCluster = ws_.source().SectorsPerCluster;
    settings.fileId = ws_.CurrentFileId();
    PageMapper mapper(ws_.pageMap(), ws_.DecidingFragments(), settings, memo2);
    WorkspaceSearchList list(ws_);
    // The analysed copy's header fragment (the row at page 0) bounds its pages' LSNs.
    std::optional<VersionGuard> versions;
    for (const AssemblyRow& row : Rows()) {
      if (row.startPage != 0 || row.Pages() <= 0) continue;
      versions.emplace(VersionGuard::ForHeader(ws_.fragments(), ws_.DecidingFragments(),
                                               row.startSector, row.Pages()));
      break;
    }
    result.search = SearchMissingFragments(ws_.fragments(), list, mapper, ws_.FilePageCount(),
                                           memo3, versions ? &*versions : nullptr);
    if (versions) {
      std::vector<std::int64_t>& pages = ws_.VersionUncertainPages();
      for (const std::int64_t p : versions->UncertainPages()) pages.push_back(p);
      std::sort(pages.begin(), pages.end());
      pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    }
    ui.Changed(Change::kAssemblyList);
  }
  for (const std::int64_t added : result.search.foundPerSweep) result.fragmentsAdded += added;
  if (result.search.outcome != SearchOutcome::kSwept) {
    Fail(result, StepOutcome::kFailed, "the search stopped before a sweep found nothing");
    return result;
  }
  SortAssembly(list_column::kStartPage);
  const NameResult name =
      ReadNameFromPage32(Rows(), ws_.FilePageCount(), ws_.source().SectorsPerCluster,
                         ws_.Fragments(), ws_.DatabaseFileName(), memo3);
  if (name.name) ws_.DatabaseFileName() = *name.name;
  if (name.outcome == NameOutcome::kMemoSet) {
    SetAssemblyRemark(ws_, 0, name.memo);
    ui.Changed(Change::kAssemblyList);
  }
  result.outcome = StepOutcome::kCompleted;
  return result;
}

CheckResult Session::Check() {
  CheckResult result;
  UiReporter memo3Ui(ws_.ui(), Memo::kMemo3);
  LogRecorder memo3(memo3Ui, result, keepLog_);
  const PageMap& map = ws_.pageMap();
  const CheckOutcome outcome = CheckMissingPages(
      Rows(), ws_.FilePageCount(), map.Size(),
      [&map](std::int64_t n) { return map.AllocState(n) == kAllocAllocated; }, memo3,
      &result.missing);
  if (outcome == CheckOutcome::kNotChecked)
    Fail(result, StepOutcome::kFailed, "the Assembly list does not begin at page 0");
  else if (outcome == CheckOutcome::kOverlap)
    Fail(result, StepOutcome::kFailed, "rows of the Assembly list overlap");
  else
    result.outcome = StepOutcome::kCompleted;
  return result;
}

WriteResult Session::Account() {
  WriteResult result;
  UiReporter memo3Ui(ws_.ui(), Memo::kMemo3);
  LogRecorder memo3(memo3Ui, result, keepLog_);
  GaugeOnly gauge(memo3Ui);
  AccountingSink account;
  // The options first: what they take of the rows is gone before the writer's copy is made.
  const MdfWriteOptions options = WriteOptionsOf(ws_);
  result.write = WriteMdf(Rows(), ws_.FilePageCount(), ws_.source().SectorsPerCluster,
                          ws_.Fragments(), account, gauge, options);
  if (!result.write.written) {
    Fail(result, StepOutcome::kFailed, "the Assembly list cannot be laid out as a file");
    return result;
  }
  result.account = account.Finish(result.write);
  for (const std::string& line : result.account->SummaryLines()) memo3.Log(line);
  result.outcome = StepOutcome::kCompleted;
  return result;
}

WriteResult Session::Write(const std::string& path, bool account) {
  WriteResult result;
  UiReporter memo3Ui(ws_.ui(), Memo::kMemo3);
  LogRecorder memo3(memo3Ui, result, keepLog_);
  // The options first: what they take of the rows is gone before the writer's copy is made.
  const MdfWriteOptions options = WriteOptionsOf(ws_);
  // Refused before the output is created, so nothing is left behind. The rows, placed in
  // page order, are what the writer gets: it places them again as they are.
  PlacedRows placed = PlaceRows(Rows());
  if (!placed.conflicts.empty()) {
    result.write.conflicts = std::move(placed.conflicts);
    memo3.Message("error", kPromptCaption, Severity::kInformation);
    Fail(result, StepOutcome::kFailed, "rows of the Assembly list overlap or are inverted");
    return result;
  }
  const std::uint64_t expected =
      ws_.FilePageCount() > 0 ? static_cast<std::uint64_t>(ws_.FilePageCount()) * kPageSize : 0;
  auto file = CreateOutput(ws_, path, expected);
  if (!file) {
    Fail(result, StepOutcome::kFailed, "the output cannot be created");
    return result;
  }
  FileSink sink(*file);
  AccountingSink accounting(&sink);
  MdfSink& out = account ? static_cast<MdfSink&>(accounting) : sink;
  result.write = WriteMdf(std::move(placed.rows), ws_.FilePageCount(),
                          ws_.source().SectorsPerCluster, ws_.Fragments(), out, memo3, options);
  if (!result.write.written || !file->Commit()) {
    ShowWriteFailed(ws_, *file);
    Fail(result, StepOutcome::kFailed, "the file could not be written whole");
    return result;
  }
  if (account) result.account = accounting.Finish(result.write);
  memo3.Log(Text(TextId::kMdfWritten));
  result.path = path;
  result.outcome = StepOutcome::kCompleted;
  return result;
}

std::vector<AssemblyRow> Session::Rows() const { return AssemblyListRows(ws_); }

JobOutcome JobOutcomeOf(const StepResult& result) {
  switch (result.outcome) {
    case StepOutcome::kCompleted:
      return JobOutcome::kCompleted;
    case StepOutcome::kStopped:
      return JobOutcome::kStopped;
    case StepOutcome::kFailed:
      break;
  }
  return JobOutcome::kFailed;
}

}  // namespace ravelin
