// The generator's own page protection, held to the pages SQL Server wrote: a checksum or
// torn-bit rule that disagrees with the real files would make every generated image lie.
#include "gen/page_protection.h"

#include <gtest/gtest.h>

#include <array>

#include "support/real_files.h"

namespace ravelin::gen {
namespace {

using PageBytes = std::array<std::uint8_t, kPageSize>;

PageBytes CopyOf(const test::RealFile& file, std::int64_t n) {
  PageBytes page{};
  const PageView view = file.View(n);
  std::copy(view.begin(), view.end(), page.begin());
  return page;
}

TEST(PageProtection, EveryProtectedPageOfTheRealFilesVerifies) {
  struct Expected {
    std::string_view file;
    int checksumPages, tornPages;
  };
  // Counts from the sample files' README.
  for (const Expected& e :
       {Expected{"checksum-2005.mdf", 178, 0}, Expected{"tornpage-2008r2.mdf", 0, 405},
        Expected{"checksum-2014.mdf", 293, 0}}) {
    SCOPED_TRACE(e.file);
    RAVELIN_LOAD_REAL_OR_SKIP(real, e.file);
    int checksummed = 0, torn = 0;
    for (std::int64_t n = 0; n < real.PageCount(); ++n) {
      const PageView page = real.View(n);
      if (ProtectionNibble(page) == 2) {
        ++checksummed;
        EXPECT_TRUE(ChecksumMatches(page)) << "page " << n;
        // Stamping again gives the very bytes SQL Server wrote.
        PageBytes copy = CopyOf(real, n);
        StampChecksum(copy);
        EXPECT_TRUE(std::equal(copy.begin(), copy.end(), page.begin())) << "page " << n;
      } else if (ProtectionNibble(page) == 1) {
        ++torn;
        EXPECT_TRUE(TornBitsConsistent(page)) << "page " << n;
        // Restoring and stamping with the same pattern is the identity.
        PageBytes copy = CopyOf(real, n);
        UndoTornBits(copy);
        UndoTornBits(copy);  // idempotent
        StampTornBits(copy, static_cast<std::uint8_t>(Load32(page, 60) & 3));
        EXPECT_TRUE(std::equal(copy.begin(), copy.end(), page.begin())) << "page " << n;
      }
    }
    EXPECT_EQ(checksummed, e.checksumPages);
    EXPECT_EQ(torn, e.tornPages);
  }
}

TEST(PageProtection, TornPageFileReadsRightOnlyAfterUndoingTheTornBits) {
  RAVELIN_LOAD_REAL_OR_SKIP(real, "tornpage-2008r2.mdf");
  PageBytes page = CopyOf(real, 0);
  EXPECT_EQ(Load16(page, kPageSize - 2), 352);
  UndoTornBits(page);
  EXPECT_EQ(Load16(page, kPageSize - 2), 96);
}

// Any single changed byte outside m_tornBits breaks a checksum; a sector written with the
// other pattern (a torn write) breaks torn-page protection.
TEST(PageProtection, DamageIsNoticed) {
  PageBytes page{};
  for (std::size_t i = 0; i < kPageSize; ++i) page[i] = static_cast<std::uint8_t>(i * 37 + 11);
  PageBytes checksummed = page;
  StampChecksum(checksummed);
  EXPECT_EQ(ProtectionNibble(checksummed), 2);
  ASSERT_TRUE(ChecksumMatches(checksummed));
  for (std::size_t at : {std::size_t{0}, std::size_t{59}, std::size_t{64}, std::size_t{511},
                         std::size_t{512}, std::size_t{4000}, kPageSize - 1}) {
    PageBytes damaged = checksummed;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(ChecksumMatches(damaged)) << "byte " << at;
  }

  for (std::uint8_t pattern : {1, 2}) {
    PageBytes torn = page;
    StampTornBits(torn, pattern);
    ASSERT_TRUE(TornBitsConsistent(torn));
    EXPECT_EQ(Load32(torn, 60) & 3, pattern);
    for (std::size_t sector : {1, 8, 15}) {
      PageBytes damaged = torn;
      damaged[sector * kSectorSize + kSectorSize - 1] ^= 0x03;  // 1 <-> 2
      EXPECT_FALSE(TornBitsConsistent(damaged)) << "sector " << sector;
    }
    UndoTornBits(torn);
    torn[4] = page[4];
    torn[5] = page[5];
    for (std::size_t i = 60; i < 64; ++i) torn[i] = page[i];
    EXPECT_EQ(torn, page) << "undo puts back every sector end";
  }
}

}  // namespace
}  // namespace ravelin::gen
