// Writing one SQL Server page: the 96-byte header, rows with their slot array at the page's
// end, and the page protection SQL Server applies when it writes the page to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace ravelin::gen {

enum class PageVerify { kNone, kTornPage, kChecksum };

// A log sequence number as m_lsn stores it: virtual log file, block offset, slot.
struct Lsn {
  std::uint32_t file = 0;
  std::uint32_t offset = 0;
  std::uint16_t slot = 0;
};
bool operator<(const Lsn& a, const Lsn& b);

struct PagePointer {
  std::int32_t page = 0;
  std::uint16_t file = 0;
};

// The header fields a generated page sets; the rest stay zero. m_slotCnt, m_freeCnt and
// m_freeData are filled in by RowPage::Finish.
struct HeaderFields {
  std::uint8_t type = 0;
  std::uint8_t typeFlagBits = 0;
  std::uint8_t level = 0;
  std::uint8_t flagBitsLow = 0;   // low byte of m_flagBits (8 on page 0, 6 on page 32, ...)
  std::uint8_t flagBitsHigh = 0;  // high nibble of byte 5 (0x80, 0x40); the low nibble is
                                  // the protection and belongs to ProtectPage
  std::uint16_t indexId = 0;
  PagePointer prev;
  std::uint16_t pminlen = 0;
  PagePointer next;
  std::int32_t objId = 0;
  std::int32_t pageId = 0;
  std::uint16_t fileId = 1;
  Lsn lsn;
  std::uint16_t xactReserved = 0;
  std::uint32_t xdesId = 0;  // low 4 of the 6 bytes
  std::uint16_t ghostRecCnt = 0;
};

void WriteHeader(MutablePage page, const HeaderFields& h);
void StorePointer(MutablePage page, std::size_t offset, PagePointer p);
void StoreLsn(MutablePage page, std::size_t offset, const Lsn& lsn);

// Rows grow from byte 96 upwards, the slot array (2 bytes per row, row 0 at 8190) grows down.
class RowPage {
 public:
  explicit RowPage(MutablePage page);
  // Bytes a new row may have (its slot included); 0 when the page is full.
  std::size_t Room() const;
  // Appends a zeroed row of `length` bytes and returns its offset, or 0 if it does not fit.
  std::size_t AddRow(std::size_t length);
  // Leaves `gap` unused bytes after the last row (rows of real pages are often padded).
  void Skip(std::size_t gap);
  std::uint16_t SlotCount() const { return slots_; }
  // Writes m_slotCnt, m_freeData, m_freeCnt.
  void Finish();

 private:
  MutablePage page_;
  std::size_t freeData_ = kPageHeaderSize;
  std::uint16_t slots_ = 0;
};

// Saves what SQL Server saves when it writes a page with the given verification:
//   checksum: nibble 2 in byte 5 and the page checksum in m_tornBits;
//   torn page: nibble 1, the low 2 bits of the last byte of sectors 1..15 moved into
//     m_tornBits (bits 2k..2k+1) and replaced on the page by `tornPattern` (1 or 2), which
//     also goes into m_tornBits bits 0-1;
//   none: nibble 0 and m_tornBits 0.
// Call it last: any later change to the page breaks the protection.
void ProtectPage(MutablePage page, PageVerify verify, std::uint8_t tornPattern);

// UTF-8 to UTF-16 code units (invalid bytes become U+FFFD).
std::u16string Utf16(std::string_view utf8);
// Writes `text` as UTF-16LE into `chars` characters at `offset`, cut or padded with spaces.
void PutFixedUtf16(MutablePage page, std::size_t offset, std::u16string_view text,
                   std::size_t chars);

}  // namespace ravelin::gen
