// Dialogs for the window's tests: answers come from queues the test fills, and everything
// asked is recorded. Nothing ever waits for a click.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QTimer>

#include "shell/dialogs.h"
#include "shell/successor_dialog.h"

namespace ravelin::shell::test {

class ScriptedDialogs final : public Dialogs {
 public:
  void Message(QWidget*, std::string_view text, std::string_view, MessageIcon) override {
    messages.emplace_back(text);
    if (onAsk) onAsk();
  }
  bool AskYesNo(QWidget*, std::string_view text, std::string_view) override {
    questions.emplace_back(text);
    if (onAsk) onAsk();
    if (yesNo.empty()) return false;
    const bool answer = yesNo.front();
    yesNo.pop_front();
    return answer;
  }
  std::optional<std::string> OpenFile(QWidget*, std::string_view title, std::string_view) override {
    return Next(title);
  }
  std::optional<std::string> SaveFile(QWidget*, std::string_view title, std::string_view) override {
    return Next(title);
  }
  std::optional<std::string> ChooseFolder(QWidget*, std::string_view title) override {
    return Next(title);
  }
  // Plays the next scripted answer on the dialog's state (as its buttons would); none left
  // closes it.
  void AskSuccessor(QWidget* parent, SuccessorChoice& dialog) override {
    ++successorQuestions;
    if (successorWindow) {  // the real window, answered by the test's clicks
      Tfrmuserchoose window(dialog, [] {}, parent);
      QTimer::singleShot(0, &window, [this, &window] { successorWindow(window); });
      window.Ask();
      return;
    }
    if (successorAnswers.empty()) return;
    auto answer = std::move(successorAnswers.front());
    successorAnswers.pop_front();
    answer(dialog);
  }
  std::deque<std::function<void(SuccessorChoice&)>> successorAnswers;
  // When set, each question shows Tfrmuserchoose and this clicks in it.
  std::function<void(Tfrmuserchoose&)> successorWindow;
  int successorQuestions = 0;

  std::deque<bool> yesNo;
  std::deque<std::optional<std::string>> paths;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> dialogs;
  std::function<void()> onAsk;  // runs while a message or question is on screen

 private:
  std::optional<std::string> Next(std::string_view title) {
    dialogs.emplace_back(title);
    if (paths.empty()) return std::nullopt;
    auto path = paths.front();
    paths.pop_front();
    return path;
  }
};

}  // namespace ravelin::shell::test
