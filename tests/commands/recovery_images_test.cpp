// Whole recoveries on generated disk images, one per way a rebuilt file used to go wrong
// without a word: scan the image as a whole disk (one sector per cluster, as an image file
// reports), analyse each target's header fragment in automatic mode, write the MDF, and hold
// every page against the original. Each case prints its counts (the evidence for the
// accuracy work) and asserts the mended result and its memo line.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>

#include "analysis/file_identification.h"
#include "assembly/page_account.h"
#include "commands/scan_commands.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "gen/database_generator.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/real_file_source.h"
#include "gen/sample_image.h"
#include "page/page_format.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Where `file`'s page 0 has its header sector on the image.
std::optional<std::uint64_t> HeaderSector(const gen::Manifest& manifest, int file) {
  for (const auto& f : manifest.FragmentsOf(file))
    if (f.extent.fileSector == 0) return f.extent.diskSector;
  return std::nullopt;
}

struct Recovery {
  std::vector<std::uint8_t> file;  // the rebuilt MDF
  std::vector<std::string> memo2, memo3;
  std::vector<std::string> check;  // Memo3 after CHECK
  PageAccount account;             // taken while writing
};

// Scan, analyse the header fragment at `header`, sort the Assembly list and write the MDF.
Recovery Recover(const std::string& image, const gen::Manifest& manifest, std::uint64_t header,
                 const test::ScratchDir& dir) {
  test::ScriptedUi ui;
  Workspace ws(ui);
  test::ChooseImageForScan(ws, image, manifest.totalSectors);
  Recovery result;
  if (ScanDataSource(ws).outcome != JobOutcome::kCompleted) return result;
  PageControl1Change(ws, kTabAnalysis);
  for (std::size_t i = 0; i < ws.ListView3().Count(); ++i)
    if (ws.ListView3().Row(i).Cell(file_column::kStartSector) == std::to_string(header))
      test::EditList(ws, ws.ListView3()).SetCurrent(static_cast<std::ptrdiff_t>(i));
  ListView3Click(ws);
  Button1Click(ws);
  EXPECT_TRUE(ws.jobs().WaitIdle(std::chrono::minutes(5)));
  ws.jobs().JoinAll();
  ListView4ColumnClick(ws, 2);
  Button5Click(ws);
  result.check = ui.MemoLines(Memo::kMemo3);
  ui.ClearMemo(Memo::kMemo3);
  const std::string out = dir.File("rebuilt.mdf");
  if (!CreateMdf(ws, out, &result.account)) return result;
  result.file = test::ReadImageSectors(out, 0, static_cast<std::uint64_t>(ws.FilePageCount()) * 16);
  result.memo2 = ui.MemoLines(Memo::kMemo2);
  result.memo3 = ui.MemoLines(Memo::kMemo3);
  return result;
}

// Page by page against the original (and the other version, where there is one).
struct Counts {
  std::int64_t pages = 0, right = 0, allocated = 0, allocatedRight = 0, wrong = 0, foreign = 0;
  std::int64_t unrecoverable = 0;
  std::int64_t wrongAllocated = 0;  // allocated pages written with wrong bytes (not zero)
  std::vector<std::int64_t> wrongPages, missingPages;  // non-zero and wrong; zero and wrong
  bool identical() const { return right == pages; }
};

