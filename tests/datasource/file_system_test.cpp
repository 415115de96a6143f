#include "datasource/file_system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gen/fs_fat32.h"
#include "gen/fs_mbr.h"
#include "gen/fs_ntfs.h"
#include "gen/fs_tools.h"
#include "support/image_fixtures.h"
#include "support/memory_sources.h"
#include "support/recording_reporter.h"

namespace ravelin {
namespace {

using test::MemorySources;
using test::RecordingReporter;

std::vector<std::uint8_t> Sector() { return std::vector<std::uint8_t>(kSectorSize, 0); }

void PutText(std::vector<std::uint8_t>& s, std::size_t offset, const char* text) {
  std::memcpy(s.data() + offset, text, std::strlen(text));
}

std::vector<std::uint8_t> Fat32Boot(std::uint8_t spc, std::uint16_t reserved, std::uint32_t perFat,
                                    std::uint32_t total) {
  auto s = Sector();
  PutText(s, 3, "MSDOS5.0");
  Store16(s, 11, 512);
  s[13] = spc;
  Store16(s, 14, reserved);
  Store32(s, 32, total);
  Store32(s, 36, perFat);
  PutText(s, 82, "FAT32   ");
  return s;
}

std::vector<std::uint8_t> NtfsBoot(std::uint8_t spc, std::uint64_t total, std::uint64_t mft) {
  auto s = Sector();
  PutText(s, 3, "NTFS    ");
  Store16(s, 11, 512);
  s[13] = spc;
  Store64(s, 40, total);
  Store64(s, 48, mft);
  return s;
}

class DetectFileSystemTest : public ::testing::Test {
 protected:
  void Choose(std::vector<std::uint8_t> sector0) {
    sources_.Add("/img", std::move(sector0));
    source_.SourcePath = "/img";
    source_.SourceChosen = true;
  }
  MemorySources sources_;
  DataSource source_;
  SectorReader reader_{source_, sources_.Opener()};
  RecordingReporter ui_;
};

TEST_F(DetectFileSystemTest, Fat32CountsTwoFatsInFrontOfTheClusterArea) {
  source_.MftStartCluster = 777;  // from an earlier NTFS choice: must survive
  Choose(Fat32Boot(8, 32, 1000, 1'000'000));
  ASSERT_EQ(DetectFileSystem(source_, reader_, ui_), 0);
  EXPECT_EQ(source_.FileSystemName, "FAT32");
  EXPECT_EQ(source_.SectorsPerCluster, 8);
  EXPECT_EQ(source_.FatReservedSectors, 32u);
  EXPECT_EQ(source_.FatSectorsPerFat, 1000u);
  EXPECT_EQ(source_.DataStartSector, 2032u);
  EXPECT_EQ(source_.MftStartCluster, 777u);
}

TEST_F(DetectFileSystemTest, NtfsStartsAtZeroAndKeepsFatFields) {
  source_.FatReservedSectors = 32;
  source_.DataStartSector = 2032;
  Choose(NtfsBoot(8, 204799, 786432));
  ASSERT_EQ(DetectFileSystem(source_, reader_, ui_), 0);
  EXPECT_EQ(source_.FileSystemName, "NTFS");
  EXPECT_EQ(source_.SectorsPerCluster, 8);
  EXPECT_EQ(source_.DataStartSector, 0u);
  EXPECT_EQ(source_.MftStartCluster, 786432u);
  EXPECT_EQ(source_.FatReservedSectors, 32u);
}

TEST_F(DetectFileSystemTest, UnknownBootSectorStartsAtZeroWithItsClusterByte) {
  source_.DataStartSector = 99;
  auto s = Sector();
  PutText(s, 3, "EXFAT   ");  // exFAT: neither NTFS nor FAT32
  s[13] = 5;
  Choose(s);
  ASSERT_EQ(DetectFileSystem(source_, reader_, ui_), 0);
  EXPECT_EQ(source_.FileSystemName, "不可识别");
  EXPECT_EQ(source_.DataStartSector, 0u);
  EXPECT_EQ(source_.SectorsPerCluster, 5);
}

TEST_F(DetectFileSystemTest, UnreadableBootSectorIsLoggedAndChangesNothing) {
  sources_.Add("/img", Sector());
  sources_.SetBadSectors("/img", {0});
  source_.SourcePath = "/img";
  source_.FileSystemName = "NTFS";
  EXPECT_EQ(DetectFileSystem(source_, reader_, ui_), 1);
  EXPECT_EQ(ui_.lines, std::vector<std::string>{"512error 读取sec0"});
  EXPECT_EQ(source_.FileSystemName, "NTFS");
  EXPECT_TRUE(ui_.messages.empty());
}

TEST(ParseBootSectorTest, NtfsLargeClustersAreDecodedFromTheirExponent) {
  // Clusters above 64 KiB are written as 256 - log2(bytes): 0xF4 is 2^12 bytes, 0xEB 2 MiB.
  EXPECT_EQ(ParseBootSector(NtfsBoot(0xF4, 1, 1)).sectorsPerCluster, 4096 / 512);
  EXPECT_EQ(ParseBootSector(NtfsBoot(0xEB, 1, 1)).sectorsPerCluster, (2 << 20) / 512);
  EXPECT_EQ(ParseBootSector(NtfsBoot(0x80, 1, 1)).sectorsPerCluster, 128);
  // FAT32 knows no such encoding: the byte is taken as it is.
  EXPECT_EQ(ParseBootSector(Fat32Boot(0xF4, 32, 1, 100)).sectorsPerCluster, 0xF4);
}

TEST(ParseBootSectorTest, ClusterAreaIsWhatFollowsTheFatsOrTheWholeNtfsVolume) {
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(Fat32Boot(8, 32, 1000, 1'000'000))),
            (1'000'000u - 2032u) * 512u);
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(NtfsBoot(8, 204799, 4))), 204799u * 512u);

  auto small = Fat32Boot(1, 32, 100, 0);
  Store16(small, 19, 40000);  // the 16-bit total wins when it is set
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(small)), (40000u - 232u) * 512u);

  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(Fat32Boot(8, 32, 1000, 2032))), std::nullopt);
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(NtfsBoot(8, 0, 4))), std::nullopt);
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(Sector())), std::nullopt);

  auto big = NtfsBoot(1, 1000, 4);
  Store16(big, 11, 4096);  // a 4Kn volume counts in 4096-byte sectors
  EXPECT_EQ(ClusterAreaBytes(ParseBootSector(big)), 1000u * 4096u);
}

