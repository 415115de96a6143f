// TForm1 as a person meets it: its make-up, the menus that do nothing, the tab IV buttons
// following their control states, and a generated image chosen, scanned and listed while
// the window keeps answering.
#include <QAction>
#include <QHeaderView>
#include <QMenuBar>
#include <QTabBar>
#include <QTimer>
#include <filesystem>
#include <sstream>

#include "commands/successor_dialog.h"
#include "gen/fs_mbr.h"
#include "gen/image_cli.h"
#include "shell/successor_dialog.h"
#include "shell/tab34_handlers.h"
#include "shell_tests.h"
#include "support/image_fixtures.h"

namespace ravelin::shell::test {
namespace {

QAction* FindAction(QWidget* owner, const char* name) {
  for (QAction* a : owner->findChildren<QAction*>())
    if (a->objectName() == QLatin1String(name)) return a;
  return nullptr;
}

// A generated raw image of one database in a few fragments, made larger with a sparse
// tail so that its scan lasts long enough to watch.
std::string GeneratedImage(const ravelin::test::ScratchDir& dir, std::uint64_t sparseBytes) {
  const std::string path = dir.File("sample.img");
  std::ostringstream out, err;
  const int rc = gen::RunMkimage({"image", "--kind", "raw", "--cluster", "8", "--pages", "400",
                                  "--fragments", "5", "-o", path},
                                 out, err);
  if (rc != 0) qWarning("ravelin-mkimage: %s", err.str().c_str());
  if (sparseBytes > std::filesystem::file_size(path))
    std::filesystem::resize_file(path, sparseBytes);
  return path;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void IsLaidOutAsTheFormWas() {
    Harness h;
    TForm1& f = *h.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Ravelin Recover for SQLSERVER"));
    QCOMPARE(f.width(), kClientWidth);
    QCOMPARE(f.PageControl1()->count(), 4);
    QCOMPARE(f.PageControl1()->tabText(1), QStringLiteral("  Ⅱ  碎片列表(FRAGMENT LIST )        "));
    QCOMPARE(f.PageControl1()->currentIndex(), 0);
    for (const char* name :
         {"g1",           "stat1",     "Button7",   "grp1",      "edtDataStr",   "btnscan",
          "btnstop",      "edtbegin",  "edtend",    "edtsecs",   "chkfreespace", "CheckBox1",
          "edtmaxpageid", "Edit2",     "Memo1",     "pnl1",      "pnl2",         "Label7",
          "img1",         "lbl1",      "ListView2", "rb1",       "rb2",          "rb3",
          "Edit1",        "edtendid",  "edtpgid",   "edtfilter", "edtlen",       "edtpagelen",
          "Button8",      "btnsave",   "Button3",   "ListView3", "Button1",      "chkauto",
          "Memo2",        "ListView4", "Button5",   "Button6",   "Button2",      "Memo3",
          "pm1",          "PopupMenu1"})
      QVERIFY2(f.findChild<QObject*>(QLatin1String(name)) != nullptr, name);
    for (const char* name : {"N2", "N3", "N4", "N5", "N6", "N9", "N10", "N11", "N12", "N13", "N14",
                             "N15", "N16", "N17", "N18"})
      QVERIFY2(FindAction(&f, name) != nullptr, name);
    // The sector columns travel hidden; tab III shows only "序号" and "文件名".
    QVERIFY(f.tab2().ListView2->isColumnHidden(5) && f.tab2().ListView2->isColumnHidden(6));
    QVERIFY(!f.tab2().ListView2->isColumnHidden(4));
    for (int c = 2; c < 7; ++c) QVERIFY(f.tab3().ListView3->isColumnHidden(c));
    QCOMPARE(f.list4Model().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("起始页面号"));
    f.BuildDataSourceMenu();
    QCOMPARE(f.pm1()->actions().first()->text(), QStringLiteral("打开镜像文件"));
  }

  // From 800×600 up every control of every page shows whole, and the lists grow with the
  // window.
  void FitsFrom800By600AndGrows() {
    Harness h;
    TForm1& f = *h.form;
    f.show();
    int listWidth = 0;
    for (const QSize size : {QSize(kMinimumWidth, kMinimumHeight), QSize(1400, 1000)}) {
      f.resize(size);
      QCOMPARE(f.size(), size);
      for (int page = 0; page < f.PageControl1()->count(); ++page) {
        f.PageControl1()->setCurrentIndex(page);
        QCoreApplication::processEvents();
        QWidget* sheet = f.PageControl1()->currentWidget();
        for (QWidget* w : sheet->findChildren<QWidget*>()) {
          if (!w->isVisible() || w->objectName().isEmpty()) continue;
          const QRect inSheet(w->mapTo(sheet, QPoint(0, 0)), w->size());
          const QString what = w->objectName() + QStringLiteral(" on page ") +
                               QString::number(page) + QStringLiteral(" at ") +
                               QString::number(size.width());
          QVERIFY2(sheet->rect().contains(inSheet), qPrintable(what));
          // A picture scales to the room it has.
          if (w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) continue;
          const QSize least = w->minimumSizeHint();
          QVERIFY2(w->width() >= least.width() && w->height() >= least.height(), qPrintable(what));
        }
      }
      const QTabBar* tabs = f.PageControl1()->tabBar();
      QVERIFY(tabs->sizeHint().width() <= f.PageControl1()->width());  // no scroll arrows
      QVERIFY(f.findChild<QWidget*>(QStringLiteral("Button7"))->isVisible());
      QVERIFY(f.tab2().ListView2->width() > listWidth);
      listWidth = f.tab2().ListView2->width();
    }
  }

  void UsageLabelShowsTheTextAndTwiceRestoresThePicture() {
    Harness h;
    const Tab1Page& t = h.form->tab1();
    QVERIFY(!t.img1->isHidden() && t.lbl1->isHidden());
    emit t.Label7->clicked();
    QVERIFY(t.img1->isHidden() && !t.lbl1->isHidden());
    QVERIFY(t.lbl1->text().startsWith(QStringLiteral("恢复步骤")));
    emit t.Label7->clicked();
    QVERIFY(!t.img1->isHidden() && t.lbl1->isHidden());
  }

  void ExitAndFragmentFilterMenuItemsDoNothing() {
    Harness h;
    h.form->show();
    const QString status = h.form->stat1()->text();
    FindAction(h.form.get(), "N5")->trigger();
    FindAction(h.form.get(), "N11")->trigger();
    QCoreApplication::processEvents();
    QVERIFY(h.form->isVisible());
    QVERIFY(h.dialogs.messages.empty() && h.dialogs.questions.empty() && h.dialogs.dialogs.empty());
    QCOMPARE(h.form->stat1()->text(), status);
    QCOMPARE(h.ws->fragments().Count(), std::size_t{0});
  }

  void TabIVButtonsShowTheirControlStates() {
    Harness h;
    const Tab4Page& t = h.form->tab4();
    QVERIFY(!t.Button5->isEnabled() && t.Button6->isEnabled() && !t.Button2->isEnabled());
    Tab4Controls& c = h.ws->controls().tab4;
    c.Button5Enabled = c.Button2Enabled = true;
    c.Button6Enabled = false;
    h.ui.Changed(Change::kControls);
    h.ui.DrawNow();
    QVERIFY(t.Button5->isEnabled() && !t.Button6->isEnabled() && t.Button2->isEnabled());
    c = {};
    h.ui.Changed(Change::kControls);
    h.ui.DrawNow();
    QVERIFY(!t.Button5->isEnabled() && t.Button6->isEnabled() && !t.Button2->isEnabled());
  }

  void ChosenImageIsScannedIntoListIIWhileTheWindowKeepsAnswering() {
    ravelin::test::ScratchDir dir;
    const std::string image = GeneratedImage(dir, std::uint64_t{768} << 20);
    Harness h;
    TForm1& f = *h.form;
    f.PageControl1()->setCurrentIndex(1);  // SCAN brings tab I back

    // "打开镜像文件", a whole-disk image.
    h.dialogs.paths = {image};
    h.dialogs.yesNo = {false};
    f.BuildDataSourceMenu();
    FindAction(f.pm1(), "N7")->trigger();
    QCOMPARE(f.tab1().edtDataStr->text(), QString::fromStdString(image));
    QCOMPARE(h.dialogs.questions.at(0),
             std::string("此镜像文件是逻辑分区镜像请选是，是整个磁盘镜像请选否"));
    QCOMPARE(f.tab1().edtend->text(), QString::number(std::filesystem::file_size(image) / 512));
    QVERIFY(!f.tab1().chkfreespace->isEnabled());

    // A timer of the window's thread keeps firing while the job runs.
    int ticksDuringJob = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (h.ws->JobRunning()) ++ticksDuringJob;
    });
    timer.start(5);
    QTest::mouseClick(f.tab1().btnscan, Qt::LeftButton);
    QCOMPARE(f.PageControl1()->currentIndex(), 0);
    QVERIFY(h.ws->JobRunning());
    // Meanwhile what reads sectors or changes the lists is off, STOP is not.
    QVERIFY(!f.tab2().btnsave->isEnabled() && !f.tab2().edtfilter->isEnabled());
    QVERIFY(!f.tab4().Button6->isEnabled() && !f.tab1().edtbegin->isEnabled());
    QVERIFY(f.tab1().btnstop->isEnabled());
    QVERIFY(h.WaitForJob());
    timer.stop();
    QVERIFY2(ticksDuringJob >= 5, qPrintable(QString::number(ticksDuringJob)));

