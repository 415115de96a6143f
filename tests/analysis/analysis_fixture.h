// Pages the page map is filled from, built byte by byte, and an in-memory image read through
// the real sector reader, for tests of the analysis engines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/page_map.h"
#include "analysis/page_matching.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "datasource/data_source.h"
#include "datasource/sector_reader.h"
#include "page/page_format.h"
#include "support/memory_sources.h"
#include "support/page_builder.h"
#include "support/recording_reporter.h"

namespace ravelin::test {

// A PFS page with its own page id `pid` and one PFS byte per page in `bytes` (row 0 at 96,
// its length 4 + bytes.size()).
inline PageBuilder PfsWith(std::int32_t pid, const std::vector<std::uint8_t>& bytes) {
  PageBuilder b = PfsPage(1);
  b.PageId(pid).U16(98, static_cast<std::uint16_t>(4 + bytes.size()));
  for (std::size_t j = 0; j < bytes.size(); ++j) b.Byte(100 + j, bytes[j]);
  return b;
}

// An IAM page of `obj` at page `page`: slot 0 at 96 (interval's first page at +40, single
// pages at +46 + 6j), slot 1 at 190 with one bit per extent of 8 pages from `first`.
struct IamContent {
  std::int32_t obj = 0;
  std::int32_t page = 0;
  std::vector<std::int32_t> singles;
  std::vector<std::int64_t> extents;  // first pages of the extents claimed
  std::int32_t first = 0;
  std::uint16_t bitmapBytes = 64;
};
inline PageBuilder IamPage(std::int32_t obj, std::int32_t page, std::vector<std::int32_t> singles,
                           std::vector<std::int64_t> extents = {}, std::int32_t first = 0,
                           std::uint16_t bitmapBytes = 64) {
  const IamContent c{obj, page, std::move(singles), std::move(extents), first, bitmapBytes};
  PageBuilder b;
  b.Type(kPageTypeIam).PageId(c.page).ObjId(c.obj).SlotCount(2).Row0Offset(96);
  b.U16(kPageSize - 4, 190).U16(98, 94).U32(96 + 40, static_cast<std::uint32_t>(c.first));
  for (std::size_t j = 0; j < c.singles.size(); ++j) {
    b.U32(96 + 46 + 6 * j, static_cast<std::uint32_t>(c.singles[j])).U16(96 + 50 + 6 * j, 1);
  }
  b.U16(192, static_cast<std::uint16_t>(4 + c.bitmapBytes));
  std::vector<std::uint8_t> bits(c.bitmapBytes, 0);
  for (const std::int64_t e : c.extents) {
    const std::int64_t x = (e - c.first) / 8;
    bits[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(1u << (x % 8));
  }
  for (std::size_t t = 0; t < bits.size(); ++t) b.Byte(194 + t, bits[t]);
  return b;
}

// A data (type 1) or index (type 2) page of `obj` linked to `prev` and `next` of `file`.
inline PageBuilder LinkedPage(std::int32_t page, std::int32_t obj, std::int32_t prev = 0,
                              std::int32_t next = 0, std::uint16_t file = 1) {
  PageBuilder b;
  b.PageId(page).ObjId(obj).Noise(static_cast<std::uint32_t>(page * 31 + obj));
  b.U32(8, static_cast<std::uint32_t>(prev)).U16(12, prev ? file : 0);
  b.U32(16, static_cast<std::uint32_t>(next)).U16(20, next ? file : 0);
  return b;
}

// A file of 120 pages: header, PFS (everything allocated, page 2 an IAM page), the IAM page
// of object 500 claiming the extents from page 8 on, page 32 with the name
// C:\DATA\shop.mdf, and data pages of 500 from page 3 on (pages 3-7 owned by nobody the map
// knows). `obj` replaces 500 in the data pages, for look-alikes of another database.
inline constexpr std::int32_t kMiniFilePages = 120;
inline constexpr std::int32_t kMiniObj = 500;
inline Page MiniFilePage(std::int32_t p, std::int32_t obj = kMiniObj) {
  if (p == 0) return FileHeaderPage(1, kMiniFilePages).Build();
  if (p == 1) {
    std::vector<std::uint8_t> pfs(kMiniFilePages, 0x40);
    pfs[0] = pfs[1] = 0x44;
    pfs[2] = 0x70;
    return PfsWith(1, pfs).Build();
  }
  if (p == 2) {
    std::vector<std::int64_t> extents;
    for (std::int64_t e = 8; e < kMiniFilePages; e += 8) extents.push_back(e);
    return IamPage(kMiniObj, 2, {}, extents).Build();
  }
  if (p == 32) return FileNamePage(u"shop", u"C:\\DATA\\shop.mdf").ObjId(obj).Build();
  return LinkedPage(p, obj).Build();
}

// An image of `sectors` zero sectors in memory, read through a SectorReader as the source
// (with unreadable sectors when asked), seen as a FragmentSource.
class MemoryImage {
 public:
  explicit MemoryImage(std::size_t sectors) : bytes_(sectors * kSectorSize, 0) {}

  void Put(std::uint64_t sector, const Page& page) {
    std::copy(page.begin(), page.end(),
              bytes_.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
    dirty_ = true;
  }
  // All zero again, every sector readable.
  void Reset() {
    std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0});
    bad_.clear();
    dirty_ = true;
  }
  // The bytes to change in place (the next Source() reads them).
  std::vector<std::uint8_t>& Bytes() {
    dirty_ = true;
    return bytes_;
  }
  void SetBad(std::set<std::uint64_t> sectors) {
    bad_ = std::move(sectors);
    dirty_ = true;
  }

  // The image as it is now. A source taken before a later Put or SetBad reads the old image
  // and must not be used any more.
  FragmentSource& Source() {
    if (!live_ || dirty_) {
      dirty_ = false;
      live_.reset();
      reader_.reset();
      sources_.Add("image", bytes_);
      sources_.SetBadSectors("image", bad_);
      source_.SourceChosen = true;
      source_.SourcePath = "image";
      source_.SectorLimit = bytes_.size() / kSectorSize;
      reader_ = std::make_unique<SectorReader>(source_, sources_.Opener());
      live_ = std::make_unique<LiveFragmentSource>(*reader_);
    }
    return *live_;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::set<std::uint64_t> bad_;
  bool dirty_ = true;
  MemorySources sources_;
  DataSource source_;
  std::unique_ptr<SectorReader> reader_;
  std::unique_ptr<LiveFragmentSource> live_;
};

// A fragment row as the scan records it (no remark read).
inline FragmentRow Row(std::int64_t pages, std::int32_t startPage, std::uint64_t startSector) {
  FragmentRow row;
  row.StartSector = startSector;
  row.EndSector = startSector + 16 * static_cast<std::uint64_t>(pages);
  row.SizeKB = 8 * pages;
  row.StartPage = startPage;
  row.EndPage = startPage + pages;
  return row;
}

}  // namespace ravelin::test
