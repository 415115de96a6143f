#include "commands/tab4_commands.h"

#include "catalogue/list_operations.h"
#include "commands/command_guards.h"
#include "commands/session.h"
#include "common/messages.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Tab IV's operations run on the window's thread and let it handle messages between rows:
// while one runs, the buttons are disabled and a second one is refused.
class Tab4Operation {
 public:
  explicit Tab4Operation(Workspace& ws) : ws_(ws), saved_(ws.controls().tab4) {
    Tab4Controls& tab4 = ws_.controls().tab4;
    tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = false;
    ws_.tab4Busy() = true;
    ws_.ui().Changed(Change::kControls);
  }
  ~Tab4Operation() {
    ws_.controls().tab4 = saved_;
    ws_.tab4Busy() = false;
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
  if (!ws.tab4Busy()) return false;
  ws.ui().ShowMessage(Text(TextId::kJobRunning), kPromptCaption, MessageIcon::kWarning);
  return true;
}

}  // namespace

std::string MdfFileName(const std::string& databaseFileName) {
  const std::size_t slash = databaseFileName.rfind('\\');
  return slash == std::string::npos ? databaseFileName : databaseFileName.substr(slash + 1);
}

void ListView4Click(Workspace& ws) {
  const std::ptrdiff_t current = ws.ListView4().Current();
  if (current < 0) return;
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView4()).Edit(static_cast<std::size_t>(current)).selected = true;
  }
  ws.ui().Changed(Change::kAssemblyList);
}

void ListView4ColumnClick(Workspace& ws, std::size_t column) {
  if (column >= ws.ListView4().ColumnCount()) return;
  Tab4Controls& tab4 = ws.controls().tab4;
  const bool byFirstPage = column == list_column::kStartPage;
  tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = byFirstPage;
  Session(ws).SortAssembly(column);
  ws.ui().Changed(Change::kControls);
}

void CheckAssembly(Workspace& ws) { Session(ws).Check(); }

void Button5Click(Workspace& ws) {
  if (RefuseTab4(ws)) return;
  ws.ui().ClearMemo(Memo::kMemo3);
  Session session(ws);
  // A check that stopped at "error" (rows that overlap, or run past the file's end) has no
  // file to account for. Otherwise the account of the file as CREATE MDF would write it,
  // repairs included: read before them, a split page would count as damaged.
  if (!session.Check().Completed() || !CanWrite(session.Rows())) return;
  Tab4Operation busy(ws);
  session.Account();
}

SearchResult Button6Click(Workspace& ws) {
  if (RefuseTab4(ws)) return {};
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  SearchStepResult result;
  {
    Tab4Operation busy(ws);
    result = Session(ws).Search();
  }
  // The closing sort is a click on column 2 and enables the buttons; after an early stop they
  // stay disabled until the next click on column 2.
  const bool swept = result.Completed();
  Tab4Controls& tab4 = ws.controls().tab4;
  tab4.Button2Enabled = tab4.Button5Enabled = tab4.Button6Enabled = swept;
  ui.Changed(Change::kControls);
  return result.search;
}

bool CreateMdf(Workspace& ws, const std::string& path, PageAccount* account) {
  Tab4Operation busy(ws);
  WriteResult result = Session(ws).Write(path, account != nullptr);
  if (account && result.account) *account = std::move(*result.account);
  return result.Completed();
}

void Button2Click(Workspace& ws) {
  if (RefuseTab4(ws)) return;
  Ui& ui = ws.ui();
  ui.ClearMemo(Memo::kMemo3);
  if (!CanWrite(Session(ws).Rows())) return;
  const auto path =
      ui.SaveFileDialog(Text(TextId::kSaveMdfTitle), MdfFileName(ws.DatabaseFileName()));
  if (!path) return;
  // What was written and what it is worth follow "组合完毕": the account the writer kept.
  PageAccount account;
  if (CreateMdf(ws, *path, &account))
    ui.AppendMemo(Memo::kMemo3, *path + ": " + StatusLine(account.Assess()));
}

}  // namespace ravelin
