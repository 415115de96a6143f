// Tab IV without a window: the MDF writer over an in-memory disk, and the missing-page check.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "assembly/mdf_writer.h"
#include "assembly/missing_pages.h"
#include "catalogue/catalogue_fixture.h"
#include "catalogue/fragment_rows.h"
#include "commands/tab4_commands.h"
#include "common/messages.h"
#include "page/page_format.h"
#include "support/recording_reporter.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MdfWriterTest : public test::CatalogueTest {
 protected:
  MdfWriterTest() : CatalogueTest(16384) {}

  // An Assembly list row of `pages` pages from `startPage` at `startSector`.
  void AddAssemblyRow(std::int64_t pages, std::int32_t startPage, std::uint64_t startSector) {
    AddAssemblyItem(TableRow(pages, startPage, startSector));
  }
  // A table row of `pages` pages from `startPage` at `startSector`.
  static FragmentRow TableRow(std::int64_t pages, std::int32_t startPage,
                              std::uint64_t startSector) {
    FragmentRow row;
    row.StartSector = startSector;
    row.EndSector = startSector + 16 * static_cast<std::uint64_t>(pages);
    row.SizeKB = 8 * pages;
    row.StartPage = startPage;
    row.EndPage = startPage + pages;
    return row;
  }
  // The list item of a table row, as the analysis and the search build the list.
  void AddAssemblyItem(const FragmentRow& row) {
    test::EditFragments(Ws()).Append(row);
    ReportRow item = FragmentListItem(row, Ws().ListView4().Count());
    item.tableRow = static_cast<std::int64_t>(Ws().fragments().Count() - 1);
    test::EditList(Ws(), Ws().ListView4()).Append(std::move(item));
  }
  Bytes Write(std::int32_t filePages) {
    Ws().FilePageCount() = filePages;
    EXPECT_TRUE(CreateMdf(Ws(), out_));
    return ReadFile(out_);
  }
  static Bytes Zeros(std::size_t pages) { return Bytes(pages * kPageSize, 0); }
  static Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
  // A checksum page whose sector 14 is free space, zero.
  static test::Page SplitPageTruth() { return test::RecordsPage(1, 70, 100).Checksum().Build(); }
  // Rows of pages 0 at sector 1000 and 2-3 at `next`, one sector per cluster. Page 1's head
  // is followed by an older copy of its tail: sector 14 a repeated word (its XOR that of
  // zeros), sector 15 noise; its true last 8 sectors lie just before `next`. Gives page 1 as
  // read.
  test::Page LaySplitPageOne(std::uint64_t next) {
    PutRun(1000, 0, 1);
    PutRun(next, 2, 2);
    const test::Page truth = SplitPageTruth();
    test::Page read = truth;
    for (std::size_t i = 14 * 512; i < 15 * 512; ++i)
      read[i] = static_cast<std::uint8_t>(0xDEADBEEFu >> (8 * (i % 4)));
    std::fill(read.begin() + 15 * 512, read.end(), 0x5A);
    PutPage(1016, read);
    std::copy(truth.begin() + 8 * 512, truth.end(),
              image_.begin() + static_cast<std::ptrdiff_t>((next - 8) * 512));
    AddAssemblyRow(2, 0, 1000);
    AddAssemblyRow(2, 2, next);
    Ws().source().SectorsPerCluster = 1;
    return read;
  }
  std::string out_ = dir_.File("shop.mdf");
};

TEST_F(MdfWriterTest, LaysRowsOutByPageWithZeroPagesInTheGapsAndAfterTheLast) {
  PutRun(100, 0, 10);
  PutRun(1000, 12, 8);
  AddAssemblyRow(10, 0, 100);
  AddAssemblyRow(8, 12, 1000);
  EXPECT_EQ(Write(25), Join({Sectors(100, 160), Zeros(2), Sectors(1000, 128), Zeros(5)}));
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo3), std::vector<std::string>{"组合完毕"});
}

TEST_F(MdfWriterTest, WritesALastRowPastThePageCountInFull) {
  PutRun(100, 0, 10);
  AddAssemblyRow(10, 0, 100);
  EXPECT_EQ(Write(8), Sectors(100, 160));
}

