// SEARCH MORE without a window: sweeps over an in-memory disk whose page map a test sets by
// hand, the lines of each sweep, the closing step with page 32, and the range listing.
#include <gtest/gtest.h>

#include <random>

#include "assembly/missing_fragment_search.h"
#include "catalogue/catalogue_fixture.h"
#include "catalogue/list_operations.h"
#include "commands/tab4_commands.h"
#include "commands/workspace_assembly.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

constexpr std::int32_t kObj = 77;

class SearchTest : public test::CatalogueTest {
 protected:
  SearchTest() : CatalogueTest(32768) {}

  // Data pages of object `obj`, page ids first.., at `sector`, and a table row for them
  // (added by Start, once every page is in place). Returns the row.
  std::int32_t Fragment(std::uint64_t sector, std::int32_t first, std::int32_t count,
                        std::int32_t obj = kObj) {
    for (std::int32_t i = 0; i < count; ++i)
      PutPage(sector + 16 * static_cast<std::uint64_t>(i),
              test::PageBuilder().PageId(first + i).ObjId(obj).Noise(first + i).Checksum().Build());
    pending_.push_back({count, first, sector});
    return static_cast<std::int32_t>(pending_.size()) - 1;
  }
  // The rows, those chosen so far, the page map reset to `pages`, and the list built.
  void Start(std::int32_t filePages, std::initializer_list<std::int32_t> chosen) {
    for (const Pending& p : pending_) AddRow(p.count, p.first, p.sector);
    test::EditFragments(Ws()).BuildFragmentIndex();
    for (const std::int32_t r : chosen) test::EditFragments(Ws()).FragmentChosen()[r] = 1;
    Ws().FilePageCount() = filePages;
    ASSERT_TRUE(Ws().pageMap().Reset(filePages));
    FillAssemblyList(Ws());
  }
  void Owned(std::int64_t first, std::int64_t end, std::uint8_t alloc = kAllocAllocated) {
    for (std::int64_t p = first; p < end; ++p) {
      Ws().pageMap().SetAllocState(p, alloc);
      if (alloc == kAllocAllocated) Ws().pageMap().SetOwner(p, kObj, kOwnerFromAllocation);
    }
  }
  struct Pending {
    std::int32_t count;
    std::int32_t first;
    std::uint64_t sector;
  };
  std::vector<Pending> pending_;

  std::vector<std::string> Memo3() const { return ui_.MemoLines(Memo::kMemo3); }
  std::string FirstMemoCell() { return Ws().ListView4().Row(0).Cell(list_column::kRemark); }
};

TEST_F(SearchTest, ListWithoutGapsSweepsOnceAndSetsTheMemoCell) {
  Fragment(1000, 0, 40);
  Start(40, {0});
  Ws().DatabaseFileName() = "d:\\data\\shop.mdf";
  Button6Click(Ws());
  EXPECT_EQ(Memo3(), std::vector<std::string>{"本次找到碎片数量0。二次查找完毕"});
  // 40 pages: page 32 lies in the first row, nothing is read and the cell stays.
  EXPECT_EQ(FirstMemoCell(), " ");
  EXPECT_TRUE(Ws().controls().tab4.Button2Enabled && Ws().controls().tab4.Button6Enabled);
}

TEST_F(SearchTest, AddsOneFragmentPerGapAndSweepInIndexOrder) {
  Fragment(1000, 0, 10);
  const std::int32_t late = Fragment(3000, 20, 5);
  const std::int32_t early = Fragment(2000, 10, 5);
  const std::int32_t shadow = Fragment(4000, 11, 3);  // belongs too, but comes later
  Fragment(5000, 30, 10);
  Start(40, {0, 4});
  Owned(10, 25);
  Ws().DatabaseFileName() = "x.mdf";
  const SearchResult result = Button6Click(Ws());
  EXPECT_EQ(result.foundPerSweep, (std::vector<std::int64_t>{1, 1, 0}));
  const auto& chosen = Ws().fragments().FragmentChosen();
  EXPECT_EQ(chosen[early] + chosen[late], 2);
  EXPECT_NE(chosen[shadow], 1);
  // The index holds the two copies of page 10 in row order: the earlier row is taken first.
  EXPECT_EQ(Memo3(), (std::vector<std::string>{
                         "找到碎片号" + std::to_string(early), "本次找到碎片数量1。二次查找完毕",
                         "找到碎片号" + std::to_string(late), "本次找到碎片数量1。二次查找完毕",
                         "本次找到碎片数量0。二次查找完毕"}));
  // The first row holds 10 pages and no row holds page 32 (the last starts at 30 but the
  // name is not there): the cell gets the name known so far.
  EXPECT_EQ(Ws().ListView4().Count(), 4u);
}

