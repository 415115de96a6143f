#include "datasource/sector_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <span>
#include <vector>

#include "support/memory_sources.h"

namespace ravelin {
namespace {

using test::MemorySources;
using test::PatternBytes;

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::uint64_t kTwoTo32 = std::uint64_t{1} << 32;

std::vector<std::uint8_t> Filled(std::size_t sectors) {
  return std::vector<std::uint8_t>(sectors * kSectorSize, kUntouched);
}

// Sectors [from, from + count) of `buffer`, as their own vector.
std::vector<std::uint8_t> Sectors(const std::vector<std::uint8_t>& buffer, std::size_t from,
                                  std::size_t count) {
  return {buffer.begin() + static_cast<std::ptrdiff_t>(from * kSectorSize),
          buffer.begin() + static_cast<std::ptrdiff_t>((from + count) * kSectorSize)};
}

class SectorReaderTest : public ::testing::Test {
 protected:
  void ChooseDisk(const std::string& path, std::uint64_t limit) {
    source_.SourceChosen = true;
    source_.IsPartition = false;
    source_.SourcePath = path;
    source_.SectorLimit = limit;
  }
  void ChoosePartition(std::uint8_t drive, const std::string& path, std::uint64_t limit) {
    source_.SourceChosen = true;
    source_.IsPartition = true;
    source_.DriveNumber = drive;
    source_.SourcePath = path;
    source_.SectorLimit = limit;
  }

  MemorySources sources_;
  DataSource source_;
  SectorReader reader_{source_, sources_.Opener()};
};

// The device is larger than the limit in both cases, so only the clamp stops the read.
TEST_F(SectorReaderTest, ShortensRequestAtTheLimitOfDiskAndPartition) {
  sources_.AddPattern("/dev/sdb", 2000 * kSectorSize);
  sources_.AddPattern("/dev/sdb1", 2000 * kSectorSize);

  ChooseDisk("/dev/sdb", 1000);  // one past the last readable sector
  auto buffer = Filled(16);
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 992));
  EXPECT_EQ(Sectors(buffer, 0, 8), PatternBytes(992, 8));
  EXPECT_EQ(Sectors(buffer, 8, 8), Filled(8));

  ChoosePartition(1, "/dev/sdb1", 1000);  // the last readable sector itself
  buffer = Filled(16);
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 992));
  EXPECT_EQ(Sectors(buffer, 0, 9), PatternBytes(992, 9));
  EXPECT_EQ(Sectors(buffer, 9, 7), Filled(7));
}

TEST_F(SectorReaderTest, RequestsPastTheEndFailWithoutReading) {
  sources_.AddPattern("/dev/sdb", 2000 * kSectorSize);
  sources_.AddPattern("/dev/sdb1", 2000 * kSectorSize);
  auto buffer = Filled(16);

  ChooseDisk("/dev/sdb", 1000);
  EXPECT_FALSE(reader_.ReadSectors(1, buffer, 1000));
  EXPECT_FALSE(reader_.ReadSectors(16, buffer, 1500));
  EXPECT_FALSE(reader_.ReadSectors(0, buffer, 1001));

  ChoosePartition(1, "/dev/sdb1", 1000);
  EXPECT_FALSE(reader_.ReadSectors(1, buffer, 1001));
  EXPECT_FALSE(reader_.ReadSectors(16, buffer, 1500));

  EXPECT_EQ(buffer, Filled(16));
  EXPECT_EQ(sources_.TotalOpens(), 0);
}

// The last sector of a partition (its limit) is readable; a disk's limit is not.
TEST_F(SectorReaderTest, LastSectorOfEachKindIsReadable) {
  sources_.AddPattern("/dev/sdb1", 1001 * kSectorSize);
  ChoosePartition(1, "/dev/sdb1", 1000);
  auto buffer = Filled(1);
  ASSERT_TRUE(reader_.ReadSectors(1, buffer, 1000));
  EXPECT_EQ(buffer, PatternBytes(1000, 1));

  sources_.AddPattern("/dev/sdc", 1000 * kSectorSize);
  ChooseDisk("/dev/sdc", 1000);
  ASSERT_TRUE(reader_.ReadSectors(1, buffer, 999));
  EXPECT_EQ(buffer, PatternBytes(999, 1));
}

// A disk request that ends exactly one sector past the limit used to slip through the
// clamp and fail at the end of the device, losing every sector in front of it.
TEST_F(SectorReaderTest, DiskRequestEndingOnePastTheLimitIsShortened) {
  sources_.AddPattern("/dev/sdb", 1000 * kSectorSize);
  ChooseDisk("/dev/sdb", 1000);
  auto buffer = Filled(16);
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 985));
  EXPECT_EQ(Sectors(buffer, 0, 15), PatternBytes(985, 15));
  EXPECT_EQ(Sectors(buffer, 15, 1), Filled(1));
}

