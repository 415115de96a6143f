#include "datasource/free_space_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/fs_fat32.h"
#include "gen/fs_ntfs.h"
#include "gen/fs_tools.h"
#include "support/image_fixtures.h"
#include "support/memory_sources.h"
#include "support/recording_reporter.h"

namespace ravelin {
namespace {

using test::MemorySources;
using test::RecordingReporter;

std::vector<std::string> Texts(const RecordingReporter& ui) {
  std::vector<std::string> texts;
  for (const auto& m : ui.messages) texts.push_back(m.text);
  return texts;
}

bool Bit(ByteView map, std::uint64_t n) { return (map[n / 8] >> (n % 8)) & 1; }

class FreeSpaceMapTest : public ::testing::Test {
 protected:
  // Each image under a name of its own, so the reader opens it afresh.
  void ChooseImage(std::vector<std::uint8_t> bytes) {
    path_ = "/img" + std::to_string(++images_);
    source_.SectorLimit = bytes.size() / kSectorSize;
    sources_.Add(path_, std::move(bytes));
    source_.SourcePath = path_;
    source_.SourceChosen = true;
    source_.HasFileSystem = true;
  }

  // A FAT32 partition with `reserved` reserved sectors and one FAT of `perFat` sectors (the
  // second FAT is never read and is left out of the image).
  std::vector<std::uint8_t> Fat32(std::uint16_t reserved, std::uint32_t perFat,
                                  std::int16_t spc = 8) {
    source_.FileSystemName = "FAT32";
    source_.SectorsPerCluster = spc;
    source_.FatReservedSectors = reserved;
    source_.FatSectorsPerFat = perFat;
    source_.DataStartSector = reserved + 2ull * perFat;
    return std::vector<std::uint8_t>((reserved + perFat) * kSectorSize, 0);
  }
  static void SetFatEntry(std::vector<std::uint8_t>& image, std::uint16_t reserved,
                          std::uint64_t entry, std::uint32_t value) {
    Store32(image, reserved * kSectorSize + 4 * entry, value);
  }