// The writer lays rows out by first page itself: every order of the same rows makes the same
// file, whatever order the list shows them in.
TEST_F(MdfWriterTest, LaysRowsOutByFirstPageInWhateverOrderTheyCome) {
  PutRun(100, 0, 4);
  PutRun(1000, 4, 3);
  PutRun(2000, 9, 2);
  const Bytes expected = Join({Sectors(100, 64), Sectors(1000, 48), Zeros(2), Sectors(2000, 32)});
  const std::vector<std::tuple<std::int64_t, std::int32_t, std::uint64_t>> rows = {
      {4, 0, 100}, {3, 4, 1000}, {2, 9, 2000}};
  std::vector<std::size_t> order = {0, 1, 2};
  do {
    test::EditList(Ws(), Ws().ListView4()).Clear();
    for (const std::size_t i : order)
      AddAssemblyRow(std::get<0>(rows[i]), std::get<1>(rows[i]), std::get<2>(rows[i]));
    EXPECT_EQ(Write(11), expected) << order[0] << order[1] << order[2];
  } while (std::next_permutation(order.begin(), order.end()));
}

// Rows that would put pages where they do not belong are reported and nothing is written:
// neither the file nor its temporary name is left.
TEST_F(MdfWriterTest, RefusesOverlappingInvertedAndNegativeRowsWritingNothing) {
  struct Case {
    const char* name;
    std::vector<FragmentRow> rows;  // StartPage, EndPage, SizeKB, StartSector matter
    RowConflict::Kind kind;
  };
  auto row = [](std::int32_t start, std::int64_t end, std::uint64_t sector) {
    FragmentRow r;
    r.StartPage = start;
    r.EndPage = end;
    r.SizeKB = 8 * std::max<std::int64_t>(end - start, 0);
    r.StartSector = sector;
    r.EndSector = sector + static_cast<std::uint64_t>(r.SizeKB) * 2;
    return r;
  };
  const std::vector<Case> cases = {
      {"overlap, given in order", {row(0, 10, 100), row(5, 15, 1000)}, RowConflict::Kind::kOverlap},
      {"overlap, given backwards",
       {row(5, 15, 1000), row(0, 10, 100)},
       RowConflict::Kind::kOverlap},
      {"same first page", {row(0, 4, 100), row(0, 6, 1000)}, RowConflict::Kind::kOverlap},
      {"inverted", {row(0, 10, 100), row(20, 12, 1000)}, RowConflict::Kind::kInverted},
      {"before page 0", {row(-2, 3, 100), row(3, 6, 1000)}, RowConflict::Kind::kBeforePageZero},
  };
  PutRun(100, 0, 10);
  PutRun(1000, 5, 10);
  for (const Case& c : cases) {
    std::vector<AssemblyRow> typed;
    test::EditList(Ws(), Ws().ListView4()).Clear();
    for (const FragmentRow& r : c.rows) {
      AddAssemblyItem(r);
      typed.push_back({r.SizeKB, r.StartPage, r.EndPage, r.StartSector});
    }
    const PlacedRows placed = PlaceRows(typed);
    ASSERT_EQ(placed.conflicts.size(), 1u) << c.name;
    EXPECT_EQ(placed.conflicts[0].kind, c.kind) << c.name;

    ui_.messages.clear();
    Ws().FilePageCount() = 20;
    EXPECT_FALSE(CreateMdf(Ws(), out_)) << c.name;
    EXPECT_FALSE(std::filesystem::exists(out_)) << c.name;
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(std::filesystem::path(out_).parent_path()),
                  std::filesystem::directory_iterator()),
              0)
        << c.name;
    ASSERT_EQ(ui_.messages.size(), 1u) << c.name;
    EXPECT_EQ(ui_.messages[0].text, "error") << c.name;

    // The engine itself refuses too, whoever calls it.
    AccountingSink sink;
    test::RecordingReporter reporter;
    const MdfWriteResult result = WriteMdf(typed, 20, 1, Ws().Fragments(), sink, reporter);
    EXPECT_FALSE(result.written) << c.name;
    EXPECT_EQ(result.pages, 0) << c.name;
    EXPECT_EQ(result.conflicts.size(), 1u) << c.name;
  }
}

