#include "commands/popup_menu1.h"

#include "analysis/file_identification.h"
#include "catalogue/list_operations.h"
#include "catalogue/update_info.h"
#include "commands/command_guards.h"
#include "commands/workspace_assembly.h"
#include "common/messages.h"
#include "common/rounding.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// What an extraction that ended with `status` shows; 0 when it wrote everything.
int Finish(Workspace& ws, OutputFile& file, ExtractStatus status) {
  if (status == ExtractStatus::kReadFailed) {
    // The file keeps the pages written so far.
    ws.ui().ShowMessage(kReadDiskError);
    if (!file.Commit()) ShowWriteFailed(ws, file);
    return 1;
  }
  if (status == ExtractStatus::kWriteFailed || !file.Commit()) {
    ShowWriteFailed(ws, file);
    return 1;
  }
  return 0;
}

std::string RowName(const ExtractRow& row) {
  return "碎片(fragment) " + (row.number >= 0 ? std::to_string(row.number) : std::string("?")) +
         ": pages [" + std::to_string(row.startPage) + ", " + std::to_string(row.endPage) +
         ") at sector " + std::to_string(row.startSector);
}

}  // namespace

int ExtractCombined(Workspace& ws, const std::vector<ExtractRow>& rows, const std::string& path) {
  const CombinedPlan plan = PlanCombined(rows, FileSizeFromHeaderRow(rows, ws.Fragments()));
  if (plan.badRow) {
    ws.ui().ShowMessage("error,碎片页号不合理，未写入(refused, nothing written): " +
                            RowName(*plan.badRow) + " - " + plan.why,
                        kPromptCaption, MessageIcon::kError);
    return kExtractRefused;
  }
  auto file = CreateOutput(ws, path, plan.pages * kPageSize);
  if (!file) return kExtractRefused;
  UiReporter reporter(ws.ui(), Memo::kMemo1);
  return Finish(
      ws, *file,
      WriteCombined(rows, ws.Fragments(), ws.source().SectorsPerCluster, *file, reporter));
}

std::string FragmentFileName(const std::string& folder, const ExtractRow& row) {
  return folder + "/" + std::to_string(row.startSector) + ".hex";
}

int ExtractFragmentFiles(Workspace& ws, const std::vector<ExtractRow>& rows,
                         const std::string& folder) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ws.ui().ProcessMessages();
    if (rows.size() > 1) ws.ui().SetProgress(static_cast<int>(100 * i / (rows.size() - 1)));
    const std::string name = FragmentFileName(folder, rows[i]);
    const std::int64_t pages = RoundHalfEven(rows[i].sizeKB, 8);
    auto file =
        CreateOutput(ws, name, pages > 0 ? static_cast<std::uint64_t>(pages) * kPageSize : 0);
    // Refused before anything was written only when it is the first file.
    if (!file) return i == 0 ? kExtractRefused : 1;
    if (Finish(ws, *file, WriteFragmentPages(rows[i], ws.Fragments(), *file)) != 0) return 1;
  }
  return 0;
}

void N9Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  const bool combined = ui.AskYesNo(Text(TextId::kFileTypeQuestion), Text(TextId::kExtractCaption));
  // The cells are taken now: the window handles messages while the files are written.
  const std::vector<ExtractRow> rows = TickedRows(ws.ListView2());
  if (combined) {
    if (ui.AskYesNo(Text(TextId::kOrderCheckQuestion), Text(TextId::kExtractCaption))) {
      if (const auto bad = FirstOutOfOrder(rows)) {
        ui.ShowMessage("error,pageid not connectted:" + std::to_string(*bad));
        return;
      }
    }
    const auto path = ui.SaveFileDialog("组合文件", "noname");
    if (!path) return;
    if (ExtractCombined(ws, rows, *path) == 0) ui.ShowMessage(Text(TextId::kSaved));
  } else {
    const auto folder = ui.ChooseFolder(Text(TextId::kChooseFolderTitle));
    if (!folder) return;
    if (ExtractFragmentFiles(ws, rows, *folder) == 0) ui.ShowMessage(Text(TextId::kSaved));
  }
}

void N10Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView2()).CheckAll(true);
  }
  ws.ui().Changed(Change::kFragmentList);
}

void N14Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView2()).CheckAll(false);
  }
  ws.ui().Changed(Change::kFragmentList);
}

void N15Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  {
    MutexLock lock(ws.tableLock);
    ws.LockedList(ws.ListView2()).InvertChecks();
  }
  ws.ui().Changed(Change::kFragmentList);
}

void N12Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  const CheckedTotals totals = TotalsOfChecked(ws.ListView2());
  ws.ui().ShowMessage(std::string(Text(TextId::kTickedTotals)) + "碎片数量为" +
                      std::to_string(totals.count) + "总大小为:" + std::to_string(totals.sizeKB) +
                      "KB");
}

void N13Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  const std::ptrdiff_t current = ws.ListView2().Current();
  if (current < 0) return;
  ws.ui().SetClipboardText(
      Trim(ws.ListView2().Row(static_cast<std::size_t>(current)).Cell(list_column::kStartSector)));
}

void N16Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  {
    MutexLock lock(ws.tableLock);
    ChooseChecked(ws.ListView2(), ws.LockedFragments().FragmentChosen());
  }
  FillAssemblyList(ws);
}

void ShowFileNameOfChecked(Workspace& ws) {
  UiReporter reporter(ws.ui(), Memo::kMemo2);
  ShowFileNameOfChecked(ws.ListView2(), ws.Fragments(), reporter);
}

void N17Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  ShowFileNameOfChecked(ws);
}

bool UpdateInformation(Workspace& ws) {
  bool ok = false;
  {
    MutexLock lock(ws.tableLock);
    ok = AppendLsnToHeaderRows(ws.LockedList(ws.ListView2()), ws.Fragments());
  }
  ws.ui().Changed(Change::kFragmentList);
  if (!ok) {
    ws.ui().ShowMessage(kReadDiskError);
    return false;
  }
  ws.ui().ShowMessage(Text(TextId::kProcessed));
  return true;
}

void N18Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  UpdateInformation(ws);
}

}  // namespace ravelin
