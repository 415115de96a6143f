// The pieces under the database generator: the allocation layout that decides what every
// page is, the page writer's protection and text encoding, and the names on page 32.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "gen/allocation_layout.h"
#include "gen/database_generator.h"
#include "gen/page_writer.h"
#include "page/page_format.h"

namespace ravelin::gen {
namespace {

using PageBytes = std::array<std::uint8_t, kPageSize>;

LayoutParams Params(std::int64_t pages, std::uint64_t seed, int generation = 0) {
  LayoutParams p;
  p.pageCount = pages;
  p.seed = seed;
  p.generation = generation;
  return p;
}

bool IsFixedAllocationPage(std::int64_t n) {
  return n == 0 || n == 9 || AllocationLayout::IsPfsPage(n) ||
         AllocationLayout::GamFamilyIndex(n) >= 0;
}

TEST(AllocationLayout, EveryRankHasOnePageAndEveryPageOneRole) {
  for (std::int64_t pages : {40, 57, 333, 8100, 20000, 600000}) {
    for (std::uint64_t seed : {1, 2, 9}) {
      SCOPED_TRACE(pages);
      SCOPED_TRACE(seed);
      const AllocationLayout layout(Params(pages, seed, static_cast<int>(seed % 5)));
      ASSERT_LT(layout.MixedEnd(), kPfsInterval);
      ASSERT_LE(layout.MixedEnd(), pages);
      std::map<std::int64_t, int> owner;
      for (int u = 0; u < static_cast<int>(layout.Units().size()); ++u) {
        for (std::int64_t r = 0; r < layout.UnitPageCount(u); ++r) {
          const std::int64_t n = layout.PageOfRank(u, r);
          ASSERT_GT(n, 0);
          ASSERT_LT(n, pages);
          ASSERT_FALSE(IsFixedAllocationPage(n)) << n;
          ASSERT_TRUE(owner.emplace(n, u).second) << "page " << n << " given twice";
          const PageRole role = layout.Classify(n);
          ASSERT_EQ(role.role, Role::kUnitPage) << n;
          ASSERT_EQ(role.unit, u);
          ASSERT_EQ(role.rank, r);
        }
        for (int interval : layout.IamIntervals(u)) {
          const std::int64_t n = layout.IamPage(u, interval);
          ASSERT_TRUE(owner.emplace(n, u).second) << "IAM page " << n << " given twice";
          const PageRole role = layout.Classify(n);
          ASSERT_EQ(role.role, Role::kIam);
          ASSERT_EQ(role.unit, u);
          ASSERT_EQ(role.interval, interval);
        }
        // Leaf order is a permutation of the leaves.
        const std::int64_t leaves = layout.LeafCount(u);
        for (std::int64_t pos = 0; pos < leaves; ++pos) {
          ASSERT_EQ(layout.LeafPosition(u, layout.LeafRankAt(u, pos)), pos);
        }
      }
      EXPECT_EQ(layout.Classify(32).unit, 1);  // sysfiles
      EXPECT_EQ(layout.Classify(9).role, Role::kBoot);
    }
  }
}

TEST(AllocationLayout, GenerationsOnlyGrowOrShrinkAtTheEnd) {
  // A page that belongs to one unit in two generations keeps its rank, so its links and
  // content stay put unless the generation rewrote it.
  const AllocationLayout first(Params(30000, 4, 0));
  int moved = 0;
  for (int g = 1; g <= kMaxGenerations; ++g) {
    const AllocationLayout prev(Params(30000, 4, g - 1));
    const AllocationLayout next(Params(30000, 4, g));
    EXPECT_GE(next.LastAllocationChange(), prev.LastAllocationChange());
    for (std::int64_t n = 0; n < 30000; n += 3) {
      const PageRole a = prev.Classify(n);
      const PageRole b = next.Classify(n);
      if (a.role == Role::kUnitPage && b.role == Role::kUnitPage && a.unit == b.unit) {
        ASSERT_EQ(a.rank, b.rank) << "generation " << g << " page " << n;
      }
      if ((a.role == Role::kUnitPage) != (b.role == Role::kUnitPage)) ++moved;
    }
  }
  EXPECT_GT(moved, 0);
  EXPECT_EQ(AllocationLayout(Params(30000, 4, 1000)).Generation(), kMaxGenerations);
}

TEST(PageWriter, ProtectionRoundTripsThroughThePageTests) {
  PageBytes original{};
  HeaderFields h;
  h.type = 1;
  h.pageId = 77;
  WriteHeader(original, h);
  for (std::size_t i = kPageHeaderSize; i < kPageSize; ++i) {
    original[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  for (std::uint8_t pattern : {1, 2}) {
    PageBytes torn = original;
    ProtectPage(torn, PageVerify::kTornPage, pattern);
    EXPECT_TRUE(IsPageIntact(torn));
    EXPECT_EQ(torn[60] & 3, pattern);
    RestoreTornBits(torn);
    torn[5] = original[5];  // the flag nibble and the torn bits are all that may differ
    std::fill_n(torn.begin() + 60, 4, 0);
    EXPECT_EQ(torn, original);
  }
  PageBytes checked = original;
  ProtectPage(checked, PageVerify::kChecksum, 1);
  EXPECT_TRUE(IsPageIntact(checked));
  checked[4000] ^= 0x01;
  EXPECT_FALSE(IsPageIntact(checked));
  PageBytes bare = original;
  ProtectPage(bare, PageVerify::kNone, 1);
  EXPECT_FALSE(IsPageIntact(bare));
  EXPECT_EQ(Load32(bare, 60), 0u);
}

TEST(PageWriter, Utf16HandlesEveryUtf8Length) {
  EXPECT_EQ(Utf16("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"), u"a\u00E9\u4E2D\U0001F600");
  EXPECT_EQ(Utf16("x\xFFy"), u"x\uFFFDy");          // a byte that starts nothing
  EXPECT_EQ(Utf16("x\xE4\xB8"), u"x\uFFFD\uFFFD");  // cut short at the end
}

std::u16string RowText(const PageBytes& page, std::size_t offset, std::size_t chars) {
  std::u16string text;
  for (std::size_t i = 0; i < chars; ++i) text.push_back(Load16(page, offset + 2 * i));
  return text;
}

TEST(DatabaseNames, SysfilesRowsHoldDataAndLogFiles) {
  DatabaseSpec design;
  design.pageCount = 200;
  design.verify = PageVerify::kTornPage;
  design.logicalName = "商店";
  design.physicalPath = "D:\\数据\\商店.mdf";
  DatabaseGenerator gen(design);
  PageBytes page{};
  gen.ReadPage(32, page);
  RestoreTornBits(page);
  std::string name;
  ASSERT_EQ(GetFileNameFromPage(page, name), 0);
  EXPECT_EQ(name, design.physicalPath);
  const std::size_t row1 = Load16(page, kPageSize - 4);
  EXPECT_EQ(RowText(page, row1 + 10, 7), u"商店_log ");
  EXPECT_EQ(RowText(page, row1 + 266, 17), u"D:\\数据\\商店_log.ldf ");
  EXPECT_EQ(Load16(page, row1 + 8), 2);  // the log file's id
}

TEST(DatabaseNames, OverlongNamesAreCutToTheirColumns) {
  DatabaseSpec design;
  design.pageCount = 100;
  design.logicalName = std::string(127, 'n');
  design.physicalPath = "C:\\" + std::string(300, 'p') + ".mdf";
  DatabaseGenerator gen(design);
  PageBytes page{};
  gen.ReadPage(32, page);
  // 127 name characters leave one space before the path; the path keeps its first 260.
  EXPECT_EQ(Load16(page, 96 + 10 + 2 * 127), 0x20);
  EXPECT_EQ(RowText(page, 96 + 266, 260), Utf16(design.physicalPath).substr(0, 260));
  EXPECT_EQ(Load16(page, 96 + 786), 4);  // the column count right after the path column
  PageBytes header{};
  gen.ReadPage(0, header);
  std::int32_t size = 0;
  EXPECT_EQ(GetFileSizeFromHeader(header, size), 0);
  EXPECT_EQ(size, 100);
}

}  // namespace
}  // namespace ravelin::gen
