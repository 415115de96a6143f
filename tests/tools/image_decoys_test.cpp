// Look-alike copies of a real file: an older copy must really be older (lower LSNs) and
// still pass its own page protection, or it is no trap at all.
#include "gen/image_decoys.h"

#include <gtest/gtest.h>

#include <array>

#include "gen/page_protection.h"
#include "gen/real_file_source.h"
#include "support/real_files.h"

namespace ravelin::gen {
namespace {

std::uint64_t LsnKey(const std::array<std::uint8_t, kPageSize>& page) {
  return (std::uint64_t{Load32(page, 40)} << 32) | Load32(page, 44);
}

TEST(PatchedPageSource, OlderCopyHasLowerLsnsAndStaysProtected) {
  for (const char* name : {"checksum-2014.mdf", "tornpage-2008r2.mdf"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<RealFileSource> real;
    const Status opened = RealFileSource::Open(test::RealFilePath(name), real);
    if (!opened.ok()) GTEST_SKIP() << opened.message();
    // Ages larger than many pages' block numbers: lowering must borrow from the VLF.
    const PatchedPageSource older(*real, {std::nullopt, 100000}, "older");
    EXPECT_LT(HeaderLsnText(older), HeaderLsnText(*real));
    int changed = 0;
    for (std::int64_t n = 0; n < real->PageCount(); ++n) {
      std::array<std::uint8_t, kPageSize> a{}, b{};
      real->ReadPage(n, a);
      older.ReadPage(n, b);
      if (LsnKey(a) > 100000) {
        EXPECT_LT(LsnKey(b), LsnKey(a)) << "page " << n;
      }
      EXPECT_LE(LsnKey(b), LsnKey(a)) << "page " << n;
      if (ProtectionNibble(a) == 2) {
        EXPECT_TRUE(ChecksumMatches(b)) << "page " << n;
      } else if (ProtectionNibble(a) == 1) {
        EXPECT_TRUE(TornBitsConsistent(b)) << "page " << n;
      }
      changed += a != b;
    }
    EXPECT_GT(changed, real->PageCount() / 2);
  }
}

}  // namespace
}  // namespace ravelin::gen