// Every count of a boot sector is in the volume's own sectors (offset 11); the program
// counts in 512-byte sectors whatever they are.
TEST(ParseBootSectorTest, VolumeGeometriesComeOutIn512ByteSectors) {
  struct Case {
    std::uint16_t bytesPerSector;
    std::uint8_t spc;
    std::uint8_t mftRecordByte;  // offset 0x40, NTFS only
    std::int16_t wantSpc;
    std::uint32_t wantRecordBytes;
  };
  const Case cases[] = {
      {512, 8, 0xF6, 8, 1024},       {1024, 4, 0xF6, 8, 1024},     {2048, 2, 0xF6, 8, 1024},
      {4096, 1, 0xF4, 8, 4096},      {4096, 2, 0xF4, 16, 4096},    {4096, 16, 0xF4, 128, 4096},
      {4096, 128, 0xF4, 1024, 4096}, {512, 2, 0x01, 2, 1024},      {4096, 1, 0x01, 8, 4096},
      {4096, 1, 0x00, 8, 1024},      {512, 0xF0, 0xF6, 128, 1024}, {4096, 1, 0xE0, 8, 1024},
      {3000, 8, 0xF6, 8, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bytesPerSector) + " bytes, byte 13 = " + std::to_string(c.spc));
    const std::uint64_t f = c.bytesPerSector == 3000 ? 1 : c.bytesPerSector / 512;
    auto fat = Fat32Boot(c.spc, 32, 1000, 500000);
    Store16(fat, 11, c.bytesPerSector);
    const BootSectorInfo fatBoot = ParseBootSector(fat);
    if (c.spc <= 128) {
      EXPECT_EQ(fatBoot.sectorsPerCluster, c.wantSpc);
    }
    EXPECT_EQ(fatBoot.fatReservedSectors, 32 * f);
    EXPECT_EQ(fatBoot.fatSectorsPerFat, 1000 * f);
    EXPECT_EQ(fatBoot.dataStartSector, 2032 * f);
    EXPECT_EQ(ClusterAreaBytes(fatBoot), (500000 - 2032) * f * 512);

    auto ntfs = NtfsBoot(c.spc, 204799, 786432);
    Store16(ntfs, 11, c.bytesPerSector);
    ntfs[0x40] = c.mftRecordByte;
    const BootSectorInfo ntfsBoot = ParseBootSector(ntfs);
    EXPECT_EQ(ntfsBoot.sectorsPerCluster, c.wantSpc);
    EXPECT_EQ(ntfsBoot.mftStartCluster, 786432u) << "counted in clusters, not sectors";
    EXPECT_EQ(ntfsBoot.mftRecordBytes, c.wantRecordBytes);
    EXPECT_EQ(ntfsBoot.fileSystemSectors, 204799 * f);
  }
}

