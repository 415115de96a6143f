#include "page/page_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/page_builder.h"

namespace ravelin {
namespace {

using test::FileHeaderPage;
using test::HeaderOf;
using test::Page;
using test::PageBuilder;
using test::PfsPage;
namespace ph = page_header;

constexpr std::uint16_t kFile = 1;

// The three kinds of header the scan looks for, each valid as built.
std::vector<Page> ValidHeaders() {
  return {PageBuilder().PageId(77).Build(), FileHeaderPage(kFile, 500).Build(),
          PfsPage(kFile).Build()};
}

bool AnyHeaderTestPasses(const Page& page, std::uint16_t currentFileId) {
  const HeaderView h = HeaderOf(page);
  return IsDataPageHeader(h, currentFileId) || IsFileHeaderPage(h, currentFileId) ||
         IsPfsPageHeader(h, currentFileId);
}

TEST(PageHeaderTests, BuiltHeadersPassTheirOwnTestOnly) {
  const Page data = PageBuilder().PageId(77).Build();
  const Page fileHeader = FileHeaderPage(kFile, 500).Build();
  const Page pfs = PfsPage(kFile).Build();
  EXPECT_TRUE(IsDataPageHeader(HeaderOf(data), kFile));
  EXPECT_FALSE(IsFileHeaderPage(HeaderOf(data), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(data), kFile));
  EXPECT_TRUE(IsFileHeaderPage(HeaderOf(fileHeader), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(fileHeader), kFile));
  // Page 0 is never a data page, however perfect its header.
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(fileHeader), kFile));
  EXPECT_TRUE(IsPfsPageHeader(HeaderOf(pfs), kFile));
  EXPECT_FALSE(IsFileHeaderPage(HeaderOf(pfs), kFile));
  // Page 1 of type 11 is a plausible data page too: the scan follows it in a run.
  EXPECT_TRUE(IsDataPageHeader(HeaderOf(pfs), kFile));
}

TEST(PageHeaderTests, AnyNonZeroReservedByteFailsEveryTest) {
  for (const Page& valid : ValidHeaders()) {
    ASSERT_TRUE(AnyHeaderTestPasses(valid, kFile));
    for (std::size_t offset = ph::kReserved; offset < kPageHeaderSize; ++offset) {
      for (std::uint8_t value : {0x01, 0x80}) {
        Page page = valid;
        page[offset] = value;
        EXPECT_FALSE(AnyHeaderTestPasses(page, kFile)) << "byte " << offset;
      }
    }
  }
}

TEST(PageHeaderTests, ForeignFileIdFailsEveryTest) {
  for (const Page& valid : ValidHeaders()) {
    EXPECT_FALSE(AnyHeaderTestPasses(valid, 2));
    EXPECT_FALSE(AnyHeaderTestPasses(valid, 0));
  }
  const Page high = PageBuilder().FileId(0xFFFF).Build();
  EXPECT_TRUE(IsDataPageHeader(HeaderOf(high), 0xFFFF));
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(high), 0x7FFF));
}

TEST(PageHeaderTests, DataTestChecksVersionTypeAndTypeFlags) {
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(PageBuilder().Byte(ph::kHeaderVersion, 0).Build()), 1));
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(PageBuilder().Byte(ph::kHeaderVersion, 2).Build()), 1));
  for (int type = 0; type <= 255; ++type) {
    const Page page = PageBuilder().Type(static_cast<std::uint8_t>(type)).Build();
    EXPECT_EQ(IsDataPageHeader(HeaderOf(page), kFile), type >= 1 && type <= 19) << type;
  }
  for (int bits = 0; bits <= 255; ++bits) {
    const Page page = PageBuilder().TypeFlagBits(static_cast<std::uint8_t>(bits)).Build();
    EXPECT_EQ(IsDataPageHeader(HeaderOf(page), kFile), bits == 0 || bits == 1 || bits == 4) << bits;
  }
}

