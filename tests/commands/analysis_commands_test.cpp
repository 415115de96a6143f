// Tab III as the window drives it: the database-file list, the analysis command in both
// modes, the successor dialog answered by a scripted person, and the list II items that go
// with them ("取勾选碎片的文件名", "把选择的碎片加入组合").
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "analysis/analysis_fixture.h"
#include "analysis/file_identification.h"
#include "catalogue/catalogue_fixture.h"
#include "catalogue/list_operations.h"
#include "commands/popup_menu1.h"
#include "commands/scan_commands.h"
#include "commands/scan_info_commands.h"
#include "commands/successor_dialog.h"
#include "commands/tab3_commands.h"
#include "common/messages.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

const std::string kAnalysisFinishedLine{Text(TextId::kAnalysisFinished)};
const std::string kScanNotFinishedMessage{Text(TextId::kScanNotFinished)};

using test::MiniFilePage;
using Lines = std::vector<std::string>;

constexpr char kRemark[] = "C:\\DATA\\shop.mdf(0.94 MB)";

struct Placed {
  std::int32_t first;
  std::int32_t end;
  std::uint64_t sector;
  std::int32_t obj = test::kMiniObj;
  bool nameless = false;  // page 32 holds no file name
  bool sizeless = false;  // page 0 holds no page count
};

class AnalysisCommandsTest : public test::CatalogueTest {
 protected:
  AnalysisCommandsTest() : CatalogueTest(16 * 400) {}

  // Lays fragments of the mini file on the image and records them as rows, in this order;
  // the first must be the header fragment. Call once, before anything else reads the image.
  void Lay(const std::vector<Placed>& fragments) {
    for (const Placed& f : fragments) {
      for (std::int32_t p = f.first; p < f.end; ++p) {
        test::Page page = MiniFilePage(p, f.obj);
        if ((p == 32 && f.nameless) || (p == 0 && f.sizeless))
          page = test::PageBuilder().PageId(p).ObjId(99).Build();
        PutPage(f.sector + 16 * static_cast<std::uint64_t>(p - f.first), page);
      }
    }
    for (const Placed& f : fragments)
      AddRow(f.end - f.first, f.first, f.sector, f.first == 0 ? kRemark : " ");
    test::EditFragments(Ws()).BuildFragmentIndex();
  }
  // Tab III visited, its row `row` clicked, the mode chosen, "分析该碎片(FILTER)" pressed; an
  // automatic analysis is waited for.
  void Analyse(std::size_t row = 0, bool automatic = true) {
    PageControl1Change(Ws(), kTabAnalysis);
    test::EditList(Ws(), Ws().ListView3()).SetCurrent(static_cast<std::ptrdiff_t>(row));
    ListView3Click(Ws());
    Ws().controls().tab3.chkauto = automatic;
    Button1Click(Ws());
    ASSERT_TRUE(Ws().jobs().WaitIdle(std::chrono::seconds(30)));
    Ws().jobs().JoinAll();
  }
  // The table rows in the Assembly list, in its order (its captions are list positions).
  std::vector<std::uint64_t> AssemblySectors() const {
    std::vector<std::uint64_t> sectors;
    for (const ReportRow& row : ws_->ListView4().Rows())
      sectors.push_back(std::stoull(row.Cell(5)));
    return sectors;
  }
  std::vector<std::int32_t> ChosenRows() {
    std::vector<std::int32_t> rows;
    const auto& chosen = Ws().fragments().FragmentChosen();
    for (std::size_t i = 0; i < chosen.size(); ++i)
      if (chosen[i] == 1) rows.push_back(static_cast<std::int32_t>(i));
    return rows;
  }
  const Lines& Memo2() const { return ui_.MemoLines(Memo::kMemo2); }
  static std::string Found(int row) { return "找到碎片号" + std::to_string(row); }
};