// CHECK that stops at "error" gives no page account of a file that cannot be written so.
TEST_F(MdfWriterTest, CheckThatStopsAtErrorGivesNoAccount) {
  PutRun(100, 0, 10);
  PutRun(1000, 8, 8);
  for (const std::int32_t secondStart : {8, 12}) {  // overlapping; past the file's 16 pages
    test::EditList(Ws(), Ws().ListView4()).Clear();
    AddAssemblyRow(10, 0, 100);
    AddAssemblyRow(8, secondStart, 1000);
    Ws().FilePageCount() = 16;
    Button5Click(Ws());
    EXPECT_EQ(MessageTexts().back(), "error") << secondStart;
    EXPECT_TRUE(ui_.MemoLines(Memo::kMemo3).empty()) << ui_.MemoLines(Memo::kMemo3).front();
  }
}

// Pages are read a few MiB at a time; a page that cannot be read must still cost only
// itself, with one message, exactly as reading page by page.
TEST_F(MdfWriterTest, UnreadablePageInALargeRowBecomesOneZeroPage) {
  bad_ = {200 + 300 * 16 + 5};
  PutRun(200, 0, 600);
  AddAssemblyRow(600, 0, 200);
  Bytes expected = Sectors(200, 600 * 16);
  std::fill_n(expected.begin() + 300 * kPageSize, kPageSize, 0);
  EXPECT_EQ(Write(600), expected);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"read disk error"});
}

// The writer notes the pages it zero-filled for want of them (gaps, the tail, a page it could
// not read), and the account takes them as missing where no PFS page calls them free.
TEST_F(MdfWriterTest, NotesThePagesItZeroFilledAndTheAccountCallsThemMissing) {
  bad_ = {1000 + 16 * 3 + 5};
  PutRun(1000, 0, 5);
  PutRun(2000, 7, 2);
  const std::vector<AssemblyRow> rows = {{16, 7, 9, 2000}, {40, 0, 5, 1000}};
  AccountingSink sink;
  test::RecordingReporter reporter;
  const MdfWriteResult result = WriteMdf(rows, 12, 8, Ws().Fragments(), sink, reporter);
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.zeroFilled, (std::vector<PageRun>{{3, 4}, {5, 7}, {9, 12}}));
  const PageAccount account = sink.Finish(result);
  EXPECT_EQ(account.Count(PageVerdict::kMissingAllocated), 6);
  EXPECT_EQ(account.Count(PageVerdict::kProtection), 6);
  const FileAssessment a = account.Assess();
  EXPECT_EQ(a.status, FileStatus::kIncomplete);
  EXPECT_EQ(a.missing, 6);
  EXPECT_EQ(a.inUse, 12);
}

// Pages another copy's rows gave are version uncertain where they hold; a page the writer
// zero-filled stays missing, and the file is doubtful.
TEST_F(MdfWriterTest, PagesFromAnotherCopysRowsAreVersionUncertain) {
  PutRun(1000, 0, 5);
  PutRun(2000, 7, 2);
  const std::vector<AssemblyRow> rows = {{16, 7, 9, 2000}, {40, 0, 5, 1000}};
  AccountingSink sink;
  test::RecordingReporter reporter;
  MdfWriteOptions options;
  options.versionUncertain = {1, 5, 8};
  const MdfWriteResult result = WriteMdf(rows, 10, 8, Ws().Fragments(), sink, reporter, options);
  ASSERT_TRUE(result.written);
  const PageAccount account = sink.Finish(result);
  EXPECT_EQ(account.verdicts[1], PageVerdict::kVersionUncertain);
  EXPECT_EQ(account.verdicts[8], PageVerdict::kVersionUncertain);
  EXPECT_EQ(account.verdicts[5], PageVerdict::kMissingAllocated);
  EXPECT_EQ(account.Count(PageVerdict::kProtection), 5);
  EXPECT_TRUE(IsProblemVerdict(PageVerdict::kVersionUncertain));
  EXPECT_EQ(account.Assess().status, FileStatus::kDoubtful);
  EXPECT_STREQ(VerdictName(PageVerdict::kVersionUncertain), "version_uncertain");
}

