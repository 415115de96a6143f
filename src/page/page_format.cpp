#include "page/page_format.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ravelin {
namespace {

namespace ph = page_header;

// Largest count a header may claim for free bytes, slots or ghost records: the page body.
constexpr std::uint16_t kMaxRowBytes = kPageSize - kPageHeaderSize;  // 8096

// Native load of a little-endian word at p. On little-endian hosts this is a plain load that
// the compiler can vectorise; elsewhere it falls back to byte assembly.
inline std::uint32_t LoadWordLe(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return DecodeFixed32(p);
  }
}

inline std::uint64_t LoadQwordNative(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Header fields at fixed offsets below 96: the span's static extent makes these checks free.
inline std::uint8_t H8(HeaderView h, std::size_t off) { return h[off]; }
inline std::uint16_t H16(HeaderView h, std::size_t off) { return Load16(h, off); }
inline std::uint32_t H32(HeaderView h, std::size_t off) { return Load32(h, off); }
inline std::int32_t PageNumberOf(HeaderView h) {
  return static_cast<std::int32_t>(H32(h, ph::kPageNumber));
}

// Bytes 64..95 are reserved and always zero on a real page.
inline bool ReservedIsZero(HeaderView h) {
  const std::uint8_t* p = h.data() + ph::kReserved;
  return (LoadQwordNative(p) | LoadQwordNative(p + 8) | LoadQwordNative(p + 16) |
          LoadQwordNative(p + 24)) == 0;
}

// The unsigned 16-bit range limits shared by every header test.
inline bool CountsInRange(HeaderView h) {
  const std::uint16_t freeData = H16(h, ph::kFreeData);
  return H16(h, ph::kFreeCnt) <= kMaxRowBytes && H16(h, ph::kSlotCnt) <= kMaxRowBytes &&
         H16(h, ph::kGhostRecCnt) <= kMaxRowBytes && freeData >= kPageHeaderSize &&
         freeData <= kPageSize && H16(h, ph::kReservedCnt) <= kPageSize;
}

// PFS page (page 1) and file header page (page 0) share one shape: a single row owned by the
// allocation object 99, no index id, no page links, no pminlen.
bool IsAllocationPageHeader(HeaderView h, std::uint16_t currentFileId, std::uint8_t type,
                            std::int32_t pageNumber) {
  if (H8(h, ph::kHeaderVersion) != 1 || H8(h, ph::kType) != type) return false;
  if (H16(h, ph::kFileId) != currentFileId) return false;
  if (PageNumberOf(h) != pageNumber) return false;
  if (H8(h, ph::kLevel) != 0) return false;
  if (H16(h, ph::kSlotCnt) != 1) return false;
  if (static_cast<std::int32_t>(H32(h, ph::kObjId)) != kAllocationObjectId) return false;
  // m_indexId, m_prevPage, m_pminlen, m_nextPage: bytes 6..21.
  const std::uint8_t* links = h.data() + ph::kIndexId;
  if ((LoadQwordNative(links) | LoadQwordNative(links + 8)) != 0) return false;
  if (!CountsInRange(h)) return false;
  return ReservedIsZero(h);
}

// Offset of the last byte of sector k (1..15): its two low bits are the torn-page slot.
constexpr std::size_t SectorEnd(std::size_t k) { return kSectorSize * k + kSectorSize - 1; }

inline std::uint8_t FlagNibble(PageView page) { return page[ph::kFlagBits + 1] & 0x0F; }

}  // namespace

bool IsDataPageHeader(HeaderView header, std::uint16_t currentFileId) {
  // Ordered so that random bytes fall out at the first one or two tests.
  if (H8(header, ph::kHeaderVersion) != 1) return false;
  if (H16(header, ph::kFileId) != currentFileId) return false;
  const std::uint8_t type = H8(header, ph::kType);
  if (type < 1 || type > 19) return false;
  const std::uint8_t typeFlagBits = H8(header, ph::kTypeFlagBits);
  if (typeFlagBits != 0 && typeFlagBits != 1 && typeFlagBits != 4) return false;
  // Index pages are the only ones that sit above leaf level.
  if (H8(header, ph::kLevel) != 0 && type != kPageTypeIndex) return false;
  // Page 0 is the file header page, recognised by IsFileHeaderPage only.
  if (PageNumberOf(header) <= 0) return false;
  if (!CountsInRange(header)) return false;
  return ReservedIsZero(header);
}

bool IsFileHeaderPage(HeaderView header, std::uint16_t currentFileId) {
  // Low byte of m_flagBits: 0, or 8 on files that have been through a checksum upgrade.
  const std::uint8_t flagsLow = H8(header, ph::kFlagBits);
  if (flagsLow != 0 && flagsLow != 8) return false;
  return IsAllocationPageHeader(header, currentFileId, kPageTypeFileHeader, 0);
}