TEST_F(AnalysisCommandsTest, TabIIIListsTheHeaderFragmentsOnEveryVisit) {
  Lay({{0, 40, 100}, {40, 80, 1000}});
  AddRow(20, 0, 3000, "无效文件头,size:960KB");
  AddRow(50, 0, 3500, "hidden(1.00 MB)");
  test::EditFragments(Ws()).SetShown(3, false);
  PageControl1Change(Ws(), kTabFragments);
  EXPECT_TRUE(Ws().ListView3().Empty());
  EXPECT_EQ(Ws().controls().PageControl1, kTabFragments);

  PageControl1Change(Ws(), kTabAnalysis);
  const ReportList& list = Ws().ListView3();
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Row(0).cells, (Lines{"1", kRemark, "320", "0", "40", "100", "740"}));
  EXPECT_EQ(list.Row(1).cells,
            (Lines{"2", "无效文件头,size:960KB", "160", "0", "20", "3000", "3320"}));
  EXPECT_EQ(list.Row(1).imageIndex, 1);

  // Rebuilt at each visit only: the filter's change shows after the next one.
  test::EditFragments(Ws()).SetShown(3, true);
  PageControl1Change(Ws(), kTabAssembly);
  EXPECT_EQ(Ws().ListView3().Count(), 2u);
  PageControl1Change(Ws(), kTabAnalysis);
  EXPECT_EQ(Ws().ListView3().Count(), 3u);
  EXPECT_TRUE(ui_.messages.empty());
  for (const std::ptrdiff_t row : {1, 0}) {  // one row selected at a time
    test::EditList(Ws(), Ws().ListView3()).SetCurrent(row);
    ListView3Click(Ws());
    EXPECT_EQ(Ws().ListView3().SelectedRows(),
              std::vector<std::size_t>{static_cast<std::size_t>(row)});
  }
}

TEST_F(AnalysisCommandsTest, AutomaticAnalysisChainsOnTheJobThreadAndFillsTheAssemblyList) {
  Lay({{0, 40, 100},
       {80, 120, 3000},
       {40, 80, 2000, 777},  // another database's pages at the same page ids
       {40, 80, 1000},
       {40, 80, 4500}});  // an older copy further away
  test::EditList(Ws(), Ws().ListView4()).Append(ReportRow{{"stale"}});
  Analyse();
  EXPECT_EQ(ChosenRows(), (std::vector<std::int32_t>{0, 1, 3}));
  EXPECT_EQ(AssemblySectors(), (std::vector<std::uint64_t>{100, 3000, 1000}));
  EXPECT_EQ(Ws().ListView4().Row(2).Cell(0), "3");  // its position in the list
  EXPECT_EQ(Ws().ListView4().Row(0).imageIndex, 1);
  EXPECT_EQ(Memo2(), (Lines{Found(3), Found(1), kAnalysisFinishedLine}));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(Ws().FilePageCount(), test::kMiniFilePages);
  EXPECT_EQ(Ws().DatabaseFileName(), "C:\\DATA\\shop.mdf");
  EXPECT_EQ(Ws().controls().PageControl1, kTabAnalysis);
  EXPECT_TRUE(Ws().controls().tab3.Button1Enabled.load());
  EXPECT_TRUE(Ws().controls().tab3.chkautoEnabled.load());
  const JobResult result = Ws().jobs().LastResult();
  EXPECT_EQ(result.name, "anlys");
  EXPECT_EQ(result.outcome, JobOutcome::kCompleted);
  EXPECT_TRUE(ui_.successorQuestions.empty());
}

TEST_F(AnalysisCommandsTest, RefusedWhileAScanRunsAndDoesNothingWithoutASelectedRow) {
  Lay({{0, 40, 100}, {40, 80, 1000}});
  PageControl1Change(Ws(), kTabAnalysis);
  test::EditList(Ws(), Ws().ListView3()).SetCurrent(0);
  ListView3Click(Ws());
  test::EditFragments(Ws()).FragmentChosen()[1] = 1;  // as "把选择的碎片加入组合" left it
  Ws().ScanStopped() = false;
  Button1Click(Ws());
  EXPECT_EQ(MessageTexts(), Lines{kScanNotFinishedMessage});
  EXPECT_FALSE(Ws().JobRunning());
  EXPECT_EQ(ChosenRows(), std::vector<std::int32_t>{1});
  Ws().ScanStopped() = true;
  ui_.messages.clear();

  for (const bool automatic : {true, false}) {
    PageControl1Change(Ws(), kTabAnalysis);  // rebuilt: no row selected
    ui_.changes.clear();
    Ws().controls().tab3.chkauto = automatic;
    Button1Click(Ws());
    ASSERT_TRUE(Ws().jobs().WaitIdle(std::chrono::seconds(30)));
    EXPECT_TRUE(Memo2().empty()) << automatic;
    EXPECT_TRUE(ui_.messages.empty()) << automatic;
    EXPECT_EQ(ChosenRows(), std::vector<std::int32_t>{1}) << automatic;
    EXPECT_TRUE(Ws().controls().tab3.Button1Enabled.load()) << automatic;
    EXPECT_TRUE(Ws().controls().tab3.chkautoEnabled.load()) << automatic;
    EXPECT_GE(std::count(ui_.changes.begin(), ui_.changes.end(), Change::kControls), 2)
        << automatic;
  }
}

