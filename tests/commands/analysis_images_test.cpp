// End to end on disk images: scan, pick the target's header fragment on tab III, analyse in
// automatic mode, and hold the chained fragments against the image's ground truth. The
// images carry decoys (an older copy of the same database, stale pages, another database,
// pages of another file id) and are fragmented at 8 and at 1 sector per cluster, as raw,
// FAT32 and NTFS images, with generated databases and the real SQL Server files.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "analysis/file_identification.h"
#include "commands/scan_commands.h"
#include "commands/tab3_commands.h"
#include "common/messages.h"
#include "gen/database_generator.h"
#include "gen/fs_fat32.h"
#include "gen/fs_ntfs.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/real_file_source.h"
#include "page/page_format.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"
#include "support/real_files.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

const std::string kFinishedLine{Text(TextId::kAnalysisFinished)};

std::optional<std::uint64_t> TargetSector(const gen::Manifest& manifest, std::int64_t page) {
  return test::FileSectorOnImage(manifest, manifest.TargetFile(), page);
}

struct Analysed {
  std::vector<FragmentRow> rows;
  std::vector<std::int32_t> chosen;  // rows chained
  std::vector<std::string> memo2;
  std::vector<std::string> messages;
  std::set<std::int32_t> targetRows;  // rows that are the target's own pages at their places
  std::int32_t filePageCount = 0;
  std::string name;
  std::int64_t allocKnownBelow = 0;  // the first page whose allocation the map does not know
  std::int64_t headerPages = 0;      // of the header fragment analysed
};

// Scans the whole image as a disk with `step` sectors per cluster, selects the target's
// header fragment on tab III and runs the automatic analysis.
Analysed ScanAndAnalyse(const std::string& image, const gen::Manifest& manifest,
                        std::int32_t step) {
  test::ScriptedUi ui;
  Workspace ws(ui);
  test::ChooseImageForScan(ws, image, manifest.totalSectors, step);
  Analysed result;
  if (ScanDataSource(ws).outcome != JobOutcome::kCompleted) return result;

  const std::optional<std::uint64_t> headerSector = TargetSector(manifest, 0);
  PageControl1Change(ws, kTabAnalysis);
  for (std::size_t i = 0; i < ws.ListView3().Count(); ++i) {
    if (ws.ListView3().Row(i).Cell(file_column::kStartSector) == std::to_string(*headerSector))
      test::EditList(ws, ws.ListView3()).SetCurrent(static_cast<std::ptrdiff_t>(i));
  }
  ListView3Click(ws);
  if (const auto request = ReadAnalysisRequest(ws); request.header)
    result.headerPages = request.header->pages;
  Button1Click(ws);
  EXPECT_TRUE(ws.jobs().WaitIdle(std::chrono::minutes(5)));
  ws.jobs().JoinAll();

  result.rows = ws.fragments().Rows();
  const auto& chosen = ws.fragments().FragmentChosen();
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (chosen[i] == 1) result.chosen.push_back(static_cast<std::int32_t>(i));
    const FragmentRow& row = result.rows[i];
    if (TargetSector(manifest, row.StartPage) == row.StartSector)
      result.targetRows.insert(static_cast<std::int32_t>(i));
  }
  result.memo2 = ui.MemoLines(Memo::kMemo2);
  for (const auto& m : ui.messages) result.messages.push_back(m.text);
  result.filePageCount = ws.FilePageCount();
  while (result.allocKnownBelow < ws.pageMap().Size() &&
         ws.pageMap().AllocState(result.allocKnownBelow) != kAllocUnknown)
    ++result.allocKnownBelow;
  result.name = ws.DatabaseFileName();
  return result;
}

// What the target's own allocation pages say, read straight from the file (up to 8088
// pages): which pages are allocated, and for each page the lowest IAM page that claims it.
struct Allocation {
  std::set<std::int64_t> allocated;
  std::map<std::int64_t, std::int64_t> claimedBy;  // page -> IAM page
  std::set<std::int64_t> objectPages;              // pages whose object is not 99
};

