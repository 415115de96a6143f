// Chaining one file's fragments: the header steps, the sequential search, the choice among
// overlapping candidates, and how the analysis ends.
#include "analysis/chaining.h"

#include <gtest/gtest.h>

#include "analysis/analysis_fixture.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

using test::FileHeaderPage;
using test::FileNamePage;
using test::LinkedPage;
using test::MemoryImage;
using test::PfsWith;
using Lines = std::vector<std::string>;

using test::kMiniFilePages;
using test::kMiniObj;
using test::MiniFilePage;
constexpr std::int32_t kFilePages = kMiniFilePages;
constexpr std::int32_t kObj = kMiniObj;

// Fragments of the mini file, or of look-alikes, placed on an image and recorded as table
// rows.
class ChainingTest : public ::testing::Test {
 protected:
  // Pages [first, end) of the file (of object `obj` from page 3 on) at `sector`, as a row.
  std::int32_t Place(std::int32_t first, std::int32_t end, std::uint64_t sector,
                     std::int32_t obj = kObj) {
    for (std::int32_t p = first; p < end; ++p)
      image_.Put(sector + 16 * static_cast<std::uint64_t>(p - first), MiniFilePage(p, obj));
    table_.Append(test::Row(end - first, first, sector));
    return static_cast<std::int32_t>(table_.Count()) - 1;
  }

  // Runs the analysis of the header fragment at row `header`.
  AnalysisOutcome Analyse(std::int32_t header, SuccessorQuestion* ask = nullptr,
                          std::int32_t spc = 16) {
    table_.BuildFragmentIndex();
    table_.FragmentChosen().assign(table_.Count(), 0);
    const FragmentRow& row = table_.Row(static_cast<std::size_t>(header));
    VectorChosenMarks marks(table_.FragmentChosen());
    const AnalysisInputs in{table_, image_.Source(), {spc, 1}, ask, nullptr};
    AnalysisOutputs out{map_, filePageCount_, name_, marks};
    return AnalyseHeaderFragment({row.StartSector, row.Pages()}, in, out, reporter_);
  }
  // Starts again with an empty table and image.
  void Restart() {
    table_ = FragmentTable();
    image_.Reset();
    reporter_.lines.clear();
    reporter_.messages.clear();
    name_ = "old.mdf";
    filePageCount_ = 0;
  }
  std::vector<std::int32_t> Chosen() const {
    std::vector<std::int32_t> rows;
    for (std::size_t i = 0; i < table_.Count(); ++i)
      if (table_.FragmentChosen()[i] == 1) rows.push_back(static_cast<std::int32_t>(i));
    return rows;
  }

  MemoryImage image_{16 * 300};
  FragmentTable table_;
  PageMap map_;
  std::int32_t filePageCount_ = 0;
  std::string name_ = "old.mdf";
  test::RecordingReporter reporter_;
};

