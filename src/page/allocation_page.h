// The PFS page as the program reads it: one byte per page for the 8088 pages it covers
// (the PFS page at page 1 covers pages 0..8087, the one at page n, a multiple of 8088,
// pages n..n+8087), in row 0: the row's length at row 0 + 2, the bytes from row 0 + 4.
// Bit 0x40 of a byte: the page is allocated; bit 0x10: it is an IAM page.
// docs/allocation_pages.md describes the page.
#pragma once

#include <cstdint>
#include <optional>

#include "common/bytes.h"

namespace ravelin {

inline constexpr std::int64_t kPagesPerPfs = 8088;
inline constexpr std::uint8_t kPfsAllocated = 0x40;
inline constexpr std::uint8_t kPfsIam = 0x10;

// Whether page n is where a PFS page lies: page 1 and every multiple of 8088.
inline bool IsPfsPageId(std::int64_t n) { return n == 1 || (n > 0 && n % kPagesPerPfs == 0); }

// The PFS page that covers page n.
inline std::int64_t PfsPageFor(std::int64_t n) {
  return n < kPagesPerPfs ? 1 : n / kPagesPerPfs * kPagesPerPfs;
}

// The PFS bytes of a PFS page (torn bits restored) and the page the first byte is about:
// nothing when row 0's offset lies outside 96..8095. At most 8088 bytes, never past the page.
struct PfsBytes {
  ByteView bytes;
  std::int64_t firstPage = 0;
};
std::optional<PfsBytes> ReadPfsBytes(PageView page);

}  // namespace ravelin