TEST_F(AnalysisCommandsTest, ManualAnalysisAsksAndChosenIndexCarriesOverBetweenQuestions) {
  Lay({{0, 40, 100}, {40, 80, 1000}, {40, 80, 2000}, {80, 120, 3000}, {80, 120, 4000}});
  // Q1: candidates rows 1 and 2; the person clicks the second. Q2: rows 3 and 4; "确定" with
  // nothing clicked takes ChosenIndex as Q1 left it: the second again.
  ui_.successorAnswers = {test::ClickAndConfirm(1), test::Confirm()};
  Analyse(0, false);
  ASSERT_EQ(ui_.successorQuestions.size(), 2u);
  const auto& q1 = ui_.successorQuestions[0];
  ASSERT_EQ(q1.candidates.size(), 2u);
  EXPECT_EQ(q1.candidates[0].cells, (Lines{"2", "320", "40", "80", "1000", "1640"}));
  EXPECT_EQ(q1.candidates[1].cells, (Lines{"3", "320", "40", "80", "2000", "2640"}));
  ASSERT_EQ(q1.last.size(), 1u);
  EXPECT_EQ(q1.last[0].Cell(0), "1");
  EXPECT_EQ(q1.chosenIndexBefore, 0);
  const auto& q2 = ui_.successorQuestions[1];
  EXPECT_EQ(q2.last[0].cells, (Lines{"3", "320", "40", "80", "2000", "2640"}));
  EXPECT_EQ(q2.chosenIndexBefore, 1);
  EXPECT_EQ(ChosenRows(), (std::vector<std::int32_t>{0, 2, 4}));
  EXPECT_EQ(Memo2(), (Lines{Found(2), Found(4), kAnalysisFinishedLine}));
  EXPECT_EQ(Ws().frmuserchoose().ChoiceResult, kChoiceConfirmed);
  EXPECT_FALSE(Ws().JobRunning());
  EXPECT_GT(ui_.processMessagesCalls, 0);

  // A new analysis starts with a new dialog (ChosenIndex 0). The first checked candidate
  // wins over the clicked one, and its index is carried to the next question.
  ui_.successorQuestions.clear();
  ui_.successorAnswers = {[](SuccessorChoice& dialog) {
                            dialog.ListView2.SetCurrent(0);
                            ListView2Click(dialog);
                            dialog.ListView2.Edit(1).checked = true;
                            btnokClick(dialog);
                          },
                          test::Confirm()};
  Button1Click(Ws());
  EXPECT_EQ(ui_.successorQuestions[0].chosenIndexBefore, 0);
  EXPECT_EQ(ui_.successorQuestions[1].chosenIndexBefore, 1);
  EXPECT_EQ(ChosenRows(), (std::vector<std::int32_t>{0, 2, 4}));
}

TEST_F(AnalysisCommandsTest, GivingUpLogsUserStopAndLeavesTheAssemblyListAsItWas) {
  Lay({{0, 40, 100},
       {40, 80, 1000},
       {40, 80, 2000},
       {80, 120, 3000},
       {80, 90, 3700},
       {80, 100, 4000}});
  // A first analysis fills the Assembly list; each later one gives up at its second question,
  // by the close box or by "取消".
  Analyse();
  const std::vector<std::uint64_t> before = AssemblySectors();
  ASSERT_EQ(before, (std::vector<std::uint64_t>{100, 1000, 3000}));
  for (const auto& answer : {test::CloseBox(), test::Cancel()}) {
    ui_.memo[static_cast<int>(Memo::kMemo2)].clear();
    ui_.successorAnswers = {test::ClickAndConfirm(1), answer};
    Analyse(0, false);
    EXPECT_EQ(Memo2(), (Lines{Found(2), "用户终止"}));
    EXPECT_EQ(AssemblySectors(), before);
    EXPECT_EQ(ChosenRows(), (std::vector<std::int32_t>{0, 2}));  // the new marks
    EXPECT_EQ(Ws().frmuserchoose().ChoiceResult, kChoiceCancelled);
    EXPECT_TRUE(Ws().controls().tab3.Button1Enabled.load());
    EXPECT_EQ(Ws().jobs().LastResult().outcome, JobOutcome::kCompleted);  // no job ran
  }
  // No answer scripted: the dialog is closed.
  ui_.memo[static_cast<int>(Memo::kMemo2)].clear();
  Analyse(0, false);
  EXPECT_EQ(Memo2(), Lines{"用户终止"});
}

