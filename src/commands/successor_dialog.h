// The successor choice dialog (Tfrmuserchoose): the question a manual analysis asks when
// several overlapping fragments could follow the chain, and the handlers of the dialog's
// buttons and lists. The dialog's state is the Workspace's frmuserchoose; the window shows
// it and calls these handlers, the command line and the tests' scripted Ui do the same.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/chaining.h"
#include "catalogue/fragment_table.h"
#include "ports/successor_choice.h"

namespace ravelin {

class Workspace;

// A new dialog for a new analysis: empty lists, ChoiceResult -1, ChosenIndex 0. The dialog
// of an earlier analysis is not used again.
void NewSuccessorDialog(SuccessorChoice& dialog);

// Fills the two lists for a question about `group` (page-order index positions of `table`)
// after `last` (a table row; -1 when none is known) and sets ChoiceResult to waiting.
void FillSuccessorDialog(SuccessorChoice& dialog, const FragmentTable& table,
                         const std::vector<std::int32_t>& group, std::int32_t last);

// Asks which of `group` (page-order index positions) follows `last` (the table row chained
// last; -1 when none is known): fills the two lists, shows the dialog through the Ui and
// waits for its answer. 0 with `chosen` set to a position of the group, or 1 when the
// person gave up, closed the dialog, or left ChosenIndex outside the group.
int AskSuccessor(Workspace& ws, const std::vector<std::int32_t>& group, std::int32_t last,
                 std::int32_t& chosen);

// Manual mode's question, asked through the Workspace's dialog and the Ui.
class DialogSuccessorQuestion final : public SuccessorQuestion {
 public:
  explicit DialogSuccessorQuestion(Workspace& ws) : ws_(ws) {}
  std::optional<std::int32_t> AskSuccessor(const std::vector<std::int32_t>& group,
                                           std::int32_t lastRow) override;

 private:
  Workspace& ws_;
};

// The answers a face without the dialog's buttons gives: the `candidate`-th row of the
// candidate list (clicked, then "确定"), giving up ("取消"), or leaving without an answer
// (the close box).
void ChooseCandidate(SuccessorChoice& dialog, std::size_t candidate);
void GiveUpQuestion(SuccessorChoice& dialog);
void LeaveQuestion(SuccessorChoice& dialog);

// "确定": the first checked candidate, if any is checked; otherwise ChosenIndex as the last
// click (or the previous question of this analysis) left it.
void btnokClick(SuccessorChoice& dialog);
// "取消": gives up.
void btncancelClick(SuccessorChoice& dialog);
// A click in either list: the current row of the candidate list becomes the selected row
// and ChosenIndex.
void ListView2Click(SuccessorChoice& dialog);
// The window's close box: gives up unless an answer was given.
void FormClose(SuccessorChoice& dialog);
// "把勾选的碎片保存为文件": each checked candidate as <folder>/<start sector>.hex, after a
// folder dialog titled "保存目录"; "保存完毕" when all were written.
void Button1Click(Workspace& ws, SuccessorChoice& dialog);

}  // namespace ravelin