TEST_F(SearchTest, UndecidedFragmentIsAddedOnlyWhereItFillsAPageNotKnownFree) {
  Fragment(1000, 0, 10);
  const std::int32_t onFree = Fragment(2000, 10, 5, 500);   // another object, free pages
  const std::int32_t unknown = Fragment(3000, 20, 5, 600);  // nothing known of pages 20..24
  Start(30, {0});
  Owned(10, 20, kAllocFree);
  Button6Click(Ws());
  const auto& chosen = Ws().fragments().FragmentChosen();
  EXPECT_NE(chosen[onFree], 1);
  EXPECT_EQ(chosen[unknown], 1);
  const std::vector<std::string> memo = Memo3();
  ASSERT_GE(memo.size(), 3u);
  EXPECT_EQ(memo[0], "未加入未确定碎片号" + std::to_string(onFree) +
                         "(its pages are all free by the file's PFS pages: not added)");
  EXPECT_EQ(memo[1], "找到未确定碎片号" + std::to_string(unknown));
  EXPECT_EQ(memo[2], "本次找到碎片数量1。二次查找完毕");
}

TEST_F(SearchTest, FragmentThatContradictsTheMapIsNeverAdded) {
  Fragment(1000, 0, 10);
  const std::int32_t foreign = Fragment(2000, 10, 5, 500);
  Start(15, {0});
  Owned(10, 15);
  Button6Click(Ws());
  EXPECT_NE(Ws().fragments().FragmentChosen()[foreign], 1);
  EXPECT_EQ(Memo3(), std::vector<std::string>{"本次找到碎片数量0。二次查找完毕"});
}

TEST_F(SearchTest, OverlappingRowsStopWithErrorAndLeaveTheButtonsDisabled) {
  Fragment(1000, 0, 10);
  Fragment(2000, 5, 10);
  Start(30, {0, 1});
  const SearchResult result = Button6Click(Ws());
  EXPECT_EQ(result.outcome, SearchOutcome::kOverlap);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"error"});
  EXPECT_TRUE(Memo3().empty());
  EXPECT_FALSE(Ws().controls().tab4.Button2Enabled || Ws().controls().tab4.Button5Enabled ||
               Ws().controls().tab4.Button6Enabled);
}

TEST_F(SearchTest, ListNotStartingAtPageZeroIsNotSearched) {
  Fragment(1000, 3, 10);
  Start(30, {0});
  EXPECT_EQ(Button6Click(Ws()).outcome, SearchOutcome::kNotSearched);
  EXPECT_TRUE(Memo3().empty());
  EXPECT_FALSE(Ws().controls().tab4.Button6Enabled);
}

// One unreadable page costs only itself: it is reported and the search goes on.
TEST_F(SearchTest, UnreadablePageOfAnAddedFragmentIsReportedAndTheSearchGoesOn) {
  bad_ = {2000 + 16 * 2};
  Fragment(1000, 0, 10);
  const std::int32_t added = Fragment(2000, 10, 5);
  Start(15, {0});
  Owned(10, 11);
  const SearchResult result = Button6Click(Ws());
  EXPECT_EQ(result.outcome, SearchOutcome::kSwept);
  EXPECT_EQ(Ws().fragments().FragmentChosen()[added], 1);
  EXPECT_EQ(Memo3(), (std::vector<std::string>{"找到碎片号" + std::to_string(added),
                                               "get page info error,碎片号" + std::to_string(added),
                                               "本次找到碎片数量1。二次查找完毕",
                                               "本次找到碎片数量0。二次查找完毕"}));
}

