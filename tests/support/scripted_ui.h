// A Ui for tests: records every message, memo line, progress and status change, and answers
// questions and dialogs from queues the test fills (No / nothing when a queue is empty).
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ports/ui.h"

namespace ravelin::test {

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

  // Scripted answers, consumed in order.
  std::deque<bool> yesNoAnswers;
  std::deque<std::optional<std::string>> dialogAnswers;

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
  int processMessagesCalls = 0;

  const std::vector<std::string>& MemoLines(Memo m) const { return memo[static_cast<int>(m)]; }

 private:
  std::optional<std::string> NextDialogAnswer();
  std::mutex mutex_;  // jobs call in from their own thread
};

}  // namespace ravelin::test