TEST_F(SectorReaderTest, RefusesBadCountsAndShortBuffersWithoutReading) {
  sources_.AddPattern("/dev/sdb", 100000 * kSectorSize);
  ChooseDisk("/dev/sdb", 100000);
  auto buffer = Filled(65536);

  EXPECT_FALSE(reader_.ReadSectors(-1, buffer, 10));
  EXPECT_FALSE(reader_.ReadSectors(65536, buffer, 0));  // would fold to 0 in 16 bits
  EXPECT_FALSE(reader_.ReadPathSectors("/dev/sdb", 65536, buffer, 0));
  EXPECT_FALSE(reader_.ReadDriveSectors(1, "/dev/sdb", 0, 65537, buffer));
  // 16 sectors asked, room for 15: refused even though the device could deliver them.
  EXPECT_FALSE(reader_.ReadSectors(16, std::span(buffer).first(15 * kSectorSize), 0));
  EXPECT_FALSE(reader_.ReadPathSectors("/dev/sdb", 2, std::span(buffer).first(1000), 0));

  EXPECT_EQ(buffer, Filled(65536));
  EXPECT_EQ(sources_.TotalOpens(), 0);
  EXPECT_TRUE(reader_.ReadSectors(65535, buffer, 0));
}

TEST_F(SectorReaderTest, ZeroSectorsInsideTheSourceSucceedWithoutReading) {
  sources_.AddPattern("/dev/sdb", 1000 * kSectorSize);
  ChooseDisk("/dev/sdb", 1000);
  auto buffer = Filled(1);
  EXPECT_TRUE(reader_.ReadSectors(0, buffer, 500));
  EXPECT_TRUE(reader_.ReadSectors(0, {}, 500));
  EXPECT_EQ(buffer, Filled(1));
  EXPECT_EQ(sources_.TotalOpens(), 0);
}

TEST_F(SectorReaderTest, NoClampingWhileNoSourceIsChosen) {
  sources_.AddPattern("img", 2000 * kSectorSize);
  source_.SourcePath = "img";  // SectorLimit stays 0
  auto buffer = Filled(16);
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 1500));
  EXPECT_EQ(buffer, PatternBytes(1500, 16));
}

TEST_F(SectorReaderTest, PartitionSectorsBeyond2To32AreTheRightOnes) {
  const std::uint64_t sectors = 3 * kTwoTo32;  // a 6 TiB partition
  sources_.AddPattern("/dev/sdb1", sectors * kSectorSize);
  ChoosePartition(1, "/dev/sdb1", sectors - 1);
  for (const std::uint64_t at : {kTwoTo32, kTwoTo32 + 7, 2 * kTwoTo32 + 12345, sectors - 16}) {
    auto buffer = Filled(16);
    ASSERT_TRUE(reader_.ReadSectors(16, buffer, at)) << at;
    EXPECT_EQ(buffer, PatternBytes(at, 16)) << at;
  }
}

// With the limit above 2^32, folding (limit − sector) to 32 bits turns a request far past
// the end into a small request that reads sectors outside the source.
TEST_F(SectorReaderTest, RequestFarPastTheEndFailsWhateverItsLow32Bits) {
  const std::uint64_t limit = kTwoTo32 + 100;
  sources_.AddPattern("/dev/sdb", 4 * kTwoTo32 * kSectorSize);
  ChooseDisk("/dev/sdb", limit);
  auto buffer = Filled(16);
  EXPECT_FALSE(reader_.ReadSectors(16, buffer, limit + kTwoTo32 - 5));
  EXPECT_EQ(buffer, Filled(16));
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, limit - 8));
  EXPECT_EQ(Sectors(buffer, 0, 8), PatternBytes(limit - 8, 8));
}

