#include <gtest/gtest.h>

#include <random>

#include "catalogue/fragment_table.h"

namespace ravelin {
namespace {

std::vector<FragmentIndexEntry> Entries(const std::vector<std::int32_t>& startPages) {
  std::vector<FragmentIndexEntry> entries;
  for (std::size_t i = 0; i < startPages.size(); ++i)
    entries.push_back({static_cast<std::int32_t>(i), startPages[i], startPages[i] + 1});
  return entries;
}

// The order being reproduced, written the slow and obvious way.
void PlainSelectionSort(std::vector<FragmentIndexEntry>& e) {
  for (std::size_t i = 0; i < e.size(); ++i) {
    std::size_t best = i;
    for (std::size_t j = i + 1; j < e.size(); ++j)
      if (e[j].StartPage < e[best].StartPage) best = j;
    std::swap(e[i], e[best]);
  }
}

std::vector<std::int32_t> Rows(const std::vector<FragmentIndexEntry>& entries) {
  std::vector<std::int32_t> rows;
  for (const auto& e : entries) rows.push_back(e.Row);
  return rows;
}

TEST(SelectionOrderTest, EqualStartPagesTakeTheSelectionSortsOrder) {
  auto entries = Entries({5, 3, 5, 3});
  SelectionOrder(entries);
  EXPECT_EQ(Rows(entries), (std::vector<std::int32_t>{1, 3, 2, 0}));
}

TEST(SelectionOrderTest, MatchesAPlainSelectionSortOnRandomInputs) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    const std::size_t n = 1 + rng() % (round < 50 ? 200 : 5000);
    // Few distinct values make many ties, where an ordinary sort would differ.
    const std::int32_t spread = round % 3 == 0 ? 4 : (round % 3 == 1 ? 50 : 1 << 30);
    std::vector<std::int32_t> pages(n);
    for (auto& p : pages) p = static_cast<std::int32_t>(rng() % spread) - (round % 5 == 0 ? 2 : 0);
    auto fast = Entries(pages);
    auto slow = fast;
    SelectionOrder(fast);
    PlainSelectionSort(slow);
    ASSERT_EQ(Rows(fast), Rows(slow)) << "round " << round << ", " << n << " entries";
  }
}

TEST(SelectionOrderTest, IndexCarriesEachRowsPages) {
  FragmentTable table;
  for (std::int32_t start : {40, 0, 12}) {
    FragmentRow row;
    row.StartPage = start;
    row.EndPage = start + 4;
    table.Append(row);
  }
  table.BuildFragmentIndex();
  ASSERT_EQ(table.FragmentCount(), 3);
  EXPECT_EQ(table.FragmentIndex()[0].Row, 1);
  EXPECT_EQ(table.FragmentIndex()[1].StartPage, 12);
  EXPECT_EQ(table.FragmentIndex()[2].EndPage, 44);
  EXPECT_EQ(table.FragmentChosen().size(), 3u);
}

}  // namespace
}  // namespace ravelin
