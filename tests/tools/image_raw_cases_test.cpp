// Raw images with several deleted databases and with hard cases placed on purpose: the
// manifest must say where each case lies, and every page it does not list as unrecoverable
// must come back from the extents it lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "gen/image_raw.h"
#include "gen/pfs_reader.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"

namespace ravelin::gen {
namespace {

using test::GeneratedDatabase;
using test::ReadImageSectors;
using test::SourceSectors;

std::vector<HardCase> CasesOf(const Manifest& m, const std::string& kind) {
  std::vector<HardCase> out;
  for (const HardCase& h : m.hardCases) {
    if (h.kind == kind) out.push_back(h);
  }
  return out;
}

bool IsZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Pages of nothing but noise: no PFS page, no zero page.
class NoiseFile : public PageSource {
 public:
  std::int64_t PageCount() const override { return 200; }
  void ReadPage(std::int64_t n, MutablePage out) const override {
    for (std::size_t i = 0; i < kPageSize; ++i) {
      out[i] = static_cast<std::uint8_t>(1 + (i * 31 + static_cast<std::size_t>(n)) % 251);
    }
  }
  std::string Name() const override { return "noise"; }
};

RawImageOptions BusyCase(std::uint64_t seed) {
  RawImageOptions o;
  o.seed = seed;
  o.sectorsPerCluster = 4;
  o.fragments = 10;
  o.splitPages = 4;
  o.detachedTails = 1;
  o.splitBeforeZeroPage = 1;
  o.lostExtents = 1;
  o.unreadableSectors = 6;
  return o;
}

// Two different databases, and two generations of one, each deleted and cut up; whatever
// the manifest does not give up on comes back byte for byte.
TEST(RawImageTargets, EveryTargetComesBackExceptItsUnrecoverablePages) {
  GeneratedDatabase shop(200, 7, 1, 2);
  GeneratedDatabase shopOlder(200, 7, 1, 1);
  GeneratedDatabase stock(150, 8, 1, 0, "stock");
  struct Case {
    const char* name;
    std::vector<const PageSource*> targets;
    bool olderAfterHeader;
  };
  for (const Case& c : {Case{"two databases", {&shop, &stock}, false},
                        Case{"two generations", {&shop, &shopOlder}, true}}) {
    SCOPED_TRACE(c.name);
    for (std::uint64_t seed : {1, 2}) {
      SCOPED_TRACE(seed);
      test::ScratchDir dir;
      const std::string image = dir.File("a.img");
      RawImageOptions o = BusyCase(seed);
      o.olderAfterHeader = c.olderAfterHeader;
      Manifest m;
      const Status s = BuildRawImage(c.targets, {}, o, image, m);
      ASSERT_TRUE(s.ok()) << s.message();
      ASSERT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
      EXPECT_TRUE(test::FragmentsHoldPages(m, image, {{0, c.targets[0]}, {1, c.targets[1]}}));
      for (int t : {0, 1}) {
        EXPECT_TRUE(test::EqualExceptUnrecoverable(m, t, test::RebuildFromManifest(m, image, t),
                                                   *c.targets[t]));
        std::int64_t unrecoverable = 0;
        for (const PageRange& r : m.UnrecoverablePages(t)) unrecoverable += r.pageCount;
        EXPECT_GT(unrecoverable, 0) << "a lost fragment and a detached tail per target";
        EXPECT_LT(unrecoverable, m.files[t].pageCount / 2);
        EXPECT_EQ(m.FragmentsOf(t).front().firstPage, 0);
      }
    }
  }
}

TEST(RawImageTargets, OlderCopyLiesRightAfterTheNewerHeaderFragment) {
  GeneratedDatabase newer(200, 9, 1, 3);
  GeneratedDatabase older(200, 9, 1, 2);
  for (std::uint64_t seed : {4, 5, 6}) {
    SCOPED_TRACE(seed);
    test::ScratchDir dir;
    const std::string image = dir.File("a.img");
    RawImageOptions o = BusyCase(seed);
    o.olderAfterHeader = true;
    o.otherDatabaseRuns = 3;
    GeneratedDatabase other(100, 10, 1, 0, "other");
    Manifest m;
    const Status s =
        BuildRawImage({&newer, &older}, {nullptr, nullptr, &other, nullptr}, o, image, m);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_LT(m.files[1].headerLsn, m.files[0].headerLsn);
    if (seed == 4) {
      Manifest again;
      ASSERT_TRUE(BuildRawImage({&newer, &older}, {nullptr, nullptr, &other, nullptr}, o,
                                dir.File("b.img"), again)
                      .ok());
      EXPECT_TRUE(test::FilesEqual(image, dir.File("b.img")));
      EXPECT_EQ(ManifestToJson(again), ManifestToJson(m));
    }

    const ManifestFragment header = m.FragmentsOf(0).front();
    const std::uint64_t headerEnd = header.extent.fileSector + header.extent.sectorCount;
    const std::uint64_t diskEnd = header.extent.diskSector + header.extent.sectorCount;
    // The first thing on the disk after the header fragment: the older copy, one cluster on,
    // holding the same file sectors that would follow the header fragment.
    const ManifestFragment* next = nullptr;
    for (const ManifestFragment& f : m.fragments) {
      if (f.extent.diskSector >= diskEnd &&
          (!next || f.extent.diskSector < next->extent.diskSector))
        next = &f;
    }
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->file, 1);
    EXPECT_EQ(next->extent.diskSector, RoundUp(diskEnd, 4) + 4);
    EXPECT_EQ(next->extent.fileSector, headerEnd);
    const std::vector<HardCase> cases = CasesOf(m, "older-after-header");
    ASSERT_EQ(cases.size(), 1u);
    EXPECT_EQ(cases[0].sector, next->extent.diskSector);
    EXPECT_EQ(cases[0].other, 1);
    EXPECT_EQ(cases[0].page, static_cast<std::int64_t>((headerEnd + 15) / 16));
    // Every piece of the older copy follows in one block, in file order after the wrap.
    std::vector<ManifestFragment> olderPieces = m.FragmentsOf(1);
    std::sort(olderPieces.begin(), olderPieces.end(), [](const auto& a, const auto& b) {
      return a.extent.diskSector < b.extent.diskSector;
    });
    EXPECT_EQ(olderPieces.front().extent.diskSector, next->extent.diskSector);
    for (const ManifestFragment& f : m.fragments) {
      if (f.file != 1 && f.extent.diskSector > olderPieces.front().extent.diskSector) {
        EXPECT_GT(f.extent.diskSector, olderPieces.back().extent.diskSector);
      }
    }
  }
}

// The next page is zero and free: what lies after the tail is 16 zero sectors and then the
// page after it, so a scan sees a fragment start one page after the tail.
TEST(RawImageCases, SplitBeforeAZeroPageLiesAsTheManifestSays) {
  GeneratedDatabase target(600, 11, 1, 1);
  for (std::uint32_t cluster : {2u, 4u, 8u}) {
    SCOPED_TRACE(cluster);
    test::ScratchDir dir;
    const std::string image = dir.File("a.img");
    RawImageOptions o = BusyCase(cluster);
    o.sectorsPerCluster = cluster;
    o.splitBeforeZeroPage = 2;
    o.lostExtents = 0;
    o.unreadableSectors = 0;
    Manifest m;
    const Status s = BuildRawImage(target, {}, o, image, m);
    ASSERT_TRUE(s.ok()) << s.message();
    const std::vector<HardCase> cases = CasesOf(m, "split-before-zero-page");
    ASSERT_GE(cases.size(), 2u);
    for (const HardCase& h : cases) {
      const PageInfo next = target.Truth(h.page + 1);
      EXPECT_TRUE(next.zero && !next.allocated) << "page " << h.page + 1;
      const auto split = std::find_if(m.splitPages.begin(), m.splitPages.end(),
                                      [&](const SplitPage& p) { return p.page == h.page; });
      ASSERT_NE(split, m.splitPages.end());
      EXPECT_TRUE(split->tailBeforeNextPage && split->nextPageZero);
      const std::uint32_t tail = 16 - split->headSectors;
      std::vector<std::uint8_t> page =
          ReadImageSectors(image, split->headSector, split->headSectors);
      const std::vector<std::uint8_t> rest = ReadImageSectors(image, h.sector, tail);
      page.insert(page.end(), rest.begin(), rest.end());
      EXPECT_EQ(page, SourceSectors(target, h.page * 16, 16));
      EXPECT_TRUE(IsZero(ReadImageSectors(image, h.sector + tail, 16)));
      EXPECT_EQ(ReadImageSectors(image, h.sector + tail + 16, 16),
                SourceSectors(target, (h.page + 2) * 16, 16));
    }
    for (const HardCase& h : CasesOf(m, "detached-tail")) {
      const auto split = std::find_if(m.splitPages.begin(), m.splitPages.end(),
                                      [&](const SplitPage& p) { return p.page == h.page; });
      ASSERT_NE(split, m.splitPages.end());
      EXPECT_FALSE(split->tailBeforeNextPage);
      EXPECT_EQ(ReadImageSectors(image, h.sector, 16 - split->headSectors),
                SourceSectors(target, h.page * 16 + split->headSectors, 16 - split->headSectors));
    }
    EXPECT_EQ(CasesOf(m, "detached-tail").size(), 1u);
  }
}

// Pages of another database whose page ids the target's PFS pages mark free; checked
// against the generator's own truth rather than the PFS reader that chose them.
TEST(RawImageCases, ForeignPagesTakeIdsTheTargetHasFree) {
  GeneratedDatabase target(500, 12, 1, 1);
  GeneratedDatabase other(500, 13, 1, 0, "other");
  test::ScratchDir dir;
  const std::string image = dir.File("a.img");
  RawImageOptions o;
  o.seed = 3;
  o.otherDatabaseRuns = 6;
  o.otherDatabaseOnFreePages = true;
  Manifest m;
  const Status s = BuildRawImage(target, {nullptr, nullptr, &other, nullptr}, o, image, m);
  ASSERT_TRUE(s.ok()) << s.message();
  const std::vector<HardCase> cases = CasesOf(m, "foreign-pages-on-free-ids");
  ASSERT_EQ(cases.size(), 6u);
  for (const HardCase& h : cases) {
    EXPECT_EQ(m.files[h.other].role, "other-database");
    EXPECT_EQ(h.file, 0);
    EXPECT_EQ(ReadImageSectors(image, h.sector, h.pageCount * 16),
              SourceSectors(other, h.page * 16, h.pageCount * 16));
    for (std::int64_t p = h.page; p < h.page + h.pageCount; ++p) {
      EXPECT_FALSE(target.Truth(p).allocated) << "page " << p;
      EXPECT_FALSE(other.Truth(p).zero) << "page " << p;
    }
  }
}

TEST(PfsReader, AgreesWithTheGeneratorsTruth) {
  for (PageVerify verify : {PageVerify::kChecksum, PageVerify::kTornPage}) {
    DatabaseSpec design;
    design.pageCount = 9000;  // two PFS pages
    design.verify = verify;
    design.seed = 14;
    const DatabaseGenerator db(design);
    const PfsReader pfs(db);
    for (std::int64_t n = 0; n < db.PageCount(); ++n) {
      ASSERT_EQ(pfs.Free(n), !db.Truth(n).allocated) << "page " << n;
    }
    EXPECT_FALSE(pfs.Byte(db.PageCount()).has_value());
    EXPECT_FALSE(pfs.Byte(-1).has_value());
  }
  // Without PFS pages nothing is free.
  const NoiseFile noise;
  const PfsReader none(noise);
  for (std::int64_t n = 0; n < noise.PageCount(); ++n) EXPECT_FALSE(none.Free(n));
}

TEST(RawImageCases, RefusesCasesTheFilesCannotMake) {
  test::ScratchDir dir;
  GeneratedDatabase target(200, 15);
  const NoiseFile noZeros;
  Manifest m;
  RawImageOptions o = BusyCase(1);
  o.olderAfterHeader = true;  // needs a second target
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o = BusyCase(1);
  o.splitBeforeZeroPage = 4;  // with one detached tail, more than the 4 split pages
  EXPECT_EQ(BuildRawImage(target, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o = BusyCase(1);
  EXPECT_EQ(BuildRawImage(noZeros, {}, o, dir.File("a.img"), m).code(), StatusCode::kBadInput);
  o = RawImageOptions{};
  o.otherDatabaseRuns = 1;
  o.otherDatabaseOnFreePages = true;  // no PFS page says any page is free
  EXPECT_EQ(
      BuildRawImage(noZeros, {nullptr, nullptr, &target, nullptr}, o, dir.File("a.img"), m).code(),
      StatusCode::kBadInput);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.img")));
}

}  // namespace
}  // namespace ravelin::gen
