// A whole recovery through the window, as a person does it: choose the image, SCAN, tab III,
// analyse, tab IV's column 2, SEARCH MORE, CHECK, CREATE MDF — and the file it writes is the
// one that was lost. Then the same with the successor questions answered in Tfrmuserchoose.
#include <QAction>
#include <QHeaderView>
#include <QTimer>
#include <fstream>
#include <iterator>

#include "analysis/file_identification.h"
#include "gen/database_generator.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "shell/successor_dialog.h"
#include "shell_tests.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"

namespace ravelin::shell::test {
namespace {

struct Image {
  explicit Image(std::uint64_t seed, bool withOlderCopy)
      : db(Design(seed)), older(db, {std::nullopt, 40}, "older") {
    gen::RawImageOptions o;
    o.seed = seed;
    o.sectorsPerCluster = 8;
    o.fragments = 6;
    o.maxGapClusters = 16;
    // The older copy, fragmented as well, lies right after the header fragment.
    o.olderAfterHeader = withOlderCopy;
    std::vector<const gen::PageSource*> targets{&db};
    if (withOlderCopy) targets.push_back(&older);
    built = gen::BuildRawImage(targets, {}, o, path, manifest);
  }
  static gen::DatabaseSpec Design(std::uint64_t seed) {
    gen::DatabaseSpec design;
    design.pageCount = 500;
    design.seed = seed;
    design.generation = 1;
    return design;
  }
  ravelin::test::ScratchDir dir;
  std::string path = dir.File("disk.img");
  gen::DatabaseGenerator db;
  gen::PatchedPageSource older;
  gen::Manifest manifest;
  gen::Status built;
};

QAction* Action(QWidget* owner, const char* name) {
  for (QAction* a : owner->findChildren<QAction*>())
    if (a->objectName() == QLatin1String(name)) return a;
  return nullptr;
}

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QString Memo(QPlainTextEdit* memo) { return memo->toPlainText(); }

// Chooses the image as a whole disk, scans it and opens tab III on the header fragment of
// the lost file (an older copy has one too).
bool ScanAndPickTheFile(Harness& h, const Image& image) {
  TForm1& f = *h.form;
  h.dialogs.paths = {image.path};
  h.dialogs.yesNo = {false};
  f.BuildDataSourceMenu();
  Action(f.pm1(), "N7")->trigger();
  const auto header = ravelin::test::FileSectorOnImage(image.manifest, 0, 0);
  QTest::mouseClick(f.tab1().btnscan, Qt::LeftButton);
  if (!h.WaitForJob()) return false;
  f.PageControl1()->setCurrentIndex(2);
  QTableView* list3 = f.tab3().ListView3;
  const QAbstractItemModel* files = list3->model();
  for (int r = 0; r < files->rowCount(); ++r) {
    if (files->data(files->index(r, file_column::kStartSector)).toULongLong() != header) continue;
    list3->setCurrentIndex(files->index(r, 1));
    emit list3->clicked(files->index(r, 1));
    return true;
  }
  return false;
}

// Tab IV from the sort on column 2 to the written file.
std::vector<std::uint8_t> AssembleAndWrite(Harness& h, const std::string& out) {
  TForm1& f = *h.form;
  const Tab4Page& t = f.tab4();
  emit t.ListView4->horizontalHeader()->sectionClicked(1);
  h.ui.DrawNow();
  EXPECT_FALSE(t.Button5->isEnabled() || t.Button6->isEnabled() || t.Button2->isEnabled());
  emit t.ListView4->horizontalHeader()->sectionClicked(2);
  h.ui.DrawNow();
  EXPECT_TRUE(t.Button5->isEnabled() && t.Button6->isEnabled() && t.Button2->isEnabled());

  QTest::mouseClick(t.Button6, Qt::LeftButton);
  EXPECT_TRUE(h.WaitForJob());
  QTest::mouseClick(t.Button5, Qt::LeftButton);
  EXPECT_TRUE(h.WaitForJob());
  EXPECT_TRUE(Memo(t.Memo3).contains(QStringLiteral("检测完毕"))) << Memo(t.Memo3).toStdString();
  // The account of the file to be written follows: a whole recovery verifies every page.
  EXPECT_TRUE(Memo(t.Memo3).contains(QStringLiteral("页面校验通过")));
  EXPECT_FALSE(Memo(t.Memo3).contains(QStringLiteral("已损坏")));

  h.dialogs.paths = {out};
  QTest::mouseClick(t.Button2, Qt::LeftButton);
  EXPECT_TRUE(h.WaitForJob());
  h.ui.DrawNow();
  EXPECT_TRUE(Memo(t.Memo3).contains(QStringLiteral("组合完毕"))) << Memo(t.Memo3).toStdString();
  return ReadWhole(out);
}

}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void WholeRecoveryInAutomaticModeGivesBackTheLostFile() {
    const Image image(41, false);
    QVERIFY2(image.built.ok(), image.built.message().c_str());
    Harness h;
    QVERIFY(ScanAndPickTheFile(h, image));
    TForm1& f = *h.form;
    QVERIFY(f.tab3().chkauto->isChecked());
    QTest::mouseClick(f.tab3().Button1, Qt::LeftButton);
    QVERIFY(h.WaitForJob());
    h.ui.DrawNow();
    QVERIFY(f.list4Model().rowCount() > 1);

    const auto file = AssembleAndWrite(h, image.dir.File("shop.mdf"));
    const auto same = ravelin::test::EqualExceptUnrecoverable(image.manifest, 0, file, image.db);
    QVERIFY2(same, same.message());
  }

