#include "ports/report_list.h"

#include <gtest/gtest.h>

#include "catalogue/fragment_rows.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

ReportRow Row(std::vector<std::string> cells) {
  ReportRow row;
  row.cells = std::move(cells);
  return row;
}

std::vector<std::string> Column(const ReportList& list, std::size_t column) {
  std::vector<std::string> out;
  for (const auto& row : list.Rows()) out.push_back(row.Cell(column));
  return out;
}

TEST(PictureTextTest, PadsToTwelveDigitsAndKeepsTheSign) {
  EXPECT_EQ(PictureText("42"), "000000000042");
  EXPECT_EQ(PictureText("0"), "000000000000");
  EXPECT_EQ(PictureText("-5"), "-000000000005");
  EXPECT_EQ(PictureText("x"), "000000000000");
}

TEST(ReportListTest, NumericColumnsSortAsNumbersNotAsText) {
  ReportList list = MakeFragmentListView();
  for (const char* size : {"80", "9", "1000", "16"}) list.Append(Row({"1", size}));
  list.Sort(1);
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"9", "16", "80", "1000"}));
}

TEST(ReportListTest, NegativeNumbersCompareAsTheirPictureText) {
  // "-000000000005" < "-000000000010" as text: the picture rule, not numeric order.
  ReportList list = MakeFragmentListView();
  for (const char* page : {"3", "-10", "x", "-5", "999999999999", "1000000000000"})
    list.Append(Row({"1", "8", page}));
  list.Sort(2);
  EXPECT_EQ(Column(list, 2),
            (std::vector<std::string>{"-5", "-10", "x", "3", "1000000000000", "999999999999"}))
      << "a cell that is no number counts as 0; thirteen digits order as text";
}

TEST(ReportListTest, NumbersSortWithoutTheirTextAsTheirTextSorts) {
  for (const std::vector<std::int64_t>& values :
       {std::vector<std::int64_t>{3, -10, 0, -5, 3, 7, 0},
        std::vector<std::int64_t>{999999999999, 1000000000000, -2, 5, 1000000000000}}) {
    const std::vector<std::uint32_t> text =
        SortOrder(values.size(), ColumnKind::kNumber,
                  [&](std::size_t i, std::string& scratch) -> const std::string& {
                    scratch = std::to_string(values[i]);
                    return scratch;
                  });
    EXPECT_EQ(NumberSortOrder(values), text);
  }
}

TEST(ReportListTest, SectorColumnsCompareBeyondThirtyTwoBits) {
  ReportList list = MakeFragmentListView();
  for (const char* sector : {"8589934592", "4294967296", "99999999999999", "4294967295"})
    list.Append(Row({"1", "8", "1", "2", " ", sector, "0"}));
  list.Sort(5);
  EXPECT_EQ(Column(list, 5),
            (std::vector<std::string>{"4294967295", "4294967296", "8589934592", "99999999999999"}));
}

TEST(ReportListTest, MemoColumnIgnoresCaseAndEqualRowsKeepTheirOrder) {
  ReportList list = MakeFragmentListView();
  list.Append(Row({"1", "8", "0", "1", "b.mdf"}));
  list.Append(Row({"2", "8", "0", "1", "A.mdf"}));
  list.Append(Row({"3", "8", "0", "1", "B.MDF"}));
  list.Append(Row({"4", "8", "0", "1", "a.mdf"}));
  list.SetCurrent(2);
  list.Sort(4);
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"2", "4", "1", "3"}));
  EXPECT_EQ(list.Current(), 3) << "the current row follows its row through the sort";
}

TEST(ReportListTest, TicksAllNoneAndInverted) {
  ReportList list = MakeFragmentListView();
  for (int i = 0; i < 4; ++i) list.Append(Row({std::to_string(i + 1)}));
  list.Edit(1).checked = true;
  list.InvertChecks();
  EXPECT_EQ(list.CheckedRows(), (std::vector<std::size_t>{0, 2, 3}));
  list.CheckAll(false);
  EXPECT_TRUE(list.CheckedRows().empty());
  list.CheckAll(true);
  EXPECT_EQ(list.CheckedRows().size(), 4u);
  list.SetCurrent(7);
  EXPECT_EQ(list.Current(), -1) << "a row that does not exist cannot be current";
}

// A reader on another thread keeps its own copy through appends, edits, merges and sorts;
// a sort reaches it as a reordering, not as every row again.
TEST(ReportListTest, SnapshotReaderFollowsEveryChangeAndReordersOnASort) {
  ReportList list = MakeFragmentListView();
  std::vector<ReportRow> copy;
  RowChanges::Cursor cursor;
  auto look = [&] {
    ReportList::Snapshot snapshot = list.TakeSnapshot(cursor);
    const bool reordered = snapshot.permutation != nullptr;
    const std::size_t copied = snapshot.rows.size();
    ApplyRowSnapshot(std::move(snapshot), copy);
    std::vector<std::vector<std::string>> cells, expected;
    for (const auto& r : copy) cells.push_back(r.cells);
    for (const auto& r : list.Rows()) expected.push_back(r.cells);
    EXPECT_EQ(cells, expected);
    return std::pair(reordered, copied);
  };
  for (int i = 0; i < 6; ++i)
    list.Append(Row({std::to_string(i + 1), "8", std::to_string(50 - i), "0", " "}));
  look();
  list.RemoveLast();  // a merge: the last row goes, a longer one comes
  list.Append(Row({"6", "16", "45", "0", " "}));
  list.Edit(1).cells[4] = "memo";
  EXPECT_EQ(look(), std::pair(false, std::size_t{2}));
  list.Sort(2);
  EXPECT_EQ(look(), std::pair(true, std::size_t{0}));
  list.Edit(0).checked = true;
  list.Sort(0);
  list.Append(Row({"7"}));
  const auto [reordered, copied] = look();  // two sorts since the last look: everything again
  EXPECT_FALSE(reordered);
  EXPECT_EQ(copied, 7u);
}

}  // namespace
}  // namespace ravelin