TEST_F(AnalysisCommandsTest, ChosenIndexOutsideTheGroupGivesUp) {
  Lay({{0, 40, 100},
       {40, 80, 1000},
       {40, 70, 1700},
       {40, 60, 2300},
       {80, 120, 3000},
       {80, 120, 3700}});
  // Q1 has three candidates; a click on the third (row 3) leaves ChosenIndex 2. Q2 has two,
  // and "确定" with nothing clicked answers with that index.
  ui_.successorAnswers = {test::ClickAndConfirm(2), test::Confirm()};
  Analyse(0, false);
  ASSERT_EQ(ui_.successorQuestions.size(), 2u);
  EXPECT_EQ(ui_.successorQuestions[0].candidates.size(), 3u);
  EXPECT_EQ(ui_.successorQuestions[1].candidates.size(), 2u);
  EXPECT_EQ(Memo2(), (Lines{Found(3), "用户终止"}));
  EXPECT_EQ(ChosenRows(), (std::vector<std::int32_t>{0, 3}));
  EXPECT_TRUE(Ws().ListView4().Empty());
}

TEST_F(AnalysisCommandsTest, CheckedCandidatesAreSavedAsHexFilesFromTheDialog) {
  bad_ = {2000 + 16 * 3 + 2};
  Lay({{0, 40, 100}, {40, 80, 1000}, {40, 45, 2000}});
  const std::string missing = dir_.File("no/such/folder");
  ui_.dialogAnswers = {missing, dir_.File(""), dir_.File(""), std::nullopt};
  ui_.successorAnswers = {[this](SuccessorChoice& dialog) {
    dialog.ListView2.Edit(0).checked = true;
    Button1Click(Ws(), dialog);  // cannot create the file
    Button1Click(Ws(), dialog);  // 1000.hex, "保存完毕"
    dialog.ListView2.Edit(1).checked = true;
    Button1Click(Ws(), dialog);  // 1000.hex again, 2000.hex stops at its unreadable page 3
    Button1Click(Ws(), dialog);  // the folder dialog cancelled: nothing
    btncancelClick(dialog);
  }};
  Analyse(0, false);
  // The first "read disk error" is the candidate's classification, which reads it too.
  // The refusal names the file and the reason.
  EXPECT_EQ(MessageTexts(), (Lines{"read disk error",
                                   "error,无法创建文件" + missing + "/1000.hex (目录 " + missing +
                                       " 不可用(No such file or directory))",
                                   "保存完毕", "read disk error"}));
  EXPECT_EQ(ReadFile(dir_.File("1000.hex")), Sectors(1000, 16 * 40));
  EXPECT_EQ(ReadFile(dir_.File("2000.hex")), Sectors(2000, 16 * 3));
  EXPECT_EQ(Memo2(), Lines{"用户终止"});
}

