#include "shell/qt_ui.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include "shell/qstring_utf8.h"

namespace ravelin::shell {

QtUi::QtUi(Dialogs& dialogs) : dialogs_(dialogs), windowThread_(std::this_thread::get_id()) {
  drawTimer_.setSingleShot(true);
  connect(&drawTimer_, &QTimer::timeout, this, &QtUi::DrawNow);
}

QtUi::~QtUi() { Shutdown(); }

void QtUi::Attach(QWidget* window, std::function<void(PendingUpdates::Batch)> draw) {
  window_ = window;
  draw_ = std::move(draw);
}

void QtUi::Shutdown() {
  {
    std::lock_guard lock(waitMutex_);
    shuttingDown_ = true;
    for (const auto& waiter : waiting_) waiter->done = true;
  }
  answered_.notify_all();
  if (OnWindowThread()) {
    draw_ = nullptr;
    yieldHook_ = nullptr;
    window_ = nullptr;
    drawTimer_.stop();
  }
}

bool QtUi::ShuttingDown() const {
  std::lock_guard lock(waitMutex_);
  return shuttingDown_;
}

bool QtUi::OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

void QtUi::DrawNow() {
  PendingUpdates::Batch batch = pending_.Take();
  lastDraw_ = std::chrono::steady_clock::now();
  if (draw_ && !batch.Empty()) draw_(std::move(batch));
}

void QtUi::ScheduleDraw() {
  if (drawTimer_.isActive() || !draw_) return;
  const auto since = std::chrono::steady_clock::now() - lastDraw_;
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kDrawInterval - since);
  drawTimer_.start(std::max<std::chrono::milliseconds>(wait, std::chrono::milliseconds(0)));
}

void QtUi::Wake(bool wasEmpty) {
  if (!wasEmpty) return;  // a draw is already on its way
  if (OnWindowThread()) {
    ScheduleDraw();
  } else {
    QMetaObject::invokeMethod(this, &QtUi::ScheduleDraw, Qt::QueuedConnection);
  }
}

template <typename T>
T QtUi::Ask(std::function<T()> ask, T whenClosing) {
  if (OnWindowThread()) {
    if (ShuttingDown() || window_ == nullptr) return whenClosing;
    DrawNow();
    return ask();
  }
  auto waiter = std::make_shared<Waiter>();
  auto answer = std::make_shared<T>(whenClosing);
  {
    std::lock_guard lock(waitMutex_);
    if (shuttingDown_) return whenClosing;
    waiting_.push_back(waiter);
  }
  QMetaObject::invokeMethod(
      this,
      [this, waiter, answer, ask = std::move(ask)] {
        {
          std::lock_guard lock(waitMutex_);
          if (waiter->done) return;  // answered by Shutdown meanwhile
        }
        DrawNow();
        T value = window_ != nullptr ? ask() : *answer;
        {
          std::lock_guard lock(waitMutex_);
          if (!waiter->done) {
            *answer = std::move(value);
            waiter->done = true;
          }
        }
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(waitMutex_);
  answered_.wait(lock, [&] { return waiter->done; });
  waiting_.remove(waiter);
  return *answer;
}

void QtUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  Ask<bool>(
      [this, t = std::string(text), c = std::string(caption), icon] {
        dialogs_.Message(window_, t, c, icon);
        return true;
      },
      false);
}

bool QtUi::AskYesNo(std::string_view text, std::string_view caption) {
  return Ask<bool>([this, t = std::string(text),
                    c = std::string(caption)] { return dialogs_.AskYesNo(window_, t, c); },
                   false);
}

using Path = std::optional<std::string>;

Path QtUi::OpenFileDialog(std::string_view title, std::string_view filter) {
  return Ask<Path>([this, t = std::string(title),
                    f = std::string(filter)] { return dialogs_.OpenFile(window_, t, f); },
                   std::nullopt);
}

Path QtUi::SaveFileDialog(std::string_view title, std::string_view proposedName) {
  return Ask<Path>([this, t = std::string(title),
                    n = std::string(proposedName)] { return dialogs_.SaveFile(window_, t, n); },
                   std::nullopt);
}

Path QtUi::ChooseFolder(std::string_view title) {
  return Ask<Path>([this, t = std::string(title)] { return dialogs_.ChooseFolder(window_, t); },
                   std::nullopt);
}

void QtUi::AskSuccessor(SuccessorChoice& dialog) {
  // A closing window answers nothing: the question counts as the closed dialog.
  if (!Ask<bool>([this, &dialog] {
        dialogs_.AskSuccessor(window_, dialog);
        return true;
      },
               false)) {
    if (dialog.ChoiceResult == kChoiceWaiting) dialog.ChoiceResult = kChoiceCancelled;
  }
}

void QtUi::AppendMemo(Memo memo, std::string_view line) { Wake(pending_.AppendMemo(memo, line)); }
void QtUi::ClearMemo(Memo memo) { Wake(pending_.ClearMemo(memo)); }
void QtUi::SetProgress(int percent) { Wake(pending_.SetProgress(percent)); }
void QtUi::SetStatus(std::string_view text) { Wake(pending_.SetStatus(text)); }
void QtUi::SetPosition(std::int64_t done, std::int64_t total) {
  Wake(pending_.SetPosition(done, total));
}
void QtUi::Changed(Change what) { Wake(pending_.Changed(what)); }

void QtUi::ProcessMessages() {
  // Only long work on the window's own thread asks for this; a job's thread has no messages.
  if (!OnWindowThread()) return;
  if (yieldHook_) yieldHook_();
  DrawNow();
  QCoreApplication::processEvents();
}

void QtUi::SetClipboardText(std::string_view text) {
  const QString copy = Q(text);
  auto set = [copy] { QGuiApplication::clipboard()->setText(copy); };
  if (OnWindowThread()) {
    set();
  } else {
    QMetaObject::invokeMethod(this, set, Qt::QueuedConnection);
  }
}

}  // namespace ravelin::shell
