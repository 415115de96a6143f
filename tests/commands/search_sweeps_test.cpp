// SEARCH MORE after an automatic analysis of a generated image whose chain leaves gaps the
// search fills over several sweeps: a sweep judges again only the gaps whose pages changed,
// and a Workspace that keeps its lists as typed rows (the command line's) adds the same
// fragments in the same order, says the same lines and shows the same Assembly list as the
// window's.
#include <gtest/gtest.h>

#include <iostream>

#include "analysis/file_identification.h"
#include "commands/scan_commands.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "commands/workspace_assembly.h"
#include "gen/image_raw.h"
#include "support/image_fixtures.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

struct Searched {
  SearchResult first;  // the search after the analysis
  SearchResult again;  // a second search at once: its one sweep judges every gap anew
  std::vector<std::string> memo3;
  std::vector<std::vector<std::string>> items;  // the Assembly list after the search
};

Searched AnalyseAndSearch(const std::string& image, const gen::Manifest& manifest,
                          bool showsLists) {
  test::ScriptedUi ui;
  Workspace ws(ui);
  ws.SetShowsLists(showsLists);
  test::ChooseImageForScan(ws, image, manifest.totalSectors);
  Searched out;
  EXPECT_EQ(ScanDataSource(ws).outcome, JobOutcome::kCompleted);
  PageControl1Change(ws, kTabAnalysis);
  EXPECT_EQ(ws.ListView3().Count(), 1u);
  test::EditList(ws, ws.ListView3()).SetCurrent(0);
  ListView3Click(ws);
  Button1Click(ws);
  EXPECT_TRUE(ws.jobs().WaitIdle(std::chrono::minutes(5)));
  ws.jobs().JoinAll();
  ui.ClearMemo(Memo::kMemo3);
  out.first = Button6Click(ws);
  out.memo3 = ui.MemoLines(Memo::kMemo3);
  for (std::size_t i = 0; i < AssemblyCount(ws); ++i)
    out.items.push_back(AssemblyItem(ws, i).cells);
  out.again = Button6Click(ws);
  return out;
}

TEST(SearchSweepsTest, SweepJudgesOnlyTheGapsThatChangedAndTypedRowsMatchTheWindow) {
  test::ScratchDir dir;
  const test::GeneratedDatabase db(4000, 5);
  gen::Manifest manifest;
  const std::string image = dir.File("image.img");
  gen::RawImageOptions o;
  o.seed = 5;
  o.sectorsPerCluster = 8;
  o.fragments = 1000;
  o.maxGapClusters = 8;
  o.zeroGapShare = 1;
  ASSERT_TRUE(gen::BuildRawImage(db, {}, o, image, manifest).ok());

  const Searched window = AnalyseAndSearch(image, manifest, /*showsLists=*/true);
  const SearchResult& r = window.first;
  ASSERT_EQ(r.outcome, SearchOutcome::kSwept);
  ASSERT_GE(r.foundPerSweep.size(), 3u) << "the image should need several sweeps";
  ASSERT_EQ(r.judgedPerSweep.size(), r.foundPerSweep.size());
  // What judging every gap of the final list costs once.
  ASSERT_EQ(window.again.judgedPerSweep.size(), 1u);
  const std::int64_t everyGap = window.again.judgedPerSweep[0];
  ASSERT_GT(everyGap, 0);
  for (std::size_t s = 1; s < r.judgedPerSweep.size(); ++s) {
    std::cout << "sweep " << s << ": added " << r.foundPerSweep[s] << ", judged "
              << r.judgedPerSweep[s] << " (every gap: " << everyGap << ")\n";
    // Only the gaps the sweep before changed: here the fragments it added, one each.
    EXPECT_LE(r.judgedPerSweep[s], r.foundPerSweep[s - 1]) << "sweep " << s;
  }
  // The second search finds nothing and says again what the last sweep said.
  EXPECT_EQ(window.again.foundPerSweep, std::vector<std::int64_t>{0});

  const Searched typed = AnalyseAndSearch(image, manifest, /*showsLists=*/false);
  EXPECT_EQ(typed.first.foundPerSweep, r.foundPerSweep);
  EXPECT_EQ(typed.first.judgedPerSweep, r.judgedPerSweep);
  EXPECT_EQ(typed.first.passedOver, r.passedOver);
  EXPECT_EQ(typed.memo3, window.memo3);
  EXPECT_EQ(typed.items, window.items);
}

}  // namespace
}  // namespace ravelin