TEST(PageHeaderTests, OnlyIndexPagesMayHaveALevel) {
  EXPECT_TRUE(IsDataPageHeader(HeaderOf(PageBuilder().Type(2).Level(3).Build()), kFile));
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(PageBuilder().Type(1).Level(1).Build()), kFile));
  EXPECT_FALSE(IsDataPageHeader(HeaderOf(PageBuilder().Type(10).Level(255).Build()), kFile));
}

TEST(PageHeaderTests, DataTestWantsPositivePageNumber) {
  for (std::int32_t n : {0, -1, INT32_MIN}) {
    EXPECT_FALSE(IsDataPageHeader(HeaderOf(PageBuilder().PageId(n).Build()), kFile)) << n;
  }
  for (std::int32_t n : {1, 20'000'000, INT32_MAX}) {
    EXPECT_TRUE(IsDataPageHeader(HeaderOf(PageBuilder().PageId(n).Build()), kFile)) << n;
  }
}

// The limits compare unsigned: a signed compare would let 0x8000 and above through.
TEST(PageHeaderTests, CountLimitsAreInclusiveAndUnsigned) {
  struct Limit {
    std::size_t offset;
    std::uint16_t lowest;
    std::uint16_t highest;
  };
  const Limit limits[] = {{ph::kFreeCnt, 0, 8096},
                          {ph::kSlotCnt, 0, 8096},
                          {ph::kGhostRecCnt, 0, 8096},
                          {ph::kFreeData, 96, 8192},
                          {ph::kReservedCnt, 0, 8192}};
  for (const Limit& limit : limits) {
    auto passes = [&](std::uint16_t v) {
      return IsDataPageHeader(HeaderOf(PageBuilder().U16(limit.offset, v).Build()), kFile);
    };
    EXPECT_TRUE(passes(limit.lowest)) << limit.offset;
    EXPECT_TRUE(passes(limit.highest)) << limit.offset;
    EXPECT_FALSE(passes(static_cast<std::uint16_t>(limit.highest + 1))) << limit.offset;
    EXPECT_FALSE(passes(0x8000)) << limit.offset;
    EXPECT_FALSE(passes(0xFFFF)) << limit.offset;
    if (limit.lowest > 0) {
      EXPECT_FALSE(passes(limit.lowest - 1)) << limit.offset;
    }
  }
}

TEST(PageHeaderTests, AllocationPagesWantOneSlotObject99AndNoLinks) {
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).SlotCount(2).Build()), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).SlotCount(0).Build()), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).ObjId(98).Build()), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).PageId(2).Build()), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).Level(1).Build()), kFile));
  EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).FreeData(95).Build()), kFile));
  EXPECT_FALSE(IsFileHeaderPage(HeaderOf(FileHeaderPage(kFile, 9).ObjId(100).Build()), kFile));
  EXPECT_FALSE(IsFileHeaderPage(HeaderOf(FileHeaderPage(kFile, 9).PageId(1).Build()), kFile));
  // m_indexId, m_prevPage, m_pminlen, m_nextPage: bytes 6..21 all zero.
  for (std::size_t offset = ph::kIndexId; offset < ph::kSlotCnt; ++offset) {
    EXPECT_FALSE(IsPfsPageHeader(HeaderOf(PfsPage(kFile).Byte(offset, 1).Build()), kFile));
    EXPECT_FALSE(
        IsFileHeaderPage(HeaderOf(FileHeaderPage(kFile, 9).Byte(offset, 1).Build()), kFile));
  }
}

TEST(PageHeaderTests, AllocationPagesIgnoreTypeFlagsAndFlagHighByte) {
  const Page pfs = PfsPage(kFile).TypeFlagBits(0xFF).U16(ph::kFlagBits, 0xFFFF).Build();
  EXPECT_TRUE(IsPfsPageHeader(HeaderOf(pfs), kFile));
  // The file header page wants the low byte of m_flagBits to be 0 or 8; the high byte (where
  // the protection nibble lives) is free.
  for (int low = 0; low <= 255; ++low) {
    const Page page = FileHeaderPage(kFile, 9)
                          .Byte(ph::kFlagBits, static_cast<std::uint8_t>(low))
                          .Byte(ph::kFlagBits + 1, 0xF3)
                          .Build();
    EXPECT_EQ(IsFileHeaderPage(HeaderOf(page), kFile), low == 0 || low == 8) << low;
  }
}

