// Judging a fragment against the page map, and reading fragments in large blocks exactly as
// page by page.
#include "analysis/page_matching.h"

#include <gtest/gtest.h>

#include "analysis/analysis_fixture.h"
#include "analysis/fragment_pages.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

using test::LinkedPage;
using test::MemoryImage;
using test::PageBuilder;

constexpr std::int64_t kMatchedFilePages = 64;
constexpr std::int32_t kMatchedObj = 500;

// Records placed straight into the map; the candidate's pages at sector 16 x page id.
class MatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(map_.Reset(kMatchedFilePages)); }
  void Record(std::int64_t page, PageRecord r) {
    map_.SetAllocState(page, r.AllocState);
    map_.SetOwner(page, r.OwnerId, r.OwnerSource);
    if (r.PageKind == kPageKindIam) map_.SetIam(page);
  }
  void Put(std::int64_t page, const test::Page& bytes) {
    image_.Put(16 * static_cast<std::uint64_t>(page), bytes);
  }
  MatchCounters Match(std::int64_t first, std::int64_t pages) {
    PageMapper mapper(map_, image_.Source(), {}, reporter_);
    return mapper.MatchPagesToMap({pages, first, 16 * static_cast<std::uint64_t>(first)});
  }
  Candidate Classify(std::int64_t first, std::int64_t pages) {
    PageMapper mapper(map_, image_.Source(), {}, reporter_);
    return mapper.ClassifyCandidate({pages, first, 16 * static_cast<std::uint64_t>(first)});
  }

  PageMap map_;
  MemoryImage image_{16 * 80};
  test::RecordingReporter reporter_;
};

constexpr PageRecord kOwnedByAllocation{0, kMatchedObj, kAllocAllocated, kOwnerFromAllocation};
constexpr PageRecord kOwnedByLink{0, kMatchedObj, kAllocAllocated, kOwnerFromLink};
constexpr PageRecord kIamPage{kPageKindIam, 0, kAllocAllocated, kOwnerNeverSet};
constexpr PageRecord kFree{0, kMatchedObj, kAllocFree, kOwnerFromAllocation};
constexpr PageRecord kUntouched{0, 0, kAllocUnknown, kOwnerNeverSet};
constexpr PageRecord kOwnedNotKnownAllocated{0, kMatchedObj, kAllocUnknown, kOwnerFromAllocation};
constexpr PageRecord kIamOwned{kPageKindIam, kMatchedObj, kAllocAllocated, kOwnerFromAllocation};

TEST_F(MatchTest, OnePageAgainstOneRecord) {
  struct Case {
    const char* what;
    PageRecord record;
    test::Page page;
    MatchCounters expected;
    Candidate result;
  };
  const test::Page ofObj = LinkedPage(10, kMatchedObj).Build();
  const test::Page ofOther = LinkedPage(10, 777).Build();
  const test::Page iamOfObj =
      PageBuilder().Type(kPageTypeIam).PageId(10).ObjId(kMatchedObj).Build();
  const test::Page allocationPage = PageBuilder().Type(kPageTypePfs).PageId(10).ObjId(99).Build();
  test::Page badVersion = ofOther;
  badVersion[0] = 2;
  const Case cases[] = {
      {"owner agrees", kOwnedByAllocation, ofObj, {1, 0}, Candidate::kBelongs},
      {"owner from IAM differs", kOwnedByAllocation, ofOther, {0, 1}, Candidate::kRejected},
      {"owner from a link differs", kOwnedByLink, ofOther, {0, 0}, Candidate::kUndecided},
      {"owner from a link agrees", kOwnedByLink, ofObj, {1, 0}, Candidate::kBelongs},
      {"free page holds anything", kFree, ofOther, {0, 0}, Candidate::kUndecided},
      {"nothing known", kUntouched, ofOther, {0, 0}, Candidate::kUndecided},
      {"owner known, allocation not",
       kOwnedNotKnownAllocated,
       ofOther,
       {0, 0},
       Candidate::kUndecided},
      {"allocation page never counts",
       kOwnedByAllocation,
       allocationPage,
       {0, 0},
       Candidate::kUndecided},
      {"header version not 1", kOwnedByAllocation, badVersion, {0, 0}, Candidate::kUndecided},
      {"IAM page where an IAM page belongs", kIamPage, iamOfObj, {1, 0}, Candidate::kBelongs},
      {"data page where an IAM page belongs", kIamPage, ofObj, {0, 1}, Candidate::kRejected},
      {"owned IAM page, not an IAM page", kIamOwned, ofObj, {0, 1}, Candidate::kRejected},
      {"owned IAM page, an IAM page", kIamOwned, iamOfObj, {1, 0}, Candidate::kBelongs},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(map_.Reset(kMatchedFilePages));
    Record(10, c.record);
    Put(10, c.page);
    const MatchCounters got = Match(10, 1);
    EXPECT_EQ(got.Matches, c.expected.Matches) << c.what;
    EXPECT_EQ(got.Conflicts, c.expected.Conflicts) << c.what;
    EXPECT_EQ(Classify(10, 1), c.result) << c.what;
  }
}

