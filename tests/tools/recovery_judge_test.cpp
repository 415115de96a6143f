// The measure of a rebuilt file against its original: which differences count as wrong,
// which as the other file's pages or foreign bytes on free pages, and what "sound" needs.
#include "gen/recovery_judge.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/image_fixtures.h"
#include "support/page_builder.h"

namespace ravelin::gen {
namespace {

using test::Page;

class PagesSource : public PageSource {
 public:
  explicit PagesSource(std::vector<Page> pages) : pages_(std::move(pages)) {}
  std::int64_t PageCount() const override { return static_cast<std::int64_t>(pages_.size()); }
  void ReadPage(std::int64_t n, MutablePage out) const override {
    std::copy(pages_[n].begin(), pages_[n].end(), out.begin());
  }
  std::string Name() const override { return "pages"; }
  std::vector<Page> pages_;
};

// Pages 0-2 allocated by the PFS page, page 3 free and holding a stale page.
std::vector<Page> Original(std::uint32_t seed) {
  test::PageBuilder pfs = test::PfsPage(1);
  for (std::size_t n = 0; n < 3; ++n) pfs.Byte(96 + 4 + n, 0x40);
  return {test::FileHeaderPage(1, 4).Build(), pfs.Build(),
          test::PageBuilder().PageId(2).Noise(seed).Checksum().Build(),
          test::PageBuilder().PageId(3).Noise(seed + 1).Checksum().Build()};
}

TEST(RecoveryJudgeTest, CountsEachKindOfDifference) {
  const PagesSource original(Original(1));
  const PagesSource other(Original(2));  // another version: pages 2 and 3 differ
  const Page zero{};
  Page noise = test::PageBuilder().PageId(3).Noise(9).Build();
  struct Case {
    const char* name;
    std::vector<Page> rebuilt;
    std::vector<PageRange> lost;
    std::set<std::int64_t> named;
    bool sound, identical;
    std::int64_t right, lostZero, otherFile, foreign, wrong, unnamed;
  };
  const std::vector<Page>& o = original.pages_;
  const std::vector<Case> cases = {
      {"identical", o, {}, {}, true, true, 3, 0, 0, 0, 0, 0},
      {"free page zero", {o[0], o[1], o[2], zero}, {}, {}, true, false, 3, 0, 0, 0, 0, 0},
      {"free page of noise", {o[0], o[1], o[2], noise}, {}, {3}, true, false, 3, 0, 0, 1, 1, 0},
      {"the other version's page, unnamed",
       {o[0], o[1], other.pages_[2], o[3]},
       {},
       {},
       false,
       false,
       2,
       0,
       1,
       0,
       1,
       1},
      {"a lost page as a zero page",
       {o[0], o[1], zero, o[3]},
       {{0, 2, 1}},
       {2},
       true,
       false,
       2,
       1,
       0,
       0,
       1,
       0},
      {"a page missing but not lost",
       {o[0], o[1], zero, o[3]},
       {},
       {2},
       false,
       false,
       2,
       0,
       0,
       0,
       1,
       0},
      {"too short", {o[0], o[1], o[2]}, {}, {}, false, false, 3, 0, 0, 0, 0, 0},
  };
  test::ScratchDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("rebuilt.mdf");
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      for (const Page& p : c.rebuilt) out.write(reinterpret_cast<const char*>(p.data()), p.size());
    }
    const RecoveryJudgement j = JudgeRecovery(original, path, c.lost, c.named, {&other});
    EXPECT_EQ(j.Sound(), c.sound) << c.name;
    EXPECT_EQ(j.identical, c.identical) << c.name;
    EXPECT_EQ(j.allocated, 3) << c.name;
    EXPECT_EQ(j.allocatedRight, c.right) << c.name;
    EXPECT_EQ(j.lostZero, c.lostZero) << c.name;
    EXPECT_EQ(j.otherFilePages, c.otherFile) << c.name;
    EXPECT_EQ(j.foreignFreePages, c.foreign) << c.name;
    EXPECT_EQ(j.wrongPages, c.wrong) << c.name;
    EXPECT_EQ(j.wrongUnnamed, c.unnamed) << c.name;
  }
  EXPECT_FALSE(JudgeRecovery(original, dir.File("none.mdf"), {}, {}, {}).written);
}

}  // namespace
}  // namespace ravelin::gen
