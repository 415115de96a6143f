#include "gen/allocation_pages.h"

#include <algorithm>
#include <array>
#include <vector>

#include "gen/page_layout.h"

namespace ravelin::gen {

namespace {

constexpr std::size_t kBitmapRowOffset = 190;  // slot 1 of GAM, SGAM, DCM, BCM and IAM pages
constexpr std::size_t kBitmapBytes = 7988;     // 63904 extents
constexpr std::size_t kPfsBytes = 8088;

// A GUID-like value with no FF byte, so that nothing before the size in page 0's row can
// read as the FF FF FF FF that ends it.
void PutGuid(MutablePage page, std::size_t offset, std::uint64_t seed, std::uint64_t salt) {
  Random r(Hash(seed, 0x47554944, salt));
  for (std::size_t i = 0; i < 16; ++i) {
    const auto b = static_cast<std::uint8_t>(r.Next());
    page[offset + i] = b == 0xFF ? 0xFE : b;
  }
}

HeaderFields AllocationHeader(const PageModel& model, std::uint8_t type, std::int64_t n) {
  HeaderFields h;
  h.type = type;
  h.objId = kAllocationObjId;
  h.pageId = static_cast<std::int32_t>(n);
  h.fileId = model.Params().fileId;
  return h;
}

// The two-row shape shared by GAM-family and IAM pages: a 94-byte header row at 96 and the
// 7992-byte bitmap row at 190. Returns the bitmap's first byte offset.
std::size_t TwoRowPage(MutablePage page, HeaderFields& h) {
  h.pminlen = 90;
  WriteHeader(page, h);
  RowPage rows(page);
  const std::size_t r0 = rows.AddRow(94);
  Store16(page, r0 + 2, 94);
  const std::size_t r1 = rows.AddRow(4 + kBitmapBytes);
  Store16(page, r1 + 2, static_cast<std::uint16_t>(4 + kBitmapBytes));
  rows.Finish();
  return r1 + 4;
}

}  // namespace

void RenderFileHeader(const PageModel& model, const FileNames& names, MutablePage page) {
  const AllocationLayout& layout = model.Layout();
  HeaderFields h = AllocationHeader(model, page_type::kFileHeader, 0);
  h.flagBitsLow = 0x08;
  h.lsn = model.CheckpointLsn();
  WriteHeader(page, h);

  // A variable-length record of 45 columns, 44 of them variable, laid out as SQL Server
  // 2005 writes it. Column lengths in order:
  const std::size_t name = 2 * std::min<std::size_t>(names.logical.size(), 128);
  const std::array<std::size_t, 44> widths = {
      16, 0,  2, 2,  4, 4,    4,  4, 10, 10, 10, 0, 4, 4,  4, 4, 10, 28, 10, 10, 10, 16,
      10, 16, 4, 10, 0, name, 16, 0, 0,  0,  0,  0, 0, 16, 0, 0, 10, 10, 28, 10, 16, 28};
  constexpr std::size_t kVarStart = 4 + 4 + 2 + 6 + 2 + 2 * 44;  // 106
  std::size_t length = kVarStart;
  for (std::size_t w : widths) length += w;
  RowPage rows(page);
  const std::size_t row = rows.AddRow(length);
  page[row] = 0x30;
  Store16(page, row + 2, 8);
  Store16(page, row + 8, 45);
  Store16(page, row + 16, 44);
  std::array<std::size_t, 44> at{};
  std::size_t end = kVarStart;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    at[i] = row + end;
    end += widths[i];
    Store16(page, row + 18 + 2 * i, static_cast<std::uint16_t>(end));
  }
  const std::uint64_t seed = model.Params().seed;
  PutGuid(page, at[0], seed, 1);
  Store16(page, at[2], model.Params().fileId);
  Store16(page, at[3], 1);  // filegroup
  Store32(page, at[4], static_cast<std::uint32_t>(layout.PageCount()));
  Store32(page, at[5], 0xFFFFFFFF);  // maximum size: unlimited
  Store32(page, at[6], 0x80);        // growth in pages
  Store32(page, at[12], static_cast<std::uint32_t>(layout.PageCount()));
  Store32(page, at[14], 0xFFFFFFFF);
  Store32(page, at[15], 0x200);
  StoreLsn(page, at[16], model.PageLsn(0, 0));  // create LSN
  StoreLsn(page, at[20], model.CheckpointLsn());
  PutGuid(page, at[23], seed, 2);
  for (std::size_t i = 0; i < name / 2; ++i) Store16(page, at[27] + 2 * i, names.logical[i]);
  rows.Finish();
}