    // Tab II shows the fragments the core found, header fragment first with its image.
    const ReportListModel& model = f.list2Model();
    QVERIFY(model.rowCount() > 0);
    QCOMPARE(static_cast<std::size_t>(model.rowCount()), h.ws->fragments().Count());
    for (int r = 0; r < model.rowCount(); ++r)
      for (int c = 0; c < 7; ++c)
        QCOMPARE(
            model.data(model.index(r, c), Qt::DisplayRole).toString().toStdString(),
            h.ws->ListView2().Row(static_cast<std::size_t>(r)).Cell(static_cast<std::size_t>(c)));
    QVERIFY(f.tab1().Memo1->toPlainText().contains(QStringLiteral("完成")));
    QCOMPARE(f.stat1()->text(), QStringLiteral("完成"));
    QCOMPARE(f.g1()->value(), 100);
    // Afterwards: SCAN and the scan options stay off (the menu scans again, with the same
    // options); tab II is back.
    QVERIFY(!f.tab1().btnscan->isEnabled());
    QVERIFY(!f.tab1().edtbegin->isEnabled() && f.tab2().btnsave->isEnabled());
  }

  void ClosingDuringAScanStopsItAndWaitsForIt() {
    ravelin::test::ScratchDir dir;
    const std::string image = GeneratedImage(dir, std::uint64_t{4} << 30);
    Harness h;
    TForm1& f = *h.form;
    f.show();
    h.dialogs.paths = {image};
    h.dialogs.yesNo = {false};
    f.BuildDataSourceMenu();
    FindAction(f.pm1(), "N7")->trigger();
    QTest::mouseClick(f.tab1().btnscan, Qt::LeftButton);
    QVERIFY(h.ws->JobRunning());
    QVERIFY(!f.close());  // not yet: the job is told to stop first
    QVERIFY(h.ws->ScanStopped().load());
    QVERIFY(QTest::qWaitFor([&] { return !f.isVisible(); }, 60000));
    QVERIFY(!h.ws->JobRunning());
    QCOMPARE(h.ws->jobs().LastResult().outcome, JobOutcome::kStopped);
  }

