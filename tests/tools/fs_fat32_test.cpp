// FAT32 images made by mkfs.vfat and mtools: the file system must check clean, the deleted
// database's clusters must be free in the FAT and still hold its pages.
#include "gen/fs_fat32.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "gen/fs_tools.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"

namespace ravelin::gen {
namespace {

using test::FragmentsHoldPages;
using test::GeneratedDatabase;

std::uint32_t FatEntry(const std::string& image, const PartitionInfo& p, std::uint64_t cluster) {
  const std::uint64_t byte =
      p.startSector * kSectorSize + p.reservedSectors * kSectorSize + 4 * cluster;
  const std::vector<std::uint8_t> sector = test::ReadImageSectors(image, byte / kSectorSize, 1);
  return Load32(sector, byte % kSectorSize) & 0x0FFFFFFF;
}

Fat32ImageOptions SmallFat(std::uint64_t seed) {
  Fat32ImageOptions o;
  o.seed = seed;
  o.sectorsPerCluster = 2;  // a page spans 8 clusters: holes cut pages
  o.decoys.count = 8;
  o.decoys.minClusters = 3;
  o.decoys.maxClusters = 30;
  return o;
}

TEST(Fat32Image, DeletedDatabaseLiesFragmentedInFreeClustersOfACleanFileSystem) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat", "mdir");
  test::ScratchDir dir;
  const std::string image = dir.File("f.img");
  GeneratedDatabase target(90, 21, 1, 1);
  GeneratedDatabase older(90, 21, 1, 0);
  Fat32ImageOptions o = SmallFat(4);
  o.decoys.olderCopy = &older;
  Manifest m;
  const Status s = BuildFat32Image(target, o, image, m);
  ASSERT_TRUE(s.ok()) << s.message();

  EXPECT_EQ(RunTool({"fsck.vfat", "-n", image}).exitCode, 0);
  const ToolResult listing = RunTool({"mdir", "-b", "-i", image, "::/"});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_EQ(listing.out.find("DATA.MDF"), std::string::npos) << "the database was deleted";
  EXPECT_NE(listing.out.find("DECOY001.BIN"), std::string::npos);
  EXPECT_EQ(listing.out.find("DECOY002.BIN"), std::string::npos) << "every other decoy deleted";
  EXPECT_NE(listing.out.find("OLDCOPY.MDF"), std::string::npos);

  ASSERT_TRUE(m.partition.has_value());
  const PartitionInfo& p = *m.partition;
  EXPECT_EQ(p.fileSystem, "FAT32");
  EXPECT_GE(p.clusterCount, kFat32MinClusters);
  EXPECT_EQ(p.dataStartSector, p.reservedSectors + 2 * p.sectorsPerFat);
  const std::vector<ManifestFragment> fragments = m.FragmentsOf(0);
  EXPECT_GT(fragments.size(), 2u) << "the database should land in several holes";
  std::uint64_t sectors = 0;
  for (const ManifestFragment& f : fragments) {
    sectors += f.extent.sectorCount;
    for (std::uint64_t s = f.extent.diskSector; s < f.extent.diskSector + f.extent.sectorCount;
         s += 2) {
      const std::uint64_t cluster = (s - p.dataStartSector) / 2 + 2;
      ASSERT_EQ(FatEntry(image, p, cluster), 0u) << "cluster " << cluster << " still allocated";
    }
  }
  EXPECT_EQ(sectors, 90u * 16) << "nothing overwrote the deleted file";
  EXPECT_TRUE(m.lostPages.empty());
  EXPECT_TRUE(FragmentsHoldPages(m, image, {{0, &target}, {1, &older}}));
  EXPECT_EQ(m.files[1].role, "older-copy");
  // The live copy's clusters are in use.
  for (const ManifestFragment& f : m.FragmentsOf(1)) {
    EXPECT_NE(FatEntry(image, p, (f.extent.diskSector - p.dataStartSector) / 2 + 2), 0u);
  }
}

TEST(Fat32Image, AFileWrittenAfterTheDeletionTakesSomeOfItsPages) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::ScratchDir dir;
  GeneratedDatabase target(90, 22);
  Fat32ImageOptions o = SmallFat(5);
  o.overwriteClusters = 80;  // 160 sectors: 10 pages' worth
  Manifest m;
  ASSERT_TRUE(BuildFat32Image(target, o, dir.File("f.img"), m).ok());
  std::int64_t lost = 0;
  for (const PageRange& r : m.lostPages) lost += r.pageCount;
  EXPECT_GE(lost, 9);
  EXPECT_GT(m.FragmentsOf(0).front().pageCount, 0);
  EXPECT_EQ(m.FragmentsOf(0).front().firstPage, 0) << "overwriting starts mid-file";
  const auto newFile = std::find_if(m.liveFiles.begin(), m.liveFiles.end(),
                                    [](const LiveFile& l) { return l.name == "NEWFILE.BIN"; });
  ASSERT_NE(newFile, m.liveFiles.end());
  EXPECT_TRUE(FragmentsHoldPages(m, dir.File("f.img"), {{0, &target}}));
}

