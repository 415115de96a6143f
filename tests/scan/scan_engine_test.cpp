#include "scan/scan_engine.h"

#include <gtest/gtest.h>

#include <thread>

#include "catalogue/scan_text.h"
#include "commands/scan_commands.h"
#include "page/page_format.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"
#include "support/scripted_ui.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

using test::PageBuilder;

constexpr char kImage[] = "disk.img";

// An in-memory disk of `sectors` sectors on which tests place pages of file 1.
class ScanTest : public ::testing::Test {
 protected:
  explicit ScanTest(std::size_t sectors = 40000) : image_(sectors * kSectorSize, 0) {}

  void PutPage(std::uint64_t sector, const test::Page& page) {
    std::copy(page.begin(), page.end(), image_.begin() + sector * kSectorSize);
  }
  // Data pages first..last (inclusive) at consecutive page positions from `sector`.
  void PutRun(std::uint64_t sector, std::int32_t first, std::int32_t last) {
    for (std::int64_t p = first; p <= last; ++p)
      PutPage(sector + 16 * static_cast<std::uint64_t>(p - first),
              PageBuilder().PageId(static_cast<std::int32_t>(p)).Build());
  }
  // A database file's start: file header, PFS, then data pages 2..pages-1.
  void PutFileStart(std::uint64_t sector, std::int32_t pages) {
    PutPage(sector, test::FileHeaderPage(1, 5000).Build());
    PutPage(sector + 16, test::PfsPage(1).Build());
    if (pages > 2) PutRun(sector + 32, 2, pages - 1);
  }

  Workspace& Ws() {
    if (!ws_) {
      sources_.Add(kImage, image_);
      if (!bad_.empty()) sources_.SetBadSectors(kImage, bad_);
      ws_ = std::make_unique<Workspace>(ui_, sources_.Opener());
      ws_->source().SourceChosen = true;
      ws_->source().SourcePath = kImage;
      ws_->source().SectorLimit = image_.size() / kSectorSize;
      auto& tab1 = ws_->controls().tab1;
      tab1.edtbegin = "0";
      tab1.edtend = std::to_string(image_.size() / kSectorSize);
      tab1.edtsecs = "1";
      tab1.chkfreespace = false;
    }
    return *ws_;
  }

  // Runs the job on this thread, as the worker would.
  void Scan() {
    Ws().ScanStopped() = false;
    ScanDataSource(Ws());
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (const auto& row : Ws().fragments().Rows()) rows.push_back(row.Text());
    return rows;
  }

  std::vector<std::uint8_t> image_;
  std::set<std::uint64_t> bad_;
  test::MemorySources sources_;
  test::ScriptedUi ui_;
  std::unique_ptr<Workspace> ws_;
};

TEST_F(ScanTest, MergesRunThatContinuesNumberingAcrossAShortGap) {
  const std::uint64_t s = 1000;
  PutRun(s, 5, 9);
  PutRun(s + 112, 12, 20);  // pages 10 and 11 unrecognisable
  Scan();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|1000|1256|128|5|21| |Y|"}));
  EXPECT_EQ(Ws().fragments().FragmentCount(), 1);
  EXPECT_TRUE(Ws().ScanStopped());
}

// Page ids are 32-bit and signed: a run reaching the largest one ends there, one that merges
// up to it and a row one past it are counted in 64 bits (no overflow under UBSan).
TEST_F(ScanTest, RunsAtTheLargestPageIdEndThereWithoutOverflow) {
  constexpr std::int32_t kMax = 2147483647;
  PutRun(1000, kMax - 2, kMax);
  PutRun(1048, 1, 1);  // page 1 right after page 2^31 - 1: a new run
  PutRun(3000, kMax - 9, kMax - 8);
  PutRun(3000 + 16 * 4, kMax - 5, kMax);  // continues the numbering after a gap: merged
  Scan();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|1000|1048|24|2147483645|2147483648| |Y|",
                                              "2|1048|1064|8|1|2| |Y|",
                                              "3|3000|3160|80|2147483638|2147483648| |Y|"}));
  // The index and the stored row text keep the end page one past 2^31 - 1.
  EXPECT_EQ(Ws().fragments().FragmentIndex().back().EndPage, 2147483648);
  std::string error;
  const auto reread = ParseFragmentRow(Rows()[0], &error);
  ASSERT_TRUE(reread) << error;
  EXPECT_EQ(reread->EndPage, 2147483648);
}