  void SuccessorDialogTakesTheFirstTickedThenTheClickedRowAndClosingGivesUp() {
    FragmentTable table;
    for (std::int32_t i = 0; i < 4; ++i) {
      FragmentRow row;
      row.StartPage = 100 + i;
      row.EndPage = 200;
      row.SizeKB = 8 * (100 - i);
      row.StartSector = 5000 + 100 * static_cast<std::uint64_t>(i);
      table.Append(row);
    }
    table.BuildFragmentIndex();
    const std::vector<std::int32_t> group = {1, 2, 3};
    SuccessorChoice choice;
    FillSuccessorDialog(choice, table, group, 0);
    Tfrmuserchoose dialog(choice, [] {});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("指定接续碎片"));
    QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    QAbstractItemModel* list = dialog.ListView2()->model();

    // Two ticked rows: "确定" takes the first ticked one, whatever row was clicked.
    QTimer::singleShot(0, [&] {
      dialog.ListView2()->setCurrentIndex(list->index(0, 1));
      emit dialog.ListView2()->clicked(list->index(0, 1));
      list->setData(list->index(2, 0), Qt::Checked, Qt::CheckStateRole);
      list->setData(list->index(1, 0), Qt::Checked, Qt::CheckStateRole);
      dialog.btnok()->click();
    });
    dialog.Ask();
    QCOMPARE(choice.ChoiceResult, kChoiceConfirmed);
    QCOMPARE(choice.ChosenIndex, 1);
    QCOMPARE(list->data(list->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("2"));
    QCOMPARE(dialog.ListView1()->model()->data(dialog.ListView1()->model()->index(0, 0)).toString(),
             QStringLiteral("1"));

    // The next question: nothing ticked, a row clicked.
    FillSuccessorDialog(choice, table, group, 0);
    QTimer::singleShot(0, [&] {
      dialog.ListView2()->setCurrentIndex(list->index(2, 1));
      emit dialog.ListView1()->clicked(dialog.ListView1()->model()->index(0, 0));
      dialog.btnok()->click();
    });
    dialog.Ask();
    QCOMPARE(choice.ChoiceResult, kChoiceConfirmed);
    QCOMPARE(choice.ChosenIndex, 2);

    // Closing the window gives up.
    FillSuccessorDialog(choice, table, group, 0);
    QTimer::singleShot(0, [&] { dialog.close(); });
    dialog.Ask();
    QCOMPARE(choice.ChoiceResult, kChoiceCancelled);
  }