// A thousand bad pages were a thousand modal boxes: now the first, then one with the count
// and the first page numbers, every later page a line of the memo with its number, each still
// a zero page in the file.
TEST_F(MdfWriterTest, ManyUnreadablePagesAreOneReportWithTheirCountAndALineEach) {
  for (std::uint64_t p = 0; p < 40; ++p) bad_.insert(200 + 16 * (10 + p));
  PutRun(200, 0, 60);
  AddAssemblyRow(60, 0, 200);
  Bytes expected = Sectors(200, 60 * 16);
  std::fill_n(expected.begin() + 10 * kPageSize, 40 * kPageSize, 0);
  EXPECT_EQ(Write(60), expected);
  const std::vector<std::string> said = MessageTexts();
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[0], "read disk error");
  EXPECT_EQ(said[1].rfind("read disk error ×40: 40个页面无法读取", 0), 0u) << said[1];
  EXPECT_TRUE(said[1].ends_with(": 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, …")) << said[1];
  const auto memo = ui_.MemoLines(Memo::kMemo3);
  for (int page = 11; page < 50; ++page) {
    const std::string line = "read disk error (page " + std::to_string(page) + ")";
    EXPECT_EQ(std::count(memo.begin(), memo.end(), line), 1) << line;
  }
}

TEST_F(MdfWriterTest, RepairsAPageSplitAcrossClustersAndOnlyThen) {
  PutRun(1000, 0, 2);
  PutRun(2000, 2, 2);
  const Bytes original = Sectors(1016, 16);
  for (std::uint64_t s = 1024; s < 1032; ++s) std::fill_n(image_.begin() + s * 512, 512, 0xEE);
  std::copy(original.begin() + 8 * 512, original.end(), image_.begin() + (2000 - 8) * 512);
  AddAssemblyRow(2, 0, 1000);
  AddAssemblyRow(2, 2, 2000);
  struct Case {
    std::int16_t sectorsPerCluster;
    bool repaired;
  };
  for (const Case c : {Case{8, true}, Case{4, true}, Case{16, false}, Case{12, false}}) {
    Ws().source().SectorsPerCluster = c.sectorsPerCluster;
    const Bytes file = Write(4);
    const Bytes pageOne(file.begin() + kPageSize, file.begin() + 2 * kPageSize);
    EXPECT_EQ(pageOne, c.repaired ? original : Sectors(1016, 16)) << c.sectorsPerCluster;
  }
}

TEST_F(MdfWriterTest, UnreadableRepairBlockIsReportedAndTheFileStillWritten) {
  bad_ = {1990};
  PutRun(1000, 0, 2);
  PutRun(2000, 2, 2);
  AddAssemblyRow(2, 0, 1000);
  AddAssemblyRow(2, 2, 2000);
  EXPECT_EQ(Write(4), Join({Sectors(1000, 32), Sectors(2000, 32)}));
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"read disk error ,leftpage"});
}

// A row of no pages leaves the file's last page to another row (or a gap): a repair for the
// row after it must not rewrite that page.
TEST_F(MdfWriterTest, RowWithoutPagesIsNotRepairedIntoTheGapBeforeIt) {
  PutRun(1000, 0, 2);
  PutRun(2000, 4, 2);
  AddAssemblyRow(2, 0, 1000);
  AddAssemblyRow(0, 4, 3000);
  AddAssemblyRow(2, 4, 2000);
  Ws().source().SectorsPerCluster = 8;
  EXPECT_EQ(Write(6), Join({Sectors(1000, 32), Zeros(2), Sectors(2000, 32)}));
}

// A split page of a checksum file whose second half lies before the next fragment, where
// what follows its head on the disk is an older copy of that half: the same sectors but one,
// a free-space sector that holds a repeated word instead of zeros. Its checksum still holds
// with one sector from the lead-in, so the plain repair with one sector per cluster keeps
// the older copy; the cluster size learned from the rows' start sectors (8) takes the whole
// half, and the memo says so.
TEST_F(MdfWriterTest, LearnsTheClusterSizeFromTheRowsAndTakesWholeClusters) {
  const test::Page truth = SplitPageTruth();
  LaySplitPageOne(2000);
  const Bytes file = Write(4);
  EXPECT_EQ(Bytes(file.begin() + kPageSize, file.begin() + 2 * kPageSize),
            Bytes(truth.begin(), truth.end()));
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo3),
            (std::vector<std::string>{
                "修复页面1(repaired: its last 8 sectors from before sector 2000)", "组合完毕"}));
}