Allocation ReadAllocation(const gen::PageSource& file) {
  Allocation a;
  test::Page page{};
  for (std::int64_t p = 0; p < file.PageCount() && p < 8088; ++p) {
    file.ReadPage(p, page);
    RestoreTornBits(page);
    if (Load32(page, 24) != 99 && page[0] == 1) a.objectPages.insert(p);
    const std::size_t row0 = Load16(page, kPageSize - 2);
    if (p == 1) {
      for (std::int64_t t = 0; t < file.PageCount() && t < 8088; ++t)
        if (Load8(page, row0 + 4 + static_cast<std::size_t>(t)) & 0x40) a.allocated.insert(t);
    }
    if (page[1] != kPageTypeIam) continue;
    auto claim = [&](std::int64_t x) {
      if (x > 0 && !a.claimedBy.count(x)) a.claimedBy[x] = p;
    };
    for (std::size_t j = 0; j < 8; ++j)
      claim(static_cast<std::int32_t>(Load32(page, row0 + 46 + 6 * j)));
    const std::int64_t first = static_cast<std::int32_t>(Load32(page, row0 + 40));
    const std::size_t row1 = Load16(page, kPageSize - 4);
    const auto len = static_cast<std::int16_t>(Load16(page, row1 + 2));
    for (std::int64_t t = 0; t + 4 < len && row1 + 4 + t < kPageSize; ++t)
      for (int i = 0; i < 8; ++i)
        if (page[row1 + 4 + static_cast<std::size_t>(t)] & (1u << i))
          for (std::int64_t x = t * 64 + i * 8 + first; x < t * 64 + i * 8 + first + 8; ++x)
            if (t * 64 + i * 8 + first > 0) claim(x);
  }
  return a;
}

// Holds an analysis against the ground truth:
// - every chained row is the target's own pages at their places (no decoy is chained);
// - every row of the target holding an allocated page of an object whose IAM page lies in a
//   row chained before it (at a lower page) is chained.
// Rows of the target left over are the known limits of the sequential search: rows of
// allocation pages only, free pages only, or of objects whose IAM page comes later.
::testing::AssertionResult ChainedExactlyTheTarget(const Analysed& a, const gen::PageSource& file) {
  const Allocation alloc = ReadAllocation(file);
  std::set<std::int64_t> chainedPages;
  for (const std::int32_t row : a.chosen)
    for (std::int64_t p = a.rows[row].StartPage; p < a.rows[row].EndPage; ++p)
      chainedPages.insert(p);
  std::ostringstream why;
  // One "找到碎片号" line per chained row but the header's, then the closing line; version
  // choices add lines of their own.
  const auto found = std::count_if(a.memo2.begin(), a.memo2.end(), [](const std::string& l) {
    return l.rfind("找到碎片号", 0) == 0;
  });
  bool ok = !a.chosen.empty() && static_cast<std::size_t>(found) + 1 == a.chosen.size() &&
            a.memo2.back() == kFinishedLine;
  if (!ok) why << "the analysis did not end normally\n";
  int leftOver = 0;
  for (std::size_t i = 0; i < a.rows.size(); ++i) {
    const auto row = static_cast<std::int32_t>(i);
    const FragmentRow& r = a.rows[i];
    const bool chosen = std::count(a.chosen.begin(), a.chosen.end(), row) > 0;
    const bool target = a.targetRows.count(row) > 0;
    if (chosen && !target) {
      ok = false;
      why << "chained row " << row << " [" << r.StartPage << ", " << r.EndPage << ") at "
          << r.StartSector << " is not the target's\n";
    }
    if (chosen || !target || r.StartPage <= 0) continue;
    bool required = false;
    for (std::int64_t p = r.StartPage; p < r.EndPage && !required; ++p) {
      const auto iam = alloc.claimedBy.find(p);
      required = alloc.allocated.count(p) && alloc.objectPages.count(p) &&
                 iam != alloc.claimedBy.end() && iam->second < r.StartPage &&
                 chainedPages.count(iam->second);
    }
    if (required) {
      ok = false;
      why << "the target's row " << row << " [" << r.StartPage << ", " << r.EndPage << ") at "
          << r.StartSector << " was not chained, though its IAM page was\n";
    } else {
      ++leftOver;
    }
  }
  if (!ok) {
    for (const auto& line : a.memo2) why << "  " << line << '\n';
    for (const auto& m : a.messages) why << "  message: " << m << '\n';
    return ::testing::AssertionFailure() << why.str();
  }
  return ::testing::AssertionSuccess()
         << a.chosen.size() << " of " << a.rows.size() << " rows chained, " << leftOver
         << " rows of the target left to the search";
}

// The decoys of one image: an older generation of the same database (whole, and as stale
// runs), another database, and a copy of another file id.
struct Decoys {
  explicit Decoys(const gen::PageSource& target, std::uint64_t seed)
      : older(target, {std::nullopt, 40}, "older"),
        other(OtherDesign(seed, 1)),
        otherId(OtherDesign(seed, 3)) {}
  static gen::DatabaseSpec OtherDesign(std::uint64_t seed, std::uint16_t fileId) {
    gen::DatabaseSpec design;
    design.pageCount = 400;
    design.seed = seed + 100;
    design.logicalName = "other";
    design.fileId = fileId;
    return design;
  }
  gen::PatchedPageSource older;
  gen::DatabaseGenerator other;
  gen::DatabaseGenerator otherId;
};