TEST(PageHeaderTests, ExpectedPageNeedsExactNumberAndFileId) {
  const Page page = PageBuilder().PageId(1234).Build();
  EXPECT_TRUE(IsExpectedPage(kFile, 1234, HeaderOf(page), kFile));
  EXPECT_FALSE(IsExpectedPage(kFile, 1235, HeaderOf(page), kFile));
  EXPECT_FALSE(IsExpectedPage(2, 1234, HeaderOf(page), kFile));
  // The header carries the asked-for file id, but it is not the current file's.
  const Page other = PageBuilder().PageId(1234).FileId(2).Build();
  EXPECT_FALSE(IsExpectedPage(2, 1234, HeaderOf(other), kFile));
  // A plausible number is not enough: the header must also pass the data-page test.
  const Page broken = PageBuilder().PageId(1234).Byte(90, 1).Build();
  EXPECT_FALSE(IsExpectedPage(kFile, 1234, HeaderOf(broken), kFile));
}

// A page holding one non-zero word w at index j checksums to rotl(w, 15 - j / 128).
TEST(PageChecksumTests, EachWordRotatesLeftBySectorDistanceFromTheEnd) {
  for (std::size_t j : {0u, 14u, 16u, 127u, 128u, 1000u, 1920u, 2047u}) {
    Page page{};
    Store32(page, 4 * j, 0x00000001u);
    EXPECT_EQ(PageChecksum(page), std::rotl(0x00000001u, static_cast<int>(15 - j / 128)))
        << "word " << j;
  }
  Page page{};
  Store32(page, 4 * 300, 0x80000001u);  // sector 2: rotl 13 wraps the top bit round
  EXPECT_EQ(PageChecksum(page), 0x00003000u);
}

TEST(PageChecksumTests, StoredChecksumWordTakesNoPart) {
  Page page{};
  Store32(page, ph::kTornBits, 0xDEADBEEF);
  EXPECT_EQ(PageChecksum(page), 0u);
  const Page built = PageBuilder().Noise(7).Build();
  Page withStamp = built;
  Store32(withStamp, ph::kTornBits, 0x12345678);
  EXPECT_EQ(PageChecksum(built), PageChecksum(withStamp));
}

TEST(PageIntegrityTests, ZeroPageIsIntactUnprotectedPageIsNot) {
  EXPECT_TRUE(IsPageIntact(Page{}));
  Page oneByte{};
  oneByte[8191] = 1;
  EXPECT_FALSE(IsPageIntact(oneByte));
  EXPECT_FALSE(IsPageIntact(PageBuilder().Noise(3).Build()));
}

TEST(PageIntegrityTests, ChecksumPageIsIntactUntilAnyByteChanges) {
  const Page page = PageBuilder().Noise(11).Checksum().Build();
  EXPECT_EQ(page[5] & 0x0F, 2);
  EXPECT_TRUE(IsPageIntact(page));
  for (std::size_t offset : {0u, 59u, 60u, 63u, 64u, 511u, 512u, 4000u, 8191u}) {
    Page damaged = page;
    damaged[offset] ^= 0x10;
    EXPECT_FALSE(IsPageIntact(damaged)) << offset;
  }
  // The high nibble of byte 5 is not part of the protection kind.
  Page highNibble = PageBuilder().Noise(11).Byte(5, 0x70).Checksum().Build();
  EXPECT_TRUE(IsPageIntact(highNibble));
  // Any other nibble: a matching checksum is not looked at.
  Page otherKind = page;
  otherKind[5] = static_cast<std::uint8_t>((otherKind[5] & 0xF0) | 3);
  Store32(otherKind, ph::kTornBits, PageChecksum(otherKind));
  EXPECT_FALSE(IsPageIntact(otherKind));
}