  MemorySources sources_;
  DataSource source_;
  SectorReader reader_{source_, sources_.Opener()};
  RecordingReporter ui_;
  FreeSpaceMap map_;
  std::string path_;
  int images_ = 0;
};

TEST_F(FreeSpaceMapTest, Fat32EntryIsInUseUnlessAllFourBytesAreZero) {
  auto image = Fat32(32, 4);
  SetFatEntry(image, 32, 0, 0x0FFFFFF8);  // media
  SetFatEntry(image, 32, 1, 0x0FFFFFFF);
  SetFatEntry(image, 32, 3, 0x0FFFFFF7);  // bad cluster
  SetFatEntry(image, 32, 4, 0x0FFFFFF8);  // end of chain
  SetFatEntry(image, 32, 5, 0x00000100);  // only the second byte set
  SetFatEntry(image, 32, 6, 0x10000000);  // only the reserved top nibble set
  SetFatEntry(image, 32, 511, 7);         // the FAT's last entry
  ChooseImage(image);

  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(map_.SizeBytes(), kFatChunkBytes);
  const std::vector<bool> expected = {true, true, false, true, true, true, true, false};
  for (std::uint64_t n = 0; n < expected.size(); ++n)
    EXPECT_EQ(Bit(map_.Bytes(), n), expected[n]) << n;
  EXPECT_TRUE(Bit(map_.Bytes(), 511));
  EXPECT_FALSE(Bit(map_.Bytes(), 512));

  // Cluster of a sector: (s - 40) / 8 + 2.
  const std::uint64_t data = source_.DataStartSector;
  EXPECT_FALSE(map_.IsClusterInUse(data));          // cluster 2
  EXPECT_FALSE(map_.IsClusterInUse(data + 7));      // still cluster 2
  EXPECT_TRUE(map_.IsClusterInUse(data + 8));       // cluster 3, bad
  EXPECT_TRUE(map_.IsClusterInUse(data + 4 * 8));   // cluster 6
  EXPECT_FALSE(map_.IsClusterInUse(data + 5 * 8));  // cluster 7
  // In front of the cluster area there is no cluster: nothing marks it in use.
  EXPECT_FALSE(map_.IsClusterInUse(0));
  EXPECT_FALSE(map_.IsClusterInUse(data - 1));
}

TEST_F(FreeSpaceMapTest, FatOf12289SectorsGivesTwoWholeChunks) {
  auto image = Fat32(32, 12289, 1);
  // Every entry in use, so the map shows exactly where the FAT ends.
  std::fill(image.begin() + 32 * kSectorSize, image.end(), 0xFF);
  ChooseImage(image);

  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  ASSERT_EQ(map_.SizeBytes(), 2 * kFatChunkBytes);
  const std::uint64_t entries = 12289ull * 128;
  EXPECT_TRUE(Bit(map_.Bytes(), 0));
  EXPECT_TRUE(Bit(map_.Bytes(), 12288ull * 128));  // first entry of the second block
  EXPECT_TRUE(Bit(map_.Bytes(), entries - 1));
  for (std::uint64_t n = entries; n < 2 * kFatChunkBytes * 8; n += 977) {
    ASSERT_FALSE(Bit(map_.Bytes(), n)) << n;
  }
  EXPECT_FALSE(Bit(map_.Bytes(), 2 * kFatChunkBytes * 8 - 1));
}

// The cluster whose bit lies in the map's last byte is looked up like any other.
TEST_F(FreeSpaceMapTest, ClusterInTheMapsLastByteIsLookedUp) {
  auto image = Fat32(1, kFatBlockSectors, 1);
  std::fill(image.end() - 8, image.end(), 0xFF);  // the FAT's last two entries
  ChooseImage(image);
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  ASSERT_EQ(map_.SizeBytes(), kFatChunkBytes);
  // Cluster k = sector - DataStartSector + 2; the map's last bit is cluster 8 * 196608 - 1.
  const std::uint64_t lastCluster = kFatChunkBytes * 8 - 1;
  auto sectorOf = [&](std::uint64_t cluster) { return source_.DataStartSector + cluster - 2; };
  EXPECT_TRUE(map_.IsClusterInUse(sectorOf(lastCluster)));
  EXPECT_TRUE(map_.IsClusterInUse(sectorOf(lastCluster - 1)));
  EXPECT_FALSE(map_.IsClusterInUse(sectorOf(lastCluster - 2)));
  EXPECT_FALSE(map_.IsClusterInUse(sectorOf(lastCluster + 1)));  // past the map
}

TEST_F(FreeSpaceMapTest, ClustersFollowTheBootSectorNotTheScanStep) {
  // The person scans a partition of 8-sector clusters at a step of 1: the scan keeps the
  // step in SectorsPerCluster, and the map must keep counting 8-sector clusters.
  auto image = Fat32(32, 4, 8);
  SetFatEntry(image, 32, 3, 0x0FFFFFFF);  // cluster 3: sectors Data+8 .. Data+15
  source_.FileSystemSectorsPerCluster = 8;
  source_.SectorsPerCluster = 1;
  ChooseImage(image);
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  const std::uint64_t data = source_.DataStartSector;
  EXPECT_FALSE(map_.IsClusterInUse(data + 7));
  EXPECT_TRUE(map_.IsClusterInUse(data + 8));
  EXPECT_TRUE(map_.IsClusterInUse(data + 15));
  EXPECT_FALSE(map_.IsClusterInUse(data + 16));
}

TEST_F(FreeSpaceMapTest, EachBuildStartsEmpty) {
  auto image = Fat32(32, 4);
  SetFatEntry(image, 32, 2, 0x0FFFFFFF);
  ChooseImage(image);
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  EXPECT_EQ(map_.SizeBytes(), kFatChunkBytes);  // rebuilt, not appended
  EXPECT_TRUE(map_.IsClusterInUse(source_.DataStartSector));

  // Another file system: an empty map, every cluster free.
  source_.FileSystemName = "不可识别";
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  EXPECT_EQ(map_.SizeBytes(), 0u);
  EXPECT_FALSE(map_.IsClusterInUse(source_.DataStartSector));
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(FreeSpaceMapTest, ImpossibleGeometryFailsTheBuild) {
  auto image = Fat32(32, 4, 0);
  SetFatEntry(image, 32, 2, 0x0FFFFFFF);
  ChooseImage(image);
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_FALSE(map_.IsClusterInUse(source_.DataStartSector));

  source_.FileSystemName = "NTFS";
  source_.SectorsPerCluster = -8;
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_FALSE(map_.IsClusterInUse(0));

  // More sectors per FAT than 2^28 four-byte entries need: a damaged boot sector.
  source_.FileSystemName = "FAT32";
  source_.SectorsPerCluster = 8;
  source_.FatSectorsPerFat = 2'100'000;
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(FreeSpaceMapTest, UnreadableFatBlockNamesItsFirstSector) {
  auto image = Fat32(32, kFatBlockSectors + 10);
  ChooseImage(image);
  sources_.SetBadSectors(path_, {32 + kFatBlockSectors + 3});
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_EQ(Texts(ui_), std::vector<std::string>{"读bitmap错误sec12320"});
  EXPECT_EQ(map_.SizeBytes(), 0u);
}

// ---- NTFS: MFT record 6 built by hand on a small volume of 1-sector clusters ----

constexpr std::uint64_t kMftCluster = 16;
constexpr std::uint64_t kRecordSector = kMftCluster + 12;  // one sector per cluster
constexpr std::uint64_t kVolumeSectors = 256;
constexpr std::uint16_t kUsn = 0x0007;

struct RecordLayout {
  std::size_t firstAttributeLength = 96;  // $STANDARD_INFORMATION, in front of $DATA
  int storedFirstLength = -1;             // the length written into it; -1: the real one
  std::uint32_t dataType = 0x80;
  std::uint8_t nonResident = 1;
  std::uint16_t dataLength = 0;  // 0: 64 + run list, rounded up to 8
};

// Record 6 holding `runList` as its $DATA run list, protected with an update sequence as
// NTFS writes it: the last two bytes of each sector replaced by the sequence number.
std::vector<std::uint8_t> BitmapRecord(const std::vector<std::uint8_t>& runList,
                                       const RecordLayout& layout = {}) {
  std::vector<std::uint8_t> r(kMftRecordBytes, 0);
  r[0] = 'F', r[1] = 'I', r[2] = 'L', r[3] = 'E';
  Store16(r, 4, 48);  // update-sequence array at 48, 3 entries
  Store16(r, 6, 3);
  Store16(r, 20, 56);
  std::size_t a = 56;
  Store32(r, a, 0x10);
  Store16(r, a + 4,
          static_cast<std::uint16_t>(layout.storedFirstLength >= 0 ? layout.storedFirstLength
                                                                   : layout.firstAttributeLength));
  a += layout.firstAttributeLength;
  const std::uint16_t length = layout.dataLength != 0
                                   ? layout.dataLength
                                   : static_cast<std::uint16_t>((64 + runList.size() + 8) & ~7u);
  Store32(r, a, layout.dataType);
  Store16(r, a + 4, length);
  r[a + 8] = layout.nonResident;
  Store16(r, a + 32, 64);
  std::copy(runList.begin(), runList.end(), r.begin() + static_cast<std::ptrdiff_t>(a + 64));
  if (a + length + 4 <= r.size()) Store32(r, a + length, 0xFFFFFFFF);
  Store16(r, 48, kUsn);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t tail = (i + 1) * kSectorSize - 2;
    Store16(r, 50 + 2 * i, Load16(r, tail));
    Store16(r, tail, kUsn);
  }
  return r;
}

// Each sector of the volume is filled with its own number, so the map shows which sectors
// it was read from.
std::vector<std::uint8_t> NtfsVolume(const std::vector<std::uint8_t>& record) {
  std::vector<std::uint8_t> v(kVolumeSectors * kSectorSize);
  for (std::uint64_t s = 0; s < kVolumeSectors; ++s) {
    std::fill_n(v.begin() + static_cast<std::ptrdiff_t>(s * kSectorSize), kSectorSize,
                static_cast<std::uint8_t>(s));
  }
  std::copy(record.begin(), record.end(),
            v.begin() + static_cast<std::ptrdiff_t>(kRecordSector * kSectorSize));
  return v;
}

std::vector<std::uint8_t> SectorsOf(std::initializer_list<std::pair<int, int>> runs) {
  std::vector<std::uint8_t> bytes;
  for (auto [first, count] : runs) {
    for (int s = first; s < first + count; ++s) bytes.insert(bytes.end(), kSectorSize, s);
  }
  return bytes;
}

class NtfsBitmapTest : public FreeSpaceMapTest {
 protected:
  void ChooseNtfs(const std::vector<std::uint8_t>& record) {
    source_.FileSystemName = "NTFS";
    source_.SectorsPerCluster = 1;
    source_.MftStartCluster = kMftCluster;
    source_.DataStartSector = 0;
    ChooseImage(NtfsVolume(record));
  }
  std::vector<std::uint8_t> MapBytes() const { return {map_.Bytes().begin(), map_.Bytes().end()}; }
};

TEST_F(NtfsBitmapTest, LaterRunWithNegativeOffsetStartsBeforeThePrevious) {
  // Run 1: 2 clusters at 64 (offset 0x0040 in two bytes). Run 2: length 5, offset byte FF:
  // one cluster before run 1. Run 3: 1 cluster at 63 + 0x90 (two bytes, positive).
  ChooseNtfs(
      BitmapRecord({0x21, 0x02, 0x40, 0x00, 0x11, 0x05, 0xFF, 0x21, 0x01, 0x90, 0x00, 0x00}));
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(MapBytes(), SectorsOf({{64, 2}, {63, 5}, {63 + 0x90, 1}}));
}

TEST_F(NtfsBitmapTest, UpdateSequenceIsUndoneBeforeTheRunListIsRead) {
  // The run list starts 4 bytes before the end of the first sector, so its second run's
  // offset byte lies at 510, where the disk holds the sequence number instead.
  RecordLayout layout;
  layout.firstAttributeLength = 506 - 64 - 56;
  ChooseNtfs(BitmapRecord({0x11, 0x01, 0x50, 0x11, 0x02, 0x10, 0x00}, layout));
  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  EXPECT_EQ(MapBytes(), SectorsOf({{0x50, 1}, {0x60, 2}}));

  // The map is $Bitmap: a cluster is in use when its bit is set. Sector 0x50 is full of
  // 0x50 = 0b01010000: clusters 4 and 6 in use, 5 and 7 free.
  EXPECT_TRUE(map_.IsClusterInUse(4));
  EXPECT_FALSE(map_.IsClusterInUse(5));
  EXPECT_TRUE(map_.IsClusterInUse(6));
  EXPECT_FALSE(map_.IsClusterInUse(3 * 512 * 8));  // past the map
}

TEST_F(NtfsBitmapTest, DamagedRecordsFailWithoutReadingOutsideThem) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> record;
  };
  const RecordLayout zeroLength{.storedFirstLength = 0};
  const RecordLayout noData{.dataType = 0xB0};
  const RecordLayout resident{.nonResident = 0};
  const RecordLayout shortData{.dataLength = 72};  // the run list below needs 80
  const RecordLayout toRecordEnd{.dataLength = 0xFFFF};
  auto torn = BitmapRecord({0x11, 0x01, 0x50, 0x00});
  Store16(torn, 1022, 0x1234);  // second sector written by another update
  auto notARecord = BitmapRecord({0x11, 0x01, 0x50, 0x00});
  notARecord[0] = 'B';  // "BAAD"-like: chkdsk marked it
  // Sparse runs of one cluster each, up to the record's last byte, with no 0 after them.
  std::vector<std::uint8_t> unterminated;
  while (unterminated.size() < kMftRecordBytes - 56 - 96 - 64) {
    unterminated.insert(unterminated.end(), {0x01, 0x01});
  }