TEST_F(AnalysisCommandsTest, FileNameOfCheckedRowsStopsAtTheFirstRowWithoutPage32) {
  // Page 32 of [10, 60) lies at sector 1000 + (32 - 10) x 16 = 1352.
  Lay({{0, 40, 100}, {10, 60, 1000}, {0, 40, 3000, test::kMiniObj, /*nameless=*/true}});
  AddRow(400, 500, 5000);
  ReportList& list = test::EditList(Ws(), Ws().ListView2());
  list.Edit(1).checked = true;
  N17Click(Ws());
  EXPECT_EQ(MessageTexts(), Lines{"C:\\DATA\\shop.mdf"});
  ui_.messages.clear();
  list.Edit(1).checked = false;
  list.Edit(0).checked = true;
  list.Edit(2).checked = true;
  list.Edit(3).checked = true;
  N17Click(Ws());  // [0, 40), then the nameless one, then [500, 900): stops there
  EXPECT_EQ(MessageTexts(), (Lines{"C:\\DATA\\shop.mdf", "none"}));
  ui_.messages.clear();
  list.Edit(2).checked = false;
  list.Sort(list_column::kRemark);  // " " sorts first: [500, 900) before [0, 40)
  N17Click(Ws());
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(AnalysisCommandsTest, AddingTickedRowsRebuildsTheAssemblyList) {
  Lay({{0, 40, 100}, {40, 80, 1000}, {80, 120, 3000}});
  test::EditList(Ws(), Ws().ListView2()).Edit(2).checked = true;
  test::EditList(Ws(), Ws().ListView2()).Edit(0).checked = true;
  N16Click(Ws());
  ASSERT_EQ(Ws().ListView4().Count(), 2u);
  EXPECT_EQ(Ws().ListView4().Row(0).cells, (Lines{"1", "320", "0", "40", kRemark, "100", "740"}));
  EXPECT_EQ(Ws().ListView4().Row(1).cells, (Lines{"2", "320", "80", "120", " ", "3000", "3640"}));
  EXPECT_EQ(Ws().ListView4().Row(1).imageIndex, 0);
}

TEST_F(AnalysisCommandsTest, WhileAManualAnalysisWaitsForAnAnswerTheTablesCannotChange) {
  Lay({{0, 40, 100}, {40, 80, 1000}, {40, 80, 2000}});
  Ws().controls().tab1.edtbegin = "0";
  Ws().controls().tab1.edtend = "100";
  Ws().controls().tab1.edtsecs = "8";
  bool runningMeanwhile = false;
  ui_.successorAnswers = {[this, &runningMeanwhile](SuccessorChoice& dialog) {
    runningMeanwhile = Ws().JobRunning();
    N2Click(Ws());   // a scan would append to the table under the analysis
    N16Click(Ws());  // and adding to the assembly would change the marks
    Button1Click(Ws());
    btnokClick(dialog);
  }};
  Analyse(0, false);
  EXPECT_TRUE(runningMeanwhile);
  EXPECT_EQ(MessageTexts(),
            (Lines{std::string(Text(TextId::kJobRunning)), std::string(Text(TextId::kJobRunning)),
                   std::string(Text(TextId::kJobRunning))}));
  EXPECT_EQ(Memo2(), (Lines{Found(1), kAnalysisFinishedLine}));
  EXPECT_FALSE(Ws().JobRunning());
  EXPECT_TRUE(Ws().ScanStopped().load());
}

// A saved scan reopened without its disk: tab III names each file from its stored pages.
TEST_F(AnalysisCommandsTest, SavedContentNamesTheFilesOnTabIII) {
  Lay({{0, 40, 100},
       {0, 40, 1000, test::kMiniObj, /*nameless=*/true},
       {0, 40, 2000, test::kMiniObj, false, /*sizeless=*/true},
       {0, 32, 3000}});
  const std::string rows = dir_.File("rows");
  const std::string content = dir_.File("content");
  ASSERT_TRUE(SaveScanInfo(Ws(), rows, content));
  test::ScriptedUi ui;
  Workspace ws(ui, test::OnlyTheseFiles({content}));
  ASSERT_TRUE(OpenScanInfo(ws, rows, content));
  for (int visit = 0; visit < 2; ++visit) {
    ui.messages.clear();
    PageControl1Change(ws, kTabAnalysis);
    std::vector<std::string> names;
    for (const ReportRow& row : ws.ListView3().Rows()) names.push_back(row.Cell(1));
    EXPECT_EQ(names, (Lines{"C:\\DATA\\shop.mdf:960KB", kRemark, kRemark, kRemark}));
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& m : ui.messages) shown.emplace_back(m.text, m.caption);
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>>{
                         {"get file name error", "提示"}, {"get file size error", "mess"}}));
  }
  EXPECT_EQ(ws.ListView2().Row(0).Cell(list_column::kRemark), kRemark);

  // The analysis runs from the stored pages as well.
  test::EditList(ws, ws.ListView3()).SetCurrent(0);
  ListView3Click(ws);
  Button1Click(ws);
  ASSERT_TRUE(ws.jobs().WaitIdle(std::chrono::seconds(30)));
  EXPECT_EQ(ui.MemoLines(Memo::kMemo2), Lines{kAnalysisFinishedLine});
  EXPECT_EQ(ws.DatabaseFileName(), "C:\\DATA\\shop.mdf");
}

}  // namespace
}  // namespace ravelin