void RenderBootPage(const PageModel& model, const FileNames& names, MutablePage page) {
  HeaderFields h = AllocationHeader(model, page_type::kBoot, 9);
  h.lsn = model.PageLsn(9, model.Layout().Generation());
  WriteHeader(page, h);
  RowPage rows(page);
  constexpr std::size_t kLength = 732;
  const std::size_t row = rows.AddRow(kLength);
  Store16(page, row + 2, kLength);
  Store16(page, row + 4, 661);  // dbi_version
  Store16(page, row + 6, 661);  // dbi_createVersion
  // dbi_dbname: 128 characters; SQL Server pads the name with 0x20 bytes here.
  std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(row + 52), 256, std::uint8_t{0x20});
  const std::size_t chars = std::min<std::size_t>(names.logical.size(), 128);
  for (std::size_t i = 0; i < chars; ++i) Store16(page, row + 52 + 2 * i, names.logical[i]);
  Store16(page, row + 308, 5);  // dbi_dbid
  StoreLsn(page, row + 332, model.CheckpointLsn());
  PutGuid(page, row + 400, model.Params().seed, 3);
  rows.Finish();
}

void RenderSysfilesPage(const PageModel& model, const FileNames& names, MutablePage page) {
  const std::uint16_t fileId = model.Params().fileId;
  HeaderFields h;
  h.type = page_type::kData;
  h.flagBitsLow = 0x06;
  h.objId = 8;
  h.pminlen = 786;
  h.pageId = 32;
  h.fileId = fileId;
  h.lsn = model.PageLsn(32, 0);
  WriteHeader(page, h);
  RowPage rows(page);
  auto fileRow = [&](std::uint32_t status, std::uint16_t id, std::u16string_view logical,
                     std::u16string_view physical) {
    const std::size_t row = rows.AddRow(789);
    page[row] = 0x10;
    Store16(page, row + 2, 786);
    Store32(page, row + 4, status);
    Store16(page, row + 8, id);
    PutFixedUtf16(page, row + 10, logical, 128);
    PutFixedUtf16(page, row + 266, physical, 260);
    Store16(page, row + 786, 4);  // column count; a one-byte null bitmap follows
    rows.Skip(3);
  };
  fileRow(0x2, fileId, names.logical, names.physical);
  fileRow(0x100042, fileId == 2 ? 3 : 2, names.logLogical, names.logPhysical);
  rows.Finish();
}

void RenderPfsPage(const PageModel& model, std::int64_t n, MutablePage page) {
  const AllocationLayout& layout = model.Layout();
  HeaderFields h = AllocationHeader(model, page_type::kPfs, n);
  h.lsn = model.PageLsn(n, layout.LastAllocationChange());
  WriteHeader(page, h);
  RowPage rows(page);
  const std::size_t row = rows.AddRow(4 + kPfsBytes);
  Store16(page, row + 2, static_cast<std::uint16_t>(4 + kPfsBytes));
  const std::int64_t first = n == 1 ? 0 : n;
  const std::int64_t last = std::min<std::int64_t>(first + kPfsBytes, layout.PageCount());
  for (std::int64_t t = first; t < last; ++t) {
    page[row + 4 + static_cast<std::size_t>(t - first)] = model.PfsByte(t);
  }
  rows.Finish();
}

