// The automatic analysis run as a job on the JobRunner while another thread, standing in for
// the window, takes snapshots of the tables and lists it fills; and the window adapter's
// queue of pending updates fed by a worker while the window takes batches. Run under
// ThreadSanitizer by scripts/test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "analysis/analysis_fixture.h"
#include "catalogue/catalogue_fixture.h"
#include "commands/scan_commands.h"
#include "commands/tab3_commands.h"
#include "shell/pending_updates.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

class AutomaticAnalysisThreadsTest : public test::CatalogueTest {
 protected:
  AutomaticAnalysisThreadsTest() : CatalogueTest(16 * 400) {}
};

TEST_F(AutomaticAnalysisThreadsTest, WindowSnapshotsWhileTheJobChainsTheFragments) {
  // The mini file in three fragments, the header first, the others out of order on disk,
  // and a second copy of [40,80) further away.
  struct Placed {
    std::int32_t first, end;
    std::uint64_t sector;
  };
  const std::vector<Placed> placed = {
      {0, 40, 100}, {80, 120, 1000}, {40, 80, 2000}, {40, 80, 4000}};
  for (const Placed& f : placed)
    for (std::int32_t p = f.first; p < f.end; ++p)
      PutPage(f.sector + 16 * static_cast<std::uint64_t>(p - f.first), test::MiniFilePage(p));
  for (const Placed& f : placed)
    AddRow(f.end - f.first, f.first, f.sector, f.first == 0 ? "C:\\DATA\\shop.mdf(0.94 MB)" : " ");
  test::EditFragments(Ws()).BuildFragmentIndex();

  std::atomic<bool> done{false};
  std::vector<ReportRow> assemblyCopy;
  std::vector<FragmentRow> tableCopy;
  std::thread window([&] {
    RowChanges::Cursor assemblyCursor, tableCursor;
    bool last = false;
    while (!last) {
      last = done.load();
      ApplyRowSnapshot(Ws().SnapshotList(Ws().ListView4(), assemblyCursor), assemblyCopy);
      ApplyRowSnapshot(Ws().SnapshotFragments(tableCursor), tableCopy);
      (void)Ws().JobRunning();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });

  for (int round = 0; round < 3; ++round) {
    PageControl1Change(Ws(), kTabAnalysis);
    test::EditList(Ws(), Ws().ListView3()).SetCurrent(0);
    ListView3Click(Ws());
    Ws().controls().tab3.chkauto = true;
    Button1Click(Ws());
    ASSERT_TRUE(Ws().jobs().WaitIdle(std::chrono::minutes(5)));
    Ws().jobs().JoinAll();
  }
  done.store(true);
  window.join();

  ASSERT_EQ(assemblyCopy.size(), Ws().ListView4().Count());
  for (std::size_t i = 0; i < assemblyCopy.size(); ++i)
    EXPECT_EQ(assemblyCopy[i].cells, Ws().ListView4().Row(i).cells) << "item " << i;
  ASSERT_EQ(tableCopy.size(), Ws().fragments().Count());
  // The header, [80,120) and the nearer copy of [40,80), listed in table order.
  ASSERT_EQ(Ws().ListView4().Count(), 3u);
  EXPECT_EQ(Ws().ListView4().Row(0).Cell(5), "100");
  EXPECT_EQ(Ws().ListView4().Row(1).Cell(5), "1000");
  EXPECT_EQ(Ws().ListView4().Row(2).Cell(5), "2000");
}

TEST(PendingUpdatesThreadsTest, AWorkersLinesReachTheWindowInOrder) {
  shell::PendingUpdates pending;
  constexpr int kLines = 20000;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i) {
      pending.AppendMemo(Memo::kMemo2, std::to_string(i));
      if (i % 100 == 0) {
        pending.SetProgress(i * 100 / kLines);
        pending.SetPosition(i, kLines);
        pending.SetStatus("line " + std::to_string(i));
        pending.Changed(Change::kAssemblyList);
      }
    }
    finished.store(true);
  });
  std::vector<int> seen;
  bool sawChange = false;
  for (bool last = false; !last;) {
    last = finished.load();
    const shell::PendingUpdates::Batch batch = pending.Take();
    sawChange = sawChange || batch.Has(Change::kAssemblyList);
    for (const auto& op : batch.memoOps)
      if (!op.clear) seen.push_back(std::stoi(op.line));
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  worker.join();
  EXPECT_TRUE(sawChange);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), kLines - 1);
  // Old lines may be dropped when the window falls behind; the order never changes.
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

}  // namespace
}  // namespace ravelin
