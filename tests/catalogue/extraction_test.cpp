#include "catalogue/extraction.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue/catalogue_fixture.h"
#include "catalogue/left_page_repair.h"
#include "commands/popup_menu1.h"
#include "commands/scan_info_commands.h"
#include "page/page_format.h"
#include "support/memory_sources.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

using test::CatalogueTest;
using Bytes = std::vector<std::uint8_t>;

class ExtractionTest : public CatalogueTest {
 protected:
  void TickAll() { test::EditList(Ws(), Ws().ListView2()).CheckAll(true); }
  // Runs the command: combined (with or without the order check) into out_.
  void Combined(bool checkOrder) {
    ui_.yesNoAnswers = {true, checkOrder};
    ui_.dialogAnswers = {out_};
    N9Click(Ws());
  }
  void PerFragment() {
    ui_.yesNoAnswers = {false};
    ui_.dialogAnswers = {dir_.File("")};
    N9Click(Ws());
  }
  Bytes Zeros(std::size_t pages) { return Bytes(pages * kPageSize, 0); }
  static Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }

  std::string out_ = dir_.File("noname");
};

TEST_F(ExtractionTest, OneFilePerFragmentNamedAfterItsStartSector) {
  PutRun(2048, 7, 3);
  PutRun(4000, 20, 1);
  AddRow(3, 7, 2048);
  AddRow(1, 20, 4000);
  TickAll();
  PerFragment();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"保存完毕"});
  const Bytes file = ReadFile(dir_.File("2048.hex"));
  EXPECT_EQ(file.size(), 24u * 1024);
  EXPECT_EQ(file, Sectors(2048, 48));
  EXPECT_EQ(ReadFile(dir_.File("4000.hex")), Sectors(4000, 16));
}

TEST_F(ExtractionTest, CombinedFileFillsGapsWithZeroPages) {
  PutRun(100, 0, 3);
  PutRun(500, 5, 1);
  AddRow(3, 0, 100);
  AddRow(1, 5, 500);
  TickAll();
  Combined(true);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"保存完毕"});
  EXPECT_EQ(ReadFile(out_), Join({Sectors(100, 48), Zeros(2), Sectors(500, 16)}));
}

TEST_F(ExtractionTest, OrderCheckStopsBeforeAnyFileOtherwiseOverlapsAreWrittenInFull) {
  PutRun(100, 10, 10);
  PutRun(1000, 15, 15);
  AddRow(10, 10, 100);
  AddRow(15, 15, 1000);
  TickAll();
  Combined(true);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"error,pageid not connectted:15"});
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_TRUE(ui_.dialogAnswers.size() == 1) << "no save dialog was shown";

  ui_.messages.clear();
  Combined(false);
  EXPECT_EQ(ReadFile(out_), Join({Sectors(100, 160), Sectors(1000, 240)}));
}

TEST_F(ExtractionTest, NothingTickedStillCompletes) {
  AddRow(1, 0, 100);
  Combined(false);
  EXPECT_TRUE(std::filesystem::exists(out_));
  EXPECT_TRUE(ReadFile(out_).empty());
  PerFragment();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"保存完毕", "保存完毕"}));
}

TEST_F(ExtractionTest, RowsAreWrittenInTheOrderTheSortedListShows) {
  PutRun(3000, 0, 1);
  PutRun(100, 1, 1);
  AddRow(1, 1, 100);
  AddRow(1, 0, 3000);
  test::EditList(Ws(), Ws().ListView2()).Sort(5);  // by start sector: [1,2) first
  test::EditList(Ws(), Ws().ListView2()).Sort(2);  // by start page: [0,1) first
  TickAll();
  Combined(true);
  EXPECT_EQ(ReadFile(out_), Join({Sectors(3000, 16), Sectors(100, 16)}));
}

TEST_F(ExtractionTest, FailedReadStopsAndTheFileKeepsThePagesWritten) {
  PutRun(100, 0, 2);
  PutRun(1000, 2, 2);
  bad_ = {1020};
  AddRow(2, 0, 100);
  AddRow(2, 2, 1000);
  TickAll();
  Combined(false);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"read disk error"});
  EXPECT_EQ(ReadFile(out_), Join({Sectors(100, 32), Sectors(1000, 16)}));
}

