#include "support/scripted_ui.h"

#include "commands/successor_dialog.h"

namespace ravelin::test {

SuccessorAnswer ClickAndConfirm(std::size_t row) {
  return [row](SuccessorChoice& dialog) {
    dialog.ListView2.SetCurrent(static_cast<std::ptrdiff_t>(row));
    ListView2Click(dialog);
    btnokClick(dialog);
  };
}

SuccessorAnswer CheckAndConfirm(std::initializer_list<std::size_t> rows) {
  std::vector<std::size_t> list(rows);
  return [list](SuccessorChoice& dialog) {
    for (const std::size_t r : list) dialog.ListView2.Edit(r).checked = true;
    btnokClick(dialog);
  };
}

SuccessorAnswer Confirm() {
  return [](SuccessorChoice& dialog) { btnokClick(dialog); };
}
SuccessorAnswer Cancel() {
  return [](SuccessorChoice& dialog) { btncancelClick(dialog); };
}
SuccessorAnswer CloseBox() {
  return [](SuccessorChoice& dialog) { FormClose(dialog); };
}

void ScriptedUi::AskSuccessor(SuccessorChoice& dialog) {
  SuccessorAnswer answer;
  {
    std::lock_guard lock(mutex_);
    successorQuestions.push_back(
        {dialog.ListView1.Rows(), dialog.ListView2.Rows(), dialog.ChosenIndex});
    if (!successorAnswers.empty()) {
      answer = std::move(successorAnswers.front());
      successorAnswers.pop_front();
    }
  }
  // Played without the lock: an answer may save files, which shows messages.
  if (answer) {
    answer(dialog);
  } else {
    FormClose(dialog);
  }
}

void ScriptedUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  std::lock_guard lock(mutex_);
  messages.push_back({std::string(text), std::string(caption), icon});
}

bool ScriptedUi::AskYesNo(std::string_view text, std::string_view) {
  std::lock_guard lock(mutex_);
  questions.emplace_back(text);
  if (yesNoAnswers.empty()) return false;
  const bool answer = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return answer;
}

void ScriptedUi::AppendMemo(Memo m, std::string_view line) {
  std::lock_guard lock(mutex_);
  memo[static_cast<int>(m)].emplace_back(line);
}

void ScriptedUi::ClearMemo(Memo m) {
  std::lock_guard lock(mutex_);
  memo[static_cast<int>(m)].clear();
}

void ScriptedUi::SetProgress(int percent) {
  std::lock_guard lock(mutex_);
  progress.push_back(percent);
}

void ScriptedUi::SetStatus(std::string_view text) {
  std::lock_guard lock(mutex_);
  statuses.emplace_back(text);
}

std::optional<std::string> ScriptedUi::NextDialogAnswer() {
  std::lock_guard lock(mutex_);
  if (dialogAnswers.empty()) return std::nullopt;
  auto answer = dialogAnswers.front();
  dialogAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedUi::OpenFileDialog(std::string_view, std::string_view) {
  return NextDialogAnswer();
}

std::optional<std::string> ScriptedUi::SaveFileDialog(std::string_view title,
                                                      std::string_view proposedName) {
  {
    std::lock_guard lock(mutex_);
    saveDialogs.push_back({std::string(title), std::string(proposedName)});
  }
  return NextDialogAnswer();
}

std::optional<std::string> ScriptedUi::ChooseFolder(std::string_view) { return NextDialogAnswer(); }

void ScriptedUi::ProcessMessages() {
  std::lock_guard lock(mutex_);
  ++processMessagesCalls;
}

void ScriptedUi::SetClipboardText(std::string_view text) {
  std::lock_guard lock(mutex_);
  clipboard = std::string(text);
}

void ScriptedUi::Changed(Change what) {
  std::lock_guard lock(mutex_);
  changes.push_back(what);
}

}  // namespace ravelin::test
