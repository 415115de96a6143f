#include <gtest/gtest.h>

#include <atomic>

#include "datasource/free_space_map.h"
#include "scan/block_window.h"
#include "scan/scan_engine.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"
#include "support/recording_reporter.h"

namespace ravelin {
namespace {

using test::PageBuilder;

constexpr char kResumeImage[] = "disk.img";
constexpr std::size_t kSectors = 40000;

class RowSink final : public FragmentSink {
 public:
  const FragmentRow* Last() const override { return rows.empty() ? nullptr : &rows.back(); }
  void Append(FragmentRow row) override { rows.push_back(std::move(row)); }
  void RemoveLast() override { rows.pop_back(); }
  std::vector<FragmentRow> rows;
};

// Keeps every point the scan offers with the rows recorded up to it.
class AllPoints final : public ScanCheckpoints {
 public:
  explicit AllPoints(const RowSink& sink) : sink_(sink) {}
  void Reached(const ScanPoint& point) override { points.push_back({point, sink_.rows}); }
  struct Taken {
    ScanPoint point;
    std::vector<FragmentRow> rows;
  };
  std::vector<Taken> points;

 private:
  const RowSink& sink_;
};

std::vector<std::string> Texts(const std::vector<FragmentRow>& rows) {
  std::vector<std::string> texts;
  for (const FragmentRow& row : rows) texts.push_back(row.Text());
  return texts;
}

// A disk holding the shapes a resumed scan can get wrong: a file's first pages, a run that a
// later run merges into across a gap and across an unreadable page, a run straddling the
// boundary of the scan's 12288-sector windows, one off the grid of 8-sector clusters, and a
// long run over a window boundary.
class ScanResumeTest : public ::testing::TestWithParam<ScanSettings> {
 protected:
  ScanResumeTest() : image_(kSectors * kSectorSize, 0) {
    PutPage(200, test::FileHeaderPage(1, 5000).Build());
    PutPage(216, test::PfsPage(1).Build());
    PutRun(232, 2, 39);
    PutRun(2000, 5, 9);
    PutRun(2000 + 112, 12, 20);  // pages 10 and 11 unrecognisable: merged
    PutRun(4000, 100, 109);      // page 103 unreadable: merged over it
    PutRun(kBlockSectors - 24, 700, 705);
    PutRun(8003, 50, 52);
    PutRun(2 * kBlockSectors - 800, 900, 1000);
    sources_.Add(kResumeImage, image_);
    sources_.SetBadSectors(kResumeImage, {4000 + 3 * 16});
    source_.SourceChosen = true;
    source_.SourcePath = kResumeImage;
    source_.SectorLimit = kSectors;
  }

  void PutPage(std::uint64_t sector, const test::Page& page) {
    std::copy(page.begin(), page.end(), image_.begin() + sector * kSectorSize);
  }
  void PutRun(std::uint64_t sector, std::int32_t first, std::int32_t last) {
    for (std::int32_t p = first; p <= last; ++p)
      PutPage(sector + 16 * static_cast<std::uint64_t>(p - first), PageBuilder().PageId(p).Build());
  }

  ScanResult Scan(const ScanSettings& settings, RowSink& sink, ScanCheckpoints* points) {
    SectorReader reader(source_, sources_.Opener());
    test::RecordingReporter reporter;
    return ScanSource(settings, source_, sources_.Opener(), reader, freeSpace_, stop_, sink,
                      reporter, points);
  }

