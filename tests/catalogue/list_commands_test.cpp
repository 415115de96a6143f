#include <gtest/gtest.h>

#include "catalogue/catalogue_fixture.h"
#include "catalogue/list_operations.h"
#include "catalogue/update_info.h"
#include "commands/popup_menu1.h"
#include "commands/scan_commands.h"
#include "commands/tab2_commands.h"
#include "page/page_format.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

using test::CatalogueTest;

// Rows [0,3) [5,6) [10,20) [15,30) [0,40): positions 1..5.
class ListCommandsTest : public CatalogueTest {
 protected:
  void SetUp() override {
    AddRow(3, 0, 100);
    AddRow(1, 5, 200);
    AddRow(10, 10, 300);
    AddRow(15, 15, 600);
    AddRow(40, 0, 1200);
  }
  std::vector<std::string> Column(std::size_t c) {
    std::vector<std::string> cells;
    for (const auto& row : Ws().ListView2().Rows()) cells.push_back(row.Cell(c));
    return cells;
  }
  void Filter(bool rb1, bool rb2, bool rb3) {
    auto& tab2 = Ws().controls().tab2;
    tab2.rb1 = rb1;
    tab2.rb2 = rb2;
    tab2.rb3 = rb3;
    edtfilterClick(Ws());
  }
  using Strings = std::vector<std::string>;
};

TEST_F(ListCommandsTest, FilterByStartPageRangeThenShowAllAgain) {
  Ws().controls().tab2.Edit1 = "0";
  Ws().controls().tab2.edtendid = "1";
  Filter(true, false, false);
  EXPECT_EQ(Column(0), (Strings{"1", "5"})) << "only fragments that begin at page 0";
  EXPECT_EQ(Ws().fragments().Row(1).Text().substr(Ws().fragments().Row(1).Text().size() - 2), "N|");
  EXPECT_EQ(Ws().fragments().FragmentCount(), 0) << "the index is not the filter's business";
  Filter(false, false, true);
  EXPECT_EQ(Column(0), (Strings{"1", "2", "3", "4", "5"}));
}

TEST_F(ListCommandsTest, FilterByHeldPageTreatsTheEndAsExclusive) {
  Ws().controls().tab2.edtpgid = "20";
  Filter(false, true, false);
  EXPECT_EQ(Column(0), (Strings{"4", "5"})) << "[10,20) does not hold page 20";
}

TEST_F(ListCommandsTest, NonNumericFilterEditChangesNothing) {
  Ws().controls().tab2.Edit1 = "0";
  Ws().controls().tab2.edtendid = "1";
  Filter(true, false, false);
  Ws().controls().tab2.edtendid = "edtendid";
  Ws().controls().tab2.edtpgid = "12x";
  Filter(true, false, false);
  Filter(false, true, false);
  EXPECT_EQ(MessageTexts(), (Strings{"'edtendid' is not a valid integer value",
                                     "'12x' is not a valid integer value"}));
  EXPECT_EQ(Column(0), (Strings{"1", "5"}));
  Filter(false, false, false);  // no radio button: nothing at all
  EXPECT_EQ(ui_.messages.size(), 2u);
}

TEST_F(ListCommandsTest, AddToAssemblyMarksExactlyTheTickedFragmentsAfterFiltering) {
  Ws().controls().tab2.Edit1 = "5";
  Ws().controls().tab2.edtendid = "100";
  Filter(true, false, false);
  ASSERT_EQ(Column(0), (Strings{"2", "3", "4"}));
  test::EditList(Ws(), Ws().ListView2()).Edit(0).checked = true;
  test::EditList(Ws(), Ws().ListView2()).Edit(2).checked = true;
  N16Click(Ws());
  EXPECT_EQ(Ws().fragments().FragmentChosen(), (std::vector<std::int32_t>{0, 1, 0, 1, 0}));
  N14Click(Ws());
  test::EditList(Ws(), Ws().ListView2()).Edit(1).checked = true;
  N16Click(Ws());
  EXPECT_EQ(Ws().fragments().FragmentChosen(), (std::vector<std::int32_t>{0, 1, 1, 1, 0}))
      << "adding never removes";
}

TEST_F(ListCommandsTest, StatisticsCountTheTickedRowsWhateverTheSort) {
  N12Click(Ws());
  N10Click(Ws());
  test::EditList(Ws(), Ws().ListView2()).Edit(4).checked = false;  // [0,40)
  N15Click(Ws());
  N15Click(Ws());
  ListView2ColumnClick(Ws(), 1);
  EXPECT_EQ(Column(1), (Strings{"8", "24", "80", "120", "320"}));
  EXPECT_EQ(Ws().SortColumn(), 1);
  N12Click(Ws());
  EXPECT_EQ(MessageTexts(),
            (Strings{"统计结果:碎片数量为0总大小为:0KB", "统计结果:碎片数量为4总大小为:232KB"}));
}