// A page split by the file system: its last eight sectors lie just before the next fragment.
class LeftPageRepairTest : public ExtractionTest {
 protected:
  void SetUp() override {
    PutRun(1000, 0, 2);
    PutRun(2000, 2, 2);
    original_ = Sectors(1016, 16);
    for (std::uint64_t s = 1024; s < 1032; ++s) std::fill_n(image_.begin() + s * 512, 512, 0xEE);
    const Bytes tail(original_.begin() + 8 * 512, original_.end());
    std::copy(tail.begin(), tail.end(), image_.begin() + (2000 - 8) * 512);
    AddRow(2, 0, 1000);
    AddRow(2, 2, 2000);
    TickAll();
  }
  Bytes PageOne() {
    const Bytes file = ReadFile(out_);
    return Bytes(file.begin() + kPageSize, file.begin() + 2 * kPageSize);
  }
  Bytes original_;
};

TEST_F(LeftPageRepairTest, TakesTheMissingClustersFromBeforeTheNextFragment) {
  Combined(true);
  EXPECT_EQ(PageOne(), original_);
  EXPECT_EQ(ReadFile(out_).size(), 4 * kPageSize);
}

TEST_F(LeftPageRepairTest, NoRepairForClustersOfAPageOrMore) {
  Ws().source().SectorsPerCluster = 16;
  Combined(true);
  EXPECT_EQ(PageOne(), Sectors(1016, 16));
}

TEST_F(LeftPageRepairTest, UnreadableRepairBlockStops) {
  bad_ = {1990};
  ws_.reset();  // a Workspace that sees the bad sector, with the same rows
  AddRow(2, 0, 1000);
  AddRow(2, 2, 2000);
  TickAll();
  Combined(true);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"read disk error"});
  EXPECT_EQ(ReadFile(out_), Sectors(1000, 32));
}

TEST(LeftPageRepairFunctionTest, TrialsFollowTheClusterSize) {
  const test::Page intact = test::PageBuilder().PageId(9).Noise(3).Checksum().Build();
  std::array<std::uint8_t, 15 * kSectorSize> leadIn{};
  std::copy(intact.end() - 3 * kSectorSize, intact.end(), leadIn.end() - 3 * kSectorSize);

  test::Page page = intact;
  EXPECT_EQ(LeftPageRepair(page, leadIn, 8), 0) << "an intact page is never changed";

  test::Page broken = intact;
  std::fill(broken.end() - 3 * kSectorSize, broken.end(), 0x55);
  page = broken;
  EXPECT_EQ(LeftPageRepair(page, leadIn, 1), 3);
  EXPECT_EQ(page, intact);
  page = broken;
  EXPECT_EQ(LeftPageRepair(page, leadIn, 3), 1);
  EXPECT_EQ(page, intact);
  for (const int spc : {2, 12, 16, 0, -8}) {
    page = broken;
    EXPECT_EQ(LeftPageRepair(page, leadIn, spc), -1) << spc;
    EXPECT_EQ(page, broken) << "a page no trial accepts comes back as it was, spc " << spc;
  }
}

TEST_F(ExtractionTest, ExtractsFromStoredContentWithoutTheSource) {
  FillNoise();
  PutRun(100, 0, 2);
  PutRun(1000, 4, 1);
  AddRow(2, 0, 100);
  AddRow(1, 4, 1000);
  ASSERT_TRUE(SaveScanInfo(Ws(), dir_.File("rows"), dir_.File("content")));
  test::ScriptedUi ui;
  Workspace ws(ui, test::OnlyTheseFiles({dir_.File("content")}));
  ASSERT_TRUE(OpenScanInfo(ws, dir_.File("rows"), dir_.File("content")));
  test::EditList(ws, ws.ListView2()).CheckAll(true);
  ASSERT_EQ(ExtractCombined(ws, TickedRows(ws.ListView2()), out_), 0);
  EXPECT_EQ(ReadFile(out_), Join({Sectors(100, 32), Zeros(2), Sectors(1000, 16)}));
}

}  // namespace
}  // namespace ravelin