  // Beside an older copy every step has two candidates; the person ticks the one at the
  // target's own sectors in the dialog and presses "确定", and the file comes back whole.
  // Closing the dialog instead gives up with "用户终止".
  void ManualAnalysisAnsweredInTheSuccessorWindow() {
    const Image image(43, true);
    QVERIFY2(image.built.ok(), image.built.message().c_str());
    Harness h;
    QVERIFY(ScanAndPickTheFile(h, image));
    TForm1& f = *h.form;
    if (f.tab3().chkauto->isChecked()) QTest::mouseClick(f.tab3().chkauto, Qt::LeftButton);
    QVERIFY(!h.ws->controls().tab3.chkauto);

    int asked = 0;
    h.dialogs.successorWindow = [&](Tfrmuserchoose& window) {
      ++asked;
      QAbstractItemModel* list = window.ListView2()->model();
      for (int r = 0; r < list->rowCount(); ++r) {
        const auto startPage = list->data(list->index(r, 2)).toLongLong();
        const auto sector = list->data(list->index(r, 4)).toULongLong();
        if (ravelin::test::FileSectorOnImage(image.manifest, 0, startPage) == sector)
          list->setData(list->index(r, 0), Qt::Checked, Qt::CheckStateRole);
      }
      window.btnok()->click();
    };
    QTest::mouseClick(f.tab3().Button1, Qt::LeftButton);
    QVERIFY(h.WaitForJob());
    QVERIFY2(asked > 0, "no question was put");
    QVERIFY(!Memo(f.tab3().Memo2).contains(QStringLiteral("用户终止")));
    const auto file = AssembleAndWrite(h, image.dir.File("shop.mdf"));
    const auto same = ravelin::test::EqualExceptUnrecoverable(image.manifest, 0, file, image.db);
    QVERIFY2(same, same.message());

    h.dialogs.successorWindow = [](Tfrmuserchoose& window) { window.close(); };
    QTest::mouseClick(f.tab3().Button1, Qt::LeftButton);
    QVERIFY(h.WaitForJob());
    QVERIFY(Memo(f.tab3().Memo2).contains(QStringLiteral("用户终止")));
  }
};

int RunRecoveryTests(int argc, char** argv) {
  RecoveryTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace ravelin::shell::test

#include "recovery_tests.moc"