// Two versions of split page 1 pass its checksum, differing only in its free space (sector
// 14: zeros, or a repeated word). The first is written and named uncertain; where the PFS
// pages call page 1 free, a zero page is.
TEST_F(MdfWriterTest, AnUncertainPageIsOneThatPassesOrAZeroPageWhereFree) {
  const test::Page truth = SplitPageTruth();
  const test::Page read = LaySplitPageOne(2001);  // rows 1001 sectors apart: 1 is learned
  Bytes first(read.begin(), read.end());
  std::copy(truth.begin() + 15 * 512, truth.end(), first.begin() + 15 * 512);
  for (const bool free : {false, true}) {
    ui_.ClearMemo(Memo::kMemo3);
    ASSERT_TRUE(Ws().pageMap().Reset(4));
    if (free) Ws().pageMap().SetAllocState(1, kAllocFree);
    const Bytes file = Write(4);
    EXPECT_EQ(Bytes(file.begin() + kPageSize, file.begin() + 2 * kPageSize),
              free ? Zeros(1) : first);
    EXPECT_EQ(ui_.MemoLines(Memo::kMemo3).front(),
              free ? "页面1不确定(uncertain: 8 repairs pass, a free page: written as a zero page)"
                   : "页面1不确定(uncertain: 8 repairs pass, differing only in free space; its "
                     "last 1 sectors from before sector 2001 written)");
  }
}

// The scan merged a row across other data that spans as many pages as the file has there
// (pages 4 and 5 of the row 0-9 are not the file's), and the chain passed the row holding
// the file's pages 4 and 5 over. They are taken from it; where two rows the chain passed over
// give different pages, neither is, and the row's bytes stay.
TEST_F(MdfWriterTest, PagesAMergedRowHoldsAsOtherBytesComeFromTheRowPassedOver) {
  PutRun(100, 0, 10);
  for (std::uint64_t s = 164; s < 196; ++s) std::fill_n(image_.begin() + s * 512, 512, 0xEE);
  PutRun(5000, 4, 2);
  PutRun(6000, 4, 1);
  test::Page other;  // another page 4
  std::copy_n(image_.begin() + 6000 * 512, kPageSize, other.begin());
  other[1000] ^= 1;
  Store32(other, page_header::kTornBits, PageChecksum(other));
  PutPage(6000, other);
  const Bytes merged = Sectors(100, 160);
  for (const bool second : {false, true}) {
    test::EditFragments(Ws()).Clear();
    test::EditList(Ws(), Ws().ListView4()).Clear();
    ui_.ClearMemo(Memo::kMemo3);
    AddAssemblyRow(10, 0, 100);
    test::EditFragments(Ws()).Append(TableRow(2, 4, 5000));  // passed over, not in the list
    if (second) test::EditFragments(Ws()).Append(TableRow(1, 4, 6000));
    const Bytes file = Write(10);
    const Bytes pageFour(file.begin() + 4 * kPageSize, file.begin() + 5 * kPageSize);
    const Bytes pageFive(file.begin() + 5 * kPageSize, file.begin() + 6 * kPageSize);
    EXPECT_EQ(pageFour, second
                            ? Bytes(merged.begin() + 4 * kPageSize, merged.begin() + 5 * kPageSize)
                            : Sectors(5000, 16));
    EXPECT_EQ(pageFive, Sectors(5016, 16));
    EXPECT_EQ(ui_.MemoLines(Memo::kMemo3).front(),
              "取自未选碎片的页面" + std::string(second ? "1" : "2") +
                  "(pages a chosen row held as other bytes, taken from a row the chain passed "
                  "over that holds them)");
  }
}

// Page 2 is free and all zero: the scan does not see it, so the row after the split page 1
// starts at page 3, and page 1's tail lies before page 2's sectors. Only where the map says
// the pages between are free is the repair tried there; elsewhere the tail is one no page
// follows, found by page 1's checksum.
TEST_F(MdfWriterTest, RepairsASplitPageBeforeAnInvisibleFreeZeroPage) {
  PutRun(1000, 0, 2);
  PutRun(2000, 3, 2);
  const Bytes original = Sectors(1016, 16);
  for (std::uint64_t s = 1024; s < 1032; ++s) std::fill_n(image_.begin() + s * 512, 512, 0xEE);
  std::copy(original.begin() + 8 * 512, original.end(), image_.begin() + (2000 - 16 - 8) * 512);
  AddAssemblyRow(2, 0, 1000);
  AddAssemblyRow(2, 3, 2000);
  const Bytes asRead = Sectors(1016, 16);
  for (const bool pageTwoFree : {true, false}) {
    ui_.ClearMemo(Memo::kMemo3);
    ASSERT_TRUE(Ws().pageMap().Reset(5));
    if (pageTwoFree) Ws().pageMap().SetAllocState(2, kAllocFree);
    const Bytes file = Write(5);
    EXPECT_NE(asRead, original);
    EXPECT_EQ(Bytes(file.begin() + kPageSize, file.begin() + 2 * kPageSize), original);
    EXPECT_EQ(Bytes(file.begin() + 2 * kPageSize, file.begin() + 3 * kPageSize), Zeros(1));
    EXPECT_EQ(ui_.MemoLines(Memo::kMemo3).front(),
              pageTwoFree ? "修复页面1(repaired: its last 8 sectors from before sector 1984, "
                            "across 1 free zero pages)"
                          : "修复页面1(repaired: its last 8 sectors from sector 1976, a tail no "
                            "page follows)");
  }
}

