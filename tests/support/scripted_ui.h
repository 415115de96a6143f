// A Ui for tests: records every message, memo line, progress and status change, and answers
// questions and dialogs from queues the test fills (No / nothing when a queue is empty).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ports/successor_choice.h"
#include "ports/ui.h"

namespace ravelin::test {

// One answer to the successor question: what the person does in the dialog before it
// returns (clicks, checks, buttons, saving), through the dialog's handlers.
using SuccessorAnswer = std::function<void(SuccessorChoice&)>;
// Clicks candidate `row`, then "确定".
SuccessorAnswer ClickAndConfirm(std::size_t row);
// Checks the candidates `rows`, then "确定".
SuccessorAnswer CheckAndConfirm(std::initializer_list<std::size_t> rows);
// "确定" with nothing clicked or checked.
SuccessorAnswer Confirm();
SuccessorAnswer Cancel();    // "取消"
SuccessorAnswer CloseBox();  // the window's close box

class ScriptedUi : public Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
  };

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void AppendMemo(Memo memo, std::string_view line) override;
  void ClearMemo(Memo memo) override;
  void SetProgress(int percent) override;
  void SetStatus(std::string_view text) override;
  std::optional<std::string> OpenFileDialog(std::string_view title,
                                            std::string_view filter) override;
  std::optional<std::string> SaveFileDialog(std::string_view title,
                                            std::string_view proposedName) override;
  std::optional<std::string> ChooseFolder(std::string_view title) override;
  void ProcessMessages() override;
  void SetClipboardText(std::string_view text) override;
  void Changed(Change what) override;
  // Records the question and plays the next scripted answer; with none left, the dialog is
  // closed.
  void AskSuccessor(SuccessorChoice& dialog) override;

  // Scripted answers, consumed in order.
  std::deque<bool> yesNoAnswers;
  std::deque<std::optional<std::string>> dialogAnswers;
  std::deque<SuccessorAnswer> successorAnswers;

  // What happened. Read them only while no job is running.
  std::vector<Message> messages;
  std::vector<std::string> questions;
  struct SaveDialog {
    std::string title;
    std::string proposedName;
  };
  std::vector<SaveDialog> saveDialogs;
  std::vector<std::string> memo[3];
  std::vector<int> progress;
  std::vector<std::string> statuses;
  std::string clipboard;
  std::vector<Change> changes;
  // Each successor question as shown: the fragment chained last, then the candidates.
  struct SuccessorQuestion {
    std::vector<ReportRow> last;
    std::vector<ReportRow> candidates;
    std::int32_t chosenIndexBefore = 0;
  };
  std::vector<SuccessorQuestion> successorQuestions;
  int processMessagesCalls = 0;

  const std::vector<std::string>& MemoLines(Memo m) const { return memo[static_cast<int>(m)]; }

 private:
  std::optional<std::string> NextDialogAnswer();
  std::mutex mutex_;  // jobs call in from their own thread
};

}  // namespace ravelin::test
