#include "commands/tab4_commands.h"

#include "assembly/assembly_rows.h"
#include "assembly/mdf_writer.h"
#include "assembly/missing_pages.h"
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

void Button5Click(Workspace& ws) {
  if (RefuseTab4(ws)) return;
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  UiReporter reporter(ui, Memo::kMemo3);
  const PageMap& map = ws.pageMap;
  CheckMissingPages(
      AssemblyRows(ws.ListView4), ws.FilePageCount, map.Size(),
      [&map](std::int64_t n) { return map.AllocState(n) == kAllocAllocated; }, reporter);
}

bool CreateMdf(Workspace& ws, const std::string& path) {
  const std::vector<AssemblyRow> rows = AssemblyRows(ws.ListView4);
  const std::uint64_t expected =
      ws.FilePageCount > 0 ? static_cast<std::uint64_t>(ws.FilePageCount) * kPageSize : 0;
  auto file = CreateOutput(ws, path, expected);
  if (!file) return false;
  Tab4Operation busy(ws);
  UiReporter reporter(ws.ui(), Memo::kMemo3);
  const PageMap& map = ws.pageMap;
  MdfWriteOptions options;
  options.knownFree = [&map](std::int64_t n) {
    return map.Contains(n) && map.AllocState(n) == kAllocFree;
  };
  const MdfWriteResult result = WriteMdf(rows, ws.FilePageCount, ws.source.SectorsPerCluster,
                                         ws.Fragments(), *file, reporter, options);
  if (!result.written || !file->Commit()) {
    ShowWriteFailed(ws, *file);
    return false;
  }
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