TEST(PageIntegrityTests, TornBitsMustAllMatchThePattern) {
  for (std::uint8_t pattern : {1, 2}) {
    const Page page = PageBuilder().Noise(5).TornStamp(pattern).Build();
    EXPECT_EQ(page[5] & 0x0F, 1);
    EXPECT_TRUE(IsPageIntact(page));
    for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
      Page torn = page;
      torn[512 * k + 511] ^= 0x03;  // the sector was written by an older write
      EXPECT_FALSE(IsPageIntact(torn)) << "sector " << k;
      Page highBits = page;
      highBits[512 * k + 511] ^= 0xFC;  // only the two low bits are compared
      EXPECT_TRUE(IsPageIntact(highBits)) << "sector " << k;
    }
    Page sectorZero = page;
    sectorZero[511] ^= 0x03;  // sector 0 carries no pattern
    EXPECT_TRUE(IsPageIntact(sectorZero));
  }
}

TEST(TornBitsTests, RestorePutsEachSavedPairIntoItsOwnSector) {
  // Pattern 1 in bits 0-1; sector k saved (k % 4) so that neighbouring pairs differ.
  std::uint32_t tornBits = 1;
  for (std::uint32_t k = 1; k < kSectorsPerPage; ++k) tornBits |= (k % 4) << (2 * k);
  Page page = PageBuilder().Byte(5, 0x01).U32(ph::kTornBits, tornBits).Build();
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) page[512 * k + 511] = 0xA5;  // 101001|01
  const Page before = page;
  RestoreTornBits(page);
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
    EXPECT_EQ(page[512 * k + 511], 0xA4 | (k % 4)) << "sector " << k;
  }
  // Nothing else moves.
  for (std::size_t i = 0; i < kPageSize; ++i) {
    if (i % 512 != 511 || i == 511) {
      EXPECT_EQ(page[i], before[i]) << i;
    }
  }
}

TEST(TornBitsTests, StampThenRestoreGivesBackThePageAndIsIdempotent) {
  for (std::uint8_t pattern : {1, 2}) {
    Page original = PageBuilder().Noise(99).Build();
    Page stamped = PageBuilder().Noise(99).TornStamp(pattern).Build();
    Page restored = stamped;
    RestoreTornBits(restored);
    // Only bytes 5 and 60..63 (flag and saved bits) differ from the page before stamping.
    for (std::size_t i = 0; i < kPageSize; ++i) {
      if (i == 5 || (i >= 60 && i < 64)) continue;
      ASSERT_EQ(restored[i], original[i]) << i;
    }
    Page twice = restored;
    RestoreTornBits(twice);
    EXPECT_EQ(twice, restored);
  }
}

TEST(TornBitsTests, RestoreLeavesOtherPagesUnchanged) {
  Page base = PageBuilder().Noise(4).Build();
  auto restoreChanges = [](Page page) {
    const Page before = page;
    RestoreTornBits(page);
    return page != before;
  };
  for (std::uint32_t pattern : {0u, 3u}) {  // not a pattern SQL Server writes
    Page page = base;
    page[5] = 0x01;
    Store32(page, ph::kTornBits, 0xFFFFFFF0u | pattern);
    EXPECT_FALSE(restoreChanges(page)) << pattern;
  }
  Page checksum = PageBuilder().Noise(4).Checksum().Build();  // bit 0 of byte 5 clear
  EXPECT_FALSE(restoreChanges(checksum));
  // Bit 0 alone decides: nibble 3 restores too, although IsPageIntact would reject it.
  Page nibble3 = base;
  nibble3[5] = 0x03;
  Store32(nibble3, ph::kTornBits, 0xFFFFFFFDu);
  nibble3[1023] = 0x00;
  RestoreTornBits(nibble3);
  EXPECT_EQ(nibble3[1023], 0x03);
}