TEST_F(ListCommandsTest, HeaderClickDuringAScanDoesNotSort) {
  Ws().ScanStopped() = false;
  ListView2ColumnClick(Ws(), 1);
  EXPECT_EQ(Column(0), (Strings{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(Ws().SortColumn(), 0);
  N10Click(Ws());  // other commands are refused with a message
  EXPECT_TRUE(Ws().ListView2().CheckedRows().empty());
  EXPECT_EQ(MessageTexts(), (Strings{"任务正在运行，请稍候(a job is running)"}));
}

TEST_F(ListCommandsTest, CopiesTheCurrentStartSectorOrNothing) {
  N13Click(Ws());
  EXPECT_EQ(ui_.clipboard, "");
  test::EditList(Ws(), Ws().ListView2()).SetCurrent(2);
  N13Click(Ws());
  EXPECT_EQ(ui_.clipboard, "300");
  ListView2Click(Ws());
  EXPECT_EQ(Ws().ListView2().SelectedRows(), std::vector<std::size_t>{2});
}

TEST_F(ListCommandsTest, CheckBox1EnablesThePageLimitEdit) {
  Ws().controls().tab1.CheckBox1 = true;
  CheckBox1Click(Ws());
  EXPECT_TRUE(Ws().controls().tab1.edtmaxpageidEnabled);
  Ws().controls().tab1.CheckBox1 = false;
  CheckBox1Click(Ws());
  EXPECT_FALSE(Ws().controls().tab1.edtmaxpageidEnabled);
}

class AutoTickTest : public CatalogueTest {};

TEST_F(AutoTickTest, TicksRowsContinuingTheChainAndLooksAheadFromEachOne) {
  AddRow(10, 90, 100);    // current, ends at page 100
  AddRow(50, 100, 400);   // ticked
  AddRow(20, 400, 1400);  // too far after 150
  AddRow(60, 200, 1800);  // 150 <= 200 <= 278: ticked, opens a new look-ahead
  for (int i = 0; i < 7; ++i) AddRow(1, 900 + i, 3000 + 16 * i);  // nothing continues
  AddRow(1, 260, 4000);  // index 11: beyond the look-ahead (rows 4..9) from row 3
  test::EditList(Ws(), Ws().ListView2()).SetCurrent(0);
  Button8Click(Ws());
  std::vector<std::size_t> ticked = Ws().ListView2().CheckedRows();
  EXPECT_EQ(ticked, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"本次处理到index10"});
}

TEST_F(AutoTickTest, LastRowCurrentLooksAtNothingAndNoCurrentRowDoesNothing) {
  AddRow(1, 0, 100);
  AddRow(1, 1, 116);
  Button8Click(Ws());
  EXPECT_TRUE(ui_.messages.empty());
  test::EditList(Ws(), Ws().ListView2()).SetCurrent(1);
  Ws().controls().tab2.edtlen = "x";
  Button8Click(Ws());
  Ws().controls().tab2.edtlen = "5";
  Button8Click(Ws());
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"'x' is not a valid integer value", "本次处理到index2"}));
  EXPECT_TRUE(Ws().ListView2().CheckedRows().empty());
}

class UpdateInfoTest : public CatalogueTest {};

TEST_F(UpdateInfoTest, AppendsTheHeaderPagesLsnOnEachRun) {
  test::Page header = test::FileHeaderPage(1, 100).Build();
  Store32(header, 40, 0x2A);
  Store32(header, 44, 0x1F0);
  Store16(header, 48, 1);
  PutPage(64, header);
  AddRow(20, 0, 64, "  无效文件头,size:800KB ");
  AddRow(2, 7, 400, " ");
  N18Click(Ws());
  EXPECT_EQ(Ws().ListView2().Row(0).Cell(4), "无效文件头,size:800KB 0000002A000001F00001");
  EXPECT_EQ(Ws().ListView2().Row(1).Cell(4), " ");
  N18Click(Ws());
  EXPECT_EQ(Ws().ListView2().Row(0).Cell(4),
            "无效文件头,size:800KB 0000002A000001F00001 0000002A000001F00001");
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"处理完毕", "处理完毕"}));
  EXPECT_EQ(Ws().fragments().Row(0).Remark, "  无效文件头,size:800KB ") << "only the list cell";
}

TEST_F(UpdateInfoTest, EmptyListIsDoneAtOnce) {
  N18Click(Ws());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"处理完毕"}));
}

TEST_F(UpdateInfoTest, FailedReadStopsAndKeepsTheRowsAlreadyDone) {
  bad_ = {7000};
  AddRow(1, 0, 100);
  AddRow(1, 0, 7000);
  AddRow(1, 0, 200);
  N18Click(Ws());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"read disk error"}));
  EXPECT_EQ(Ws().ListView2().Row(0).Cell(4), " 00000000000000000000");
  EXPECT_EQ(Ws().ListView2().Row(2).Cell(4), " ");
}

}  // namespace
}  // namespace ravelin
