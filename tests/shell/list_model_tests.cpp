// The list models: copies of the core's lists taken only through snapshots, equal to them
// after a scan that appends and merges rows, and fast enough for a million rows.
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSignalSpy>
#include <algorithm>

#include "commands/scan_commands.h"
#include "shell_tests.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"

namespace ravelin::shell::test {
namespace {

constexpr char kImage[] = "merging.img";

// `pairs` fragments that each arrive as two runs, the second continuing the first's
// numbering after a gap: every fragment is recorded and then replaced by a merge.
std::vector<std::uint8_t> MergingImage(int pairs) {
  constexpr std::uint64_t kStride = 208;
  std::vector<std::uint8_t> image((pairs * kStride + 1000) * kSectorSize, 0);
  auto put = [&](std::uint64_t sector, std::int32_t page) {
    const ravelin::test::Page p = ravelin::test::PageBuilder().PageId(page).Build();
    std::copy(p.begin(), p.end(),
              image.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
  };
  for (int f = 0; f < pairs; ++f) {
    const std::uint64_t s = 100 + f * kStride;
    for (int k = 0; k < 4; ++k) put(s + 16 * k, 10 + 100 * f + k);
    for (int k = 6; k < 12; ++k) put(s + 16 * k, 10 + 100 * f + k);
  }
  return image;
}

void ExpectModelEqualsList(const ReportListModel& model, const ReportList& list) {
  QCOMPARE(model.Rows().size(), list.Count());
  for (std::size_t i = 0; i < list.Count(); ++i) {
    QCOMPARE(model.Rows()[i].cells, list.Row(i).cells);
    QCOMPARE(model.Rows()[i].checked, list.Row(i).checked);
  }
}

}  // namespace

class ListModelTest : public QObject {
  Q_OBJECT

 private slots:
  void CopyStaysEqualToListIIThroughAMergingScanInFewRedraws() {
    ravelin::test::MemorySources sources;
    const auto image = MergingImage(800);
    const std::uint64_t sectors = image.size() / kSectorSize;
    sources.Add(kImage, image);
    Harness h(sources.Opener());
    Workspace& ws = *h.ws;
    ws.source().SourceChosen = true;
    ws.source().SourcePath = kImage;
    ws.source().SectorLimit = sectors;
    ws.controls().tab1 = {};
    ws.controls().tab1.edtbegin = "0";
    ws.controls().tab1.edtend = std::to_string(sectors);
    ws.controls().tab1.edtsecs = "1";
    ws.controls().tab1.chkfreespace = false;
    ReportListModel& model = h.form->list2Model();
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    QTest::mouseClick(h.form->tab1().btnscan, Qt::LeftButton);
    QVERIFY(h.WaitForJob());

    ExpectModelEqualsList(model, ws.ListView2());
    QCOMPARE(model.rowCount(), 800);
    QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("96"));
    // Coalesced: far fewer redraws than the 1,600 appends and 800 merges.
    QVERIFY2(inserts.count() + resets.count() < 100, qPrintable(QString::number(inserts.count())));
  }

  void AMillionRowsSortAndTickThroughTheCore() {
    Harness h;
    Workspace& ws = *h.ws;
    constexpr int kRows = 1000000;
    {
      MutexLock lock(ws.tableLock);
      ReportList& list = ws.LockedList(ws.ListView2());
      list.Reserve(kRows);
      for (int i = 0; i < kRows; ++i) {
        ReportRow row;
        const auto page = static_cast<int>((std::int64_t{i} * 7919) %
                                           kRows);  // a permutation: every start page once
        row.cells = {std::to_string(i + 1),        "64", std::to_string(page),
                     std::to_string(page + 8),     " ",  std::to_string(1000 + 16 * i),
                     std::to_string(1128 + 16 * i)};
        list.Append(std::move(row));
      }
    }
    ws.ui().Changed(Change::kFragmentList);
    h.ui.DrawNow();
    ReportListModel& model = h.form->list2Model();
    QCOMPARE(model.rowCount(), kRows);

    // A header click sorts in the core; the model follows from a reset snapshot.
    QTableView* view = h.form->tab2().ListView2;
    QElapsedTimer clock;
    clock.start();
    emit view->horizontalHeader()->sectionClicked(2);
    qInfo("sorting and redrawing %d rows took %lld ms", kRows, clock.elapsed());
    QCOMPARE(model.data(model.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("0"));
    QCOMPARE(model.data(model.index(kRows - 1, 2), Qt::DisplayRole).toString(),
             QString::number(kRows - 1));

    // A tick goes to the core's list and comes back through the copy.
    clock.restart();
    QVERIFY(model.setData(model.index(12345, 0), Qt::Checked, Qt::CheckStateRole));
    qInfo("a tick in %d rows took %lld ms", kRows, clock.elapsed());
    QVERIFY(ws.ListView2().Row(12345).checked);
    QCOMPARE(model.data(model.index(12345, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    ExpectModelEqualsList(model, ws.ListView2());

    // Rows keep the two greens by position.
    QCOMPARE(model.data(model.index(0, 0), Qt::BackgroundRole).value<QBrush>().color(),
             QColor(120, 182, 93));
    QCOMPARE(model.data(model.index(1, 3), Qt::BackgroundRole).value<QBrush>().color(),
             QColor(120, 221, 139));
  }
};

int RunListModelTests(int argc, char** argv) {
  ListModelTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace ravelin::shell::test

#include "list_model_tests.moc"
