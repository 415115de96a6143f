// Raw images: the manifest must tell the truth about every byte that matters, and the same
// seed must give the same image.
#include "gen/image_raw.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "gen/image_decoys.h"
#include "gen/real_file_source.h"
#include "gen/sha256.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"

namespace ravelin::gen {
namespace {

using test::FragmentsHoldPages;
using test::ReadImageSectors;
using test::SourceSectors;
using test::SyntheticDatabase;

// The target at generation 1 and its look-alikes: generation 0 of the same database (older
// copy and stale pages), another database, and a secondary file (file id 3).
struct Decoys {
  test::GeneratedDatabase older{120, 7, 1, 0};
  test::GeneratedDatabase other{40, 99, 1, 0, "other"};
  test::GeneratedDatabase fileId3{40, 99, 3, 0, "other_2"};
  DecoySources Sources() const { return {&older, &older, &other, &fileId3}; }
};

RawImageOptions Busy(std::uint64_t seed) {
  RawImageOptions o;
  o.seed = seed;
  o.sectorsPerCluster = 4;
  o.fragments = 9;
  o.splitPages = 3;
  o.detachedTails = 1;
  o.lostExtents = 1;
  o.staleRuns = 3;
  o.otherDatabaseRuns = 2;
  o.otherFileIdRuns = 2;
  o.unreadableSectors = 6;
  return o;
}

TEST(RawImage, EveryFragmentHoldsItsFilesSectorsWhereTheManifestSays) {
  test::ScratchDir dir;
  test::GeneratedDatabase target(120, 7, 1, 1);
  Decoys decoys;
  Manifest m;
  ASSERT_TRUE(BuildRawImage(target, decoys.Sources(), Busy(11), dir.File("a.img"), m).ok());

  std::map<int, const PageSource*> sources = {{0, &target}};
  std::set<std::string> roles;
  for (std::size_t i = 1; i < m.files.size(); ++i) {
    roles.insert(m.files[i].role);
    const std::string& r = m.files[i].role;
    sources[static_cast<int>(i)] = r == "other-database"
                                       ? static_cast<const PageSource*>(&decoys.other)
                                   : r == "other-file-id" ? &decoys.fileId3
                                                          : &decoys.older;
  }
  EXPECT_EQ(roles, (std::set<std::string>{"older-copy", "stale-pages", "other-database",
                                          "other-file-id"}));
  EXPECT_EQ(m.files[0].fileId, 1);
  EXPECT_TRUE(FragmentsHoldPages(m, dir.File("a.img"), sources));

  struct stat st {};
  ASSERT_EQ(::stat(dir.File("a.img").c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), m.totalSectors * kSectorSize);

  // Pieces and noise tile the image without overlap, every piece cluster-aligned.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
  for (const ManifestFragment& f : m.fragments) {
    EXPECT_EQ(f.extent.diskSector % 4, 0u);
    spans.emplace_back(f.extent.diskSector, f.extent.diskSector + RoundUp(f.extent.sectorCount, 4));
  }
  for (const NoiseRegion& n : m.noise) spans.emplace_back(n.sector, n.sector + n.sectorCount);
  std::sort(spans.begin(), spans.end());
  for (std::size_t i = 1; i < spans.size(); ++i) EXPECT_EQ(spans[i - 1].second, spans[i].first);
  EXPECT_EQ(spans.back().second, m.totalSectors);
}

TEST(RawImage, AccountsForEveryPageOfTheTarget) {
  test::ScratchDir dir;
  test::GeneratedDatabase target(120, 7);
  Manifest m;
  ASSERT_TRUE(BuildRawImage(target, {}, Busy(12), dir.File("a.img"), m).ok());

  // Each page's header lies in exactly one fragment, or the page is listed as lost.
  std::vector<int> seen(120, 0);
  for (const ManifestFragment& f : m.FragmentsOf(0)) {
    for (std::int64_t p = f.firstPage; p < f.firstPage + f.pageCount; ++p) ++seen[p];
  }
  for (const PageRange& r : m.lostPages) {
    for (std::int64_t p = r.firstPage; p < r.firstPage + r.pageCount; ++p) ++seen[p];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 120);
  // The lost extent took page headers with it, or it was a split page's tail.
  EXPECT_TRUE(!m.lostPages.empty() ||
              std::any_of(m.damagedPages.begin(), m.damagedPages.end(),
                          [](const DamagedPage& d) { return d.reason == "partial"; }));
  EXPECT_EQ(m.FragmentsOf(0).front().firstPage, 0) << "the header page is never lost";
  EXPECT_EQ(m.unreadableSectors.size(), 6u);
  EXPECT_TRUE(std::any_of(m.damagedPages.begin(), m.damagedPages.end(),
                          [](const DamagedPage& d) { return d.reason == "unreadable"; }));
}

// A page cut by a cluster boundary: where its tail precedes the next page, the head sectors
// plus the sectors just before the next page rebuild it exactly; a detached tail does not.
// Pages with noise in every sector, so a zero tail can never match zero noise by chance.
TEST(RawImage, SplitPagesLieAsTheManifestDescribes) {
  test::ScratchDir dir;
  SyntheticDatabase target(120, 7);
  RawImageOptions o = Busy(13);
  o.lostExtents = 0;
  o.unreadableSectors = 0;
  Manifest m;
  ASSERT_TRUE(BuildRawImage(target, {}, o, dir.File("a.img"), m).ok());
  ASSERT_EQ(m.splitPages.size(), 3u);
  int repairable = 0;
  for (const SplitPage& s : m.splitPages) {
    EXPECT_EQ(s.headSectors % 4, 0u);
    EXPECT_LT(s.headSectors, 16u);
    const ManifestFragment* next = nullptr;
    for (const ManifestFragment& f : m.fragments) {
      if (f.file == 0 && f.pageCount > 0 && f.firstPage == s.page + 1) next = &f;
    }
    ASSERT_NE(next, nullptr);
    std::vector<std::uint8_t> page =
        ReadImageSectors(dir.File("a.img"), s.headSector, s.headSectors);
    const std::vector<std::uint8_t> tail = ReadImageSectors(
        dir.File("a.img"), next->startSector - (16 - s.headSectors), 16 - s.headSectors);
    page.insert(page.end(), tail.begin(), tail.end());
    const bool rebuilt = page == SourceSectors(target, static_cast<std::uint64_t>(s.page) * 16, 16);
    EXPECT_EQ(rebuilt, s.tailBeforeNextPage) << "page " << s.page;
    repairable += s.tailBeforeNextPage;
  }
  EXPECT_EQ(repairable, 2);
  EXPECT_EQ(std::count_if(m.damagedPages.begin(), m.damagedPages.end(),
                          [](const DamagedPage& d) { return d.reason == "split"; }),
            1);
}

TEST(RawImage, SameSeedSameImageOtherSeedOtherImage) {
  test::ScratchDir dir;
  test::GeneratedDatabase target(120, 7, 1, 1);
  Decoys decoys;
  Manifest a, b, c;
  ASSERT_TRUE(BuildRawImage(target, decoys.Sources(), Busy(5), dir.File("a.img"), a).ok());
  ASSERT_TRUE(BuildRawImage(target, decoys.Sources(), Busy(5), dir.File("b.img"), b).ok());
  ASSERT_TRUE(BuildRawImage(target, decoys.Sources(), Busy(6), dir.File("c.img"), c).ok());
  EXPECT_TRUE(test::FilesEqual(dir.File("a.img"), dir.File("b.img")));
  EXPECT_EQ(ManifestToJson(a), ManifestToJson(b));
  EXPECT_FALSE(test::FilesEqual(dir.File("a.img"), dir.File("c.img")));
}

TEST(RawImage, FixedSizeSpreadsTheSpareRoomAndLeavesZeroGapsAsHoles) {
  test::ScratchDir dir;
  test::GeneratedDatabase target(64, 3);
  RawImageOptions o;
  o.seed = 3;
  o.sectorsPerCluster = 16;
  o.fragments = 4;
  o.totalSectors = 40000;  // ~20 MiB, mostly gaps
  o.zeroGapShare = 1.0;
  Manifest m;
  ASSERT_TRUE(BuildRawImage(target, {}, o, dir.File("a.img"), m).ok());
  EXPECT_EQ(m.totalSectors, 40000u);
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("a.img").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 40000 * 512);
  EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 4u << 20) << "zero gaps not sparse";
  EXPECT_TRUE(FragmentsHoldPages(m, dir.File("a.img"), {{0, &target}}));