Counts Compare(const std::vector<std::uint8_t>& rebuilt, const gen::PageSource& original,
               const gen::PageSource* other, const gen::Manifest& manifest, int file) {
  Counts c;
  c.pages = original.PageCount();
  for (const gen::PageRange& r : manifest.UnrecoverablePages(file)) c.unrecoverable += r.pageCount;
  test::Page page{}, pfs{}, theirs{};
  original.ReadPage(1, pfs);
  RestoreTornBits(pfs);
  const std::size_t pfsBytes = Load16(pfs, kPageSize - 2) + 4u;
  for (std::int64_t n = 0; n < c.pages; ++n) {
    original.ReadPage(n, page);
    const auto at = static_cast<std::size_t>(n) * kPageSize;
    const bool present = rebuilt.size() >= at + kPageSize;
    const bool same = present && std::equal(page.begin(), page.end(), rebuilt.begin() + at);
    const bool allocated = n < 8088 && (pfs[pfsBytes + static_cast<std::size_t>(n)] & 0x40);
    c.right += same;
    c.allocated += allocated;
    c.allocatedRight += allocated && same;
    if (same || !present) continue;
    if (std::all_of(rebuilt.begin() + at, rebuilt.begin() + at + kPageSize,
                    [](std::uint8_t b) { return b == 0; })) {
      c.missingPages.push_back(n);
      continue;
    }
    ++c.wrong;
    c.wrongAllocated += allocated;
    c.wrongPages.push_back(n);
    if (other != nullptr) {
      other->ReadPage(n, theirs);
      c.foreign += std::equal(theirs.begin(), theirs.end(), rebuilt.begin() + at);
    }
  }
  return c;
}