TEST_F(SectorReaderTest, FourKilobyteSectorDeviceIsReadIn512ByteUnits) {
  sources_.AddPattern("/dev/sdd", 64 * 4096, 4096);
  sources_.AddPattern("/dev/sdd1", 64 * 4096, 4096);
  // One sector's room followed by guard bytes the reader must never touch.
  std::vector<std::uint8_t> memory(kSectorSize + 4096, kUntouched);
  const MutableBytes oneSector = std::span(memory).first(kSectorSize);

  ASSERT_TRUE(reader_.ReadPathSectors("/dev/sdd", 1, oneSector, 3));
  EXPECT_EQ(std::vector(memory.begin(), memory.begin() + kSectorSize), PatternBytes(3, 1));
  ASSERT_TRUE(reader_.ReadDriveSectors(1, "/dev/sdd1", 13, 1, oneSector));
  EXPECT_EQ(std::vector(memory.begin(), memory.begin() + kSectorSize), PatternBytes(13, 1));
  EXPECT_TRUE(std::all_of(memory.begin() + kSectorSize, memory.end(),
                          [](std::uint8_t b) { return b == kUntouched; }));
  EXPECT_EQ(reader_.PathDeviceSectorSize(), 4096u);
  EXPECT_EQ(reader_.DriveDeviceSectorSize(), 4096u);
}

TEST_F(SectorReaderTest, KeepsDeviceOpenUntilAnotherIsAskedFor) {
  sources_.AddPattern("/dev/sdb", 100 * kSectorSize);
  sources_.AddPattern("/dev/sdc", 100 * kSectorSize);
  sources_.AddPattern("/dev/sdb1", 100 * kSectorSize);
  sources_.AddPattern("/dev/sdb2", 100 * kSectorSize);
  auto buffer = Filled(1);

  ASSERT_TRUE(reader_.ReadPathSectors("/dev/sdb", 1, buffer, 0));
  ASSERT_TRUE(reader_.ReadPathSectors("/dev/sdb", 1, buffer, 50));
  EXPECT_EQ(sources_.OpenCount("/dev/sdb"), 1);
  ASSERT_TRUE(reader_.ReadPathSectors("/dev/sdc", 1, buffer, 0));
  EXPECT_EQ(sources_.LiveDevices(), 1);  // /dev/sdb was closed

  ASSERT_TRUE(reader_.ReadDriveSectors(1, "/dev/sdb1", 0, 1, buffer));
  ASSERT_TRUE(reader_.ReadDriveSectors(1, "/dev/sdb1", 7, 1, buffer));
  EXPECT_EQ(sources_.OpenCount("/dev/sdb1"), 1);
  EXPECT_EQ(sources_.LiveDevices(), 2);  // one per reader
  ASSERT_TRUE(reader_.ReadDriveSectors(2, "/dev/sdb2", 0, 1, buffer));
  EXPECT_EQ(sources_.LiveDevices(), 2);
  ASSERT_TRUE(reader_.ReadDriveSectors(1, "/dev/sdb1", 0, 1, buffer));
  EXPECT_EQ(sources_.OpenCount("/dev/sdb1"), 2);

  reader_.Close();
  EXPECT_EQ(sources_.LiveDevices(), 0);
}

TEST_F(SectorReaderTest, FailedOpenIsReportedWithItsErrno) {
  sources_.AddPattern("/dev/sdb", 100 * kSectorSize);
  auto buffer = Filled(1);
  EXPECT_FALSE(reader_.ReadPathSectors("/dev/missing", 1, buffer, 0));
  EXPECT_EQ(reader_.LastOpenError(), ENOENT);
  EXPECT_TRUE(reader_.ReadPathSectors("/dev/sdb", 1, buffer, 0));
  EXPECT_EQ(reader_.LastOpenError(), 0);
}

TEST_F(SectorReaderTest, ShortImageFailsTheRequestRunningPastItsEnd) {
  auto image = PatternBytes(0, 1000);
  image.resize(image.size() + 100);  // a torn last sector
  sources_.Add("short.img", image);
  ChooseDisk("short.img", 1010);  // the size recorded at selection was larger
  auto buffer = Filled(16);
  EXPECT_FALSE(reader_.ReadSectors(16, buffer, 992));
  EXPECT_EQ(Sectors(buffer, 0, 8), PatternBytes(992, 8));
  EXPECT_FALSE(reader_.ReadSectors(1, buffer, 1000));
  EXPECT_TRUE(reader_.ReadSectors(8, buffer, 992));
}

TEST_F(SectorReaderTest, UnreadableSectorFailsOnlyTheRequestsTouchingIt) {
  sources_.AddPattern("/dev/sdb", 100 * kSectorSize);
  sources_.SetBadSectors("/dev/sdb", {21});
  ChooseDisk("/dev/sdb", 100);
  auto buffer = Filled(16);
  EXPECT_FALSE(reader_.ReadSectors(16, buffer, 16));
  EXPECT_EQ(Sectors(buffer, 0, 5), PatternBytes(16, 5));  // what lies before the damage
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 0));
  ASSERT_TRUE(reader_.ReadSectors(16, buffer, 22));
  EXPECT_EQ(buffer, PatternBytes(22, 16));
}

}  // namespace
}  // namespace ravelin