  std::vector<std::uint8_t> image_;
  test::MemorySources sources_;
  DataSource source_;
  FreeSpaceMap freeSpace_;
  std::atomic<bool> stop_{false};
};

TEST_P(ScanResumeTest, ResumingFromAnyPointGivesTheRowsOfTheWholeScan) {
  ScanSettings settings = GetParam();
  settings.checkpointStride = 1;  // a point at every candidate position
  RowSink whole;
  AllPoints taken(whole);
  ASSERT_EQ(Scan(settings, whole, &taken).outcome, ScanOutcome::kCompleted);
  ASSERT_GE(whole.rows.size(), 3u);
  ASSERT_GT(taken.points.size(), 100u);
  const std::vector<std::string> expected = Texts(whole.rows);

  // Every point whose last row is still open (a later run merges into it), and a spread of
  // the others.
  int open = 0;
  for (std::size_t i = 0; i < taken.points.size(); ++i) {
    const auto& [point, rows] = taken.points[i];
    const bool isOpen = !rows.empty() && (rows.size() > whole.rows.size() ||
                                          rows.back().Text() != expected[rows.size() - 1]);
    open += isOpen ? 1 : 0;
    if (!isOpen && i % 401 != 0 && i + 1 != taken.points.size()) continue;
    SCOPED_TRACE("resumed at sector " + std::to_string(point.position));
    ScanSettings resumed = settings;
    resumed.resumeFrom = point;
    RowSink sink;
    sink.rows = rows;
    const ScanResult result = Scan(resumed, sink, nullptr);
    ASSERT_EQ(result.outcome, ScanOutcome::kCompleted);
    ASSERT_EQ(Texts(sink.rows), expected);
  }
  EXPECT_GT(open, 0) << "some point lies inside a merge";
}

TEST_P(ScanResumeTest, AScanStoppedAndResumedAtItsStopGivesTheSameRows) {
  const ScanSettings settings = GetParam();
  RowSink whole;
  ASSERT_EQ(Scan(settings, whole, nullptr).outcome, ScanOutcome::kCompleted);
  // STOP at a point inside the first merge, and again after the window boundary.
  for (const std::int64_t stopAt : {std::int64_t{2090}, kBlockSectors + 100}) {
    SCOPED_TRACE(stopAt);
    class StopAt final : public ScanCheckpoints {
     public:
      StopAt(std::int64_t at, std::atomic<bool>& stop) : at_(at), stop_(stop) {}
      void Reached(const ScanPoint& point) override {
        if (point.position >= at_) stop_ = true;
      }

     private:
      std::int64_t at_;
      std::atomic<bool>& stop_;
    } stopper(stopAt, stop_);
    ScanSettings stopping = settings;
    stopping.checkpointStride = 1;
    stop_ = false;
    RowSink sink;
    const ScanResult stopped = Scan(stopping, sink, &stopper);
    ASSERT_EQ(stopped.outcome, ScanOutcome::kStopped);
    EXPECT_GE(stopped.reached.position, stopAt);
    EXPECT_EQ(stopped.reached.position, stopped.position);
    stop_ = false;
    ScanSettings resumed = settings;
    resumed.resumeFrom = stopped.reached;
    ASSERT_EQ(Scan(resumed, sink, nullptr).outcome, ScanOutcome::kCompleted);
    EXPECT_EQ(Texts(sink.rows), Texts(whole.rows));
  }
}

TEST_F(ScanResumeTest, AScanResumedAtItsEndReadsNothingAndCompletes) {
  ScanSettings settings;
  settings.end = kSectors;
  settings.resumeFrom = ScanPoint{static_cast<std::int64_t>(kSectors), 0, 3};
  RowSink sink;
  sink.rows.resize(1);
  const ScanResult result = Scan(settings, sink, nullptr);
  EXPECT_EQ(result.outcome, ScanOutcome::kCompleted);
  EXPECT_EQ(result.reached.fragmentCount, 3);
  EXPECT_EQ(sink.rows.size(), 1u);
}

ScanSettings Settings(std::int64_t step, std::optional<std::int64_t> below = std::nullopt) {
  ScanSettings settings;
  settings.end = kSectors;
  settings.step = step;
  settings.startPageBelow = below;
  return settings;
}

INSTANTIATE_TEST_SUITE_P(Strides, ScanResumeTest,
                         ::testing::Values(Settings(1), Settings(8), Settings(40),
                                           Settings(1, 300)));

}  // namespace
}  // namespace ravelin
