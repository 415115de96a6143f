// What a combined extraction lays out, and the garbage it refuses before writing a byte.
#include <gtest/gtest.h>

#include "catalogue/extraction.h"

namespace ravelin {
namespace {

ExtractRow Row(std::int64_t number, std::int64_t startPage, std::int64_t pages) {
  ExtractRow row;
  row.number = number;
  row.startPage = static_cast<std::int32_t>(startPage);
  row.endPage = startPage + pages;
  row.sizeKB = 8 * pages;
  row.startSector = 1000 + 16 * static_cast<std::uint64_t>(number);
  return row;
}

TEST(PlanCombined, CountsPagesAndGapsAndNamesTheFirstGarbageRow) {
  struct Case {
    const char* name;
    std::vector<ExtractRow> rows;
    std::optional<std::int64_t> filePages;
    std::uint64_t pages;        // when accepted
    std::int64_t badNumber;     // -1: accepted
  };
  const Case cases[] = {
      {"gap filled", {Row(1, 0, 3), Row(2, 5, 1)}, std::nullopt, 6, -1},
      {"overlap appended in full", {Row(1, 10, 10), Row(2, 15, 15)}, std::nullopt, 25, -1},
      {"first row's start is not filled", {Row(1, 50'000'000, 2)}, std::nullopt, 2, -1},
      {"gap to a far page without a header", {Row(1, 0, 1), Row(2, 50'000'000, 1)}, std::nullopt,
       50'000'001, -1},
      {"gap beyond the header's size", {Row(1, 0, 2), Row(2, 50'000'000, 1)}, 128, 0, 2},
      {"gap within the header's size", {Row(1, 0, 2), Row(2, 100, 1)}, 128, 101, -1},
      {"negative start", {Row(1, 0, 1), Row(7, -5, 1)}, std::nullopt, 0, 7},
      {"reaches page 2^31", {Row(3, 2147483640, 16)}, std::nullopt, 0, 3},
      {"layout reaches 2^31 pages",
       {Row(1, 0, 1), Row(2, 2147483000, 100), Row(3, 0, 1000), Row(4, 5, 2)}, std::nullopt, 0,
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CombinedPlan plan = PlanCombined(c.rows, c.filePages);
    if (c.badNumber < 0) {
      EXPECT_FALSE(plan.badRow) << plan.why;
      EXPECT_EQ(plan.pages, c.pages);
    } else {
      ASSERT_TRUE(plan.badRow);
      EXPECT_EQ(plan.badRow->number, c.badNumber);
      EXPECT_FALSE(plan.why.empty());
    }
  }
}

}  // namespace
}  // namespace ravelin
