// The Ui of the command line: message boxes go to stderr as "caption: text", memo lines to
// stdout (or wherever the command sends them), questions are answered from the command
// line's options, else asked on the terminal when there is one, else answered No. Nothing
// here ever waits for input that a script cannot give.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "ports/ui.h"

namespace ravelin::cli {

class TerminalUi final : public Ui {
 public:
  // `in`: where a question with no prepared answer is asked; null to answer No without
  // asking (standard input is not a terminal, or the command must not prompt).
  TerminalUi(std::ostream& memoOut, std::ostream& err, std::istream* in = nullptr)
      : memoOut_(memoOut), err_(err), in_(in) {}

  // Memo lines go to `memoOut` with the English gloss of a system text after it, for a person
  // to read; a command that keeps them for a report (JSON) asks for them as written.
  void KeepMemoVerbatim() { glossMemo_ = false; }

  // The answer to the question whose text is `question`, given by a command-line option.
  void SetAnswer(std::string question, bool yes) { answers_[std::move(question)] = yes; }
  // The path the next file or folder dialog returns.
  void QueueDialogAnswer(std::optional<std::string> path) { dialogs_.push_back(std::move(path)); }

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void AppendMemo(Memo memo, std::string_view line) override;
  void ClearMemo(Memo) override {}
  void SetProgress(int percent) override {
    if (progressHook_) progressHook_(percent);
  }
  // Called with each gauge value, on the thread that sets it: for a progress display.
  void SetProgressHook(std::function<void(int)> hook) { progressHook_ = std::move(hook); }
  void SetStatus(std::string_view) override {}
  void SetPosition(std::int64_t done, std::int64_t total) override {
    position_.store(done);
    total_.store(total);
  }
  std::optional<std::string> OpenFileDialog(std::string_view title,
                                            std::string_view filter) override;
  std::optional<std::string> SaveFileDialog(std::string_view title,
                                            std::string_view proposedName) override;
  std::optional<std::string> ChooseFolder(std::string_view title) override;
  void ProcessMessages() override {}
  void SetClipboardText(std::string_view text) override;
  void Changed(Change) override {}
  // Shows the fragment chained last and the numbered candidates on stderr and reads the
  // answer from the terminal: a candidate's number, or q to give up. Without a terminal the
  // question is given up.
  void AskSuccessor(SuccessorChoice& dialog) override;

  const std::string& Clipboard() const { return clipboard_; }
  // The last position a job reported (SetPosition), for progress displays.
  std::int64_t Position() const { return position_.load(); }
  std::int64_t PositionTotal() const { return total_.load(); }

 private:
  std::optional<std::string> NextDialogAnswer();

  std::ostream& memoOut_;
  bool glossMemo_ = true;
  std::ostream& err_;
  std::istream* in_;
  std::map<std::string, bool, std::less<>> answers_;
  std::deque<std::optional<std::string>> dialogs_;
  std::string clipboard_;
  std::mutex mutex_;  // a job writes from its own thread
  std::atomic<std::int64_t> position_{0};
  std::atomic<std::int64_t> total_{0};
  std::function<void(int)> progressHook_;
};

}  // namespace ravelin::cli