// Page 32 is read from the second row at sector offset (32 - 10) x 16, and the name found
// there goes into the first row's memo cell with the file's size.
TEST_F(SearchTest, ClosingStepReadsTheNameFromPage32OfTheRowHoldingIt) {
  Fragment(1000, 0, 10);
  Fragment(2000, 10, 50);
  PutPage(2000 + 22 * 16,
          test::FileNamePage(u"shop", u"e:\\sql\\shop_data.mdf").PageId(32).Checksum().Build());
  Start(60, {0, 1});
  Owned(0, 60);
  Button6Click(Ws());
  EXPECT_EQ(FirstMemoCell(), "e:\\sql\\shop_data.mdf:480KB");
  EXPECT_EQ(Ws().DatabaseFileName(), "e:\\sql\\shop_data.mdf");
}

TEST_F(SearchTest, ClosingStepMendsAPage32SplitFromItsTail) {
  Fragment(1000, 0, 10);
  Fragment(2000, 10, 23);  // ends with page 32
  Fragment(4000, 33, 7);
  const test::Page name =
      test::FileNamePage(u"shop", u"e:\\shop.mdf").PageId(32).Checksum().Build();
  // The page's last 8 sectors lie just before the next row; in its place, other bytes.
  PutPage(2000 + 22 * 16, name);
  std::copy(name.begin() + 8 * 512, name.end(), image_.begin() + (4000 - 8) * 512);
  std::fill_n(image_.begin() + (2000 + 22 * 16 + 8) * 512, 8 * 512, 0x5A);
  Start(40, {0, 1, 2});
  Owned(0, 40);
  Ws().source().SectorsPerCluster = 8;
  Button6Click(Ws());
  EXPECT_EQ(FirstMemoCell(), "e:\\shop.mdf:320KB");
}

TEST_F(SearchTest, NoNameOnPage32KeepsTheKnownNameInTheMemoCell) {
  Fragment(1000, 0, 10);
  Fragment(2000, 10, 30);
  Start(40, {0, 1});
  Owned(0, 40);
  Ws().DatabaseFileName() = "c:\\noname.mdf";
  Button6Click(Ws());
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"get fileinfo2 error"});
  EXPECT_EQ(FirstMemoCell(), "c:\\noname.mdf:320KB");
}

TEST(ListFragmentsInRangeTest, FindsWhatAVisitOfEveryPositionFinds) {
  std::mt19937 random(7);
  std::vector<FragmentIndexEntry> index;
  for (int i = 0; i < 3000; ++i) {
    const auto start = static_cast<std::int32_t>(random() % 2000);
    index.push_back({i, start, start + static_cast<std::int64_t>(random() % 40)});
  }
  std::stable_sort(index.begin(), index.end(),
                   [](const auto& a, const auto& b) { return a.StartPage < b.StartPage; });
  for (int trial = 0; trial < 200; ++trial) {
    const std::int64_t first = random() % 2100;
    const std::int64_t end = first + random() % 100;
    std::vector<std::int32_t> expected;
    for (std::size_t j = 0; j < index.size(); ++j)
      if (index[j].StartPage >= first && index[j].EndPage <= end)
        expected.push_back(static_cast<std::int32_t>(j));
    ASSERT_EQ(ListFragmentsInRange(index, first, end), expected) << first << " " << end;
  }
}

// A fragment holding only allocation pages (object 99, never matched) on pages the PFS pages
// mark allocated is undecided; it fills pages the file holds (DCM and BCM, say), so the
// second pass adds it rather than leaving zero pages there.
TEST_F(SearchTest, FragmentOfAllocationPagesOnAllocatedPagesIsAdded) {
  Fragment(1000, 0, 6);
  const std::int32_t allocation = Fragment(2000, 6, 2, 99);
  Fragment(3000, 8, 8);
  Start(16, {0, 2});
  Owned(0, 16);
  Button6Click(Ws());
  EXPECT_EQ(Ws().fragments().FragmentChosen()[allocation], 1);
  EXPECT_EQ(Memo3().front(), "找到未确定碎片号" + std::to_string(allocation));
}

}  // namespace
}  // namespace ravelin