// A saved scan's content keeps only the 15 sectors before each row: the tail before the free
// zero page is not there, and the page stays as read with a line that says why.
TEST_F(MdfWriterTest, ASavedScanCannotRepairASplitPageBeforeAFreeZeroPageAndSaysSo) {
  class LeadInsOnly final : public FragmentSource {
   public:
    explicit LeadInsOnly(FragmentSource& inner) : inner_(inner) {}
    bool ReadSectors(std::uint64_t start, std::int64_t offset, std::int32_t count,
                     MutableBytes buffer) override {
      return offset >= -15 && inner_.ReadSectors(start, offset, count, buffer);
    }

   private:
    FragmentSource& inner_;
  };
  PutRun(1000, 0, 2);
  PutRun(2000, 3, 2);
  const Bytes original = Sectors(1016, 16);
  for (std::uint64_t s = 1024; s < 1032; ++s) std::fill_n(image_.begin() + s * 512, 512, 0xEE);
  std::copy(original.begin() + 8 * 512, original.end(), image_.begin() + (2000 - 16 - 8) * 512);
  LeadInsOnly saved(Ws().Fragments());
  MdfWriteOptions options;
  options.knownFree = [](std::int64_t n) { return n == 2; };
  AccountingSink sink;
  test::RecordingReporter reporter;
  const std::vector<AssemblyRow> rows = {{16, 0, 2, 1000}, {16, 3, 5, 2000}};
  const MdfWriteResult result = WriteMdf(rows, 5, 8, saved, sink, reporter, options);
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.repairedPages, 0);
  EXPECT_EQ(reporter.lines,
            (std::vector<std::string>{"页面1未修复(split before 1 free zero pages, and the sectors "
                                      "before them cannot be read: a saved scan holds only the 15 "
                                      "sectors before each fragment; kept as read)"}));
  EXPECT_EQ(sink.Finish(result).verdicts[1], PageVerdict::kDamaged);
}

// A page the file's PFS pages mark free is written as read only when it is this file's page
// at that place and holds: noise in a row, another file's page and a damaged page become zero
// pages. Pages not known free are written as read, damaged or not.
TEST_F(MdfWriterTest, WritesAFreePageAsReadOnlyWhenItIsTheFilesOwn) {
  PutRun(1000, 0, 6);
  std::fill_n(image_.begin() + (1000 + 3 * 16) * 512, 16 * 512, 0xAB);  // page 3: noise
  PutPage(1000 + 4 * 16, test::PageBuilder().PageId(4).FileId(3).Noise(5).Checksum().Build());
  image_[(1000 + 5 * 16) * 512 + 4000] ^= 1;  // page 5: damaged
  image_[(1000 + 1 * 16) * 512 + 4000] ^= 1;  // page 1: damaged, but not known free
  AddAssemblyRow(6, 0, 1000);
  ASSERT_TRUE(Ws().pageMap().Reset(6));
  for (std::int64_t p = 2; p <= 5; ++p) Ws().pageMap().SetAllocState(p, kAllocFree);
  EXPECT_EQ(Write(6), Join({Sectors(1000, 3 * 16), Zeros(3)}));
  EXPECT_EQ(
      ui_.MemoLines(Memo::kMemo3),
      (std::vector<std::string>{
          "空闲页面写为零页3(free pages whose bytes were not the file's own page: zero pages)",
          "组合完毕"}));
}

