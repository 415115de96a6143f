// Builds SQL Server pages byte by byte for tests: a valid data-page header by default, with
// setters for the fields the page tests read and a protection stamp (checksum or torn-page
// bits) applied last, at Build(), so setters can come in any order.
//
//   Page p = PageBuilder().Type(2).Level(3).PageId(77).Checksum().Build();
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

namespace ravelin::test {

using Page = std::array<std::uint8_t, kPageSize>;

class PageBuilder {
 public:
  // Data page 1 of file 1: version 1, type 1, no rows, m_freeData 96, m_freeCnt 8096,
  // everything else zero, no protection.
  PageBuilder();

  PageBuilder& Type(std::uint8_t type);
  PageBuilder& TypeFlagBits(std::uint8_t bits);
  PageBuilder& Level(std::uint8_t level);
  PageBuilder& PageId(std::int32_t pageNumber);
  PageBuilder& FileId(std::uint16_t fileId);
  PageBuilder& ObjId(std::int32_t objId);
  PageBuilder& SlotCount(std::uint16_t count);
  PageBuilder& FreeCount(std::uint16_t count);
  PageBuilder& FreeData(std::uint16_t offset);
  // The slot-array entry at 8190: byte offset of row 0.
  PageBuilder& Row0Offset(std::int16_t offset);

  // Raw writes anywhere in the page (header or body).
  PageBuilder& Byte(std::size_t offset, std::uint8_t value);
  PageBuilder& U16(std::size_t offset, std::uint16_t value);
  PageBuilder& U32(std::size_t offset, std::uint32_t value);
  PageBuilder& Bytes(std::size_t offset, ByteView bytes);
  // UTF-16LE text, one code unit per char16_t.
  PageBuilder& Utf16(std::size_t offset, std::u16string_view text);
  // Fills bytes 96..8189 (the body, up to the row-0 slot) with deterministic noise.
  PageBuilder& Noise(std::uint32_t seed);

  // Protection stamped at Build(): the page checksum (flag nibble 2) or torn-page bits with
  // the given pattern (flag nibble 1; the sector ends' real bits move into m_tornBits).
  PageBuilder& Checksum();
  PageBuilder& TornStamp(std::uint8_t pattern = 1);

  Page Build() const;

 private:
  enum class Protection { kNone, kChecksum, kTorn };
  Page page_{};
  Protection protection_ = Protection::kNone;
  std::uint8_t tornPattern_ = 1;
};

// Page 0 of a file: file header header (type 15, objId 99, one slot) whose row 0 holds the
// size in pages followed by FF FF FF FF.
PageBuilder FileHeaderPage(std::uint16_t fileId, std::int32_t sizeInPages);
// Page 1 of a file: the PFS header (type 11, objId 99, one slot).
PageBuilder PfsPage(std::uint16_t fileId);
// Page 32 of a primary file: row 0 at 96 holds the logical name padded with spaces to 128
// units, then the physical name as given (its extension included).
PageBuilder FileNamePage(std::u16string_view logicalName, std::u16string_view physicalName);

// A data page of `records` primary records of `recordSize` bytes from byte 96 on, each with
// its slot, m_freeData just after the last and m_freeCnt up to the slot array: a page whose
// structure holds. Protection is left to the caller.
PageBuilder RecordsPage(std::int32_t pageId, int records, std::size_t recordSize);

inline HeaderView HeaderOf(const Page& page) { return HeaderView(page.data(), kPageHeaderSize); }

}  // namespace ravelin::test