enum class Kind { kRaw, kFat32, kNtfs };

struct AnalysisCase {
  const char* name;
  Kind kind;
  std::uint32_t cluster;
  std::uint64_t seed;
  const char* realFile = nullptr;  // a file of the real samples, else a generated database
};

std::ostream& operator<<(std::ostream& out, const AnalysisCase& c) { return out << c.name; }

class ImageAnalysisTest : public ::testing::TestWithParam<AnalysisCase> {};

TEST_P(ImageAnalysisTest, ChainsExactlyTheTargetsFragmentsAmongDecoys) {
  const AnalysisCase c = GetParam();
  if (c.kind == Kind::kFat32)
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat");
  if (c.kind == Kind::kNtfs)
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo");
  std::unique_ptr<gen::RealFileSource> real;
  std::unique_ptr<gen::DatabaseGenerator> generated;
  const gen::PageSource* target = nullptr;
  std::string expectedName;  // the physical name on page 32
  if (c.realFile != nullptr) {
    const gen::Status opened = gen::RealFileSource::Open(test::RealFilePath(c.realFile), real);
    if (!opened.ok()) GTEST_SKIP() << opened.message();
    target = real.get();
    for (const auto& facts : test::kRealFiles)
      if (facts.fileName == c.realFile) expectedName = facts.physicalName;
  } else {
    gen::DatabaseSpec design;
    design.pageCount = 2000;
    design.seed = c.seed;
    design.generation = 1;
    generated = std::make_unique<gen::DatabaseGenerator>(design);
    target = generated.get();
    expectedName = design.physicalPath;
  }
  const Decoys decoys(*target, c.seed);

  test::ScratchDir dir;
  gen::Manifest manifest;
  const std::string image = dir.File("image.img");
  gen::Status built;
  if (c.kind == Kind::kRaw) {
    gen::RawImageOptions o;
    o.seed = c.seed;
    o.sectorsPerCluster = c.cluster;
    o.fragments = 12;
    o.staleRuns = 6;
    o.otherDatabaseRuns = 6;
    o.otherFileIdRuns = 4;
    o.maxGapClusters = std::max(2u, 128u / c.cluster);
    built =
        gen::BuildRawImage(*target, {&decoys.older, &decoys.older, &decoys.other, &decoys.otherId},
                           o, image, manifest);
  } else if (c.kind == Kind::kFat32) {
    gen::Fat32ImageOptions o;
    o.seed = c.seed;
    o.sectorsPerCluster = c.cluster;
    // Holes of at least two pages, so that pages 0 and 1 (the header fragment) stay together.
    o.decoys.count = 16;
    o.decoys.minClusters = 32 / c.cluster;
    o.decoys.maxClusters = 160 / c.cluster;
    o.decoys.olderCopy = &decoys.older;
    o.decoys.otherDatabase = &decoys.other;
    built = gen::BuildFat32Image(*target, o, image, manifest);
  } else {
    gen::NtfsImageOptions o;
    o.seed = c.seed;
    o.sectorsPerCluster = c.cluster;
    o.fragments = 8;
    o.decoys.count = 6;
    o.decoys.olderCopy = &decoys.older;
    o.decoys.otherDatabase = &decoys.other;
    built = gen::BuildNtfsImage(*target, o, image, manifest);
  }
  ASSERT_TRUE(built.ok()) << built.message();

  // The live older copy and the other database are scanned as well (not free space only).
  const Analysed a = ScanAndAnalyse(image, manifest, static_cast<std::int32_t>(c.cluster));
  const ::testing::AssertionResult held = ChainedExactlyTheTarget(a, *target);
  EXPECT_TRUE(held) << c.name;
  std::cout << c.name << ": " << held.message() << '\n';  // the evidence, in the test log
  EXPECT_EQ(a.filePageCount, target->PageCount());
  // The name is read from page 32 when the header fragment reaches it.
  EXPECT_EQ(a.name, a.headerPages > kNamePage ? expectedName : std::string(kNoNameFile))
      << a.headerPages << " pages in the header fragment";
  EXPECT_GT(a.targetRows.size(), 3u) << "the image is not fragmented enough to tell";
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageAnalysisTest,
    ::testing::Values(
        AnalysisCase{"RawGenerated8", Kind::kRaw, 8, 1},
        AnalysisCase{"RawGenerated1", Kind::kRaw, 1, 3},
        AnalysisCase{"Fat32Generated1", Kind::kFat32, 1, 5},
        AnalysisCase{"NtfsGenerated8", Kind::kNtfs, 8, 6},
        AnalysisCase{"RawChecksum2005At8", Kind::kRaw, 8, 7, "checksum-2005.mdf"},
        AnalysisCase{"RawTornPage2008At1", Kind::kRaw, 1, 8, "tornpage-2008r2.mdf"},
        AnalysisCase{"RawChecksum2014At1", Kind::kRaw, 1, 9, "checksum-2014.mdf"},
        AnalysisCase{"Fat32TornPage2008At1", Kind::kFat32, 1, 12, "tornpage-2008r2.mdf"},
        AnalysisCase{"Fat32Checksum2005At8", Kind::kFat32, 8, 13, "checksum-2005.mdf"},
        AnalysisCase{"NtfsChecksum2014At8", Kind::kNtfs, 8, 11, "checksum-2014.mdf"}),
    [](const auto& info) { return std::string(info.param.name); });

