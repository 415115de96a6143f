#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <filesystem>

#include "catalogue/catalogue_fixture.h"
#include "catalogue/fragment_source.h"
#include "catalogue/scan_text.h"
#include "commands/scan_commands.h"
#include "commands/scan_info_commands.h"
#include "common/messages.h"
#include "page/page_format.h"
#include "scan/scan_engine.h"
#include "support/image_fixtures.h"
#include "support/memory_sources.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

using test::CatalogueTest;

constexpr std::uint32_t kKey = 0x1234567;

class ScanInfoTest : public CatalogueTest {
 protected:
  ScanInfoTest() {
    FillNoise();
    PutRun(1000, 10, 3);
  }
  // Three rows: pages 10..12 at 1000, two pages at sector 5 (short lead-in) and one page
  // at 3000 with a Chinese remark, filtered out of the list.
  void AddThreeRows() {
    AddRow(3, 10, 1000);
    AddRow(2, 40, 5);
    AddRow(1, 70, 3000, "副本,size:8KB");
    test::EditFragments(Ws()).SetShown(2, false);
  }
  // A second Workspace with no data source at all: everything must come from the files.
  Workspace& Reopened() {
    if (!other_) {
      // It can open the files the first one saved, nothing else.
      other_ = std::make_unique<Workspace>(
          otherUi_, test::OnlyTheseFiles({content_, dir_.File("short"), dir_.File("other")}));
    }
    return *other_;
  }
  std::vector<std::uint8_t> Stored(Workspace& ws, std::int64_t offset, std::int32_t count,
                                   std::uint64_t start) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * kSectorSize);
    if (!ws.Fragments().ReadSectors(start, offset, count, buffer)) return {};
    return buffer;
  }

  std::string rows_ = dir_.File("scan.txt");
  std::string content_ = dir_.File("spcontent");
  test::ScriptedUi otherUi_;
  std::unique_ptr<Workspace> other_;
};

TEST_F(ScanInfoTest, SavedFilesReopenToTheSameRowsPagesAndLeadIns) {
  AddThreeRows();
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"success"});

  Workspace& ws = Reopened();
  ws.controls().tab1.edtsecs = "";
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  ASSERT_EQ(ws.fragments().Count(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(ws.fragments().Row(i).Text(), Ws().fragments().Row(i).Text());
  EXPECT_EQ(ws.ListView2().Count(), 2u) << "the hidden row stays hidden";
  EXPECT_EQ(ws.fragments().FragmentCount(), 3);
  EXPECT_FALSE(ws.source().LiveSource);
  EXPECT_EQ(ws.storedContent().key, kKey);
  EXPECT_EQ(ws.source().SectorsPerCluster, 8);
  EXPECT_EQ(ws.controls().tab1.edtsecs, "8");
  EXPECT_TRUE(otherUi_.messages.empty());

  for (const auto& row : Ws().fragments().Rows()) {
    for (std::int64_t k = 0; k < row.Pages(); ++k)
      EXPECT_EQ(Stored(ws, 16 * k, 16, row.StartSector), Sectors(row.StartSector + 16 * k, 16))
          << row.StartSector << " page " << k;
  }
  EXPECT_EQ(Stored(ws, -15, 15, 1000), Sectors(985, 15));
  EXPECT_EQ(Stored(ws, -15, 15, 3000), Sectors(2985, 15));
  // Sector 5 has only five sectors before it: the other ten are stored as zeros.
  std::vector<std::uint8_t> leadIn(10 * kSectorSize, 0);
  const auto head = Sectors(0, 5);
  leadIn.insert(leadIn.end(), head.begin(), head.end());
  EXPECT_EQ(Stored(ws, -15, 15, 5), leadIn);
  // Reads that straddle the lead-in and the pages, or span pages, come back as read.
  EXPECT_EQ(Stored(ws, -3, 16, 1000), Sectors(997, 16));
  EXPECT_EQ(Stored(ws, 8, 40, 1000), Sectors(1008, 40));
  // Nothing outside the fragment's own stored sectors, nor for an unknown start sector.
  EXPECT_TRUE(Stored(ws, -16, 1, 1000).empty());
  EXPECT_TRUE(Stored(ws, 48, 1, 1000).empty());
  EXPECT_TRUE(Stored(ws, 0, 16, 1001).empty());
}

TEST_F(ScanInfoTest, SavingAgainFromStoredContentNeedsNoSource) {
  // Work that goes on from a content file must be savable again, byte for byte, without
  // the disk it came from (which may be gone, or another disk may be chosen now).
  AddThreeRows();
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  Workspace& ws = Reopened();
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  const std::string again = dir_.File("again");
  ASSERT_TRUE(SaveScanInfo(ws, dir_.File("again.txt"), again, kKey));
  EXPECT_EQ(test::FileSha256(again), test::FileSha256(content_));
}

TEST_F(ScanInfoTest, ContentFileLayoutIsLeadInsScrambledPagesAndTrailer) {
  AddRow(3, 10, 1000);
  AddRow(1, 70, 3000);
  Ws().source().SectorsPerCluster = 0x0102;
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  const auto bytes = ReadFile(content_);
  ASSERT_EQ(bytes.size(), 7680u + 3 * 8192 + 7680 + 8192 + 6);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 7680, Sectors(985, 15).begin()));
  auto page = Sectors(1000 + 32, 16);  // the third page of the first row
  ScramblePage(page, kKey);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + 7680 + 2 * 8192));
  const std::uint32_t word = DecodeFixed32(Sectors(3000, 1).data());
  EXPECT_EQ(DecodeFixed32(bytes.data() + 7680 + 3 * 8192 + 7680), std::rotr(word, 1) ^ kKey);
  const std::uint8_t* trailer = bytes.data() + bytes.size() - 6;
  EXPECT_EQ(DecodeFixed32(trailer), std::rotr(kKey, 3));
  EXPECT_EQ(DecodeFixed16(trailer + 4), 0x0102);

  // The row file: one scrambled line per row, CR LF after each.
  const auto text = ReadFile(rows_);
  const std::string s(text.begin(), text.end());
  const auto cut = s.find("\r\n");
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(UnscrambleText(s.substr(0, cut), kRowKey), Ws().fragments().Row(0).Text());
  EXPECT_EQ(s.substr(s.size() - 2), "\r\n");
}