  const std::vector<Case> cases = {
      {"attribute length 0", BitmapRecord({0x11, 0x01, 0x50, 0x00}, zeroLength)},
      {"no $DATA before the end marker", BitmapRecord({0x11, 0x01, 0x50, 0x00}, noData)},
      {"resident $DATA", BitmapRecord({0x11, 0x01, 0x50, 0x00}, resident)},
      {"run list past the attribute",
       BitmapRecord({0x11, 0x01, 0x50, 0x11, 0x01, 0x01, 0x11, 0x01, 0x01, 0x11, 0x01, 0x01, 0x00},
                    shortData)},
      {"run list without end in the record", BitmapRecord(unterminated, toRecordEnd)},
      {"run past the volume", BitmapRecord({0x21, 0x10, 0xF8, 0x00, 0x00})},
      {"run before cluster 0", BitmapRecord({0x11, 0x01, 0x02, 0x11, 0x01, 0xFD, 0x00})},
      {"length field of 9 bytes", BitmapRecord({0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0x00})},
      {"torn record", torn},
      {"no FILE signature", notARecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.messages.clear();
    ChooseNtfs(c.record);
    EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
    EXPECT_EQ(Texts(ui_), std::vector<std::string>{"取$bitmap文件失败"});
    EXPECT_EQ(map_.SizeBytes(), 0u);
    EXPECT_FALSE(map_.IsClusterInUse(0x50));
  }
}

TEST_F(NtfsBitmapTest, FailedReadsAreReportedInOrder) {
  ChooseNtfs(BitmapRecord({0x11, 0x08, 0x40, 0x00}));
  sources_.SetBadSectors(path_, {0x43});
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_EQ(Texts(ui_), (std::vector<std::string>{"512bitmaperror3sec64", "error,写bitmap内容失败",
                                                  "取$bitmap文件失败"}));

  ui_.messages.clear();
  sources_.SetBadSectors(path_, {kRecordSector + 1});
  reader_.Close();
  EXPECT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 1);
  EXPECT_EQ(Texts(ui_), (std::vector<std::string>{"读bitmap错误6sec28", "取$bitmap文件失败"}));
}

TEST(UpdateSequenceTest, RestoresSavedBytesAndLeavesBadRecordsAlone) {
  auto record = BitmapRecord({0x11, 0x01, 0x50, 0x00});
  const std::uint16_t saved0 = Load16(record, 50);
  ASSERT_TRUE(ApplyUpdateSequence(record));
  EXPECT_EQ(Load16(record, 510), saved0);

  auto tooShortArray = BitmapRecord({0x11, 0x01, 0x50, 0x00});
  Store16(tooShortArray, 6, 2);  // covers one sector of the two read
  const auto before = tooShortArray;
  EXPECT_FALSE(ApplyUpdateSequence(tooShortArray));
  EXPECT_EQ(tooShortArray, before);

  auto arrayOutside = BitmapRecord({0x11, 0x01, 0x50, 0x00});
  Store16(arrayOutside, 4, 1020);
  EXPECT_FALSE(ApplyUpdateSequence(arrayOutside));
}

// ---- Real file systems from the generator: the map against the file system's own view ----

class RealFileSystemMapTest : public ::testing::Test {
 protected:
  // Chooses the bare partition image at `path`, as a partition image is chosen.
  void Choose(const std::string& path, const gen::Manifest& m) {
    ASSERT_TRUE(m.partition.has_value());
    const gen::PartitionInfo& p = *m.partition;
    source_.SourceChosen = true;
    source_.SourcePath = path;
    source_.HasFileSystem = true;
    source_.FileSystemName = p.fileSystem;
    source_.SectorsPerCluster = static_cast<std::int16_t>(m.sectorsPerCluster);
    source_.DataStartSector = p.dataStartSector;
    source_.FatReservedSectors = p.reservedSectors;
    source_.FatSectorsPerFat = p.sectorsPerFat;
    source_.MftStartCluster = p.mftStartCluster;
    source_.SectorLimit = m.totalSectors;
  }
  // Every sector of every extent of the live files is in use; every sector of the deleted
  // database's fragments is free.
  void ExpectMapAgreesWithManifest(const gen::Manifest& m) {
    std::size_t live = 0;
    for (const gen::LiveFile& f : m.liveFiles) {
      for (const gen::FileExtent& e : f.extents) {
        for (std::uint64_t s = e.diskSector; s < e.diskSector + e.sectorCount; ++s) {
          ASSERT_TRUE(map_.IsClusterInUse(s)) << f.name << " sector " << s;
          ++live;
        }
      }
    }
    std::size_t deleted = 0;
    for (const gen::ManifestFragment& fr : m.FragmentsOf(m.TargetFile())) {
      for (std::uint64_t s = fr.extent.diskSector; s < fr.extent.diskSector + fr.extent.sectorCount;
           ++s) {
        ASSERT_FALSE(map_.IsClusterInUse(s)) << "deleted database sector " << s;
        ++deleted;
      }
    }
    EXPECT_GT(live, 0u);
    EXPECT_GT(deleted, 0u);
  }