bool IsPfsPageHeader(HeaderView header, std::uint16_t currentFileId) {
  return IsAllocationPageHeader(header, currentFileId, kPageTypePfs, 1);
}

bool IsExpectedPage(std::uint16_t fileId, std::int32_t pageNumber, HeaderView header,
                    std::uint16_t currentFileId) {
  return PageNumberOf(header) == pageNumber && H16(header, ph::kFileId) == fileId &&
         IsDataPageHeader(header, currentFileId);
}

std::uint32_t SectorFold(const std::uint8_t* sector) {
  std::uint32_t fold = 0;
  for (std::size_t w = 0; w < kSectorSize / 4; ++w) fold ^= LoadWordLe(sector + 4 * w);
  return fold;
}

std::uint32_t PageChecksum(PageView page) {
  // XOR of every word, each rotated left by 15 - sector. Rotation is a bit permutation, so it
  // distributes over XOR: fold each sector's 128 words first, rotate the fold once.
  std::uint32_t checksum = 0;
  for (std::size_t sector = 0; sector < kSectorsPerPage; ++sector) {
    checksum ^=
        std::rotl(SectorFold(page.data() + sector * kSectorSize), static_cast<int>(15 - sector));
  }
  // Word 15 is m_tornBits, where the checksum itself is stored: XOR it out again.
  checksum ^= std::rotl(Load32(page, ph::kTornBits), 15);
  return checksum;
}

bool IsPageIntact(PageView page) {
  // A protected page has a non-zero flag byte, so only an unprotected one can be all zero.
  switch (FlagNibble(page)) {
    case 1: {  // torn-page detection: every sector end carries the current pattern
      const std::uint8_t pattern = page[ph::kTornBits] & 0x03;
      for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
        if ((page[SectorEnd(k)] & 0x03) != pattern) return false;
      }
      return true;
    }
    case 2:  // page checksum
      return PageChecksum(page) == Load32(page, ph::kTornBits);
    default:  // no protection recorded: nothing vouches for the page, unless never written
      return IsZeroPage(page);
  }
}

bool IsZeroPage(PageView page) {
  // A sector at a time: most pages that are not zero show it in their first sector, and the
  // loop over one sector vectorizes where a byte-by-byte search would not.
  for (std::size_t sector = 0; sector < kPageSize; sector += kSectorSize) {
    std::uint64_t any = 0;
    for (std::size_t i = 0; i < kSectorSize; i += 8)
      any |= LoadQwordNative(page.data() + sector + i);
    if (any != 0) return false;
  }
  return true;
}

bool HasTornBitsToRestore(PageView page) {
  // Bit 0 alone decides here, unlike IsPageIntact, which wants the nibble to be exactly 1.
  if ((page[ph::kFlagBits + 1] & 0x01) == 0) return false;
  const std::uint32_t pattern = Load32(page, ph::kTornBits) & 0x03;
  return pattern == 1 || pattern == 2;
}

void RestoreTornBits(MutablePage page) {
  if (!HasTornBitsToRestore(page)) return;
  const std::uint32_t tornBits = Load32(page, ph::kTornBits);
  for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
    const auto saved = static_cast<std::uint8_t>((tornBits >> (2 * k)) & 0x03);
    std::uint8_t& end = page[SectorEnd(k)];
    end = static_cast<std::uint8_t>((end & 0xFC) | saved);
  }
}

void CopyPageBytes(PageView page, MutableBytes destination, std::int64_t start,
                   std::int64_t count) {
  constexpr auto kPage = static_cast<std::int64_t>(kPageSize);
  if (count <= 0 || start >= kPage) return;
  // Capped far above any real buffer so that start + n cannot overflow (start < 8192).
  const auto destSize =
      static_cast<std::int64_t>(std::min<std::size_t>(destination.size(), 1ULL << 40));
  const std::int64_t n = std::min(count, destSize);
  const std::int64_t srcEnd = std::min(start + n, kPage);
  const std::int64_t srcBegin = std::max<std::int64_t>(start, 0);
  if (srcBegin >= srcEnd) return;
  // Here start + n > 0, so -start < n and srcBegin - start fits.
  std::memcpy(destination.data() + (srcBegin - start), page.data() + srcBegin,
              static_cast<std::size_t>(srcEnd - srcBegin));
}

void ScramblePage(MutableBytes bytes, std::uint32_t key) {
  const std::size_t words = bytes.size() / 4;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint8_t* p = bytes.data() + 4 * i;
    EncodeFixed32(p, std::rotr(DecodeFixed32(p), 1) ^ key);
  }
}

void UnscramblePage(MutableBytes bytes, std::uint32_t key) {
  const std::size_t words = bytes.size() / 4;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint8_t* p = bytes.data() + 4 * i;
    EncodeFixed32(p, std::rotl(DecodeFixed32(p) ^ key, 1));
  }
}

}  // namespace ravelin
