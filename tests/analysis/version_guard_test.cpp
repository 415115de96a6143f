#include "analysis/version_guard.h"

#include <gtest/gtest.h>

#include "support/page_builder.h"

namespace ravelin {
namespace {

Lsn At(std::uint32_t vlf, std::uint32_t block) { return (Lsn{vlf} << 32) | block; }

TEST(VersionGuardTest, APageIsBeyondTheBoundInALaterVlfOrPastTheSlack) {
  struct Case {
    Lsn lsn;
    bool beyond;
  };
  const Lsn bound = At(46, 120);
  const std::vector<Case> cases = {
      {At(46, 120), false},                    // the boot page itself
      {At(33, 264), false},                    // far below
      {At(46, 176), false},                    // a few blocks above, as real files have
      {At(46, 120 + kLsnSlackBlocks), false},  // the slack's end
      {At(46, 121 + kLsnSlackBlocks), true},
      {At(47, 1), true},  // a later VLF: the log went on
      {0, false},
  };
  for (const Case& c : cases) EXPECT_EQ(BeyondBound(c.lsn, bound), c.beyond) << LsnText(c.lsn);
}

TEST(VersionGuardTest, ReadsTheLsnOfAPageAndPrintsItAsSqlServerDoes) {
  test::Page page = test::PageBuilder().U32(40, 46).U32(44, 176).U16(48, 7).Build();
  EXPECT_EQ(PageLsn(page), At(46, 176));
  EXPECT_EQ(LsnText(page), "46:176:7");
  page[0] = 0;  // not a page
  EXPECT_EQ(PageLsn(page), 0u);
}

}  // namespace
}  // namespace ravelin