  o.totalSectors = 1000;  // 64 pages need 1024 sectors before any gap
  const Status tooSmall = BuildRawImage(target, {}, o, dir.File("b.img"), m);
  EXPECT_EQ(tooSmall.code(), StatusCode::kBadInput);
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.img")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.img.tmp")));
}

TEST(RawImage, ChosenExtentsLieExactlyWhereAsked) {
  test::ScratchDir dir;
  SyntheticDatabase target(10, 4);
  RawImageOptions o;
  o.sectorsPerCluster = 8;
  o.totalSectors = 4096;
  o.otherDatabaseRuns = 2;
  SyntheticDatabase other(20, 5);
  // Pages 4-9 first on the disk, then pages 0-3 further on, the last page cut in half.
  o.extents = {{64, 96, 800}, {0, 56, 2000}};
  Manifest m;
  ASSERT_TRUE(
      BuildRawImage(target, {nullptr, nullptr, &other, nullptr}, o, dir.File("a.img"), m).ok());
  const std::vector<ManifestFragment> fragments = m.FragmentsOf(0);
  ASSERT_EQ(fragments.size(), 2u);
  EXPECT_EQ(fragments[0].startSector, 2000u);
  EXPECT_EQ(fragments[0].pageCount, 4);  // page 3's header is there, its last 8 sectors not
  EXPECT_EQ(fragments[1].startSector, 800u);
  EXPECT_EQ(fragments[1].firstPage, 4);
  ASSERT_EQ(m.damagedPages.size(), 1u);
  EXPECT_EQ(m.damagedPages[0].page, 3);
  EXPECT_EQ(m.damagedPages[0].reason, "partial");
  EXPECT_TRUE(FragmentsHoldPages(m, dir.File("a.img"), {{0, &target}, {1, &other}}));

  o.extents = {{0, 160, 801}};
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("b.img"), m).code(), StatusCode::kBadInput);
  o.extents = {{0, 160, 800}, {150, 10, 2000}};
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("b.img"), m).code(), StatusCode::kBadInput);
}

