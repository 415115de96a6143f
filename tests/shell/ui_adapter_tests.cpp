// The Qt Ui: what a job's thread asks is answered on the window's thread, what it reports is
// drawn in order and coalesced, and a closing window never leaves a job waiting.
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTextBlock>
#include <atomic>
#include <thread>

#include "shell/pending_updates.h"
#include "shell_tests.h"

namespace ravelin::shell::test {
namespace {

// A QtUi drawing into a plain widget: memo 1 lines into a text edit.
struct Adapter {
  Adapter() {
    ui.Attach(&window, [this](PendingUpdates::Batch batch) {
      ++draws;
      for (const auto& op : batch.memoOps) {
        if (op.clear)
          memo.clear();
        else
          memo.appendPlainText(QString::fromStdString(op.line));
      }
    });
  }
  ScriptedDialogs dialogs;
  QtUi ui{dialogs};
  QWidget window;
  QPlainTextEdit memo;
  int draws = 0;
};

}  // namespace

class UiAdapterTest : public QObject {
  Q_OBJECT

 private slots:
  void QuestionFromAJobThreadIsAnsweredOnTheWindowThread() {
    Adapter a;
    a.dialogs.yesNo = {true};
    std::thread::id askedOn;
    a.dialogs.onAsk = [&] { askedOn = std::this_thread::get_id(); };
    std::atomic<int> answer{-1};
    std::thread job(
        [&] { answer = a.ui.AskYesNo("此镜像文件是逻辑分区镜像请选是", "数据文件类型选择"); });
    QVERIFY(QTest::qWaitFor([&] { return answer.load() != -1; }, 10000));
    job.join();
    QCOMPARE(answer.load(), 1);
    QCOMPARE(askedOn, std::this_thread::get_id());
  }

  void QuestionOnTheWindowThreadIsAskedAtOnce() {
    Adapter a;
    a.dialogs.yesNo = {true};
    a.dialogs.paths = {std::string("/tmp/x.img")};
    QVERIFY(a.ui.AskYesNo("q", "c"));  // no deadlock: the window's own thread asks directly
    QCOMPARE(a.ui.OpenFileDialog("t", "").value(), std::string("/tmp/x.img"));
  }

  void LinesLoggedBeforeAMessageAreShownBeforeIt() {
    Adapter a;
    QString memoWhenShown;
    a.dialogs.onAsk = [&] { memoWhenShown = a.memo.toPlainText(); };
    std::thread job([&] {
      a.ui.AppendMemo(Memo::kMemo1, "512error 读取sec0");
      a.ui.ShowMessage("取分区信息失败", "提示", MessageIcon::kInformation);
    });
    QVERIFY(QTest::qWaitFor([&] { return !a.dialogs.messages.empty(); }, 10000));
    job.join();
    QCOMPARE(memoWhenShown, QStringLiteral("512error 读取sec0"));
  }

  void ShutdownReleasesAWaitingJobAndAnswersLaterQuestionsNo() {
    Adapter a;
    a.dialogs.yesNo = {true, true};
    std::atomic<int> first{-1}, second{-1};
    std::thread job([&] {
      first = a.ui.AskYesNo("q1", "c");  // posted, but the window never gets to it
      second = a.ui.AskYesNo("q2", "c");
    });
    // The window handles no events meanwhile: the question waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    a.ui.Shutdown();
    job.join();
    QCOMPARE(first.load(), 0);
    QCOMPARE(second.load(), 0);
    QCoreApplication::processEvents();  // the stale request shows nothing
    QVERIFY(a.dialogs.questions.empty());
  }

  void AFloodOfNoticesIsDrawnInAFewBatches() {
    Adapter a;
    std::thread job([&] {
      for (int i = 0; i < 20000; ++i) {
        a.ui.AppendMemo(Memo::kMemo1, std::to_string(i));
        a.ui.Changed(Change::kFragmentList);
        a.ui.SetProgress(i / 200);
      }
    });
    job.join();
    QVERIFY(QTest::qWaitFor([&] { return a.memo.blockCount() == 20000; }, 10000));
    QVERIFY2(a.draws <= 3, qPrintable(QString::number(a.draws)));
    QCOMPARE(a.memo.document()->lastBlock().text(), QStringLiteral("19999"));
  }

  void PendingClearDropsTheLinesBeforeItAndKeepsOrder() {
    PendingUpdates p;
    QVERIFY(p.AppendMemo(Memo::kMemo1, "a"));  // the first wakes the window
    QVERIFY(!p.AppendMemo(Memo::kMemo2, "b"));
    p.ClearMemo(Memo::kMemo1);
    p.AppendMemo(Memo::kMemo1, "c");
    const auto batch = p.Take();
    QCOMPARE(batch.memoOps.size(), std::size_t{3});
    QCOMPARE(batch.memoOps[0].line, std::string("b"));
    QVERIFY(batch.memoOps[1].clear);
    QCOMPARE(batch.memoOps[2].line, std::string("c"));
    QVERIFY(p.Take().Empty());
  }

  void PendingLinesAreBoundedByWhatAMemoShows() {
    PendingUpdates p;
    for (std::size_t i = 0; i < kMemoLineLimit + 10; ++i)
      p.AppendMemo(Memo::kMemo3, std::to_string(i));
    p.AppendMemo(Memo::kMemo1, "kept");
    const auto batch = p.Take();
    QCOMPARE(batch.memoOps.size(), kMemoLineLimit + 1);
    QCOMPARE(batch.memoOps.front().line, std::string("10"));  // the oldest scrolled away
    QCOMPARE(batch.memoOps.back().line, std::string("kept"));
  }
};

int RunUiAdapterTests(int argc, char** argv) {
  UiAdapterTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace ravelin::shell::test

#include "ui_adapter_tests.moc"
