// The page map's records, and how PFS pages, IAM pages and page links fill it.
#include "analysis/page_map.h"

#include <gtest/gtest.h>

#include "analysis/analysis_fixture.h"
#include "analysis/page_matching.h"

namespace ravelin {
namespace {

using test::IamPage;
using test::LinkedPage;
using test::MemoryImage;
using test::PageBuilder;
using test::PfsWith;
using Lines = std::vector<std::string>;

constexpr std::int64_t kMapPages = 100;
constexpr PageRecord kReset{0, 0, kAllocUnknown, kOwnerNeverSet};

TEST(PageMapTest, ResetSizesTheMapAndEveryFieldRoundTrips) {
  PageMap map;
  ASSERT_TRUE(map.Reset(10));
  for (const std::uint8_t alloc : {kAllocFree, kAllocAllocated, kAllocUnknown}) {
    for (const std::uint8_t source : {kOwnerFromAllocation, kOwnerFromLink, kOwnerNeverSet}) {
      map.SetAllocState(3, alloc);
      map.SetOwner(3, -5, source);
      EXPECT_EQ(map.Record(3), (PageRecord{0, -5, alloc, source}));
    }
  }
  map.SetIam(3);
  EXPECT_EQ(map.PageKind(3), kPageKindIam);
  EXPECT_EQ(map.Record(2), kReset);
  ASSERT_TRUE(map.Reset(5));
  EXPECT_EQ(map.Record(3), kReset);
  EXPECT_FALSE(map.Contains(5));
  EXPECT_FALSE(map.Contains(-1));
  EXPECT_FALSE(map.Reset(0));
  EXPECT_EQ(map.Size(), 0);
}

// Page 1's PFS page for a file of 100 pages: `allocated` pages 0x40, `iam` pages 0x50.
test::Page Pfs(const std::set<std::int64_t>& allocated, const std::set<std::int64_t>& iam = {}) {
  std::vector<std::uint8_t> bytes(kMapPages, 0);
  for (const auto p : allocated) bytes[static_cast<std::size_t>(p)] = 0x40;
  for (const auto p : iam) bytes[static_cast<std::size_t>(p)] = 0x50;
  return PfsWith(1, bytes).Build();
}

// Pages placed at sector 16 x page id, fragments added in order, then owners and records
// compared. One case per rule of AddToPageMap.
TEST(PageMapFillTest, EachRuleOfAddToPageMap) {
  struct Fill {
    std::int64_t first;
    std::int64_t pages;
    std::int32_t spc = 16;
    std::uint16_t fileId = 1;
  };
  struct Case {
    const char* rule;
    std::vector<std::pair<std::int64_t, test::Page>> pages;
    std::vector<Fill> fills;
    std::vector<std::pair<std::int64_t, std::int32_t>> owners;
    std::vector<std::pair<std::int64_t, PageRecord>> records;
    Lines log;
  };
  const test::Page checkedIam = IamPage(500, 4, {9}).Checksum().Build();
  const Case cases[] = {
      {"a PFS page marks allocated, free and IAM pages and owns itself",
       {{1, Pfs({1, 2, 10}, {5})}},
       {{1, 1}},
       {},
       {{1, {0, 99, 1, 0}}, {5, {10, 0, 1, 0xFF}}, {3, {0, 0, 0, 0xFF}}},
       {}},
      {"a PFS-type page whose id is neither 1 nor a multiple of 8088 is passed over",
       {{1, PfsWith(5, {0x40, 0x40}).Build()}},
       {{1, 1}},
       {},
       {{1, kReset}, {0, kReset}},
       {}},
      {"a PFS page at 0 (a multiple of 8088) describes pages from 0",
       {{1, PfsWith(0, {0x40, 0x00, 0x40}).Build()}},
       {{1, 1}},
       {},
       {{2, {0, 0, 1, 0xFF}}, {1, {0, 99, 0, 0}}},
       {}},
      {"PFS bytes past the file and a length past the page end are ignored",
       {{1, PfsWith(1, std::vector<std::uint8_t>(8088, 0x40)).U16(98, 0x7FFF).Build()}},
       {{1, 1}},
       {},
       {{99, {0, 0, 1, 0xFF}}},
       {}},
      {"an IAM page claims its single pages and extents; the extent at page 0 nothing",
       {{1, Pfs({1, 2, 3}, {2})}, {2, IamPage(500, 2, {3, 4}, {0, 16, 24}).Build()}},
       {{1, 2}},
       {{3, 500}, {4, 500}, {16, 500}, {31, 500}, {0, 0}, {7, 0}, {32, 0}},
       {{2, {10, 500, 1, 0}}},
       {}},
      {"a second claim from an IAM page is logged; the first owner and page 1's 99 stay",
       {{1, Pfs({1, 2, 3}, {2, 3})},
        {2, IamPage(500, 2, {20}, {40}).Build()},
        {3, IamPage(600, 3, {20, 1}, {40}).Build()}},
       {{1, 3}},
       {{20, 500}, {44, 500}, {1, 99}},
       {},
       {"erra", "errb", "errb", "errb", "errb", "errb", "errb", "errb", "errb"}},
      {"an IAM claim replaces an owner a link lent",
       {{1, Pfs({1, 10, 11, 12}, {12})},
        {10, LinkedPage(10, 700, 0, 11).Build()},
        {12, IamPage(500, 12, {11}).Build()}},
       {{1, 1}, {10, 1}, {12, 1}},
       {},
       {{11, {0, 500, 1, 0}}},
       {}},
      {"links lend to allocated pages; an unallocated predecessor stops the page; a link "
       "never replaces an owner",
       {{1, Pfs({1, 10, 20, 21, 30, 31, 32, 40})},
        {20, LinkedPage(20, 800, 10, 30).Build()},
        {21, LinkedPage(21, 801, 15, 31).Build()},
        {40, LinkedPage(40, 803, 0, 32).Build()},
        {32, LinkedPage(32, 802, 30, 0).Build()}},
       {{1, 1}, {20, 2}, {40, 1}, {32, 1}},
       {{30, 800}, {31, 0}, {32, 803}},
       {{10, {0, 800, 1, 1}}},
       {"errc"}},
      {"links to another file id than the current one are not followed",
       {{1, Pfs({1, 10, 20, 30})}, {20, LinkedPage(20, 800, 10, 30, 3).Build()}},
       {{1, 1}, {20, 1, 16, 1}},
       {{10, 0}, {30, 0}},
       {},
       {}},
      {"... and are followed when it is the current one",
       {{1, Pfs({1, 10, 20, 30})}, {20, LinkedPage(20, 800, 10, 30, 3).Build()}},
       {{1, 1}, {20, 1, 16, 3}},
       {{10, 800}, {30, 800}},
       {},
       {}},
      {"while its allocation is unknown only a PFS page is used, and a free page never",
       {{1, Pfs({1})}, {50, IamPage(500, 50, {60}).Build()}},
       {{50, 1}, {1, 1}, {50, 1}},
       {{60, 0}, {50, 0}},
       {},
       {}},
      {"with 16 sectors a cluster, a last IAM page is used as it is",
       {{1, Pfs({1, 3, 4}, {4})}, {4, IamPage(500, 4, {9}).Build()}},
       {{1, 1}, {3, 2}},
       {{9, 500}},
       {},
       {}},
      {"with 8, a last IAM page that is not intact is not used",
       {{1, Pfs({1, 3, 4}, {4})}, {4, IamPage(500, 4, {9}).Build()}},
       {{1, 1}, {3, 2, 8}},
       {{9, 0}},
       {},
       {}},
      {"... an intact one is",
       {{1, Pfs({1, 3, 4}, {4})}, {4, checkedIam}},
       {{1, 1}, {3, 2, 8}},
       {{9, 500}},
       {},
       {}},
      {"page ids outside the file are ignored wherever they come from",
       {{1, Pfs({1, 2, 99}, {2})},
        {2, IamPage(500, 2, {150, 2000000000}, {96, 8000}, 96, 200).Build()},
        {99, LinkedPage(99, 800, 98, 100).Build()},
        {100, PfsWith(8088, {0x40}).Build()}},
       {{1, 2}, {99, 2}},
       {{96, 500}, {99, 500}},
       {},
       {}},
  };
  for (const Case& c : cases) {
    MemoryImage image(16 * 110);
    for (const auto& [page, bytes] : c.pages)
      image.Put(16 * static_cast<std::uint64_t>(page), bytes);
    PageMap map;
    ASSERT_TRUE(map.Reset(kMapPages));
    test::RecordingReporter reporter;
    for (const Fill& f : c.fills) {
      PageMapper mapper(map, image.Source(), {f.spc, f.fileId}, reporter);
      ASSERT_EQ(mapper.AddToPageMap({f.pages, f.first, 16 * static_cast<std::uint64_t>(f.first)}),
                0)
          << c.rule;
    }
    for (const auto& [page, owner] : c.owners)
      EXPECT_EQ(map.OwnerId(page), owner) << c.rule << ": " << page;
    for (const auto& [page, record] : c.records)
      EXPECT_EQ(map.Record(page), record) << c.rule << ": " << page;
    EXPECT_EQ(reporter.lines, c.log) << c.rule;
    EXPECT_EQ(map.Size(), kMapPages) << c.rule;
  }
}

// A header fragment of two pages: only its PFS page counts, and of a last PFS page whose
// slot-0 bytes do not read 60 00 (the page may be cut at a cluster boundary) only the first
// half's bytes.
TEST(PageMapFillTest, HeaderOfTwoPagesUsesHalfOfALastPfsPageThatMayBeCut) {
  constexpr std::int64_t kPages = 8088;
  struct Case {
    std::int32_t spc;
    bool torn;  // torn-page protected: byte 8191 as read carries the pattern (here 2)
    std::uint8_t byte8190;
    std::uint8_t byte8191;
    std::int64_t applied;  // pages whose allocation is known afterwards
  };
  for (const Case c : {Case{8, false, 0x60, 0x00, kPages}, Case{8, true, 0x60, 0x02, kPages},
                       Case{8, false, 0x61, 0x00, 3996}, Case{8, false, 0x60, 0x03, 3996},
                       Case{1, false, 0x00, 0x01, 3996}}) {
    PageBuilder builder = PfsWith(1, std::vector<std::uint8_t>(kPages, 0x40));
    if (c.torn) builder.TornStamp(2);
    test::Page pfs = builder.Build();
    if (!c.torn) {
      pfs[8190] = c.byte8190;
      pfs[8191] = c.byte8191;
    }
    ASSERT_EQ(pfs[8191], c.byte8191);
    MemoryImage image(64);
    image.Put(16, pfs);
    PageMap map;
    ASSERT_TRUE(map.Reset(kPages));
    test::RecordingReporter reporter;
    PageMapper mapper(map, image.Source(), {c.spc, 1}, reporter);
    ASSERT_EQ(mapper.AddHeaderToPageMap({2, 0, 0}), 0);
    std::int64_t known = 0;
    while (known < kPages && map.AllocState(known) == kAllocAllocated) ++known;
    EXPECT_EQ(known, c.applied) << c.spc << " " << int{c.byte8190} << " " << int{c.byte8191};
    EXPECT_EQ(map.OwnerId(1), 99);
  }
}

}  // namespace
}  // namespace ravelin