  test::ScratchDir dir_;
  DataSource source_;
  SectorReader reader_{source_};
  RecordingReporter ui_;
  FreeSpaceMap map_;
};

TEST_F(RealFileSystemMapTest, Fat32MapMarksLiveFilesAndLeavesTheDeletedDatabaseFree) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat");
  test::SyntheticDatabase target(90, 21);
  gen::Fat32ImageOptions o;
  o.seed = 5;
  o.sectorsPerCluster = 2;
  o.decoys.count = 8;
  o.decoys.minClusters = 3;
  o.decoys.maxClusters = 30;
  gen::Manifest m;
  const std::string image = dir_.File("f.img");
  const gen::Status st = gen::BuildFat32Image(target, o, image, m);
  ASSERT_TRUE(st.ok()) << st.message();
  Choose(image, m);

  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0) << Texts(ui_).size();
  const std::uint64_t chunks =
      (m.partition->sectorsPerFat + kFatBlockSectors - 1) / kFatBlockSectors;
  EXPECT_EQ(map_.SizeBytes(), chunks * kFatChunkBytes);
  ExpectMapAgreesWithManifest(m);
  // The FAT's reserved entries 0 and 1 are never zero.
  EXPECT_TRUE(Bit(map_.Bytes(), 0));
  EXPECT_TRUE(Bit(map_.Bytes(), 1));
}

TEST_F(RealFileSystemMapTest, NtfsMapIsTheBitmapFileItself) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo");
  test::SyntheticDatabase target(150, 31);
  gen::NtfsImageOptions o;
  o.seed = 9;
  o.sectorsPerCluster = 4;
  o.fragments = 7;
  o.decoys.count = 5;
  gen::Manifest m;
  const std::string image = dir_.File("n.img");
  const gen::Status st = gen::BuildNtfsImage(target, o, image, m);
  ASSERT_TRUE(st.ok()) << st.message();
  Choose(image, m);

  ASSERT_EQ(map_.BuildFreeSpaceMap(source_, reader_, ui_), 0);
  std::vector<std::uint8_t> bitmap;
  ASSERT_TRUE(gen::ReadNtfsBitmap(image, bitmap).ok());
  // The map holds whole clusters of $Bitmap; the file is its first bytes.
  ASSERT_GE(map_.SizeBytes(), bitmap.size());
  EXPECT_LT(map_.SizeBytes() - bitmap.size(), 4u * kSectorSize);
  EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), map_.Bytes().begin()));
  ExpectMapAgreesWithManifest(m);
}

}  // namespace
}  // namespace ravelin
