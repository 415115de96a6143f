#include "datasource/fault_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "datasource/memory_device.h"
#include "support/memory_sources.h"

namespace ravelin {
namespace {

using test::PatternBytes;

std::unique_ptr<Device> Image(std::size_t sectors) {
  return std::make_unique<MemoryDevice>(
      std::make_shared<const std::vector<std::uint8_t>>(PatternBytes(0, sectors)));
}

TEST(FaultyDeviceTest, ReadTouchingABadSectorDeliversOnlyTheBytesBeforeIt) {
  FaultyDevice device(Image(64), {10, 40});
  std::vector<std::uint8_t> out(8 * kSectorSize, 0xEE);
  // Starts in the middle of sector 6 and ends in the first byte of sector 10.
  const std::uint64_t from = 6 * kSectorSize + 100;
  EXPECT_FALSE(device.ReadAt(from, std::span(out).first(4 * kSectorSize - 99)));
  const auto expected = PatternBytes(0, 64);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4 * kSectorSize - 100,
                         expected.begin() + static_cast<std::ptrdiff_t>(from)));
  EXPECT_EQ(out[4 * kSectorSize - 100], 0xEE);
  // Ending on the last byte of sector 9 touches nothing bad.
  EXPECT_TRUE(device.ReadAt(from, std::span(out).first(4 * kSectorSize - 100)));
  EXPECT_FALSE(device.ReadAt(40 * kSectorSize + 511, std::span(out).first(1)));
  EXPECT_TRUE(device.ReadAt(41 * kSectorSize, out));
}

TEST(FaultyDeviceTest, FailsEveryReadAfterTheGoodOnes) {
  FaultyDevice device(Image(8));
  device.FailReadsAfter(2);
  std::vector<std::uint8_t> out(kSectorSize);
  EXPECT_TRUE(device.ReadAt(0, out));
  EXPECT_TRUE(device.ReadAt(512, out));
  EXPECT_FALSE(device.ReadAt(0, out));
  EXPECT_FALSE(device.ReadAt(0, out));
  EXPECT_EQ(device.ReadCount(), 4u);
}

TEST(MemoryDeviceTest, ReadRunningPastTheEndCopiesWhatExistsAndFails) {
  MemoryDevice device(std::make_shared<const std::vector<std::uint8_t>>(PatternBytes(0, 2)), 4096);
  std::vector<std::uint8_t> out(kSectorSize * 2, 0xEE);
  EXPECT_FALSE(device.ReadAt(kSectorSize, out));
  EXPECT_EQ(std::vector(out.begin(), out.begin() + kSectorSize), PatternBytes(1, 1));
  EXPECT_EQ(out[kSectorSize], 0xEE);
  EXPECT_FALSE(device.ReadAt(5 * kSectorSize, out));
  EXPECT_TRUE(device.ReadAt(2 * kSectorSize, {}));
  EXPECT_EQ(device.LogicalSectorSize(), 4096u);
  EXPECT_EQ(device.SizeBytes(), 2 * kSectorSize);
}

}  // namespace
}  // namespace ravelin