TEST_F(ScanInfoTest, RowsSharingAStartSectorReadFromTheFirst) {
  PutRun(2000, 50, 2);
  AddRow(3, 10, 1000);
  AddRow(1, 10, 1000);  // same start, another size: its bytes follow the first's
  AddRow(2, 50, 2000);
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  Workspace& ws = Reopened();
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  EXPECT_EQ(Stored(ws, 32, 16, 1000), Sectors(1032, 16)) << "the first row holds page 3";
  EXPECT_EQ(Stored(ws, 16, 16, 2000), Sectors(2016, 16)) << "positions count both rows";
}

TEST_F(ScanInfoTest, TruncatedContentFileIsReportedAndItsMissingPagesFailToRead) {
  AddRow(3, 10, 1000);
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  std::filesystem::resize_file(content_, 7680 + 2 * 8192 + 100);
  Workspace& ws = Reopened();
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  ASSERT_EQ(otherUi_.messages.size(), 1u);
  EXPECT_NE(otherUi_.messages[0].text.find("does not match"), std::string::npos);
  EXPECT_FALSE(ws.source().LiveSource);
  EXPECT_TRUE(Stored(ws, 32, 16, 1000).empty());
  EXPECT_EQ(Stored(ws, 16, 16, 1000).size(), 8192u) << "the pages before the cut still read";
  // A page number whose sector offset leaves 64 bits names no page (it used to overflow).
  std::array<std::uint8_t, kPageSize> page{};
  EXPECT_FALSE(ws.Fragments().ReadPage(1000, INT64_MAX / 8, page));
  EXPECT_FALSE(ws.Fragments().ReadPages(1000, INT64_MAX / 16, 2, page));
}

TEST_F(ScanInfoTest, CorruptRowFileLeavesTheTableAsItWas) {
  AddRow(3, 10, 1000);
  AddRow(1, 70, 3000);
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  const auto good = ReadFile(rows_);
  std::string text(good.begin(), good.end());
  const std::string firstLine = text.substr(0, text.find("\r\n") + 2);
  const std::string broken = ScrambleText("1|2|3|4|x|6| |Y|", kRowKey);
  WriteFile(rows_, firstLine + firstLine + broken + "\r\n");

  Workspace& ws = Reopened();
  EXPECT_FALSE(OpenScanInfo(ws, rows_, std::nullopt));
  ASSERT_EQ(otherUi_.messages.size(), 1u);
  EXPECT_NE(otherUi_.messages[0].text.find("line 3"), std::string::npos);
  EXPECT_NE(otherUi_.messages[0].text.find("StartPage"), std::string::npos);
  EXPECT_EQ(ws.fragments().Count(), 0u);

  // Over a loaded table: still nothing lost.
  EXPECT_FALSE(OpenScanInfo(Ws(), rows_, std::nullopt));
  EXPECT_EQ(Ws().fragments().Count(), 2u);
  EXPECT_EQ(Ws().ListView2().Count(), 2u);
}

TEST_F(ScanInfoTest, SaveWithAnEmptyTableWritesAnEmptyRowFileAndATrailerOnly) {
  ui_.dialogAnswers = {rows_, content_};
  ui_.yesNoAnswers = {true};
  btnsaveClick(Ws());
  EXPECT_EQ(ui_.questions,
            std::vector<std::string>{std::string(Text(TextId::kSaveContentQuestion))});
  EXPECT_TRUE(ReadFile(rows_).empty());
  EXPECT_EQ(ReadFile(content_).size(), 6u);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"success"});
}