std::ostream& operator<<(std::ostream& out, const Counts& c) {
  out << "identical " << (c.identical() ? "yes" : "no") << ", pages right " << c.right << "/"
      << c.pages << ", allocated pages right " << c.allocatedRight << "/" << c.allocated
      << ", wrong pages written " << c.wrong << " (of the other version " << c.foreign
      << "), unrecoverable " << c.unrecoverable;
  for (const auto& [what, pages] :
       {std::pair{" wrong:", &c.wrongPages}, std::pair{" zero (not chained):", &c.missingPages}}) {
    if (pages->empty()) continue;
    out << ";" << what;
    for (const std::int64_t n : *pages) out << ' ' << n;
  }
  return out;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

// CHECK gives the summary of the file CREATE MDF then writes; the account taken while
// writing is the one the written file gives when read back, with the writer's repairs and
// the pages it zero-filled named (read back, a zero page in use is only all zero); and no
// page written wrong is called verified.
void ExpectHonestAccount(const Recovery& r, const Counts& counts) {
  const auto done = std::find(r.check.begin(), r.check.end(), "检测完毕");
  ASSERT_NE(done, r.check.end());
  EXPECT_EQ(std::vector<std::string>(done + 1, r.check.end()), r.account.SummaryLines());
  const std::int64_t pages = static_cast<std::int64_t>(r.file.size() / kPageSize);
  const PageAccount readBack = AccountPages(pages, [&r](std::int64_t n, MutablePage page) {
    std::copy_n(r.file.begin() + n * static_cast<std::int64_t>(kPageSize), kPageSize, page.begin());
    return true;
  });
  ASSERT_EQ(r.account.verdicts.size(), readBack.verdicts.size());
  EXPECT_EQ(r.account.allocated, readBack.allocated);
  for (std::size_t n = 0; n < readBack.verdicts.size(); ++n) {
    const PageVerdict written = r.account.verdicts[n], read = readBack.verdicts[n];
    if (written == PageVerdict::kRepaired) {
      EXPECT_TRUE(read == PageVerdict::kProtection || read == PageVerdict::kStructure) << n;
    } else if (written == PageVerdict::kMissingAllocated) {
      EXPECT_TRUE(read == PageVerdict::kAllocatedZero || read == PageVerdict::kMissingAllocated ||
                  (read == PageVerdict::kZeroFree && r.account.allocated[n] == 0xFF))
          << n;
    } else if (written != PageVerdict::kUncertain) {
      EXPECT_EQ(written, read) << n;
    }
  }
  for (const std::int64_t n : counts.wrongPages) {
    const auto i = static_cast<std::size_t>(n);
    if (i >= r.account.verdicts.size() || r.account.allocated[i] == 0) continue;
    const PageVerdict v = r.account.verdicts[i];
    EXPECT_TRUE(v == PageVerdict::kUncertain || v == PageVerdict::kDamaged ||
                v == PageVerdict::kUnverifiable)
        << "page " << n << " written wrong but " << VerdictName(v);
  }
}

struct RecoveryCase {
  const char* name;
  const char* realFile;  // null: a generated database (generation 2)
  std::uint32_t cluster;
  int splitPages, splitBeforeZero;
  bool twoVersions;  // the older generation is a second target, right after the header
  std::uint64_t seed;
  const char* memo3Line;  // a line Memo3 must hold for some target (null: none asked)
  const char* memo2Line;  // likewise for Memo2
  gen::PageVerify verify = gen::PageVerify::kChecksum;  // of a generated database
  int fragments = 10;
};

std::ostream& operator<<(std::ostream& out, const RecoveryCase& c) { return out << c.name; }

class RecoveryImageTest : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(RecoveryImageTest, EachTargetComesBackAsItsOwnVersion) {
  const RecoveryCase c = GetParam();
  std::unique_ptr<gen::RealFileSource> real;
  std::unique_ptr<gen::DatabaseGenerator> newer, olderGenerated;
  std::unique_ptr<gen::PatchedPageSource> olderReal;
  const gen::PageSource* target = nullptr;
  const gen::PageSource* older = nullptr;
  if (c.realFile != nullptr) {
    const gen::Status opened = gen::RealFileSource::Open(test::RealFilePath(c.realFile), real);
    if (!opened.ok()) GTEST_SKIP() << opened.message();
    target = real.get();
    olderReal = std::make_unique<gen::PatchedPageSource>(*real, gen::PagePatch{std::nullopt, 1000},
                                                         "older.mdf");
    older = olderReal.get();
  } else {
    gen::DatabaseSpec design;
    design.pageCount = 1200;
    design.seed = c.seed;
    design.generation = 2;
    design.verify = c.verify;
    newer = std::make_unique<gen::DatabaseGenerator>(design);
    design.generation = 1;
    olderGenerated = std::make_unique<gen::DatabaseGenerator>(design);
    target = newer.get();
    older = olderGenerated.get();
  }
  std::vector<const gen::PageSource*> targets{target};
  if (c.twoVersions) targets.push_back(older);

  test::ScratchDir dir;
  gen::Manifest manifest;
  const std::string image = dir.File("image.img");
  gen::RawImageOptions o;
  o.seed = c.seed;
  o.sectorsPerCluster = c.cluster;
  o.fragments = c.fragments;
  o.splitPages = c.splitPages;
  o.splitBeforeZeroPage = c.splitBeforeZero;
  o.olderAfterHeader = c.twoVersions;
  o.maxGapClusters = std::max(2u, 64u / c.cluster);
  ASSERT_TRUE(gen::BuildRawImage(targets, {}, o, image, manifest).ok());

  bool memo3Seen = c.memo3Line == nullptr, memo2Seen = c.memo2Line == nullptr;
  const std::vector<int> files = manifest.TargetFiles();
  for (std::size_t t = 0; t < files.size(); ++t) {
    const std::optional<std::uint64_t> header = HeaderSector(manifest, files[t]);
    ASSERT_TRUE(header.has_value());
    const Recovery r = Recover(image, manifest, *header, dir);
    const gen::PageSource& original = *targets[t];
    const gen::PageSource* other = targets.size() > 1 ? targets[1 - t] : nullptr;
    const Counts counts = Compare(r.file, original, other, manifest, files[t]);
    std::cout << "RECOVERY " << c.name << " / " << original.Name() << ": " << counts << '\n';
    for (const auto& line : r.memo3)
      if (line != "组合完毕") std::cout << "  memo3: " << line << '\n';
    for (const auto& line : r.memo2)
      if (line.rfind("找到碎片号", 0) != 0) std::cout << "  memo2: " << line << '\n';
    // No allocated page is written wrong without a word: a page the repair could not decide
    // is kept as read and reported uncertain. Pages not chained (zero) are left to the search
    // for missing fragments; free pages may hold anything.
    const auto uncertain = std::count_if(r.memo3.begin(), r.memo3.end(), [](const auto& l) {
      return l.find("不确定") != std::string::npos;
    });
    EXPECT_LE(counts.wrongAllocated, uncertain) << original.Name();
    EXPECT_EQ(counts.foreign, 0) << original.Name();
    ExpectHonestAccount(r, counts);
    if (c.memo3Line != nullptr) memo3Seen = memo3Seen || HasLine(r.memo3, c.memo3Line);
    if (c.memo2Line != nullptr) memo2Seen = memo2Seen || HasLine(r.memo2, c.memo2Line);
  }
  EXPECT_TRUE(memo3Seen) << c.memo3Line;
  EXPECT_TRUE(memo2Seen) << c.memo2Line;
}

INSTANTIATE_TEST_SUITE_P(
    Images, RecoveryImageTest,
    ::testing::Values(RecoveryCase{"SplitPagesAtOneSectorPerCluster", nullptr, 4, 4, 0, false, 3,
                                   nullptr, nullptr},
                      RecoveryCase{"SplitPageBeforeAZeroPage", nullptr, 4, 3, 1, false, 5,
                                   "修复页面", nullptr},
                      RecoveryCase{"TwoGenerationsOlderNearerTheHeader", nullptr, 8, 0, 0, true, 7,
                                   nullptr, "跳过碎片号"},
                      RecoveryCase{"TornPageSplitsAtOneSectorClusters", nullptr, 1, 12, 0, false,
                                   13, nullptr, nullptr, gen::PageVerify::kTornPage, 24},
                      RecoveryCase{"ChecksumSplitsAtTwoSectorClusters", nullptr, 2, 12, 0, false,
                                   15, nullptr, nullptr, gen::PageVerify::kChecksum, 24},
                      RecoveryCase{"TornPage2008SplitPages", "tornpage-2008r2.mdf", 2, 4, 0, false,
                                   9, nullptr, nullptr},
                      RecoveryCase{"Checksum2014TwoVersionsSplitPages", "checksum-2014.mdf", 4, 3,
                                   0, true, 11, "页面", "版本选择"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ravelin

namespace ravelin {
namespace {

// The built-in sample disk: FAT32 with 4-sector clusters, checksum-2014.mdf and its older
// copy (LSNs 1000 log blocks lower, one byte changed per page) both deleted, the older
// after the newer. Scanned as a whole disk, one sector per cluster.
TEST(SampleRecoveryTest, BothCopiesOfTheSampleDisk) {
  RAVELIN_LOAD_REAL_OR_SKIP(facts, "checksum-2014.mdf");
  test::ScratchDir dir;
  gen::Manifest manifest;
  gen::SampleOptions options;
  options.realDir = test::RealFilePath("");
  options.originalsDir = dir.File("");
  gen::SampleFiles names;
  const std::string image = dir.File("sample.img");
  ASSERT_TRUE(gen::BuildSample(options, image, manifest, &names).ok());
  std::unique_ptr<gen::RealFileSource> newer, older;
  ASSERT_TRUE(gen::RealFileSource::Open(dir.File(names.database), newer).ok());
  ASSERT_TRUE(gen::RealFileSource::Open(dir.File(names.older), older).ok());
  const std::vector<int> files = manifest.TargetFiles();
  ASSERT_EQ(files.size(), 2u);
  const gen::PageSource* sources[] = {newer.get(), older.get()};
  for (std::size_t t = 0; t < 2; ++t) {
    const Recovery r = Recover(image, manifest, *HeaderSector(manifest, files[t]), dir);
    const Counts counts = Compare(r.file, *sources[t], sources[1 - t], manifest, files[t]);
    std::cout << "RECOVERY Sample / " << manifest.files[static_cast<std::size_t>(files[t])].name
              << ": " << counts << '\n';
    for (const auto& line : r.memo3)
      if (line != "组合完毕") std::cout << "  memo3: " << line << '\n';
    for (const auto& line : r.memo2)
      if (line.rfind("找到碎片号", 0) != 0) std::cout << "  memo2: " << line << '\n';
    EXPECT_EQ(counts.foreign, 0);
  }
  (void)facts;
}

}  // namespace
}  // namespace ravelin
