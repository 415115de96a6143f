#include "cli/terminal_ui.h"

namespace ravelin::cli {

void TerminalUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  std::lock_guard lock(mutex_);
  err_ << caption << ": " << text << '\n' << std::flush;
}

bool TerminalUi::AskYesNo(std::string_view text, std::string_view caption) {
  std::unique_lock lock(mutex_);
  if (const auto it = answers_.find(text); it != answers_.end()) return it->second;
  if (in_ == nullptr) {
    err_ << caption << ": " << text << " (否)\n" << std::flush;
    return false;
  }
  err_ << caption << ": " << text << " [y/N] " << std::flush;
  lock.unlock();  // never hold the lock while a person thinks
  std::string line;
  if (!std::getline(*in_, line)) return false;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y' || line.rfind("是", 0) == 0);
}

void TerminalUi::AppendMemo(Memo, std::string_view line) {
  std::lock_guard lock(mutex_);
  memoOut_ << line << '\n' << std::flush;
}

std::optional<std::string> TerminalUi::NextDialogAnswer() {
  std::lock_guard lock(mutex_);
  if (dialogs_.empty()) return std::nullopt;
  auto answer = std::move(dialogs_.front());
  dialogs_.pop_front();
  return answer;
}

std::optional<std::string> TerminalUi::OpenFileDialog(std::string_view, std::string_view) {
  return NextDialogAnswer();
}

std::optional<std::string> TerminalUi::SaveFileDialog(std::string_view, std::string_view) {
  return NextDialogAnswer();
}

std::optional<std::string> TerminalUi::ChooseFolder(std::string_view) { return NextDialogAnswer(); }

void TerminalUi::SetClipboardText(std::string_view text) {
  std::lock_guard lock(mutex_);
  clipboard_ = text;
}

}  // namespace ravelin::cli
