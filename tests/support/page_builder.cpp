#include "support/page_builder.h"

#include <bit>

#include "page/page_format.h"

namespace ravelin::test {

namespace ph = page_header;

PageBuilder::PageBuilder() {
  page_[ph::kHeaderVersion] = 1;
  page_[ph::kType] = kPageTypeData;
  FreeCount(static_cast<std::uint16_t>(kPageSize - kPageHeaderSize));
  FreeData(static_cast<std::uint16_t>(kPageHeaderSize));
  PageId(1);
  FileId(1);
}

PageBuilder& PageBuilder::Type(std::uint8_t type) { return Byte(ph::kType, type); }
PageBuilder& PageBuilder::TypeFlagBits(std::uint8_t bits) { return Byte(ph::kTypeFlagBits, bits); }
PageBuilder& PageBuilder::Level(std::uint8_t level) { return Byte(ph::kLevel, level); }
PageBuilder& PageBuilder::PageId(std::int32_t pageNumber) {
  return U32(ph::kPageNumber, static_cast<std::uint32_t>(pageNumber));
}
PageBuilder& PageBuilder::FileId(std::uint16_t fileId) { return U16(ph::kFileId, fileId); }
PageBuilder& PageBuilder::ObjId(std::int32_t objId) {
  return U32(ph::kObjId, static_cast<std::uint32_t>(objId));
}
PageBuilder& PageBuilder::SlotCount(std::uint16_t count) { return U16(ph::kSlotCnt, count); }
PageBuilder& PageBuilder::FreeCount(std::uint16_t count) { return U16(ph::kFreeCnt, count); }
PageBuilder& PageBuilder::FreeData(std::uint16_t offset) { return U16(ph::kFreeData, offset); }
PageBuilder& PageBuilder::Row0Offset(std::int16_t offset) {
  return U16(ph::kRow0Offset, static_cast<std::uint16_t>(offset));
}

PageBuilder& PageBuilder::Byte(std::size_t offset, std::uint8_t value) {
  if (offset < page_.size()) page_[offset] = value;
  return *this;
}
PageBuilder& PageBuilder::U16(std::size_t offset, std::uint16_t value) {
  Store16(page_, offset, value);
  return *this;
}
PageBuilder& PageBuilder::U32(std::size_t offset, std::uint32_t value) {
  Store32(page_, offset, value);
  return *this;
}
PageBuilder& PageBuilder::Bytes(std::size_t offset, ByteView bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) Byte(offset + i, bytes[i]);
  return *this;
}
PageBuilder& PageBuilder::Utf16(std::size_t offset, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) U16(offset + 2 * i, text[i]);
  return *this;
}
PageBuilder& PageBuilder::Noise(std::uint32_t seed) {
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = kPageHeaderSize; i < ph::kRow0Offset; ++i) {
    x ^= x << 13;  // xorshift32
    x ^= x >> 17;
    x ^= x << 5;
    page_[i] = static_cast<std::uint8_t>(x >> 24);
  }
  return *this;
}

PageBuilder& PageBuilder::Checksum() {
  protection_ = Protection::kChecksum;
  return *this;
}
PageBuilder& PageBuilder::TornStamp(std::uint8_t pattern) {
  protection_ = Protection::kTorn;
  tornPattern_ = pattern;
  return *this;
}

Page PageBuilder::Build() const {
  Page page = page_;
  std::uint8_t& flagsHigh = page[ph::kFlagBits + 1];
  if (protection_ == Protection::kChecksum) {
    flagsHigh = static_cast<std::uint8_t>((flagsHigh & 0xF0) | 2);
    Store32(page, ph::kTornBits, 0);
    Store32(page, ph::kTornBits, PageChecksum(page));
  } else if (protection_ == Protection::kTorn) {
    flagsHigh = static_cast<std::uint8_t>((flagsHigh & 0xF0) | 1);
    std::uint32_t tornBits = tornPattern_ & 0x03u;
    for (std::size_t k = 1; k < kSectorsPerPage; ++k) {
      std::uint8_t& end = page[kSectorSize * k + kSectorSize - 1];
      tornBits |= static_cast<std::uint32_t>(end & 0x03) << (2 * k);
      end = static_cast<std::uint8_t>((end & 0xFC) | (tornPattern_ & 0x03));
    }
    Store32(page, ph::kTornBits, tornBits);
  }
  return page;
}

PageBuilder FileHeaderPage(std::uint16_t fileId, std::int32_t sizeInPages) {
  PageBuilder b;
  b.Type(kPageTypeFileHeader).PageId(0).FileId(fileId).ObjId(kAllocationObjectId).SlotCount(1);
  // Row 0 at 96: a few bytes of row header and ids, then the size and its FF FF FF FF marker.
  b.Row0Offset(96).U32(96, 0x00080030).U32(100, static_cast<std::uint32_t>(sizeInPages));
  b.U32(104, 0xFFFFFFFFu);
  return b;
}

PageBuilder PfsPage(std::uint16_t fileId) {
  PageBuilder b;
  b.Type(kPageTypePfs).PageId(1).FileId(fileId).ObjId(kAllocationObjectId).SlotCount(1);
  return b.Row0Offset(96);
}

PageBuilder FileNamePage(std::u16string_view logicalName, std::u16string_view physicalName) {
  PageBuilder b;
  b.PageId(32).SlotCount(1).Row0Offset(96);
  constexpr std::size_t kLogicalUnits = 128;
  std::u16string padded(logicalName);
  if (padded.size() < kLogicalUnits) padded.resize(kLogicalUnits, u' ');
  b.Utf16(100, padded).Utf16(100 + 2 * padded.size(), physicalName);
  return b;
}

}  // namespace ravelin::test

namespace ravelin::test {

PageBuilder RecordsPage(std::int32_t pageId, int records, std::size_t recordSize) {
  PageBuilder b;
  const auto count = static_cast<std::uint16_t>(records);
  const std::size_t freeData = kPageHeaderSize + recordSize * static_cast<std::size_t>(records);
  const std::size_t slotArray = kPageSize - 2 * static_cast<std::size_t>(records);
  b.PageId(pageId).ObjId(1977).SlotCount(count).FreeData(static_cast<std::uint16_t>(freeData));
  b.FreeCount(static_cast<std::uint16_t>(slotArray - freeData));
  for (int i = 0; i < records; ++i) {
    const std::size_t at = kPageHeaderSize + recordSize * static_cast<std::size_t>(i);
    b.Byte(at, 0x10).U16(at + 2, 8);  // a primary record with a null bitmap; 8 fixed bytes
    for (std::size_t j = 4; j < recordSize; ++j)
      b.Byte(at + j, static_cast<std::uint8_t>(pageId * 31 + i * 7 + static_cast<int>(j)));
    b.U16(kPageSize - 2 - 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(at));
  }
  return b;
}

}  // namespace ravelin::test
