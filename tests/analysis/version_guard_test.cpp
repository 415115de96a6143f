#include "analysis/version_guard.h"

#include <gtest/gtest.h>

#include <array>

#include "support/page_builder.h"
#include "support/recording_reporter.h"

namespace ravelin {
namespace {

Lsn At(std::uint32_t vlf, std::uint32_t block) { return (Lsn{vlf} << 32) | block; }

// Real files carry their own pages up to 70 log blocks above the bound in its VLF, and a
// few blocks into the next VLF.
TEST(VersionGuardTest, APageIsBeyondTheBoundOnlyPastTheNextVlf) {
  struct Case {
    Lsn lsn;
    bool beyond;
  };
  const Lsn bound = At(46, 120);
  const std::vector<Case> cases = {
      {At(46, 120), false},   // the boot page itself
      {At(33, 264), false},   // far below
      {At(46, 190), false},   // 70 blocks above
      {At(46, 9000), false},  // anywhere in the bound's VLF
      {At(47, 16), false},    // into the next VLF
      {At(47, 9000), false},
      {At(48, 1), true},  // two VLFs on: the log went on elsewhere
      {0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BeyondBound(c.lsn, bound), c.beyond) << LogPositionText(c.lsn);
}

class NoSectors final : public FragmentSource {
 public:
  bool ReadSectors(std::uint64_t, std::int64_t, std::int32_t, MutableBytes) override {
    return false;
  }
};

TEST(VersionGuardTest, AFragmentIsNamedACopysOnlyWhereItFitsThatCopyAlone) {
  struct Case {
    const char* what;
    std::optional<Lsn> ours;
    std::vector<Lsn> copies;
    Lsn newest;
    CopyEvidence evidence;
  };
  const std::vector<Case> cases = {
      {"no other copy: nothing to tell apart", At(25, 60), {}, At(40, 1), CopyEvidence::kNone},
      {"the other copy's newer pages",
       At(25, 60),
       {At(27, 226)},
       At(27, 100),
       CopyEvidence::kOther},
      {"our newer pages, seen from the older copy",
       At(27, 226),
       {At(25, 60)},
       At(27, 100),
       CopyEvidence::kOwn},
      {"our last pages in the next VLF, the other copy far on",
       At(26, 405),
       {At(50, 212)},
       At(27, 16),
       CopyEvidence::kNone},
      {"pages both copies may hold", At(21, 55), {At(20, 478)}, At(20, 100), CopyEvidence::kNone},
      {"beyond every copy", At(21, 55), {At(20, 478)}, At(30, 1), CopyEvidence::kNone},
      {"no bound of our own: only the other copy's says",
       std::nullopt,
       {At(20, 478)},
       At(20, 100),
       CopyEvidence::kNone},
      {"fits one of two other copies",
       At(10, 5),
       {At(20, 1), At(30, 1)},
       At(30, 9),
       CopyEvidence::kOther},
  };
  NoSectors source;
  for (const Case& c : cases) {
    VersionGuard guard(source, c.ours, Copies{CopyAge::kUnknown, c.copies});
    MatchCounters counters;
    counters.NewestLsn = c.newest;
    counters.NewestPage = 7;
    EXPECT_EQ(guard.Judge(3, counters), c.evidence) << c.what;
  }
}

// Of candidates for the same pages, the own are taken and the other copy's set aside; one
// that is all there is is taken, never passed over, and its pages are version uncertain.
TEST(VersionGuardTest, TheOtherCopysFragmentLosesToAnyOtherAndAloneIsVersionUncertain) {
  FragmentTable table;
  // Rows 0-2 hold pages 100-149; row 3 pages 150-159.
  for (const auto& [sector, first, pages] : std::vector<std::array<std::int64_t, 3>>{
           {1000, 100, 50}, {3000, 100, 50}, {5000, 100, 40}, {7000, 150, 10}}) {
    FragmentRow row;
    row.StartSector = static_cast<std::uint64_t>(sector);
    row.EndSector = row.StartSector + 16 * static_cast<std::uint64_t>(pages);
    row.SizeKB = 8 * pages;
    row.StartPage = static_cast<std::int32_t>(first);
    row.EndPage = first + pages;
    table.Append(row);
  }
  table.BuildFragmentIndex();
  NoSectors source;
  VersionGuard guard(source, At(25, 60), Copies{CopyAge::kUnknown, {At(27, 226)}});
  const auto judge = [&](std::int32_t row, Lsn newest) {
    MatchCounters counters;
    counters.NewestLsn = newest;
    counters.NewestPage = 120;
    return guard.Judge(row, counters);
  };
  ASSERT_EQ(judge(0, At(27, 100)), CopyEvidence::kOther);
  ASSERT_EQ(judge(1, At(24, 9)), CopyEvidence::kNone);
  ASSERT_EQ(judge(2, At(27, 101)), CopyEvidence::kOther);
  ASSERT_EQ(judge(3, At(27, 102)), CopyEvidence::kOther);
  std::vector<std::int32_t> positions(3), rows;
  for (std::int32_t p = 0; p < 4; ++p) {
    const std::int32_t row = table.FragmentIndex()[static_cast<std::size_t>(p)].Row;
    if (row < 3) positions[static_cast<std::size_t>(row)] = p;
  }
  test::RecordingReporter reporter;
  for (const std::int32_t p : guard.Prefer(table, positions, reporter))
    rows.push_back(table.FragmentIndex()[static_cast<std::size_t>(p)].Row);
  EXPECT_EQ(rows, std::vector<std::int32_t>{1});
  EXPECT_EQ(reporter.lines.size(), 2u);  // each set-aside row said once

  std::int32_t alone = 0;
  while (table.FragmentIndex()[static_cast<std::size_t>(alone)].Row != 3) ++alone;
  EXPECT_EQ(guard.Prefer(table, {alone}, reporter), std::vector<std::int32_t>{alone});
  guard.Taken(table, positions[1], reporter);
  EXPECT_TRUE(guard.UncertainPages().empty());
  guard.Taken(table, alone, reporter);
  std::vector<std::int64_t> expected;
  for (std::int64_t p = 150; p < 160; ++p) expected.push_back(p);
  EXPECT_EQ(guard.UncertainPages(), expected);
}

TEST(VersionGuardTest, ReadsTheLsnOfAPageAndPrintsItAsSqlServerDoes) {
  test::Page page = test::PageBuilder().U32(40, 46).U32(44, 176).U16(48, 7).Build();
  EXPECT_EQ(PageLsn(page), At(46, 176));
  EXPECT_EQ(LogPositionText(page), "46:176:7");
  page[0] = 0;  // not a page
  EXPECT_EQ(PageLsn(page), 0u);
}

}  // namespace
}  // namespace ravelin
