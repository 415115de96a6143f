// NTFS images made by mkntfs and ntfscp: the database's pieces must lie in clusters that
// $Bitmap marks free, and the file system must stay readable by its own tools.
#include "gen/fs_ntfs.h"

#include <gtest/gtest.h>

#include "gen/fs_tools.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"

namespace ravelin::gen {
namespace {

using test::GeneratedDatabase;

TEST(NtfsImage, DatabaseLiesInClustersFreeInBitmapAndTheVolumeStaysWhole) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfsls");
  test::ScratchDir dir;
  const std::string image = dir.File("n.img");
  GeneratedDatabase target(150, 31);
  GeneratedDatabase other(50, 32, 1, 0, "other");
  NtfsImageOptions o;
  o.seed = 9;
  o.sectorsPerCluster = 4;
  o.fragments = 7;
  o.decoys.count = 5;
  o.decoys.otherDatabase = &other;
  o.unreadableSectors = 4;
  Manifest m;
  const Status s = BuildNtfsImage(target, o, image, m);
  ASSERT_TRUE(s.ok()) << s.message();

  const ToolResult listing = RunTool({"ntfsls", image});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_NE(listing.out.find("DECOY005.BIN"), std::string::npos);
  EXPECT_NE(listing.out.find("OTHER.MDF"), std::string::npos);
  EXPECT_EQ(RunTool({"ntfsinfo", "-m", image}).exitCode, 0);

  std::vector<std::uint8_t> bitmap;
  ASSERT_TRUE(ReadNtfsBitmap(image, bitmap).ok());
  const auto inUse = [&](std::uint64_t c) { return (bitmap.at(c / 8) >> (c % 8)) & 1; };
  const std::vector<ManifestFragment> fragments = m.FragmentsOf(0);
  EXPECT_GE(fragments.size(), 7u);
  for (const ManifestFragment& f : fragments) {
    EXPECT_EQ(f.extent.diskSector % 4, 0u);
    for (std::uint64_t c = f.extent.diskSector / 4;
         c * 4 < f.extent.diskSector + f.extent.sectorCount; ++c) {
      ASSERT_FALSE(inUse(c)) << "cluster " << c << " is allocated";
    }
  }
  for (const ManifestFragment& f : m.FragmentsOf(1)) EXPECT_TRUE(inUse(f.extent.diskSector / 4));

  ASSERT_TRUE(m.partition.has_value());
  EXPECT_EQ(m.partition->fileSystem, "NTFS");
  const std::vector<std::uint8_t> boot = test::ReadImageSectors(image, 0, 1);
  EXPECT_EQ(Load64(boot, 48), m.partition->mftStartCluster);
  EXPECT_EQ(Load8(boot, 13), 4);
  EXPECT_EQ(m.unreadableSectors.size(), 4u);
  EXPECT_TRUE(test::FragmentsHoldPages(m, image, {{0, &target}, {1, &other}}));
}

TEST(NtfsImage, TwoDatabasesEachComeBackFromFreeClusters) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfsls");
  test::ScratchDir dir;
  const std::string image = dir.File("n.img");
  GeneratedDatabase shop(100, 34);
  GeneratedDatabase stock(70, 35, 1, 0, "stock");
  NtfsImageOptions o;
  o.seed = 11;
  o.sectorsPerCluster = 2;
  o.decoys.count = 3;
  Manifest m;
  const Status s = BuildNtfsImage({&shop, &stock}, o, image, m);
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
  std::vector<std::uint8_t> bitmap;
  ASSERT_TRUE(ReadNtfsBitmap(image, bitmap).ok());
  for (int t : {0, 1}) {
    for (const ManifestFragment& f : m.FragmentsOf(t)) {
      EXPECT_FALSE((bitmap.at(f.extent.diskSector / 16) >> (f.extent.diskSector / 2 % 8)) & 1);
    }
    const PageSource& source = t == 0 ? static_cast<const PageSource&>(shop) : stock;
    EXPECT_TRUE(
        test::EqualExceptUnrecoverable(m, t, test::RebuildFromManifest(m, image, t), source));
    EXPECT_TRUE(m.UnrecoverablePages(t).empty());
  }
}

TEST(NtfsImage, PiecesInAnyOrderKeepTheirLayoutForASeed) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfsls");
  test::ScratchDir dir;
  GeneratedDatabase target(80, 33);
  NtfsImageOptions o;
  o.seed = 10;
  o.sectorsPerCluster = 8;
  o.decoys.count = 3;
  Manifest a, b;
  ASSERT_TRUE(BuildNtfsImage(target, o, dir.File("a.img"), a).ok());
  ASSERT_TRUE(BuildNtfsImage(target, o, dir.File("b.img"), b).ok());
  // ntfscp stamps files with the current time, so only the layout is compared.
  EXPECT_EQ(ManifestToJson(a), ManifestToJson(b));
  bool outOfOrder = false;
  const auto fragments = a.FragmentsOf(0);
  for (std::size_t i = 1; i < fragments.size(); ++i) {
    outOfOrder |= fragments[i].extent.diskSector < fragments[i - 1].extent.diskSector;
  }
  EXPECT_TRUE(outOfOrder) << "pieces should not simply follow file order";
}

}  // namespace
}  // namespace ravelin::gen
