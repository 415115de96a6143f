#include "shell/successor_choice.h"

#include <string>

namespace ravelin::shell {

SuccessorChoice::SuccessorChoice()
    : ListView1(
          {"上一有效碎片", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
          {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
           ColumnKind::kSector, ColumnKind::kSector}),
      ListView2({"序号", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
                {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
                 ColumnKind::kSector, ColumnKind::kSector}) {}

ReportRow SuccessorRow(const FragmentRow& row, std::size_t rowIndex) {
  ReportRow item;
  item.cells = {std::to_string(rowIndex + 1),    std::to_string(row.SizeKB),
                std::to_string(row.StartPage),   std::to_string(row.EndPage),
                std::to_string(row.StartSector), std::to_string(row.EndSector)};
  item.imageIndex = row.StartPage == 0 ? 1 : 0;
  return item;
}

void FillChoice(SuccessorChoice& choice,
                const std::vector<std::pair<std::size_t, FragmentRow>>& candidates,
                const std::pair<std::size_t, FragmentRow>& last) {
  choice.ListView1.Clear();
  choice.ListView2.Clear();
  for (const auto& [index, row] : candidates) choice.ListView2.Append(SuccessorRow(row, index));
  choice.ListView1.Append(SuccessorRow(last.second, last.first));
  choice.ChoiceResult = -1;
}

void BtnokClick(SuccessorChoice& choice) {
  const std::vector<std::size_t> ticked = choice.ListView2.CheckedRows();
  if (!ticked.empty()) choice.ChosenIndex = static_cast<int>(ticked.front());
  choice.ChoiceResult = 0;
}

void BtncancelClick(SuccessorChoice& choice) { choice.ChoiceResult = 1; }

void ListView2Click(SuccessorChoice& choice) {
  const std::ptrdiff_t current = choice.ListView2.Current();
  if (current < 0) return;
  choice.ListView2.Edit(static_cast<std::size_t>(current)).selected = true;
  choice.ChosenIndex = static_cast<int>(current);
}

void FormClose(SuccessorChoice& choice) {
  if (choice.ChoiceResult == -1) choice.ChoiceResult = 1;
}

std::optional<std::size_t> Answer(const SuccessorChoice& choice) {
  if (choice.ChoiceResult != 0) return std::nullopt;
  if (choice.ChosenIndex < 0 ||
      static_cast<std::size_t>(choice.ChosenIndex) >= choice.ListView2.Count())
    return std::nullopt;
  return static_cast<std::size_t>(choice.ChosenIndex);
}

}  // namespace ravelin::shell