TEST(RawImage, RefusesLayoutsThatCannotExist) {
  test::ScratchDir dir;
  test::GeneratedDatabase target(40, 1);
  Manifest m;
  RawImageOptions o;
  o.sectorsPerCluster = 3;
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o.sectorsPerCluster = 16;
  o.splitPages = 1;  // a 16-sector cluster never cuts a page
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o.splitPages = 0;
  o.fragments = 50;  // more fragments than pages
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o.fragments = 3;
  o.lostExtents = 3;
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
}

TEST(RawImage, CarriesARealDatabaseFileWithItsKnownDigest) {
  std::unique_ptr<RealFileSource> real;
  const Status opened = RealFileSource::Open(test::RealFilePath("checksum-2005.mdf"), real);
  if (!opened.ok()) GTEST_SKIP() << opened.message();
  test::ScratchDir dir;
  PatchedPageSource stale(*real, {std::nullopt, 40}, "stale");
  RawImageOptions o;
  o.sectorsPerCluster = 8;
  o.fragments = 5;
  o.splitPages = 1;
  o.staleRuns = 3;
  Manifest m;
  ASSERT_TRUE(
      BuildRawImage(*real, {nullptr, &stale, nullptr, nullptr}, o, dir.File("a.img"), m).ok());
  EXPECT_EQ(m.files[0].sha256, "8cebaf14a70570cb68b3fdee6dd2ba593cbd8c5c66e97a7df320ef12f7ee503d");
  EXPECT_EQ(m.files[0].pageCount, 280);
  EXPECT_TRUE(FragmentsHoldPages(m, dir.File("a.img"), {{0, real.get()}, {1, &stale}}));
}

}  // namespace
}  // namespace ravelin::gen
