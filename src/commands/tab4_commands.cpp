#include "commands/tab4_commands.h"

#include "assembly/assembly_rows.h"
#include "assembly/mdf_writer.h"
#include "assembly/missing_fragment_search.h"
#include "assembly/missing_pages.h"
#include "catalogue/list_operations.h"
#include "commands/command_guards.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Tab IV's operations run on the window's thread and let it handle messages between rows:
// while one runs, the buttons are disabled and a second one is refused.
class Tab4Operation {
 public:
  explicit Tab4Operation(Workspace& ws) : ws_(ws), saved_(ws.controls.tab4) {
    Tab4Controls& tab4 = ws_.controls.tab4;
    tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = false;
    ws_.tab4Busy = true;
    ws_.ui().Changed(Change::kControls);
  }
  ~Tab4Operation() {
    ws_.controls.tab4 = saved_;
    ws_.tab4Busy = false;
    ws_.ui().Changed(Change::kControls);
  }
  Tab4Operation(const Tab4Operation&) = delete;
  Tab4Operation& operator=(const Tab4Operation&) = delete;

 private:
  Workspace& ws_;
  Tab4Controls saved_;
};

bool RefuseTab4(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return true;
  if (!ws.tab4Busy) return false;
  ws.ui().ShowMessage(kJobRunningMessage, kPromptCaption, MessageIcon::kWarning);
  return true;
}

// What the writer needs of the page map: which pages the file's PFS pages call free.
MdfWriteOptions WriteOptionsOf(const Workspace& ws) {
  const PageMap& map = ws.pageMap;
  MdfWriteOptions options;
  options.knownFree = [&map](std::int64_t n) {
    return map.Contains(n) && map.AllocState(n) == kAllocFree;
  };
  options.fileId = ws.CurrentFileId;
  return options;
}

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

}  // namespace

std::string MdfFileName(const std::string& databaseFileName) {
  const std::size_t slash = databaseFileName.rfind('\\');
  return slash == std::string::npos ? databaseFileName : databaseFileName.substr(slash + 1);
}

void ListView4Click(Workspace& ws) {
  const std::ptrdiff_t current = ws.ListView4.Current();
  if (current < 0) return;
  ws.ListView4.Edit(static_cast<std::size_t>(current)).selected = true;
  ws.ui().Changed(Change::kAssemblyList);
}

void ListView4ColumnClick(Workspace& ws, std::size_t column) {
  if (column >= ws.ListView4.ColumnCount()) return;
  ws.SortColumn = static_cast<int>(column);
  Tab4Controls& tab4 = ws.controls.tab4;
  const bool byFirstPage = column == 2;
  tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = byFirstPage;
  {
    std::lock_guard lock(ws.tableLock);
    ws.ListView4.Sort(column);
  }
  ws.ui().Changed(Change::kControls);
  ws.ui().Changed(Change::kAssemblyList);
}

void CheckAssembly(Workspace& ws) {
  UiReporter reporter(ws.ui(), Memo::kMemo3);
  const PageMap& map = ws.pageMap;
  CheckMissingPages(
      AssemblyRows(ws.ListView4), ws.FilePageCount, map.Size(),
      [&map](std::int64_t n) { return map.AllocState(n) == kAllocAllocated; }, reporter);
}

void Button5Click(Workspace& ws) {
  if (RefuseTab4(ws)) return;
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  CheckAssembly(ws);
  // The account of the file as CREATE MDF would write it, repairs included: read before
  // them, a split page would count as damaged.
  const std::vector<AssemblyRow> rows = AssemblyRows(ws.ListView4);
  if (rows.empty() || rows.front().startPage != 0) return;
  Tab4Operation busy(ws);
  UiReporter memo3(ui, Memo::kMemo3);
  GaugeOnly gauge(memo3);
  AccountingSink account;
  const MdfWriteResult result = WriteMdf(rows, ws.FilePageCount, ws.source.SectorsPerCluster,
                                         ws.Fragments(), account, gauge, WriteOptionsOf(ws));
  if (!result.written) return;
  for (const std::string& line : account.Finish(result).SummaryLines()) memo3.Log(line);
}