// Images laid out by hand: the target's extents where a test wants them, zeros or noise in
// between, 8 sectors per cluster.
gen::Status BuildLaidOut(const gen::PageSource& target, std::vector<gen::FileExtent> extents,
                         const std::string& image, gen::Manifest& manifest) {
  gen::RawImageOptions o;
  o.seed = 21;
  o.sectorsPerCluster = 8;
  o.extents = std::move(extents);
  return gen::BuildRawImage(target, {}, o, image, manifest);
}

// Overwrites pages [first, end) of `source` into the image at `sector`.
void WritePages(const std::string& image, const gen::PageSource& source, std::int64_t first,
                std::int64_t end, std::uint64_t sector) {
  std::fstream out(image, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(static_cast<std::streamoff>(sector * kSectorSize));
  test::Page page{};
  for (std::int64_t p = first; p < end; ++p) {
    source.ReadPage(p, page);
    out.write(reinterpret_cast<const char*>(page.data()), kPageSize);
  }
}

std::vector<std::uint64_t> ChainedSectors(const Analysed& a) {
  std::vector<std::uint64_t> sectors;
  for (const std::int32_t row : a.chosen) sectors.push_back(a.rows[row].StartSector);
  return sectors;
}

// A real file laid out by hand, and the rows the analysis must chain.
struct LaidOutCase {
  const char* name;
  const char* realFile;
  std::vector<gen::FileExtent> extents;
  // Where a stale copy of pages 50-59 (older LSNs, one byte changed, checksums right) is
  // written, when there is one.
  std::optional<std::uint64_t> staleSector;
  std::vector<std::uint64_t> chained;  // start sectors of the rows chained
  // What the memo's version-choice line ("版本选择:碎片号…") must say, when it must be there.
  const char* versionLine = nullptr;
};

std::ostream& operator<<(std::ostream& out, const LaidOutCase& c) { return out << c.name; }

// Pages 0-49 at sector 1000, 50-279 at 9000.
const std::vector<gen::FileExtent> kSplitAtPage50 = {{0, 50 * 16, 1000}, {50 * 16, 230 * 16, 9000}};

class LaidOutRealFileTest : public ::testing::TestWithParam<LaidOutCase> {};

TEST_P(LaidOutRealFileTest, ChainsTheExpectedRows) {
  const LaidOutCase& c = GetParam();
  RAVELIN_LOAD_REAL_OR_SKIP(facts, c.realFile);
  std::unique_ptr<gen::RealFileSource> real;
  ASSERT_TRUE(gen::RealFileSource::Open(test::RealFilePath(c.realFile), real).ok());
  test::ScratchDir dir;
  gen::Manifest manifest;
  const std::string image = dir.File("laid-out.img");
  ASSERT_TRUE(BuildLaidOut(*real, c.extents, image, manifest).ok());
  if (c.staleSector) {
    const gen::PatchedPageSource stale(*real, {std::nullopt, 40}, "stale");
    WritePages(image, stale, 50, 60, *c.staleSector);
  }
  const Analysed a = ScanAndAnalyse(image, manifest, 8);
  EXPECT_EQ(ChainedSectors(a), c.chained);
  EXPECT_EQ(a.memo2.back(), kFinishedLine);
  if (c.versionLine != nullptr) {
    const auto version = std::find_if(a.memo2.begin(), a.memo2.end(), [](const std::string& l) {
      return l.rfind("版本选择:碎片号", 0) == 0;
    });
    ASSERT_NE(version, a.memo2.end());
    EXPECT_NE(version->find(c.versionLine), std::string::npos) << *version;
  }
  (void)facts;
}

INSTANTIATE_TEST_SUITE_P(
    LaidOut, LaidOutRealFileTest,
    ::testing::Values(
        // Both copies of pages 50-59 start at page 50 and belong; the stale one lies farther
        // from the header than the target's fragment, and the nearer one wins.
        LaidOutCase{"RealCandidatesAtOneStartPageAreDecidedByDistance",
                    "checksum-2005.mdf",
                    kSplitAtPage50,
                    14000,
                    {1000, 9000}},
        // A stale copy lying nearer the fragment chained last than the target's own fragment
        // at the same start page used to be chained (and the target's fragment passed over).
        // Its pages carry older LSNs than the target's at the same page ids: it is set aside
        // as an outdated copy, and the memo says so.
        LaidOutCase{"NearerStaleCopyAtOneStartPageIsSetAsideByItsOlderLsns",
                    "checksum-2005.mdf",
                    kSplitAtPage50,
                    2000,
                    {1000, 9000},
                    "holds an older copy of page 50,"},
        // Known limit: a fragment whose pages only the IAM page of their object vouches for,
        // when that IAM page lies at a higher page in a later fragment, is undecided when the
        // search reaches it and is passed over for good. In checksum-2014, pages 24-30 belong
        // to object 60, whose IAM page is page 129.
        LaidOutCase{"KnownLimit_FragmentBeforeTheIamPageOfItsObjectIsPassedOver",
                    "checksum-2014.mdf",
                    {{0, 24 * 16, 1000}, {24 * 16, 7 * 16, 3000}, {31 * 16, 369 * 16, 5000}},
                    std::nullopt,
                    {1000, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

// The header fragment is pages 0 and the first half of page 1 (its extent ends 8 sectors
// into the PFS page): only the PFS bytes of the first half are used, so the allocation of
// pages 3996 and up stays unknown, and the fragments are still chained through their owners.
TEST(LaidOutImageAnalysisTest, HeaderOfTwoPagesCutInsideItsPfsPageUsesTheFirstHalf) {
  gen::DatabaseSpec design;
  design.pageCount = 6000;
  design.seed = 31;
  gen::DatabaseGenerator target(design);
  test::ScratchDir dir;
  gen::Manifest manifest;
  const std::string image = dir.File("half.img");
  ASSERT_TRUE(BuildLaidOut(target,
                           {{0, 24, 1000}, {24, 8000, 3000}, {8024, 6000 * 16 - 8024, 20000}},
                           image, manifest)
                  .ok());
  test::ScriptedUi ui;
  const Analysed a = ScanAndAnalyse(image, manifest, 8);
  ASSERT_FALSE(a.rows.empty());
  EXPECT_TRUE(ChainedExactlyTheTarget(a, target));
  const auto header = std::find_if(a.rows.begin(), a.rows.end(),
                                   [](const FragmentRow& r) { return r.StartSector == 1000; });
  ASSERT_NE(header, a.rows.end());
  EXPECT_EQ(header->Pages(), 2);
  EXPECT_EQ(a.allocKnownBelow, 3996);
}

// A logical name of 128 characters leaves no double space before the path on page 32: no
// name is found ("get fileinfo2 error"), and the analysis goes on under c:\noname.mdf.
TEST(LaidOutImageAnalysisTest, PageThirtyTwoWithoutANameDoesNotEndTheAnalysis) {
  gen::DatabaseSpec design;
  design.pageCount = 1500;
  design.seed = 41;
  design.logicalName = std::string(128, 'L');
  gen::DatabaseGenerator target(design);
  test::ScratchDir dir;
  gen::Manifest manifest;
  const std::string image = dir.File("noname.img");
  gen::RawImageOptions o;
  o.seed = 41;
  o.sectorsPerCluster = 8;
  o.fragments = 8;
  ASSERT_TRUE(gen::BuildRawImage(target, {}, o, image, manifest).ok());
  const Analysed a = ScanAndAnalyse(image, manifest, 8);
  EXPECT_EQ(a.messages, std::vector<std::string>{"get fileinfo2 error"});
  EXPECT_EQ(a.name, kNoNameFile);
  EXPECT_TRUE(ChainedExactlyTheTarget(a, target));
  EXPECT_GT(a.chosen.size(), 3u);
}

}  // namespace
}  // namespace ravelin
