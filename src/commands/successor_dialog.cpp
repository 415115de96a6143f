#include "commands/successor_dialog.h"

#include "catalogue/extraction.h"
#include "catalogue/list_operations.h"
#include "commands/popup_menu1.h"
#include "common/messages.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Cells of the dialog's lists.
constexpr std::size_t kSizeKB = 1;
constexpr std::size_t kStartPage = 2;
constexpr std::size_t kEndPage = 3;
constexpr std::size_t kStartSector = 4;

ReportRow DialogRow(const FragmentRow& row, std::int32_t tableRow) {
  ReportRow item;
  item.cells = {std::to_string(static_cast<std::int64_t>(tableRow) + 1),
                std::to_string(row.SizeKB),
                std::to_string(row.StartPage),
                std::to_string(row.EndPage),
                std::to_string(row.StartSector),
                std::to_string(row.EndSector)};
  item.imageIndex = row.StartPage == 0 ? 1 : 0;
  return item;
}

}  // namespace

void NewSuccessorDialog(SuccessorChoice& dialog) {
  dialog.ListView1.Clear();
  dialog.ListView2.Clear();
  dialog.ChoiceResult = kChoiceWaiting;
  dialog.ChosenIndex = 0;
}

void FillSuccessorDialog(SuccessorChoice& dialog, const FragmentTable& table,
                         const std::vector<std::int32_t>& group, std::int32_t last) {
  const auto& index = table.FragmentIndex();
  dialog.ListView1.Clear();
  dialog.ListView2.Clear();
  for (const std::int32_t position : group) {
    const std::int32_t row = index[static_cast<std::size_t>(position)].Row;
    dialog.ListView2.Append(DialogRow(table.Row(static_cast<std::size_t>(row)), row));
  }
  if (last >= 0 && static_cast<std::size_t>(last) < table.Count())
    dialog.ListView1.Append(DialogRow(table.Row(static_cast<std::size_t>(last)), last));
  dialog.ChoiceResult = kChoiceWaiting;
}

int AskSuccessor(Workspace& ws, const std::vector<std::int32_t>& group, std::int32_t last,
                 std::int32_t& chosen) {
  SuccessorChoice& dialog = ws.frmuserchoose();
  FillSuccessorDialog(dialog, ws.fragments(), group, last);
  ws.ui().AskSuccessor(dialog);
  FormClose(dialog);  // a Ui that returned without an answer counts as the closed window
  if (dialog.ChoiceResult != kChoiceConfirmed) return 1;
  if (dialog.ChosenIndex < 0 || static_cast<std::size_t>(dialog.ChosenIndex) >= group.size())
    return 1;
  chosen = group[static_cast<std::size_t>(dialog.ChosenIndex)];
  return 0;
}

std::optional<std::int32_t> DialogSuccessorQuestion::AskSuccessor(
    const std::vector<std::int32_t>& group, std::int32_t lastRow) {
  std::int32_t chosen = 0;
  if (ravelin::AskSuccessor(ws_, group, lastRow, chosen) != 0) return std::nullopt;
  return chosen;
}

void ChooseCandidate(SuccessorChoice& dialog, std::size_t candidate) {
  dialog.ListView2.SetCurrent(static_cast<std::ptrdiff_t>(candidate));
  ListView2Click(dialog);
  btnokClick(dialog);
}

void GiveUpQuestion(SuccessorChoice& dialog) { btncancelClick(dialog); }

void LeaveQuestion(SuccessorChoice& dialog) { FormClose(dialog); }

void btnokClick(SuccessorChoice& dialog) {
  const std::vector<std::size_t> checked = dialog.ListView2.CheckedRows();
  if (!checked.empty()) dialog.ChosenIndex = static_cast<std::int32_t>(checked.front());
  dialog.ChoiceResult = kChoiceConfirmed;
}

void btncancelClick(SuccessorChoice& dialog) { dialog.ChoiceResult = kChoiceCancelled; }

void ListView2Click(SuccessorChoice& dialog) {
  ReportList& list = dialog.ListView2;
  const std::ptrdiff_t current = list.Current();
  if (current < 0) return;
  // One row selected at a time.
  for (const std::size_t i : list.SelectedRows()) list.Edit(i).selected = false;
  list.Edit(static_cast<std::size_t>(current)).selected = true;
  dialog.ChosenIndex = static_cast<std::int32_t>(current);
}

void FormClose(SuccessorChoice& dialog) {
  if (dialog.ChoiceResult == kChoiceWaiting) dialog.ChoiceResult = kChoiceCancelled;
}

void Button1Click(Workspace& ws, SuccessorChoice& dialog) {
  const auto folder = ws.ui().ChooseFolder(Text(TextId::kChooseFolderTitle));
  if (!folder) return;
  std::vector<ExtractRow> rows;
  for (const std::size_t i : dialog.ListView2.CheckedRows()) {
    const ReportRow& row = dialog.ListView2.Row(i);
    ExtractRow r;
    r.sizeKB = CellNumber(row, kSizeKB);
    r.startPage = static_cast<std::int32_t>(CellNumber(row, kStartPage));
    r.endPage = CellNumber(row, kEndPage);
    r.startSector = static_cast<std::uint64_t>(CellNumber(row, kStartSector));
    rows.push_back(r);
  }
  // The same fragment files as "提取勾选碎片到文件" writes, through the same road.
  if (ExtractFragmentFiles(ws, rows, *folder) == 0) ws.ui().ShowMessage(Text(TextId::kSaved));
}

}  // namespace ravelin
