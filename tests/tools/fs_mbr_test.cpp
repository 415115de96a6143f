// Whole-disk images: the partition table that sfdisk wrote (MBR or GPT) must put every
// partition where the manifest says, numbered as the kernel numbers it, and the manifest's
// sectors must count from the start of the disk.
#include "gen/fs_mbr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "gen/fs_tools.h"
#include "gen/image_writer.h"
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
    EXPECT_EQ(table[0].number, 1);
    EXPECT_EQ(m.partitionTable, "mbr");
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

// The database's partition comes after small ones (unformatted, or FAT32 with a live file),
// so it is not partition 1; on a GPT disk as on an MBR one.
TEST(DiskImage, PartitionsBeforeTheDatabasesAreNumberedAndPlacedAsTheTableSays) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  struct Case {
    PartitionTableKind table;
    std::vector<ExtraPartition> before;
  };
  GeneratedDatabase target(60, 42);
  for (const Case& c :
       {Case{PartitionTableKind::kMbr, {{true, 0}}}, Case{PartitionTableKind::kGpt, {}},
        Case{PartitionTableKind::kGpt, {{false, 0}, {true, 0}}}}) {
    const bool gpt = c.table == PartitionTableKind::kGpt;
    SCOPED_TRACE(std::string(gpt ? "gpt" : "mbr") + " with " + std::to_string(c.before.size()));
    test::ScratchDir dir;
    const std::string image = dir.File("d.img");
    DiskImageOptions o;
    o.table = c.table;
    o.partitionsBefore = c.before;
    o.fat32.decoys.count = 3;
    Manifest m;
    const Status s = BuildDiskImage(target, o, image, m);
    ASSERT_TRUE(s.ok()) << s.message();

    std::string label;
    std::vector<TablePartition> table;
    ASSERT_TRUE(ReadPartitionTable(image, table, &label).ok());
    EXPECT_EQ(label, gpt ? "gpt" : "dos");
    EXPECT_EQ(m.partitionTable, gpt ? "gpt" : "mbr");
    ASSERT_EQ(table.size(), c.before.size() + 1);
    ASSERT_EQ(m.partitions.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      const DiskPartition& p = m.partitions[i];
      EXPECT_EQ(table[i].number, p.number);
      EXPECT_EQ(table[i].number, static_cast<int>(i) + 1);
      EXPECT_EQ(table[i].start, p.startSector);
      EXPECT_EQ(table[i].size, p.sectorCount);
      EXPECT_EQ(gpt ? table[i].typeGuid : (std::stringstream() << std::hex << table[i].type).str(),
                p.type);
      EXPECT_EQ(p.startSector % 2048, 0u);
      if (i > 0) {
        EXPECT_GE(p.startSector, m.partitions[i - 1].startSector + m.partitions[i - 1].sectorCount);
      }
      EXPECT_EQ(p.holdsDatabase, i + 1 == table.size());
      const std::vector<std::uint8_t> boot = test::ReadImageSectors(image, p.startSector, 1);
      if (p.fileSystem.empty()) {
        EXPECT_TRUE(std::all_of(boot.begin(), boot.end(), [](std::uint8_t b) { return b == 0; }));
        continue;
      }
      EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 87), "FAT32");
      EXPECT_EQ(Load32(boot, 28), p.startSector) << "hidden sectors = partition start";
      // Each FAT32 volume checks clean on its own.
      const std::string volume = dir.File("p" + std::to_string(p.number) + ".img");
      ASSERT_TRUE(CreateSparseFile(volume, p.sectorCount).ok());
      ASSERT_TRUE(CopySectors(image, p.startSector, volume, 0, p.sectorCount).ok());
      EXPECT_EQ(RunTool({"fsck.vfat", "-n", volume}).exitCode, 0) << "partition " << p.number;
    }
    ASSERT_TRUE(m.partition.has_value());
    EXPECT_EQ(m.partition->number, static_cast<int>(c.before.size()) + 1);
    EXPECT_EQ(m.partition->startSector, m.partitions.back().startSector);
    EXPECT_EQ(m.partition->mbrType, gpt ? 0u : 0x0Cu);
    for (const LiveFile& live : m.liveFiles) {
      const DiskPartition& home = m.partitions.at(live.partition - 1);
      EXPECT_EQ(live.name == "NOTES.BIN", !home.holdsDatabase) << live.name;
      for (const FileExtent& e : live.extents) {
        EXPECT_GE(e.diskSector, home.startSector);
        EXPECT_LE(e.diskSector + e.sectorCount, home.startSector + home.sectorCount);
      }
    }
    EXPECT_TRUE(test::FragmentsHoldPages(m, image, {{0, &target}}));
    if (gpt) {
      // The backup header in the disk's last sector.
      const std::vector<std::uint8_t> last = test::ReadImageSectors(image, m.totalSectors - 1, 1);
      EXPECT_EQ(std::string(last.begin(), last.begin() + 8), "EFI PART");
      Manifest again;
      ASSERT_TRUE(BuildDiskImage(target, o, dir.File("e.img"), again).ok());
      EXPECT_TRUE(test::FilesEqual(image, dir.File("e.img")));
      EXPECT_EQ(ManifestToJson(again), ManifestToJson(m));
    }
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
  o.fileSystem = "fat32";
  o.partitionsBefore.resize(4);  // an MBR has four entries
  EXPECT_EQ(BuildDiskImage(target, o, dir.File("d.img"), m).code(), StatusCode::kBadInput);
  o.partitionsBefore.clear();
  o.table = PartitionTableKind::kGpt;
  o.trailingSectors = 32;  // no room for the backup table
  EXPECT_EQ(BuildDiskImage(target, o, dir.File("d.img"), m).code(), StatusCode::kBadInput);
  o.trailingSectors = 2048;
  o.partitionStart = 33;  // inside the primary table
  EXPECT_EQ(BuildDiskImage(target, o, dir.File("d.img"), m).code(), StatusCode::kBadInput);
}

}  // namespace
}  // namespace ravelin::gen