// Answers questions from a list and records them.
class ScriptedQuestion final : public SuccessorQuestion {
 public:
  std::optional<std::int32_t> AskSuccessor(const std::vector<std::int32_t>& group,
                                           std::int32_t lastRow) override {
    asked.push_back({group, lastRow});
    if (answers.empty()) return std::nullopt;
    const auto a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<std::pair<std::vector<std::int32_t>, std::int32_t>> asked;
  std::vector<std::optional<std::int32_t>> answers;
};

TEST_F(ChainingTest, CandidatesAtOneStartPageAreDecidedByDistanceToTheFragmentChainedLast) {
  // Two copies of pages 40-80: the one nearer the header wins, whichever comes first in the
  // index; at equal distance the earlier index position wins.
  struct Case {
    std::uint64_t header;
    std::uint64_t first;
    std::uint64_t second;
    int winner;  // 0: first, 1: second
  };
  for (const Case c : {Case{1000, 3000, 2200, 1}, Case{1000, 2200, 3000, 0},
                       Case{2000, 3000, 1000, 0}, Case{2000, 1000, 3000, 0}}) {
    Restart();
    const auto header = Place(0, 40, c.header);
    const auto first = Place(40, 80, c.first);
    const auto second = Place(40, 80, c.second);
    ASSERT_EQ(Analyse(header), AnalysisOutcome::kChained);
    const auto winner = c.winner == 0 ? first : second;
    EXPECT_EQ(Chosen(), (std::vector<std::int32_t>{header, winner}))
        << c.header << ": " << c.first << " " << c.second;
  }
}

TEST_F(ChainingTest, LowerStartPageWinsOverANearerCandidateThatStartsLater) {
  const auto header = Place(0, 40, 100);
  const auto far = Place(40, 80, 3500);
  const auto nearer = Place(41, 80, 740);  // overlaps, starts later
  ASSERT_EQ(Analyse(header), AnalysisOutcome::kChained);
  EXPECT_EQ(Chosen(), (std::vector<std::int32_t>{header, far}));
  (void)nearer;
}

TEST_F(ChainingTest, ManualModeAsksWhenSeveralCouldFollowAndTheGroupStopsAt13) {
  const auto header = Place(0, 40, 100);
  std::vector<std::int32_t> copies;
  for (int i = 0; i < 15; ++i)
    copies.push_back(Place(40, 50 + i % 3, 1000 + 200 * static_cast<std::uint64_t>(i)));
  ScriptedQuestion ask;
  ask.answers = {std::nullopt};
  ASSERT_EQ(Analyse(header, &ask), AnalysisOutcome::kGaveUp);
  ASSERT_EQ(ask.asked.size(), 1u);
  EXPECT_EQ(ask.asked[0].first.size(), kMaxCandidateGroup);
  EXPECT_EQ(ask.asked[0].second, header);
  EXPECT_EQ(reporter_.lines, Lines{"用户终止"});
  EXPECT_EQ(Chosen(), std::vector<std::int32_t>{header});
  EXPECT_GT(reporter_.yields, 0);
}

TEST_F(ChainingTest, HeaderStepsAndTheirMessages) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    AnalysisOutcome outcome;
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    std::string name;
    std::int32_t pageCount;
  };
  const std::vector<Case> cases = {
      {"page 0 unreadable",
       [this] { image_.SetBad({100}); },
       AnalysisOutcome::kEnded,
       {{"read disk error", "mess"}},
       "old.mdf",
       0},
      {"no page count",
       [this] { image_.Put(100, test::PageBuilder().PageId(0).Build()); },
       AnalysisOutcome::kEnded,
       {{"get fileinfo1 error", "mess"}},
       "old.mdf",
       0},
      {"page count 0",
       [this] { image_.Put(100, FileHeaderPage(1, 0).Build()); },
       AnalysisOutcome::kEnded,
       {{"get fileinfo1 error", "mess"}},
       "old.mdf",
       0},
      {"negative page count",
       [this] { image_.Put(100, FileHeaderPage(1, -8).Build()); },
       AnalysisOutcome::kEnded,
       {{"get fileinfo1 error", "mess"}},
       "old.mdf",
       0},
      {"page 32 unreadable",
       [this] { image_.SetBad({100 + 512 + 3}); },
       AnalysisOutcome::kEnded,
       {{"read disk error", "提示"}},
       "old.mdf",
       kFilePages},
      // Without a name on page 32 the analysis goes on under the short header's name.
      {"page 32 without a name",
       [this] { image_.Put(100 + 512, LinkedPage(32, kObj).Build()); },
       AnalysisOutcome::kChained,
       {{"get fileinfo2 error", "提示"}},
       kNoNameFile,
       kFilePages},
      {"page of the header unreadable while mapping",
       [this] { image_.SetBad({100 + 16 * 20}); },
       AnalysisOutcome::kChained,
       {{"read disk error", "提示"}, {"get page info error", "提示"}},
       "C:\\DATA\\shop.mdf",
       kFilePages},
  };
  for (const Case& c : cases) {
    Restart();
    const auto header = Place(0, 40, 100);
    c.damage();
    EXPECT_EQ(Analyse(header), c.outcome) << c.what;
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& m : reporter_.messages) shown.emplace_back(m.text, m.caption);
    EXPECT_EQ(shown, c.messages) << c.what;
    EXPECT_EQ(name_, c.name) << c.what;
    EXPECT_EQ(filePageCount_, c.pageCount) << c.what;
  }
}

// One unreadable page costs only itself: the match is judged on the other pages, the
// mapping leaves it out (and says so), and the chain goes on.
TEST_F(ChainingTest, UnreadablePageOfAChainedFragmentIsReportedAndTheAnalysisGoesOn) {
  const auto header = Place(0, 40, 100);
  const auto a = Place(40, 80, 1000);
  const auto b = Place(80, 120, 3000);
  image_.SetBad({1000 + 16 * 30 + 1});
  ASSERT_EQ(Analyse(header), AnalysisOutcome::kChained);
  EXPECT_EQ(Chosen(), (std::vector<std::int32_t>{header, a, b}));
  EXPECT_EQ(reporter_.lines, (Lines{"找到碎片号" + std::to_string(a),
                                    "get page info error,碎片号" + std::to_string(a),
                                    "找到碎片号" + std::to_string(b)}));
  EXPECT_EQ(reporter_.MessageTexts(), (Lines{"read disk error", "read disk error"}));
}

TEST_F(ChainingTest, EmptyIndexChainsNothingMore) {
  const auto header = Place(0, 40, 100);
  table_.FragmentChosen().assign(table_.Count(), 0);
  VectorChosenMarks marks(table_.FragmentChosen());
  const AnalysisInputs in{table_, image_.Source(), {16, 1}, nullptr, nullptr};
  AnalysisOutputs out{map_, filePageCount_, name_, marks};
  // No BuildFragmentIndex: a scan stopped before it built one.
  EXPECT_EQ(AnalyseHeaderFragment({100, 40}, in, out, reporter_), AnalysisOutcome::kChained);
  EXPECT_EQ(Chosen(), std::vector<std::int32_t>{header});
}

TEST_F(ChainingTest, ClosingTheWindowEndsTheSearchAtItsNextStep) {
  const auto header = Place(0, 40, 100);
  Place(40, 80, 1000);
  table_.BuildFragmentIndex();
  table_.FragmentChosen().assign(table_.Count(), 0);
  VectorChosenMarks marks(table_.FragmentChosen());
  std::atomic<bool> closing{true};
  const AnalysisInputs in{table_, image_.Source(), {16, 1}, nullptr, &closing};
  AnalysisOutputs out{map_, filePageCount_, name_, marks};
  EXPECT_EQ(AnalyseHeaderFragment({100, 40}, in, out, reporter_), AnalysisOutcome::kEnded);
  EXPECT_EQ(Chosen(), std::vector<std::int32_t>{header});
  EXPECT_TRUE(reporter_.lines.empty());
}

}  // namespace
}  // namespace ravelin