TEST_F(MatchTest, FirstConflictStopsTheMatchBeforeLaterPagesAreRead) {
  for (std::int64_t p = 20; p < 30; ++p) {
    Record(p, kOwnedByAllocation);
    Put(p, LinkedPage(static_cast<std::int32_t>(p), p == 23 ? 777 : kMatchedObj).Build());
  }
  image_.SetBad({16 * 27});  // never read: the match stops at 23
  const MatchCounters got = Match(20, 10);
  EXPECT_EQ(got.Matches, 3);
  EXPECT_EQ(got.Conflicts, 1);
  EXPECT_TRUE(reporter_.messages.empty());
}

TEST_F(MatchTest, FragmentEndingPastTheFileIsRejectedUnread) {
  Record(60, kOwnedByAllocation);
  Put(60, LinkedPage(60, kMatchedObj).Build());
  image_.SetBad({16 * 60});
  EXPECT_EQ(Classify(60, 5), Candidate::kRejected);
  EXPECT_TRUE(reporter_.messages.empty());
  EXPECT_EQ(Classify(60, 4), Candidate::kUndecided);  // read: the page fails
  EXPECT_EQ(reporter_.MessageTexts(), std::vector<std::string>{"read disk error"});
}

// FragmentPages must see exactly what ReadPage sees, page by page, whatever the blocks.
class FragmentPagesTest : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(FragmentPagesTest, BlocksGiveThePagesAndFailuresOfPageByPageReads) {
  constexpr std::int64_t kPages = 700;  // blocks of 16, 32, ... 256 pages, then the rest
  MemoryImage image(16 * kPages + 32);
  for (std::size_t i = 0; i < image.Bytes().size(); ++i)
    image.Bytes()[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 11);
  const std::int64_t badPage = GetParam();
  std::set<std::uint64_t> bad;
  if (badPage >= 0) bad = {40 + 16 * static_cast<std::uint64_t>(badPage) + 9};
  image.SetBad(bad);
  FragmentSource& source = image.Source();
  // The fragment starts at sector 40 and runs past the end of the image: its page 699
  // starts 8 sectors before the end (the rest reads as zeros), the three after it cannot be
  // read.
  const FragmentGeometry fragment{kPages + 3, 7, 40};
  std::vector<std::uint8_t> buffer;
  FragmentPages pages(source, fragment, buffer);
  test::Page expected{};
  for (std::int64_t k = 0; k < fragment.pages; ++k) {
    const bool readable = source.ReadPage(fragment.startSector, k, expected);
    const std::uint8_t* got = pages.Page(k);
    ASSERT_EQ(got != nullptr, readable) << "page " << k;
    if (readable) {
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got)) << "page " << k;
    }
  }
  EXPECT_EQ(pages.Page(fragment.pages), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BadPage, FragmentPagesTest, ::testing::Values(-1, 0, 15, 16, 500, 699));

}  // namespace
}  // namespace ravelin