TEST_F(ScanTest, KeepsRunsApartWhenNumberingDoesNotLineUpOrTheGapIsTooLong) {
  image_.resize(131640 * kSectorSize);
  PutRun(992, 5, 9);
  PutRun(992 + 128, 12, 14);  // one page further than page 12 would lie
  PutRun(2000, 30, 31);
  // Numbering lines up with the run at 2000, but the gap is 129424 sectors.
  PutRun(131456, 30 + (131456 - 2000) / 16, 31 + (131456 - 2000) / 16);
  Ws().controls().tab1.edtsecs = "16";
  Scan();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(GetField(rows[1], 5), "12");
  EXPECT_EQ(GetField(rows[3], 1), "4");
}

TEST_F(ScanTest, MergesAtExactlyTheLongestGap) {
  PutRun(0, 30, 31);
  const std::uint64_t next = 32 + 129408;  // gap of exactly 129408 sectors
  image_.resize((next + 64) * kSectorSize);
  PutRun(next, 32 + 129408 / 16, 33 + 129408 / 16);
  Ws().controls().tab1.edtsecs = "16";
  Scan();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(GetField(Rows()[0], 6), std::to_string(34 + 129408 / 16));
}

TEST_F(ScanTest, FileHeaderWithoutPfsPageFollowingGivesNothing) {
  PutPage(500, test::FileHeaderPage(1, 5000).Build());
  PutPage(516, PageBuilder().PageId(7).Build());  // a data page, not the PFS page
  Scan();
  ASSERT_EQ(Rows().size(), 1u) << "only the data page at 516 is a fragment";
  EXPECT_EQ(GetField(Rows()[0], 5), "7");
}

TEST_F(ScanTest, RunFromPageZeroCountsAnUnreadablePageAndEndsAtTheNextReadableMismatch) {
  PutFileStart(3200, 10);
  bad_ = {3200 + 5 * 16};  // page 5's first sector
  Scan();
  ASSERT_FALSE(Rows().empty());
  // Pages 0..5: the unreadable page 5 counts into the run, which ends at page 6 because the
  // expected number stood still while the page could not be read.
  EXPECT_EQ(GetField(Rows()[0], 4), "48");
  EXPECT_EQ(GetField(Rows()[0], 7), "无效文件头,size:40000KB");
  const auto& memo = ui_.MemoLines(Memo::kMemo1);
  EXPECT_NE(std::find(memo.begin(), memo.end(), "8192errorhead1sec3280"), memo.end());
}

TEST_F(ScanTest, UnreadablePageEndsARunFromTheMiddleAndTheNextRunMergesOverIt) {
  PutRun(4000, 100, 109);
  bad_ = {4000 + 3 * 16};
  Scan();
  // 100..102, then 104..109 after a one-page gap: one fragment, the gap included.
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|4000|4160|80|100|110| |Y|"}));
  const auto& memo = ui_.MemoLines(Memo::kMemo1);
  EXPECT_NE(std::find(memo.begin(), memo.end(), "8192error1sec4048"), memo.end());
}

TEST_F(ScanTest, StartPageLimitSkipsFragmentNumbers) {
  PutRun(100, 1000, 1001);
  PutRun(400, 10, 11);
  Ws().controls().tab1.CheckBox1 = true;
  Ws().controls().tab1.edtmaxpageid = "1000";
  Scan();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"2|400|432|16|10|12| |Y|"}));
}

TEST_F(ScanTest, RunStopsAtTheEndSector) {
  PutRun(160, 50, 59);
  Ws().controls().tab1.edtend = "200";  // pages at 160, 176, 192 start before 200
  Scan();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|160|208|24|50|53| |Y|"}));
  const auto& memo = ui_.MemoLines(Memo::kMemo1);
  ASSERT_GE(memo.size(), 2u);
  EXPECT_EQ(memo.front().rfind("开始扫描", 0), 0u);
  EXPECT_EQ(memo.back().rfind("完成", 0), 0u);
}

TEST_F(ScanTest, EndBeyondTheSourceStopsAtItsLastSectorWithoutErrors) {
  image_.resize(1000 * kSectorSize);
  PutRun(904, 70, 75);  // the last page starts at sector 984
  Ws().controls().tab1.edtend = "50000";
  Scan();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|904|1000|48|70|76| |Y|"}));
  for (const auto& line : ui_.MemoLines(Memo::kMemo1))
    EXPECT_EQ(line.find("error"), std::string::npos) << line;
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo1).back().rfind("完成", 0), 0u);
}

TEST_F(ScanTest, SecondScanAppendsWithNumbersFromOne) {
  PutRun(100, 10, 11);
  PutRun(1000, 40, 41);
  Scan();
  Scan();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(GetField(rows[2], 1), "1");
  EXPECT_EQ(GetField(rows[3], 1), "2");
  EXPECT_EQ(Ws().fragments().FragmentCount(), 4);
}