// Two generations of one database, each copied into holes of its own and deleted: both are
// free in the FAT, both fragmented, and each comes back from its extents but for the pages
// a file written afterwards took from the first.
TEST(Fat32Image, TwoDeletedGenerationsEachLieInFreeClusters) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat", "mdir");
  test::ScratchDir dir;
  const std::string image = dir.File("f.img");
  GeneratedDatabase newer(120, 24, 1, 2);
  GeneratedDatabase older(120, 24, 1, 1);
  Fat32ImageOptions o = SmallFat(7);
  o.sectorsPerCluster = 4;
  o.overwriteClusters = 12;
  Manifest m;
  const Status s = BuildFat32Image({&newer, &older}, o, image, m);
  ASSERT_TRUE(s.ok()) << s.message();

  EXPECT_EQ(RunTool({"fsck.vfat", "-n", image}).exitCode, 0);
  const ToolResult listing = RunTool({"mdir", "-b", "-i", image, "::/"});
  EXPECT_EQ(listing.out.find(".MDF"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("DECOY015.BIN"), std::string::npos) << "second round of decoys";
  ASSERT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
  EXPECT_LT(m.files[1].headerLsn, m.files[0].headerLsn);
  const PartitionInfo& p = *m.partition;
  for (int t : {0, 1}) {
    SCOPED_TRACE(t);
    EXPECT_GT(m.FragmentsOf(t).size(), 2u);
    for (const ManifestFragment& f : m.FragmentsOf(t)) {
      EXPECT_EQ(FatEntry(image, p, (f.extent.diskSector - p.dataStartSector) / 4 + 2), 0u);
    }
    const PageSource& source = t == 0 ? static_cast<const PageSource&>(newer) : older;
    EXPECT_TRUE(
        test::EqualExceptUnrecoverable(m, t, test::RebuildFromManifest(m, image, t), source));
  }
  EXPECT_FALSE(m.UnrecoverablePages(0).empty()) << "NEWFILE.BIN took some of the first";
  EXPECT_TRUE(m.UnrecoverablePages(1).empty());
  // The newer copy's pieces all lie before the older's: each had its own round of holes.
  EXPECT_LT(m.FragmentsOf(0).front().extent.diskSector, m.FragmentsOf(1).front().extent.diskSector);
}

TEST(Fat32Image, SameSeedSameBytes) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::ScratchDir dir;
  GeneratedDatabase target(60, 23);
  Fat32ImageOptions o = SmallFat(6);
  o.sectorsPerCluster = 1;
  Manifest a, b;
  ASSERT_TRUE(BuildFat32Image(target, o, dir.File("a.img"), a).ok());
  ASSERT_TRUE(BuildFat32Image(target, o, dir.File("b.img"), b).ok());
  EXPECT_TRUE(test::FilesEqual(dir.File("a.img"), dir.File("b.img")));
  EXPECT_EQ(ManifestToJson(a), ManifestToJson(b));
}

TEST(Fat32Image, RefusesAVolumeTooSmallForFat32) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::ScratchDir dir;
  GeneratedDatabase target(40, 1);
  Fat32ImageOptions o = SmallFat(1);
  o.totalSectors = 16384;  // 8 MiB: far below 65,525 clusters
  Manifest m;
  EXPECT_EQ(BuildFat32Image(target, o, dir.File("f.img"), m).code(), StatusCode::kBadInput);
}

TEST(Fat32Image, ParsesMshowfatRuns) {
  using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
  EXPECT_EQ(ParseClusterRuns("::/DB.MDF <6-11> <21> <66-106>"), (Runs{{6, 6}, {21, 1}, {66, 41}}));
  EXPECT_EQ(ParseClusterRuns("::/X <9-x>"), Runs{});
}

}  // namespace
}  // namespace ravelin::gen
