// The window's Ui: the core's calls, from the job's thread or the window's own, carried to
// the window's thread.
//
// - Memo lines, clears, the gauge, the status bar, positions and change notices are queued
//   in PendingUpdates and drawn together at most every kDrawInterval, so a busy job costs
//   the window a few redraws a second.
// - Message boxes, questions and dialogs block the caller until answered. From the window's
//   thread they are simply shown; from a job's thread the call waits for the window's
//   thread to show them. Before any of them is shown, what is queued is drawn, so a memo
//   line logged before a message box appears before it.
// - Shutdown() answers every waiting question (No, nothing chosen) and every later one at
//   once, so a job can never wait for a window that is closing.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "ports/ui.h"
#include "shell/dialogs.h"
#include "shell/pending_updates.h"

class QWidget;

namespace ravelin::shell {

inline constexpr std::chrono::milliseconds kDrawInterval{150};

class QtUi final : public QObject, public Ui {
  Q_OBJECT

 public:
  // Made on the window's thread; `dialogs` outlives it.
  explicit QtUi(Dialogs& dialogs);
  ~QtUi() override;

  // Where queued updates are drawn and which window owns the dialogs.
  void Attach(QWidget* window, std::function<void(PendingUpdates::Batch)> draw);
  // Called when long work on the window's thread first lets the window handle messages, so
  // the window can disable what must not start meanwhile.
  void SetYieldHook(std::function<void()> hook) { yieldHook_ = std::move(hook); }
  // The window is going: answers what waits, answers later questions at once, draws nothing.
  void Shutdown();
  bool ShuttingDown() const;

  // Draws what is queued now (on the window's thread).
  void DrawNow();

  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void AppendMemo(Memo memo, std::string_view line) override;
  void ClearMemo(Memo memo) override;
  void SetProgress(int percent) override;
  void SetStatus(std::string_view text) override;
  void SetPosition(std::int64_t done, std::int64_t total) override;
  std::optional<std::string> OpenFileDialog(std::string_view title,
                                            std::string_view filter) override;
  std::optional<std::string> SaveFileDialog(std::string_view title,
                                            std::string_view proposedName) override;
  std::optional<std::string> ChooseFolder(std::string_view title) override;
  void AskSuccessor(SuccessorChoice& dialog) override;
  void ProcessMessages() override;
  void SetClipboardText(std::string_view text) override;
  void Changed(Change what) override;

 private:
  struct Waiter {
    bool done = false;
  };

  bool OnWindowThread() const;
  void Wake(bool wasEmpty);
  void ScheduleDraw();
  // Runs `ask` on the window's thread and waits for it; `whenClosing` when the window is
  // going or goes meanwhile.
  template <typename T>
  T Ask(std::function<T()> ask, T whenClosing);

  Dialogs& dialogs_;
  QWidget* window_ = nullptr;
  std::function<void(PendingUpdates::Batch)> draw_;
  std::function<void()> yieldHook_;
  PendingUpdates pending_;
  QTimer drawTimer_;
  std::chrono::steady_clock::time_point lastDraw_{};
  const std::thread::id windowThread_;

  mutable std::mutex waitMutex_;
  std::condition_variable answered_;
  std::list<std::shared_ptr<Waiter>> waiting_;
  bool shuttingDown_ = false;
};

}  // namespace ravelin::shell