TEST_F(ScanTest, StepOfThirtyTwoOrMoreScansAtSixteenAndKeepsTheClusterSize) {
  PutRun(16 * 37, 3, 4);
  Ws().controls().tab1.edtsecs = "40";
  Scan();
  EXPECT_EQ(Ws().source().SectorsPerCluster, 40);
  ASSERT_EQ(Rows().size(), 1u) << "found on the stride-16 grid, not the stride-40 one";
}

TEST_F(ScanTest, FirstBlockUnreadableEndsTheJobButLeavesItIdle) {
  Ws().controls().tab1.edtbegin = "50000";  // past the end of the source
  Ws().controls().tab1.edtend = "60000";
  Scan();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo1).back(), "512error1sec50000");
  EXPECT_TRUE(Ws().ScanStopped()) << "a scan that ended is not running";
}

TEST_F(ScanTest, StopTakesEffectOnlyWhenTheRunHasEnded) {
  PutFileStart(0, 2000);  // 32000 sectors of one run from page 0
  PutRun(36000, 5000, 5001);
  // STOP is pressed when the run logs its unreadable page 10, in the middle of the run.
  bad_ = {16 * 10};
  class StoppingUi : public test::ScriptedUi {
   public:
    Workspace* ws = nullptr;
    void AppendMemo(Memo memo, std::string_view line) override {
      test::ScriptedUi::AppendMemo(memo, line);
      if (line.rfind("8192errorhead", 0) == 0) ws->ScanStopped() = true;
    }
  } ui;
  sources_.Add(kImage, image_);
  sources_.SetBadSectors(kImage, bad_);
  Workspace ws(ui, sources_.Opener());
  ui.ws = &ws;
  ws.source().SourceChosen = true;
  ws.source().SourcePath = kImage;
  ws.source().SectorLimit = 40000;
  ws.controls().tab1.edtbegin = "0";
  ws.controls().tab1.edtend = "40000";
  ws.controls().tab1.edtsecs = "1";
  ws.controls().tab1.chkfreespace = false;
  ws.ScanStopped() = false;
  ScanDataSource(ws);
  ASSERT_EQ(ws.fragments().Count(), 1u);
  // The run went on past the moment of STOP (to the first readable page after page 10) and
  // was recorded; nothing after it was scanned.
  EXPECT_EQ(ws.fragments().Row(0).SizeKB, 11 * 8);
  EXPECT_EQ(ui.statuses.back(), "已停止扫描");
  EXPECT_EQ(ws.fragments().FragmentCount(), 0) << "a stopped scan does not rebuild the index";
}

TEST_F(ScanTest, SettingsThatAreNotNumbersAreRefusedBeforeTheJob) {
  for (auto [field, value, message] :
       {std::tuple{&Tab1Controls::edtbegin, "x", "开始扇区必须是整数"},
        std::tuple{&Tab1Controls::edtend, "", "结束扇区必须是整数"},
        std::tuple{&Tab1Controls::edtsecs, "0", "每簇扇区数必须大于0"},
        std::tuple{&Tab1Controls::edtsecs, "-8", "每簇扇区数必须大于0"}}) {
    Ws().controls().tab1.*field = value;
    ui_.messages.clear();
    N2Click(Ws());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, message);
    EXPECT_FALSE(Ws().JobRunning());
    EXPECT_TRUE(Ws().ScanStopped());
    Ws().controls().tab1 = Tab1Controls{};
    Ws().controls().tab1.edtbegin = "0";
    Ws().controls().tab1.edtend = "100";
    Ws().controls().tab1.edtsecs = "1";
  }
}

TEST_F(ScanTest, ScanWithoutSourceAsksForOne) {
  Ws().source().SourceChosen = false;
  btnscanClick(Ws());
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "请选择数据源！");
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kWarning);
}

TEST_F(ScanTest, ScanButtonTakesTheFileIdAndTheMenuKeepsIt) {
  PutPage(160, PageBuilder().PageId(9).FileId(7).Build());
  Ws().controls().tab1.Edit2 = "7";
  btnscanClick(Ws());
  Ws().jobs().JoinAll();
  EXPECT_EQ(Ws().CurrentFileId(), 7);
  EXPECT_FALSE(Ws().controls().tab1.btnscanEnabled);
  ASSERT_EQ(Rows().size(), 1u);
  Ws().controls().tab1.Edit2 = "1";
  N2Click(Ws());
  Ws().jobs().JoinAll();
  EXPECT_EQ(Ws().CurrentFileId(), 7);
  EXPECT_EQ(Rows().size(), 2u);
}

}  // namespace
}  // namespace ravelin