// Boot sectors written by mkfs.vfat and mkntfs, read back as a partition image.
TEST(RealFileSystemTest, DetectsWhatTheFormattingToolsWrote) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat", "mkntfs", "ntfscp",
                                "ntfsinfo", "sfdisk");
  test::ScratchDir dir;
  test::SyntheticDatabase target(40, 7);
  auto detect = [](const std::string& path, DataSource& source, RecordingReporter& ui) {
    source.SourcePath = path;
    SectorReader reader(source);
    return DetectFileSystem(source, reader, ui);
  };

  gen::Fat32ImageOptions fat;
  fat.sectorsPerCluster = 4;
  fat.decoys.count = 2;
  gen::Manifest fm;
  ASSERT_TRUE(gen::BuildFat32Image(target, fat, dir.File("f.img"), fm).ok());
  DataSource fs;
  RecordingReporter ui;
  ASSERT_EQ(detect(dir.File("f.img"), fs, ui), 0);
  EXPECT_EQ(fs.FileSystemName, "FAT32");
  EXPECT_EQ(fs.SectorsPerCluster, 4);
  EXPECT_EQ(fs.FatReservedSectors, fm.partition->reservedSectors);
  EXPECT_EQ(fs.FatSectorsPerFat, fm.partition->sectorsPerFat);
  EXPECT_EQ(fs.DataStartSector, fm.partition->dataStartSector);

  gen::NtfsImageOptions ntfs;
  ntfs.sectorsPerCluster = 2;
  ntfs.decoys.count = 2;
  gen::Manifest nm;
  ASSERT_TRUE(gen::BuildNtfsImage(target, ntfs, dir.File("n.img"), nm).ok());
  DataSource ns;
  ASSERT_EQ(detect(dir.File("n.img"), ns, ui), 0);
  EXPECT_EQ(ns.FileSystemName, "NTFS");
  EXPECT_EQ(ns.SectorsPerCluster, 2);
  EXPECT_EQ(ns.DataStartSector, 0u);
  EXPECT_EQ(ns.MftStartCluster, nm.partition->mftStartCluster);

  // A whole-disk image starts with its partition table, not a boot sector.
  gen::DiskImageOptions disk;
  disk.fat32.decoys.count = 2;
  gen::Manifest dm;
  ASSERT_TRUE(gen::BuildDiskImage(target, disk, dir.File("d.img"), dm).ok());
  DataSource ds;
  ASSERT_EQ(detect(dir.File("d.img"), ds, ui), 0);
  EXPECT_EQ(ds.FileSystemName, "不可识别");
  EXPECT_EQ(ds.DataStartSector, 0u);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace ravelin
