// The page operations against database files written by SQL Server itself, and against
// random and hostile bytes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>

#include "page/page_format.h"
#include "support/page_builder.h"
#include "support/real_files.h"

namespace ravelin {
namespace {

using test::kRealFiles;
using test::Page;

bool IsZero(PageView page) {
  for (std::uint8_t b : page) {
    if (b != 0) return false;
  }
  return true;
}

class RealFileTest : public ::testing::TestWithParam<test::RealFileFacts> {};

TEST_P(RealFileTest, SizeFromPage0AndNameFromPage32) {
  const test::RealFileFacts& facts = GetParam();
  RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
  ASSERT_EQ(file.PageCount(), facts.pageCount);

  Page page0 = file.Copy(0);
  RestoreTornBits(page0);
  std::int32_t size = 0;
  ASSERT_EQ(GetFileSizeFromHeader(page0, size), 0);
  EXPECT_EQ(size, facts.pageCount);

  Page page32 = file.Copy(32);
  RestoreTornBits(page32);
  std::string name;
  ASSERT_EQ(GetFileNameFromPage(page32, name), 0);
  EXPECT_EQ(name, facts.physicalName);
}

TEST_P(RealFileTest, EveryPageIsRecognisedAtItsPosition) {
  const test::RealFileFacts& facts = GetParam();
  RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
  const auto header = [&](std::int64_t n) { return file.View(n).first<kPageHeaderSize>(); };
  EXPECT_TRUE(IsFileHeaderPage(header(0), 1));
  EXPECT_TRUE(IsPfsPageHeader(header(1), 1));
  EXPECT_FALSE(IsFileHeaderPage(header(0), 2));
  for (std::int64_t n = 1; n < file.PageCount(); ++n) {
    if (IsZero(file.View(n))) continue;
    EXPECT_TRUE(IsExpectedPage(1, static_cast<std::int32_t>(n), header(n), 1)) << "page " << n;
    EXPECT_FALSE(IsFileHeaderPage(header(n), 1)) << "page " << n;
    if (n != 1) {
      EXPECT_FALSE(IsPfsPageHeader(header(n), 1)) << "page " << n;
    }
  }
}

TEST_P(RealFileTest, IntegrityFollowsTheRecordedProtection) {
  const test::RealFileFacts& facts = GetParam();
  RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
  int protectedPages = 0;
  int unprotectedPages = 0;
  for (std::int64_t n = 0; n < file.PageCount(); ++n) {
    const PageView page = file.View(n);
    const int nibble = page[5] & 0x0F;
    if (IsZero(page)) {
      EXPECT_TRUE(IsPageIntact(page));
    } else if (nibble == 0) {
      ++unprotectedPages;
      EXPECT_FALSE(IsPageIntact(page)) << "page " << n;
    } else {
      ++protectedPages;
      EXPECT_EQ(nibble, facts.protection) << "page " << n;
      EXPECT_TRUE(IsPageIntact(page)) << "page " << n;
      if (nibble == 2) {
        EXPECT_EQ(PageChecksum(page), Load32(page, 60)) << "page " << n;
      }
    }
  }
  EXPECT_GT(protectedPages, 100);
  EXPECT_GT(unprotectedPages, 0);
}

TEST_P(RealFileTest, RestoringTouchesOnlyTornPageProtectedPages) {
  const test::RealFileFacts& facts = GetParam();
  RAVELIN_LOAD_REAL_OR_SKIP(file, facts.fileName);
  int changed = 0;
  for (std::int64_t n = 0; n < file.PageCount(); ++n) {
    Page page = file.Copy(n);
    RestoreTornBits(page);
    const bool differs = !std::equal(page.begin(), page.end(), file.View(n).begin());
    if (differs) {
      ++changed;
      EXPECT_EQ(file.View(n)[5] & 0x0F, 1) << "page " << n;
    }
  }
  if (facts.protection == 2) {
    EXPECT_EQ(changed, 0);
  }
  if (facts.protection == 1) {
    EXPECT_GT(changed, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, RealFileTest, ::testing::ValuesIn(kRealFiles),
                         [](const auto& info) {
                           std::string name(
                               info.param.fileName.substr(0, info.param.fileName.find('.')));
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(TornPageSample, Page0Slot0IsWrongUntilRestored) {
  RAVELIN_LOAD_REAL_OR_SKIP(file, "tornpage-2008r2.mdf");
  Page page = file.Copy(0);
  EXPECT_EQ(static_cast<std::int16_t>(Load16(page, 8190)), 352);
  RestoreTornBits(page);
  EXPECT_EQ(static_cast<std::int16_t>(Load16(page, 8190)), 96);
}

// Random pages, and random pages salted with the patterns the readers look for, with every
// kind of row-0 offset: no read leaves the page (ASan), and every answer is well formed.
TEST(HostilePages, ReadersAnswerStatusOrNameOnAnyBytes) {
  std::mt19937 rng(20240611);
  const std::int16_t offsets[] = {INT16_MIN, -8192, -2,   -1,   0,    1,        95,
                                  96,        4000,  8183, 8184, 8185, 8187,     8188,
                                  8189,      8190,  8191, 8192, 8193, INT16_MAX};
  const std::u16string salts[] = {u"  ", u".mdf", u".MDF", u"  x.mdf", u"\xD800.mdf"};
  for (int round = 0; round < 400; ++round) {
    Page page;
    for (auto& b : page) b = static_cast<std::uint8_t>(rng());
    if (round % 2 == 0) {
      for (int s = 0; s < 40; ++s) {
        const std::u16string& salt = salts[rng() % std::size(salts)];
        const std::size_t at = rng() % (kPageSize - 2 * salt.size());
        for (std::size_t u = 0; u < salt.size(); ++u) Store16(page, at + 2 * u, salt[u]);
        if (s % 8 == 0) Store32(page, rng() % (kPageSize - 4), 0xFFFFFFFF);
      }
    }
    const std::int16_t r =
        (round % 3 == 0) ? static_cast<std::int16_t>(rng()) : offsets[round % std::size(offsets)];
    Store16(page, 8190, static_cast<std::uint16_t>(r));

    std::string name = "stale";
    const int nameStatus = GetFileNameFromPage(page, name);
    ASSERT_TRUE(nameStatus == 0 || nameStatus == 1);
    if (nameStatus == 0) {
      ASSERT_GE(name.size(), 4u);
      EXPECT_EQ(name.substr(name.size() - 4), ".mdf");
    } else {
      EXPECT_EQ(name, "");
    }
    std::int32_t size = -1;
    const int sizeStatus = GetFileSizeFromHeader(page, size);
    ASSERT_TRUE(sizeStatus == 0 || sizeStatus == 1);
    if (sizeStatus == 1) {
      EXPECT_EQ(size, 0);
    }

    const HeaderView header(page.data(), kPageHeaderSize);
    (void)IsDataPageHeader(header, 1);
    (void)IsPageIntact(page);
    RestoreTornBits(page);
  }
}

}  // namespace
}  // namespace ravelin