SearchResult Button6Click(Workspace& ws) {
  if (RefuseTab4(ws)) return {};
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  SearchResult result;
  {
    Tab4Operation busy(ws);
    UiReporter memo3(ui, Memo::kMemo3);
    // The page map's own tag lines go to the memo of tab III, whoever fills the map.
    UiReporter memo2(ui, Memo::kMemo2);
    PageMapSettings settings;
    settings.sectorsPerCluster = ws.source.SectorsPerCluster;
    settings.fileId = ws.CurrentFileId;
    PageMapper mapper(ws.pageMap, ws.Fragments(), settings, memo2);
    TableSearchList list(ws.fragments, ws.ListView4, &ws.tableLock);
    // The analysed copy's header fragment (the row at page 0) bounds its pages' LSNs.
    std::optional<VersionGuard> versions;
    for (const AssemblyRow& row : AssemblyRows(ws.ListView4)) {
      if (row.startPage != 0 || row.Pages() <= 0) continue;
      versions.emplace(ws.Fragments(),
                       VersionGuard::BoundFromHeader(ws.Fragments(), row.startSector, row.Pages()),
                       VersionGuard::AgeAmongCopies(ws.fragments, ws.Fragments(), row.startSector));
      break;
    }
    result = SearchMissingFragments(ws.fragments, list, mapper, ws.FilePageCount, memo3,
                                    versions ? &*versions : nullptr);
    ui.Changed(Change::kAssemblyList);
  }
  // The buttons stay disabled after an early stop, until the next click on column 2.
  if (result.outcome != SearchOutcome::kSwept) {
    Tab4Controls& tab4 = ws.controls.tab4;
    tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = false;
    ui.Changed(Change::kControls);
    return result;
  }
  ListView4ColumnClick(ws, 2);
  UiReporter memo3(ui, Memo::kMemo3);
  const NameResult name =
      ReadNameFromPage32(AssemblyRows(ws.ListView4), ws.FilePageCount, ws.source.SectorsPerCluster,
                         ws.Fragments(), ws.DatabaseFileName, memo3);
  if (name.name) ws.DatabaseFileName = *name.name;
  if (name.outcome == NameOutcome::kMemoSet) {
    {
      std::lock_guard lock(ws.tableLock);
      ReportRow& first = ws.ListView4.Edit(0);
      if (first.cells.size() > list_column::kRemark) first.cells[list_column::kRemark] = name.memo;
    }
    ui.Changed(Change::kAssemblyList);
  }
  return result;
}

bool CreateMdf(Workspace& ws, const std::string& path, PageAccount* account) {
  const std::vector<AssemblyRow> rows = AssemblyRows(ws.ListView4);
  const std::uint64_t expected =
      ws.FilePageCount > 0 ? static_cast<std::uint64_t>(ws.FilePageCount) * kPageSize : 0;
  auto file = CreateOutput(ws, path, expected);
  if (!file) return false;
  Tab4Operation busy(ws);
  UiReporter reporter(ws.ui(), Memo::kMemo3);
  FileSink sink(*file);
  AccountingSink accounting(&sink);
  MdfSink& out = account ? static_cast<MdfSink&>(accounting) : sink;
  const MdfWriteResult result = WriteMdf(rows, ws.FilePageCount, ws.source.SectorsPerCluster,
                                         ws.Fragments(), out, reporter, WriteOptionsOf(ws));
  if (!result.written || !file->Commit()) {
    ShowWriteFailed(ws, *file);
    return false;
  }
  if (account) *account = accounting.Finish(result);
  ws.ui().AppendMemo(Memo::kMemo3, "组合完毕");
  return true;
}

void Button2Click(Workspace& ws) {
  if (RefuseTab4(ws)) return;
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  if (ws.ListView4.Empty() || AssemblyRows(ws.ListView4).front().startPage != 0) return;
  const auto path = ui.SaveFileDialog(kSaveMdfTitle, MdfFileName(ws.DatabaseFileName));
  if (!path) return;
  CreateMdf(ws, *path);
}

}  // namespace ravelin
