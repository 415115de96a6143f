#include "common/bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace ravelin {
namespace {

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

TEST(BytesTest, LoadsAreLittleEndianAndZeroPastTheEnd) {
  const std::vector<std::uint8_t> b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  EXPECT_EQ(Load16(b, 0), 0x0201);
  EXPECT_EQ(Load32(b, 4), 0x08070605u);
  EXPECT_EQ(Load64(b, 0), 0x0807060504030201ull);
  // The last whole value fits; one byte further does not.
  EXPECT_EQ(Load8(b, 7), 0x08);
  EXPECT_EQ(Load8(b, 8), 0);
  EXPECT_EQ(Load16(b, 6), 0x0807);
  EXPECT_EQ(Load16(b, 7), 0);
  EXPECT_EQ(Load32(b, 5), 0u);
  EXPECT_EQ(Load64(b, 1), 0u);
  // Offsets near the top of size_t must not wrap round into the span.
  EXPECT_EQ(Load16(b, kHuge), 0);
  EXPECT_EQ(Load32(b, kHuge - 1), 0u);
  EXPECT_EQ(Load64(b, kHuge - 6), 0u);
  EXPECT_EQ(Load32(ByteView{}, 0), 0u);
}

TEST(BytesTest, StoresPastTheEndDoNothing) {
  std::vector<std::uint8_t> b(6, 0xAA);
  Store32(b, 2, 0x11223344);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0xAA, 0xAA, 0x44, 0x33, 0x22, 0x11}));
  Store32(b, 3, 0);
  Store16(b, 5, 0);
  Store64(b, 0, 0);
  Store16(b, kHuge, 0);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0xAA, 0xAA, 0x44, 0x33, 0x22, 0x11}));
}

}  // namespace
}  // namespace ravelin