  // A whole-disk image with a partition table: after it is chosen as a whole disk, the menu
  // offers its partitions, and choosing one scans that partition's free space only, with
  // sectors numbered as on the image.
  void PartitionsOfAWholeDiskImageAreOfferedInTheMenu() {
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat");
    ravelin::test::ScratchDir dir;
    ravelin::test::GeneratedDatabase db(80, 7);
    gen::DiskImageOptions options;
    options.partitionsBefore = {{false, 0}};  // the database's partition is number 2
    options.fat32.sectorsPerCluster = 8;
    const std::string image = dir.File("disk.img");
    gen::Manifest manifest;
    QVERIFY(gen::BuildDiskImage(db, options, image, manifest).ok());
    const std::uint64_t start = manifest.partition->startSector;

    Harness h;
    TForm1& f = *h.form;
    h.dialogs.paths = {image};
    h.dialogs.yesNo = {false};
    f.BuildDataSourceMenu();
    QVERIFY(FindAction(f.pm1(), "imagePartition1") == nullptr);
    FindAction(f.pm1(), "N7")->trigger();
    f.BuildDataSourceMenu();
    QAction* second = FindAction(f.pm1(), "imagePartition2");
    QVERIFY(second != nullptr && FindAction(f.pm1(), "imagePartition1") != nullptr);
    QVERIFY(second->text().startsWith(QStringLiteral("逻辑分区 ")));
    second->trigger();
    QVERIFY(f.tab1().chkfreespace->isEnabled() && f.tab1().chkfreespace->isChecked());
    QCOMPARE(h.ws->source().FileSystemName, std::string("FAT32"));
    QVERIFY(f.tab1().edtbegin->text().toULongLong() > start);
    QTest::mouseClick(f.tab1().btnscan, Qt::LeftButton);
    QVERIFY(h.WaitForJob());
    QVERIFY(h.ws->fragments().Count() > 0);
    for (const FragmentRow& row : h.ws->fragments().Rows()) QVERIFY(row.StartSector > start);
  }

  void SearchOnAnEmptyListLeavesTheButtonsDisabled() {
    Harness h;
    QVERIFY(h.form->tab4().Button6->isEnabled());
    QTest::mouseClick(h.form->tab4().Button6, Qt::LeftButton);
    QCoreApplication::processEvents();
    QVERIFY(!h.form->tab4().Button6->isEnabled() && !h.form->tab4().Button2->isEnabled());
  }
};

int RunWindowTests(int argc, char** argv) {
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace ravelin::shell::test

#include "window_tests.moc"