TEST(CopyPageBytesTests, CopiesOnlyWhatLiesInsideBoth) {
  Page page{};
  for (std::size_t i = 0; i < kPageSize; ++i) page[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> dest(16, 0xEE);

  CopyPageBytes(page, dest, 100, 8);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(dest[i], page[100 + i]);
  EXPECT_EQ(dest[8], 0xEE);

  std::fill(dest.begin(), dest.end(), 0xEE);
  CopyPageBytes(page, dest, -4, 8);  // first four would come from before the page
  EXPECT_EQ(dest[3], 0xEE);
  EXPECT_EQ(dest[4], page[0]);
  EXPECT_EQ(dest[7], page[3]);
  EXPECT_EQ(dest[8], 0xEE);

  std::fill(dest.begin(), dest.end(), 0xEE);
  CopyPageBytes(page, dest, 8188, 16);  // runs off the page end
  EXPECT_EQ(dest[3], page[8191]);
  EXPECT_EQ(dest[4], 0xEE);

  std::fill(dest.begin(), dest.end(), 0xEE);
  CopyPageBytes(page, dest, 0, 1'000'000);  // more than the destination holds
  EXPECT_EQ(dest[15], page[15]);

  std::fill(dest.begin(), dest.end(), 0xEE);
  for (auto [start, count] : {std::pair<std::int64_t, std::int64_t>{INT64_MIN, INT64_MAX},
                              {INT64_MAX, INT64_MAX},
                              {8192, 4},
                              {0, 0},
                              {0, -5},
                              {-20, 16}}) {
    CopyPageBytes(page, dest, start, count);
  }
  EXPECT_EQ(dest, std::vector<std::uint8_t>(16, 0xEE));
}

TEST(RowTextTests, GetFieldReadsBarTerminatedFields) {
  EXPECT_EQ(GetField("x|y|z|", 1), "x");
  EXPECT_EQ(GetField("x|y|z|", 3), "z");
  EXPECT_EQ(GetField("x|y|z|", 4), "");
  EXPECT_EQ(GetField("x|y", 1), "x");
  EXPECT_EQ(GetField("x|y", 2), "");  // text after the last "|" is no field
  EXPECT_EQ(GetField("xyz", 1), "");
  EXPECT_EQ(GetField("", 1), "");
  EXPECT_EQ(GetField("|12|", 1), "");
  EXPECT_EQ(GetField("|12|", 2), "12");
  EXPECT_EQ(GetField("a|b|", 0), "");
  EXPECT_EQ(GetField("a|b|", -1), "");
  EXPECT_EQ(GetField("1|2048|2064|8|0|1|无效文件头,size:0KB|1|", 7), "无效文件头,size:0KB");
}

TEST(RowTextTests, ExtractDirPartKeepsTheLastBackslash) {
  EXPECT_EQ(ExtractDirPart("C:\\data\\sub\\x.mdf"), "C:\\data\\sub\\");
  EXPECT_EQ(ExtractDirPart("x.mdf"), "");
  EXPECT_EQ(ExtractDirPart("C:\\"), "C:\\");
  EXPECT_EQ(ExtractDirPart("/home/u/x.mdf"), "");  // "/" is not the separator here
  EXPECT_EQ(ExtractDirPart(""), "");
}

TEST(ScrambleTests, WordIsRotatedRightThenKeyed) {
  std::vector<std::uint8_t> bytes = {0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xAB, 0xCD};
  ScramblePage(bytes, 0x10);
  EXPECT_EQ(Load32(bytes, 0), 0x80000011u);
  EXPECT_EQ(Load32(bytes, 4), 0x00000011u);
  EXPECT_EQ(bytes[8], 0xAB);  // a tail shorter than a word is left alone
  EXPECT_EQ(bytes[9], 0xCD);
}

TEST(ScrambleTests, UnscrambleInvertsScrambleForEveryKey) {
  const Page original = PageBuilder().Noise(21).Checksum().Build();
  for (std::uint32_t key : {0u, 1u, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
    Page page = original;
    ScramblePage(page, key);
    if (key != 0) {
      EXPECT_NE(page, original);
    }
    UnscramblePage(page, key);
    EXPECT_EQ(page, original) << key;
  }
}

}  // namespace
}  // namespace ravelin
