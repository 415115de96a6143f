#include "cli/terminal_ui.h"

#include "cli/glosses.h"
#include "commands/successor_dialog.h"
#include "common/messages.h"
#include "common/text.h"

namespace ravelin::cli {

void TerminalUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  std::lock_guard lock(mutex_);
  err_ << GlossedCaption(caption) << ": " << WithGloss(text) << '\n' << std::flush;
}

bool TerminalUi::AskYesNo(std::string_view text, std::string_view caption) {
  std::unique_lock lock(mutex_);
  if (const auto it = answers_.find(text); it != answers_.end()) return it->second;
  if (in_ == nullptr) {
    err_ << GlossedCaption(caption) << ": " << WithGloss(text) << " (否: no)\n" << std::flush;
    return false;
  }
  err_ << GlossedCaption(caption) << ": " << WithGloss(text) << " [y/N] " << std::flush;
  lock.unlock();  // never hold the lock while a person thinks
  std::string line;
  if (!std::getline(*in_, line)) return false;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y' || line.rfind("是", 0) == 0);
}

void TerminalUi::AppendMemo(Memo, std::string_view line) {
  std::lock_guard lock(mutex_);
  memoOut_ << (glossMemo_ ? WithGloss(line) : std::string(line)) << '\n' << std::flush;
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

namespace {

void PrintDialogRow(std::ostream& out, const ReportList& list, std::size_t i) {
  const auto& captions = list.Captions();
  const ReportRow& row = list.Row(i);
  for (std::size_t c = 0; c < captions.size(); ++c)
    out << (c ? "  " : "") << captions[c] << " " << row.Cell(c);
  out << '\n';
}

}  // namespace

void TerminalUi::AskSuccessor(SuccessorChoice& dialog) {
  std::unique_lock lock(mutex_);
  err_ << Text(TextId::kSuccessorDialogCaption) << ": " << Text(TextId::kSuccessorGroupCaption)
       << '\n';
  for (std::size_t i = 0; i < dialog.ListView1.Count(); ++i) {
    err_ << "      ";
    PrintDialogRow(err_, dialog.ListView1, i);
  }
  for (std::size_t i = 0; i < dialog.ListView2.Count(); ++i) {
    err_ << "  [" << i + 1 << "] ";
    PrintDialogRow(err_, dialog.ListView2, i);
  }
  if (in_ == nullptr) {
    err_ << "(" << Text(TextId::kSuccessorCancelCaption) << ")\n" << std::flush;
    lock.unlock();
    LeaveQuestion(dialog);
    return;
  }
  const auto count = static_cast<std::int64_t>(dialog.ListView2.Count());
  for (;;) {
    err_ << "后续碎片(next fragment) 1-" << count << ", q " << Text(TextId::kSuccessorCancelCaption)
         << ": " << std::flush;
    lock.unlock();  // never hold the lock while a person thinks
    std::string line;
    const bool got = static_cast<bool>(std::getline(*in_, line));
    lock.lock();
    const std::string answer = Trim(line);
    if (!got || answer == "q" || answer == "Q") {
      lock.unlock();
      GiveUpQuestion(dialog);
      return;
    }
    const auto n = ParseInteger<std::int64_t>(answer);
    if (n && *n >= 1 && *n <= count) {
      lock.unlock();
      ChooseCandidate(dialog, static_cast<std::size_t>(*n - 1));
      return;
    }
  }
}

void TerminalUi::SetClipboardText(std::string_view text) {
  std::lock_guard lock(mutex_);
  clipboard_ = text;
}

}  // namespace ravelin::cli