void RenderBitmapPage(const PageModel& model, std::int64_t n, Role role, MutablePage page) {
  const AllocationLayout& layout = model.Layout();
  std::uint8_t type = page_type::kGam;
  if (role == Role::kSgam) type = page_type::kSgam;
  if (role == Role::kDcm) type = page_type::kDcm;
  if (role == Role::kBcm) type = page_type::kBcm;
  HeaderFields h = AllocationHeader(model, type, n);
  if (role == Role::kBcm) {
    h.lsn = {0, 0, 1};  // never written since the file was created, as in real files
  } else {
    h.lsn = model.PageLsn(n, layout.LastAllocationChange());
  }
  const std::size_t bitmap = TwoRowPage(page, h);
  if (role == Role::kBcm) return;
  const std::int64_t firstExtent = (n / kGamIntervalPages) * kGamIntervalExtents;
  const std::int64_t fileExtents = (layout.PageCount() + 7) / 8;
  for (std::size_t i = 0; i < kBitmapBytes * 8; ++i) {
    const std::int64_t x = firstExtent + static_cast<std::int64_t>(i);
    bool bit = false;
    if (role == Role::kGam) {
      bit = x >= fileExtents || !layout.ExtentAllocated(x);  // 1 = free
    } else if (x < fileExtents) {
      if (role == Role::kSgam) {
        bit = layout.ExtentMixedWithFreePage(x);
      } else {  // DCM: extents changed since the last full backup
        bit = layout.ExtentAllocated(x) &&
              (Hash(model.Params().seed, 0x44434D, static_cast<std::uint64_t>(x),
                    static_cast<std::uint64_t>(layout.Generation())) &
               1);
      }
    }
    if (bit) page[bitmap + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
  }
}

void RenderIamPage(const PageModel& model, std::int64_t n, int unit, int interval,
                   MutablePage page) {
  const AllocationLayout& layout = model.Layout();
  const Unit& u = layout.Units()[unit];
  const std::uint16_t fileId = model.Params().fileId;
  HeaderFields h;
  h.type = page_type::kIam;
  h.objId = u.objId;
  h.indexId = u.indexId;
  h.pageId = static_cast<std::int32_t>(n);
  h.fileId = fileId;
  h.lsn = model.PageLsn(n, layout.IamGeneration(unit, interval));
  if (u.unprotectedIam) h.flagBitsLow = 0x02;
  // IAM pages of one unit form a chain in interval order.
  const std::vector<int> chain = layout.IamIntervals(unit);
  const auto pos = std::find(chain.begin(), chain.end(), interval) - chain.begin();
  if (pos > 0) {
    h.prev = {static_cast<std::int32_t>(layout.IamPage(unit, chain[pos - 1])), fileId};
  }
  if (pos + 1 < static_cast<std::ptrdiff_t>(chain.size())) {
    h.next = {static_cast<std::int32_t>(layout.IamPage(unit, chain[pos + 1])), fileId};
  }
  const std::size_t bitmap = TwoRowPage(page, h);
  constexpr std::size_t kRow0 = kPageHeaderSize;
  Store32(page, kRow0 + 4, static_cast<std::uint32_t>(pos));  // sequence number in the chain
  const std::int64_t firstPage = std::int64_t{interval} * kGamIntervalPages;
  StorePointer(page, kRow0 + 40, {static_cast<std::int32_t>(firstPage), fileId});
  if (interval == 0) {
    for (std::size_t j = 0; j < u.singles.size() && j < 8; ++j) {
      StorePointer(page, kRow0 + 46 + 6 * j, {static_cast<std::int32_t>(u.singles[j]), fileId});
    }
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> owned;
  layout.OwnedExtents(unit, interval, owned);
  const std::int64_t firstExtent = firstPage / 8;
  for (const auto& [start, count] : owned) {
    for (std::int64_t x = start; x < start + count; ++x) {
      const auto bit = static_cast<std::size_t>(x - firstExtent);
      page[bitmap + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
  }
}

}  // namespace ravelin::gen
