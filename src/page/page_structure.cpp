#include "page/page_structure.h"

#include <algorithm>
#include <array>

#include "page/page_format.h"

namespace ravelin {
namespace {

namespace ph = page_header;

// Record kinds (bits 1-3 of a record's first status byte).
constexpr unsigned kPrimary = 0;
constexpr unsigned kForwarded = 1;
constexpr unsigned kForwardingStub = 2;
constexpr unsigned kIndexRecord = 3;
constexpr unsigned kBlobFragment = 4;
constexpr unsigned kGhostIndex = 5;
constexpr unsigned kGhostData = 6;
constexpr unsigned kGhostVersion = 7;

// The record kinds a page type holds; 0 for a type SQL Server does not write.
unsigned KindsOf(std::uint8_t type) {
  auto bit = [](unsigned kind) { return 1u << kind; };
  switch (type) {
    case 1:  // data
      return bit(kPrimary) | bit(kForwarded) | bit(kForwardingStub) | bit(kGhostData) |
             bit(kGhostVersion);
    case 2:  // index
      return bit(kIndexRecord) | bit(kGhostIndex) | bit(kPrimary);
    case 3:  // text mix
    case 4:  // text tree
      return bit(kBlobFragment) | bit(kGhostData);
    case 7:   // sort
    case 8:   // GAM
    case 9:   // SGAM
    case 10:  // IAM
    case 11:  // PFS
    case 13:  // boot
    case 15:  // file header
    case 16:  // differential changed map
    case 17:  // bulk changed map
      return bit(kPrimary);
    default:
      return 0;
  }
}

}  // namespace

bool IsPageStructurallySound(PageView page) {
  if (IsZeroPage(page)) return true;
  if (page[ph::kHeaderVersion] != 1) return false;
  const std::uint8_t type = page[ph::kType];
  const unsigned kinds = KindsOf(type);
  if (kinds == 0) return false;
  if (page[ph::kLevel] != 0 && type != kPageTypeIndex) return false;

  const std::size_t slots = Load16(page, ph::kSlotCnt);
  const std::size_t freeData = Load16(page, ph::kFreeData);
  const std::size_t freeCount = Load16(page, ph::kFreeCnt);
  const std::size_t minLength = Load16(page, ph::kPminlen);
  if (freeData < kPageHeaderSize || slots > (kPageSize - kPageHeaderSize) / 2) return false;
  const std::size_t slotArray = kPageSize - 2 * slots;  // where the slot array begins
  if (freeData > slotArray) return false;
  if (freeCount < slotArray - freeData || freeCount > slotArray - kPageHeaderSize) return false;

  // (record start, end of its fixed part), in slot order first.
  std::array<std::pair<std::size_t, std::size_t>, (kPageSize - kPageHeaderSize) / 2> records;
  std::size_t used = 0;
  for (std::size_t i = 0; i < slots; ++i) {
    const std::size_t offset = Load16(page, kPageSize - 2 - 2 * i);
    if (offset == 0) continue;  // an empty slot
    if (offset < kPageHeaderSize || offset >= freeData) return false;
    const std::uint8_t status = page[offset];
    if (status & 0x80) return false;
    const unsigned kind = (status >> 1) & 7;
    if ((kinds & (1u << kind)) == 0) return false;
    std::size_t fixedEnd = offset + 1;
    if (kind == kIndexRecord || kind == kGhostIndex) {
      fixedEnd = offset + std::max<std::size_t>(minLength, 1);
    } else if (kind != kBlobFragment && kind != kForwardingStub) {
      // Bytes 2-3 of a data record: where its fixed-length columns end.
      const std::size_t fixed = Load16(page, offset + 2);
      if (fixed < 4) return false;
      fixedEnd = offset + fixed;
    }
    if (fixedEnd > freeData) return false;
    records[used++] = {offset, fixedEnd};
  }
  // Slots that all say "empty" while the page holds record bytes: a slot array that is not
  // this page's (zeros from elsewhere).
  if (slots > 0 && used == 0 && freeData > kPageHeaderSize) return false;
  std::sort(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(used));
  for (std::size_t i = 1; i < used; ++i) {
    if (records[i].first < records[i - 1].second) return false;  // overlapping, or the same
  }
  return true;
}

bool ProtectionHolds(PageView page) {
  if (!IsPageIntact(page)) return false;
  if ((page[5] & 0x0F) != 1) return true;
  std::array<std::uint8_t, kPageSize> restored;
  std::copy(page.begin(), page.end(), restored.begin());
  RestoreTornBits(restored);
  return IsPageStructurallySound(restored);
}

}  // namespace ravelin
