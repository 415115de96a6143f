#include "gen/pfs_reader.h"

#include "gen/allocation_layout.h"
#include "gen/page_layout.h"
#include "gen/page_protection.h"

namespace ravelin::gen {
namespace {

constexpr std::size_t kPfsRowHeader = 4;
constexpr std::uint8_t kAllocatedBit = 0x40;

}  // namespace

std::optional<std::uint8_t> PfsReader::Byte(std::int64_t n) const {
  if (n < 0 || n >= source_.PageCount()) return std::nullopt;
  // Page 1 describes pages 0..8087; the PFS page at 8088 k describes 8088 pages from itself.
  const std::int64_t pfs = n < kPfsInterval ? 1 : n / kPfsInterval * kPfsInterval;
  const std::int64_t first = pfs == 1 ? 0 : pfs;
  if (pfs >= source_.PageCount()) return std::nullopt;
  if (pfs != cached_) {
    MutablePage page(page_.data(), kPageSize);
    source_.ReadPage(pfs, page);
    // In a torn-page file the sector ends of the stored page are not the PFS bytes.
    UndoTornBits(page);
    cached_ = pfs;
    cachedValid_ = page[header::kType] == page_type::kPfs &&
                   static_cast<std::int64_t>(Load32(page, header::kPageNumber)) == pfs;
    // Row 0's offset comes from the page; a value that leaves no room for the bytes is
    // not trusted.
    cachedRow_ = Load16(page, header::kRow0Offset);
    if (cachedRow_ < kPageHeaderSize ||
        cachedRow_ + kPfsRowHeader + kPfsInterval > header::kRow0Offset) {
      cachedValid_ = false;
    }
  }
  if (!cachedValid_) return std::nullopt;
  return page_[cachedRow_ + kPfsRowHeader + static_cast<std::size_t>(n - first)];
}

bool PfsReader::Free(std::int64_t n) const {
  const std::optional<std::uint8_t> b = Byte(n);
  return b.has_value() && (*b & kAllocatedBit) == 0;
}

}  // namespace ravelin::gen
