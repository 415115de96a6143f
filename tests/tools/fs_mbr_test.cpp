// Whole-disk images: the MBR that sfdisk wrote must put the partition where the manifest
// says, and the manifest's sectors must count from the start of the disk.
#include "gen/fs_mbr.h"

#include <gtest/gtest.h>

#include "gen/fs_tools.h"
#include "support/image_fixtures.h"

namespace ravelin::gen {
namespace {

using test::GeneratedDatabase;

TEST(DiskImage, PartitionTableBootSectorAndFragmentsAgreeWithTheManifest) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat",
                                "mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "ntfsls");
  test::ScratchDir dir;
  GeneratedDatabase target(70, 41);
  for (const char* fs : {"fat32", "ntfs"}) {
    SCOPED_TRACE(fs);
    DiskImageOptions o;
    o.fileSystem = fs;
    o.partitionStart = 2048;
    o.fat32.sectorsPerCluster = 1;
    o.fat32.decoys.count = 4;
    o.ntfs.decoys.count = 4;
    o.ntfs.unreadableSectors = 2;
    const std::string image = dir.File(std::string(fs) + ".img");
    Manifest m;
    const Status s = BuildDiskImage(target, o, image, m);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(m.kind, "disk");
    ASSERT_TRUE(m.partition.has_value());
    const PartitionInfo& p = *m.partition;
    EXPECT_EQ(p.startSector, 2048u);

    std::vector<MbrPartition> table;
    ASSERT_TRUE(ReadPartitionTable(image, table).ok());
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].start, p.startSector);
    EXPECT_EQ(table[0].size, p.sectorCount);
    EXPECT_EQ(table[0].type, p.mbrType);
    EXPECT_EQ(m.totalSectors, 2048 + p.sectorCount + 2048);

    const std::vector<std::uint8_t> boot = test::ReadImageSectors(image, p.startSector, 1);
    if (p.fileSystem == "FAT32") {
      EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 87), "FAT32");
      EXPECT_EQ(Load32(boot, 28), 2048u) << "hidden sectors = partition start";
    } else {
      EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 7), "NTFS");
      EXPECT_EQ(Load32(boot, 28), 2048u);
    }
    for (const ManifestFragment& f : m.fragments) EXPECT_GE(f.extent.diskSector, p.startSector);
    for (std::uint64_t u : m.unreadableSectors) EXPECT_GE(u, p.startSector);
    EXPECT_TRUE(test::FragmentsHoldPages(m, image, {{0, &target}}));
  }
}

TEST(DiskImage, RefusesAPartitionAtSectorZeroOrAnUnknownFileSystem) {
  test::ScratchDir dir;
  GeneratedDatabase target(40, 1);
  Manifest m;
  DiskImageOptions o;
  o.partitionStart = 0;
  EXPECT_EQ(BuildDiskImage(target, o, dir.File("d.img"), m).code(), StatusCode::kBadInput);
  o.partitionStart = 2048;
  o.fileSystem = "ext4";
  EXPECT_EQ(BuildDiskImage(target, o, dir.File("d.img"), m).code(), StatusCode::kBadInput);
}

}  // namespace
}  // namespace ravelin::gen
