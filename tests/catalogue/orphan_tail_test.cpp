// Tails no page follows, found by the page checksum's sum over sectors.
#include "catalogue/orphan_tail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "page/page_format.h"
#include "support/page_builder.h"

namespace ravelin {
namespace {

using test::Page;

// A disk of noise in memory; sectors from `unreadableFrom` on cannot be read.
class Disk final : public FragmentSource {
 public:
  explicit Disk(std::uint64_t sectors) : bytes_(sectors * kSectorSize) {
    std::uint32_t x = 12345;
    for (auto& b : bytes_) {
      x = x * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(x >> 23);
    }
  }
  bool ReadSectors(std::uint64_t start, std::int64_t offset, std::int32_t count,
                   MutableBytes buffer) override {
    const auto first = static_cast<std::int64_t>(start) + offset;
    if (first < 0 || count < 0) return false;
    const auto at = static_cast<std::size_t>(first) * kSectorSize;
    const auto size = static_cast<std::size_t>(count) * kSectorSize;
    if (at + size > bytes_.size() || size > buffer.size()) return false;
    std::memcpy(buffer.data(), bytes_.data() + at, size);
    return true;
  }
  // `count` sectors of `page` from its sector `from` on, put at disk sector `at`.
  void Put(std::uint64_t at, const Page& page, std::size_t from, std::size_t count) {
    std::memcpy(bytes_.data() + at * kSectorSize, page.data() + from * kSectorSize,
                count * kSectorSize);
  }
  void Zero(std::uint64_t at, std::size_t count) {
    std::memset(bytes_.data() + at * kSectorSize, 0, count * kSectorSize);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Sector 14 of this checksum page is free space; stale bytes there, a repeated word, leave
// its checksum as zeros would.
Page WithStaleFreeSector() {
  Page page = test::RecordsPage(5, 70, 100).Checksum().Build();
  for (std::size_t i = 0; i < kSectorSize; ++i)
    page[14 * kSectorSize + i] = static_cast<std::uint8_t>(0xDEADBEEFu >> (8 * (i % 4)));
  return page;
}

TEST(FindOrphanTailTest, TakesTheOneTailTheChecksumAndStructureAgreeOn) {
  constexpr std::uint64_t kHead = 1000, kTail = 9000;
  struct Case {
    const char* name;
    Page truth;
    std::size_t head;      // sectors of the page at kHead; the rest lies at kTail
    int copies;            // more copies of the tail elsewhere, byte for byte
    bool zeroCopyOfStale;  // a copy elsewhere with sector 14 zero (differs in free space)
    bool tailOnDisk;       // false: the tail was overwritten
    std::int32_t cluster;
    bool found;
    bool uncertain;
  };
  const Page checksum = test::RecordsPage(3, 70, 100).Checksum().Build();
  const std::vector<Case> cases = {
      {"one tail, one-sector clusters", checksum, 11, 0, false, true, 1, true, false},
      {"one tail on a four-sector grid", checksum, 8, 0, false, true, 4, true, false},
      {"copies of the same tail give one page", checksum, 11, 2, false, true, 1, true, false},
      {"no tail on the disk", checksum, 11, 0, false, false, 1, false, false},
      {"torn bits say nothing of where a tail lies",
       test::RecordsPage(3, 70, 100).TornStamp().Build(), 11, 0, false, true, 1, false, false},
      {"versions differing in free space: the one with stale bytes, uncertain",
       WithStaleFreeSector(), 12, 0, true, true, 1, true, true},
  };
  for (const Case& c : cases) {
    Disk disk(40000);
    disk.Put(kHead, c.truth, 0, c.head);
    if (c.tailOnDisk) disk.Put(kTail, c.truth, c.head, 16 - c.head);
    for (int k = 0; k < c.copies; ++k) disk.Put(20000 + 5000 * k, c.truth, c.head, 16 - c.head);
    if (c.zeroCopyOfStale) {
      disk.Put(30000, c.truth, c.head, 16 - c.head);
      disk.Zero(30000 + 14 - c.head, 1);
    }
    Page page;
    ASSERT_TRUE(disk.ReadSectors(kHead, 0, 16, page)) << c.name;
    const Page asRead = page;
    ASSERT_NE(asRead, c.truth) << c.name;
    SectorSignatures signatures(disk);
    const std::optional<OrphanTail> tail =
        FindOrphanTail(page, kHead, c.cluster, kHead, signatures, disk);
    ASSERT_EQ(tail.has_value(), c.found) << c.name;
    EXPECT_EQ(page, c.found ? c.truth : asRead) << c.name;
    if (!tail) continue;
    EXPECT_EQ(tail->uncertain, c.uncertain) << c.name;
    EXPECT_EQ(tail->sectors, static_cast<std::int32_t>(16 - c.head)) << c.name;
    if (c.copies == 0 && !c.uncertain) {
      EXPECT_EQ(tail->sector, kTail) << c.name;
    }
  }
}

}  // namespace
}  // namespace ravelin