TEST_F(MdfWriterTest, ButtonProposesTheFileNameAndWritesNothingWithoutPageZero) {
  PutRun(100, 5, 3);
  PutRun(300, 0, 3);
  AddAssemblyRow(3, 5, 100);
  Ws().DatabaseFileName() = "c:\\Program Files\\DATA\\Shop.mdf";
  ui_.dialogAnswers = {out_};
  Button2Click(Ws());
  EXPECT_TRUE(ui_.MemoLines(Memo::kMemo3).empty());
  EXPECT_FALSE(std::filesystem::exists(out_));

  test::EditList(Ws(), Ws().ListView4()).Clear();
  AddAssemblyRow(3, 0, 300);
  ui_.dialogAnswers = {out_};
  Ws().FilePageCount() = 3;
  Button2Click(Ws());
  ASSERT_EQ(ui_.saveDialogs.size(), 1u) << "no dialog while the list does not start at page 0";
  EXPECT_EQ(ui_.saveDialogs[0].title, Text(TextId::kSaveMdfTitle));
  EXPECT_EQ(ui_.saveDialogs[0].proposedName, "Shop.mdf");
  EXPECT_EQ(ReadFile(out_), Sectors(300, 48));
}

TEST_F(MdfWriterTest, HeaderClickOnTheFirstPageColumnEnablesTheButtonsAndSorts) {
  AddAssemblyRow(2, 10, 500);
  AddAssemblyRow(2, 0, 900);
  ListView4ColumnClick(Ws(), 2);
  EXPECT_TRUE(Ws().controls().tab4.Button2Enabled && Ws().controls().tab4.Button5Enabled &&
              Ws().controls().tab4.Button6Enabled);
  EXPECT_EQ(Ws().ListView4().Row(0).Cell(2), "0");
  ListView4ColumnClick(Ws(), 4);
  EXPECT_FALSE(Ws().controls().tab4.Button2Enabled || Ws().controls().tab4.Button5Enabled ||
               Ws().controls().tab4.Button6Enabled);
}

struct CheckCase {
  const char* name;
  std::vector<std::pair<std::int32_t, std::int64_t>> rows;  // [start, end)
  std::int64_t filePages;
  std::vector<std::int64_t> allocated;
  std::vector<std::string> lines;
  std::vector<std::string> messages;
};

TEST(MissingPagesTest, ReportsPfsAndAllocatedPagesInEveryGap) {
  const std::vector<CheckCase> cases = {
      {"one row covering the file", {{0, 50}}, 50, {10}, {"检测完毕"}, {}},
      {"gap to the end holds a PFS page",
       {{0, 100}},
       8200,
       {50, 150, 8100},
       {"缺少重要的PFS页面8088", "缺少页面150", "缺少页面8100", "检测完毕"},
       {}},
      {"adjacent rows leave no gap", {{0, 50}, {50, 120}}, 120, {60}, {"检测完毕"}, {}},
      {"overlap stops the check", {{0, 50}, {40, 120}}, 120, {}, {}, {"error"}},
      {"last row past the file", {{0, 50}, {60, 130}}, 120, {55}, {"缺少页面55"}, {"error"}},
      {"gap holding page 1",
       {{0, 1}, {3, 5}},
       5,
       {2},
       {"缺少重要的PFS页面1", "缺少页面2", "检测完毕"},
       {}},
      {"1.5 intervals consider 16176 but never report it",
       {{0, 8088}, {8089, 12132}},
       12132,
       {},
       {"缺少重要的PFS页面8088", "检测完毕"},
       {}},
      {"first row not at page 0", {{5, 50}}, 50, {}, {}, {}},
  };
  for (const CheckCase& c : cases) {
    std::vector<AssemblyRow> rows;
    for (const auto& [start, end] : c.rows) rows.push_back({8 * (end - start), start, end, 100});
    std::vector<bool> map(static_cast<std::size_t>(c.filePages), false);
    for (const std::int64_t n : c.allocated) map[static_cast<std::size_t>(n)] = true;
    test::RecordingReporter reporter;
    CheckMissingPages(
        rows, c.filePages, static_cast<std::int64_t>(map.size()),
        [&](std::int64_t n) { return map[static_cast<std::size_t>(n)]; }, reporter);
    EXPECT_EQ(reporter.lines, c.lines) << c.name;
    EXPECT_EQ(reporter.MessageTexts(), c.messages) << c.name;
  }
}

}  // namespace
}  // namespace ravelin
