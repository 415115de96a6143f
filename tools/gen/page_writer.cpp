#include "gen/page_writer.h"

#include <algorithm>
#include <tuple>

#include "gen/page_layout.h"
#include "gen/page_protection.h"

namespace ravelin::gen {

namespace ph = header;

bool operator<(const Lsn& a, const Lsn& b) {
  return std::tie(a.file, a.offset, a.slot) < std::tie(b.file, b.offset, b.slot);
}

void StorePointer(MutablePage page, std::size_t offset, PagePointer p) {
  Store32(page, offset, static_cast<std::uint32_t>(p.page));
  Store16(page, offset + 4, p.file);
}

void StoreLsn(MutablePage page, std::size_t offset, const Lsn& lsn) {
  Store32(page, offset, lsn.file);
  Store32(page, offset + 4, lsn.offset);
  Store16(page, offset + 8, lsn.slot);
}

void WriteHeader(MutablePage page, const HeaderFields& h) {
  page[ph::kHeaderVersion] = 1;
  page[ph::kType] = h.type;
  page[ph::kTypeFlagBits] = h.typeFlagBits;
  page[ph::kLevel] = h.level;
  page[ph::kFlagBits] = h.flagBitsLow;
  page[ph::kFlagBits + 1] = static_cast<std::uint8_t>(h.flagBitsHigh & 0xF0);
  Store16(page, ph::kIndexId, h.indexId);
  StorePointer(page, ph::kPrevPage, h.prev);
  Store16(page, ph::kPminlen, h.pminlen);
  StorePointer(page, ph::kNextPage, h.next);
  Store32(page, ph::kObjId, static_cast<std::uint32_t>(h.objId));
  Store32(page, ph::kPageNumber, static_cast<std::uint32_t>(h.pageId));
  Store16(page, ph::kFileId, h.fileId);
  StoreLsn(page, ph::kLsn, h.lsn);
  Store16(page, ph::kXactReserved, h.xactReserved);
  Store32(page, ph::kXdesId, h.xdesId);
  Store16(page, ph::kGhostRecCnt, h.ghostRecCnt);
}

RowPage::RowPage(MutablePage page) : page_(page) {}

std::size_t RowPage::Room() const {
  const std::size_t slotEnd = kPageSize - 2 * (std::size_t{slots_} + 1);
  return slotEnd > freeData_ ? slotEnd - freeData_ : 0;
}

std::size_t RowPage::AddRow(std::size_t length) {
  if (length == 0 || length > Room()) return 0;
  const std::size_t offset = freeData_;
  std::fill_n(page_.begin() + static_cast<std::ptrdiff_t>(offset), length, std::uint8_t{0});
  Store16(page_, kPageSize - 2 * (std::size_t{slots_} + 1), static_cast<std::uint16_t>(offset));
  ++slots_;
  freeData_ += length;
  return offset;
}

void RowPage::Skip(std::size_t gap) { freeData_ += std::min(gap, Room()); }

void RowPage::Finish() {
  Store16(page_, ph::kSlotCnt, slots_);
  Store16(page_, ph::kFreeData, static_cast<std::uint16_t>(freeData_));
  Store16(page_, ph::kFreeCnt,
          static_cast<std::uint16_t>(kPageSize - freeData_ - 2 * std::size_t{slots_}));
}

void ProtectPage(MutablePage page, PageVerify verify, std::uint8_t tornPattern) {
  Store32(page, ph::kTornBits, 0);
  switch (verify) {
    case PageVerify::kNone:
      page[ph::kFlagBits + 1] &= 0xF0;
      return;
    case PageVerify::kChecksum:
      StampChecksum(page);
      return;
    case PageVerify::kTornPage:
      StampTornBits(page, tornPattern);
      return;
  }
}

std::u16string Utf16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= utf8.size();
      char32_t v = b & (0x7F >> len);
      for (std::size_t k = 1; ok && k < len; ++k) {
        const auto c = static_cast<unsigned char>(utf8[i + k]);
        ok = (c & 0xC0) == 0x80;
        v = (v << 6) | (c & 0x3F);
      }
      if (ok && v <= 0x10FFFF) {
        cp = v;
      } else {
        len = 1;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

void PutFixedUtf16(MutablePage page, std::size_t offset, std::u16string_view text,
                   std::size_t chars) {
  for (std::size_t i = 0; i < chars; ++i) {
    Store16(page, offset + 2 * i, i < text.size() ? static_cast<std::uint16_t>(text[i]) : 0x20);
  }
}

}  // namespace ravelin::gen
