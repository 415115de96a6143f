// The window's way of reading the tables a job fills: snapshots taken from another thread
// while a threaded scan appends and merges rows, and while it is stopped. Run under
// ThreadSanitizer by scripts/test (the tsan preset), where a read that is not a snapshot
// would be reported as a race.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "commands/scan_commands.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"
#include "support/scripted_ui.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr char kImage[] = "disk.img";

// An image holding `pairs` fragments that each arrive as two runs, the second continuing the
// first's numbering after a gap, so every fragment is recorded and then replaced by a merge.
std::vector<std::uint8_t> MergingImage(int pairs) {
  constexpr std::uint64_t kStride = 208;  // sectors from one fragment to the next
  std::vector<std::uint8_t> image((pairs * kStride + 1000) * kSectorSize, 0);
  auto put = [&](std::uint64_t sector, std::int32_t page) {
    const test::Page p = test::PageBuilder().PageId(page).Build();
    std::copy(p.begin(), p.end(),
              image.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
  };
  for (int f = 0; f < pairs; ++f) {
    const std::uint64_t s = 100 + f * kStride;
    const std::int32_t first = 10 + 100 * f;
    for (int k = 0; k < 4; ++k) put(s + 16 * k, first + k);
    for (int k = 6; k < 12; ++k) put(s + 16 * k, first + k);  // pages 4 and 5 missing
  }
  return image;
}

TEST(ScanSnapshotTest, AnotherThreadsCopyEndsEqualToTheTablesThroughMergesAndStop) {
  test::MemorySources sources;
  const auto image = MergingImage(600);
  const std::uint64_t sectors = image.size() / kSectorSize;
  sources.Add(kImage, image);
  test::ScriptedUi ui;
  Workspace ws(ui, sources.Opener());
  ws.source().SourceChosen = true;
  ws.source().SourcePath = kImage;
  ws.source().SectorLimit = sectors;
  ws.controls().tab1.edtbegin = "0";
  ws.controls().tab1.edtend = std::to_string(sectors);
  ws.controls().tab1.edtsecs = "1";
  ws.controls().tab1.chkfreespace = false;

  std::atomic<bool> done{false};
  std::atomic<std::size_t> seen{0};
  std::vector<FragmentRow> tableCopy;
  std::vector<ReportRow> listCopy;
  int snapshots = 0;
  std::thread window([&] {
    RowChanges::Cursor tableCursor, listCursor;
    bool last = false;
    while (!last) {
      last = done.load();
      ApplyRowSnapshot(ws.SnapshotFragments(tableCursor), tableCopy);
      ApplyRowSnapshot(ws.SnapshotList(ws.ListView2(), listCursor), listCopy);
      seen.store(tableCopy.size());
      ++snapshots;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  // A whole scan, then a second one (appending, numbered from 1 again) stopped halfway.
  N2Click(ws);
  ASSERT_TRUE(ws.jobs().WaitIdle(std::chrono::minutes(5)));
  EXPECT_EQ(ws.jobs().LastResult().outcome, JobOutcome::kCompleted);
  const std::size_t afterFirst = ws.fragments().Count();
  N2Click(ws);
  while (ws.JobRunning() && seen.load() < afterFirst + 50)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  btnstopClick(ws);
  ASSERT_TRUE(ws.jobs().WaitIdle(std::chrono::minutes(5)));
  done.store(true);
  window.join();

  EXPECT_EQ(afterFirst, 600u);
  ASSERT_EQ(tableCopy.size(), ws.fragments().Count());
  for (std::size_t i = 0; i < tableCopy.size(); ++i)
    ASSERT_EQ(tableCopy[i].Text(), ws.fragments().Row(i).Text()) << "row " << i;
  ASSERT_EQ(listCopy.size(), ws.ListView2().Count());
  for (std::size_t i = 0; i < listCopy.size(); ++i)
    ASSERT_EQ(listCopy[i].cells, ws.ListView2().Row(i).cells) << "item " << i;
  EXPECT_GT(snapshots, 2);
  // Every fragment is one merged row of twelve pages.
  EXPECT_EQ(ws.fragments().Row(0).Text(), "1|100|292|96|10|22| |Y|");
}

}  // namespace
}  // namespace ravelin