TEST_F(ScanInfoTest, FailedReadStopsTheSaveAndKeepsWhatWasWrittenWithoutTrailer) {
  PutRun(2000, 50, 2);
  bad_ = {2016};
  AddRow(3, 10, 1000);
  AddRow(2, 50, 2000);
  ui_.dialogAnswers = {std::nullopt, content_};  // no row file, then the content file
  ui_.yesNoAnswers = {true};
  btnsaveClick(Ws());
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"read disk error"});
  EXPECT_EQ(ReadFile(content_).size(), 7680u + 3 * 8192 + 7680 + 8192);
  EXPECT_FALSE(std::filesystem::exists(rows_));
}

TEST_F(ScanInfoTest, OpenTakesSectorsPerClusterFromEdtsecsUnlessBlank) {
  AddRow(1, 10, 1000);
  Ws().source().SectorsPerCluster = 5;
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));

  Workspace& ws = Reopened();
  ws.controls().tab1.edtsecs = "4";
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  EXPECT_EQ(ws.source().SectorsPerCluster, 4);
  EXPECT_EQ(ws.controls().tab1.edtsecs, "4");

  ws.controls().tab1.edtsecs = " ";
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  EXPECT_EQ(ws.source().SectorsPerCluster, 5);
  EXPECT_EQ(ws.controls().tab1.edtsecs, "5");
}

TEST_F(ScanInfoTest, OpenDialogFlowRebuildsTheIndexAndSurvivesAMissingContentFile) {
  AddRow(3, 10, 1000);
  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_, kKey));
  Workspace& ws = Reopened();
  otherUi_.dialogAnswers = {rows_, dir_.File("nowhere")};
  otherUi_.yesNoAnswers = {true};
  Button3Click(ws);
  EXPECT_EQ(ws.fragments().FragmentCount(), 1);
  EXPECT_EQ(otherUi_.questions,
            std::vector<std::string>{std::string(Text(TextId::kOpenContentQuestion))});
  ASSERT_EQ(otherUi_.messages.size(), 1u);
  EXPECT_EQ(otherUi_.messages[0].text, "error,无法打开文件");
  EXPECT_TRUE(ws.source().LiveSource);

  // A content file too short for its trailer: stored reads from now on, key unchanged.
  ws.storedContent().key = 77;
  WriteFile(dir_.File("short"), "abc");
  otherUi_.dialogAnswers = {std::nullopt, dir_.File("short")};
  otherUi_.yesNoAnswers = {true};
  Button3Click(ws);
  EXPECT_FALSE(ws.source().LiveSource);
  EXPECT_EQ(ws.storedContent().key, 77u);
  EXPECT_EQ(ws.fragments().Count(), 1u) << "cancelling the row dialog keeps the rows";
}

TEST_F(ScanInfoTest, ScannedFragmentsWithAChineseFileNameRoundTrip) {
  // A database file's first 40 pages at 4000, its name on page 32.
  PutPage(4000, test::FileHeaderPage(1, 5000).Build());
  PutPage(4016, test::PfsPage(1).Build());
  PutRun(4032, 2, 30);
  PutPage(4000 + 32 * 16, test::FileNamePage(u"销售", u"D:\\数据\\销售.mdf").Build());
  PutRun(4000 + 33 * 16, 33, 7);
  auto& tab1 = Ws().controls().tab1;
  tab1.edtbegin = "0";
  tab1.edtend = "8192";
  tab1.edtsecs = "16";
  tab1.chkfreespace = false;
  Ws().ScanStopped() = false;
  ScanDataSource(Ws());
  // The run at 1000 lies off the 16-sector stride: the scan finds the file alone.
  ASSERT_EQ(Ws().fragments().Count(), 1u);
  ASSERT_EQ(Ws().fragments().Row(0).Remark, "D:\\数据\\销售.mdf(39.06 MB)");

  ASSERT_TRUE(SaveScanInfo(Ws(), rows_, content_));
  Workspace& ws = Reopened();
  ASSERT_TRUE(OpenScanInfo(ws, rows_, content_));
  ASSERT_EQ(ws.fragments().Count(), 1u);
  for (std::size_t i = 0; i < 1; ++i) {
    const FragmentRow& row = Ws().fragments().Row(i);
    EXPECT_EQ(ws.fragments().Row(i).Text(), row.Text());
    for (std::int64_t k = 0; k < row.Pages(); ++k)
      ASSERT_EQ(Stored(ws, 16 * k, 16, row.StartSector), Sectors(row.StartSector + 16 * k, 16));
  }
}

}  // namespace
}  // namespace ravelin
