#include "analysis/page_matching.h"

#include <algorithm>

#include "analysis/version_guard.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

namespace h = page_header;

// Slot offsets inside the page body: row 0 and row 1 must start in 96 .. 8095.
constexpr std::int64_t kFirstRowOffset = 96;
constexpr std::int64_t kRowOffsetEnd = 8096;
constexpr std::size_t kRow1Offset = kPageSize - 4;  // slot 1 of the slot array
// Where the slot-0 offset lies, and what it reads for a row 0 at 96: bytes 60 00.
constexpr std::size_t kSlot0Low = kPageSize - 2;
constexpr std::size_t kSlot0High = kPageSize - 1;

ByteView View(const std::uint8_t* page) { return ByteView(page, kPageSize); }
std::int32_t I32(const std::uint8_t* page, std::size_t offset) {
  return static_cast<std::int32_t>(Load32(View(page), offset));
}
std::int16_t I16(const std::uint8_t* page, std::size_t offset) {
  return static_cast<std::int16_t>(Load16(View(page), offset));
}
bool SlotInBody(std::int64_t offset) { return offset >= kFirstRowOffset && offset < kRowOffsetEnd; }
bool IsAllocationType(std::uint8_t type) { return type == kPageTypeIam || type == kPageTypePfs; }
// Version 1 and one of the four types the map is filled from.
bool MapsFrom(const std::uint8_t* page) {
  const std::uint8_t type = page[h::kType];
  return page[h::kHeaderVersion] == 1 &&
         (type == kPageTypeData || type == kPageTypeIndex || IsAllocationType(type));
}
// While a page's own allocation is unknown, only a PFS page is used; a free one is not.
bool UsableAt(const PageMap& map, std::int64_t position, std::uint8_t type) {
  const std::uint8_t alloc = map.AllocState(position);
  if (alloc == kAllocFree) return false;
  return !(alloc == kAllocUnknown && type != kPageTypePfs);
}

}  // namespace

FragmentGeometry GeometryOf(const FragmentRow& row) {
  return {row.Pages(), row.StartPage, row.StartSector};
}

PageMapper::PageMapper(PageMap& map, FragmentSource& source, PageMapSettings settings,
                       Reporter& reporter)
    : map_(map), source_(source), settings_(settings), reporter_(reporter) {}

template <typename Visit>
int PageMapper::ForEachUsablePage(const FragmentGeometry& fragment, Visit visit) {
  FragmentPages pages(source_, fragment, buffer_);
  bool failed = false;
  for (std::int64_t k = 0; k < fragment.pages; ++k) {
    std::uint8_t* page = pages.Page(k);
    if (page == nullptr) {
      // One unreadable page costs only itself: the rest of the fragment is still mapped.
      ++unreadable_;
      reporter_.UnreadablePage(fragment.startPage + k);
      failed = true;
      continue;
    }
    const std::int64_t position = fragment.startPage + k;
    if (!MapsFrom(page) || !map_.Contains(position)) continue;
    const std::uint8_t type = page[h::kType];
    if (!UsableAt(map_, position, type)) continue;
    visit(page, position, type, k == fragment.pages - 1);
  }
  return failed ? 1 : 0;
}

int PageMapper::AddToPageMap(const FragmentGeometry& fragment) {
  auto add = [&](std::uint8_t* page, std::int64_t position, std::uint8_t type, bool last) {
    if (settings_.sectorsPerCluster < 16 && last && IsAllocationType(type) &&
        !IsPageIntact(PageView(page, kPageSize)))
      return;
    RestoreTornBits(MutablePage(page, kPageSize));
    const std::int32_t obj = I32(page, h::kObjId);

    if (type == kPageTypePfs) {
      const std::int32_t pid = I32(page, h::kPageNumber);
      // A PFS page lies at page 1 or at a multiple of 8088; any other is not one of ours.
      // (A negative page id passes, as the remainder is then not positive; its pages lie
      // outside the map.)
      if (pid != 1 && pid % kPagesPerPfs > 0) return;
      map_.SetOwner(position, obj, kOwnerFromAllocation);
      const std::int64_t o = Load16(View(page), kSlot0Low);
      if (!SlotInBody(o)) return;
      const std::int64_t len = I16(page, static_cast<std::size_t>(o) + 2);
      ApplyPfsBytes(page, static_cast<std::size_t>(o) + 4, len - 4, pid == 1 ? 0 : pid);
    } else if (type == kPageTypeIam) {
      map_.SetOwner(position, obj, kOwnerFromAllocation);
      AddIamPage(page, obj);
    } else {
      AddLinks(page);
    }
  };
  return ForEachUsablePage(fragment, add);
}

int PageMapper::AddHeaderToPageMap(const FragmentGeometry& fragment) {
  auto addHeader = [&](std::uint8_t* page, std::int64_t position, std::uint8_t type, bool last) {
    // Half-page rule: the last page, cut at a cluster boundary inside the page, may end in
    // sectors that are not its own. Its slot-0 offset (bytes 8190-8191, 60 00 for row 0 at
    // 96; byte 8191 may carry a torn-page pattern of 1 or 2) then reads wrong, and only the
    // PFS bytes of the first 4096 bytes are used, from row 0 at 96.
    std::int64_t limit = kPagesPerPfs;
    if (settings_.sectorsPerCluster < 16 && last && IsAllocationType(type) &&
        (page[kSlot0High] > 2 || page[kSlot0Low] != 0x60))
      limit = kHalfPagePfsBytes;
    RestoreTornBits(MutablePage(page, kPageSize));
    if (type != kPageTypePfs) return;
    const std::int32_t obj = I32(page, h::kObjId);
    const std::int32_t pid = I32(page, h::kPageNumber);
    map_.SetOwner(position, obj, kOwnerFromAllocation);
    const std::int64_t o = limit == kPagesPerPfs ? Load16(View(page), kSlot0Low) : kFirstRowOffset;
    if (!SlotInBody(o)) return;
    const std::int64_t len = I16(page, static_cast<std::size_t>(o) + 2);
    if (len < 5) return;
    ApplyPfsBytes(page, static_cast<std::size_t>(o) + 4, std::min(limit, len - 4),
                  pid == 1 ? 0 : pid);
  };
  return ForEachUsablePage(fragment, addHeader);
}

void PageMapper::ApplyPfsBytes(const std::uint8_t* page, std::size_t offset, std::int64_t count,
                               std::int64_t firstPage) {
  // A length that runs past the page stops at its end: what lies beyond is not this page.
  count = std::min<std::int64_t>(count, static_cast<std::int64_t>(kPageSize - offset));
  for (std::int64_t j = 0; j < count; ++j) {
    const std::int64_t t = firstPage + j;
    if (!map_.Contains(t)) continue;
    const std::uint8_t b = page[offset + static_cast<std::size_t>(j)];
    if (b & kPfsAllocated) {
      map_.SetAllocState(t, kAllocAllocated);
      if (b & kPfsIam) map_.SetIam(t);
    } else {
      map_.SetAllocState(t, kAllocFree);
    }
  }
}

void PageMapper::AddIamPage(const std::uint8_t* page, std::int32_t obj) {
  const std::int64_t o = Load16(View(page), kSlot0Low);
  if (!SlotInBody(o)) return;
  const auto row0 = static_cast<std::size_t>(o);
  // Slot 0: the first page of the interval the IAM page maps, then 8 single-page entries of
  // 6 bytes (page id, file id).
  const std::int64_t first = I32(page, row0 + 40);
  for (std::size_t j = 0; j < 8; ++j) {
    const std::int64_t q = I32(page, row0 + 46 + 6 * j);
    if (q > 0) ClaimPage(q, obj, "erra");
  }
  // Slot 1: the extent bitmap, one bit per extent of 8 pages, bit 0 of byte 0 first.
  const std::int64_t o1 = Load16(View(page), kRow1Offset);
  if (!SlotInBody(o1)) return;
  const auto row1 = static_cast<std::size_t>(o1);
  const std::int64_t len = I16(page, row1 + 2);
  const std::int64_t bytes =
      std::min<std::int64_t>(len - 4, static_cast<std::int64_t>(kPageSize - (row1 + 4)));
  for (std::int64_t t = 0; t < bytes; ++t) {
    const std::uint8_t b = page[row1 + 4 + static_cast<std::size_t>(t)];
    if (b == 0) continue;
    for (int i = 0; i < 8; ++i) {
      if (!(b & (1u << i))) continue;
      const std::int64_t e = t * 64 + i * 8 + first;
      if (e <= 0) continue;  // the extent at page 0 holds the file's own pages
      for (std::int64_t x = e; x < e + 8; ++x) ClaimPage(x, obj, "errb");
    }
  }
}

void PageMapper::AddLinks(const std::uint8_t* page) {
  const std::int64_t prev = I32(page, h::kPrevPage);
  const std::int64_t next = I32(page, h::kNextPage);
  if (prev == 0 && next == 0) return;
  const std::int32_t obj = I32(page, h::kObjId);
  const std::uint16_t prevFile = Load16(View(page), h::kPrevPage + 4);
  const std::uint16_t nextFile = Load16(View(page), h::kNextPage + 4);
  if (prev > 0 && prevFile == settings_.fileId) {
    // A page whose predecessor is not known to be allocated lends nothing, not even to its
    // successor: its links may be stale.
    if (!Allocated(prev)) return;
    LinkPage(prev, obj);
  }
  if (next > 0 && nextFile == settings_.fileId && Allocated(next)) LinkPage(next, obj);
}

void PageMapper::ClaimPage(std::int64_t x, std::int32_t obj, const char* tag) {
  if (!map_.Contains(x)) return;
  const std::int32_t c = map_.OwnerId(x);
  if (c == 0) {
    map_.SetOwner(x, obj, kOwnerFromAllocation);
  } else if (c == obj || c == kAllocationObjectId) {
    // already this object's, or an allocation page's
  } else if (map_.OwnerSource(x) == kOwnerFromAllocation) {
    reporter_.Log(tag);  // two allocation pages claim the page: the first owner stays
  } else {
    map_.SetOwner(x, obj, kOwnerFromAllocation);  // an IAM page overrules a link
  }
}

void PageMapper::LinkPage(std::int64_t x, std::int32_t obj) {
  const std::int32_t c = map_.OwnerId(x);
  if (c == 0) {
    map_.SetOwner(x, obj, kOwnerFromLink);
  } else if (c != obj) {
    reporter_.Log("errc");
  }
}

MatchCounters PageMapper::MatchPagesToMap(const FragmentGeometry& fragment) {
  MatchCounters counters;
  FragmentPages pages(source_, fragment, buffer_);
  for (std::int64_t k = 0; k < fragment.pages; ++k) {
    std::uint8_t* page = pages.Page(k);
    if (page == nullptr) {
      ++unreadable_;
      reporter_.UnreadablePage(fragment.startPage + k);
      continue;  // judged on the pages that can be read
    }
    RestoreTornBits(MutablePage(page, kPageSize));
    const Lsn lsn = PageLsn(PageView(page, kPageSize));  // 0 unless header version 1
    if (lsn > counters.NewestLsn) {
      counters.NewestLsn = lsn;
      counters.NewestPage = fragment.startPage + k;
    }
    const std::int32_t obj = I32(page, h::kObjId);
    if (obj == kAllocationObjectId) continue;
    const std::int64_t position = fragment.startPage + k;
    if (!map_.Contains(position)) continue;
    const PageRecord r = map_.Record(position);
    if (r.AllocState == kAllocFree || page[h::kHeaderVersion] != 1) continue;
    const std::uint8_t type = page[h::kType];
    if (r.OwnerId > 0) {
      if (obj == r.OwnerId) {
        if (r.PageKind == kPageKindIam && type != kPageTypeIam) {
          ++counters.Conflicts;
          break;
        }
        ++counters.Matches;
      } else if (r.AllocState == kAllocAllocated && r.OwnerSource == kOwnerFromAllocation) {
        ++counters.Conflicts;
        break;
      }
    } else if (r.PageKind == kPageKindIam && r.AllocState == kAllocAllocated) {
      if (type != kPageTypeIam) {
        ++counters.Conflicts;
        break;
      }
      ++counters.Matches;
    }
  }
  return counters;
}

Candidate PageMapper::ClassifyCandidate(const FragmentGeometry& fragment) {
  lastMatch_ = {};
  if (fragment.startPage + fragment.pages > map_.Size()) return Candidate::kRejected;
  const MatchCounters counters = MatchPagesToMap(fragment);
  lastMatch_ = counters;
  if (counters.Conflicts > 0) return Candidate::kRejected;
  return counters.Matches > 0 ? Candidate::kBelongs : Candidate::kUndecided;
}

Candidate PageMapper::ClassifyCandidate(const FragmentTable& table, std::int32_t position) {
  const auto& index = table.FragmentIndex();
  if (position < 0 || static_cast<std::size_t>(position) >= index.size())
    return Candidate::kRejected;
  const std::int32_t row = index[static_cast<std::size_t>(position)].Row;
  // An index older than the rows may name a row no longer there: nothing to read.
  if (row < 0 || static_cast<std::size_t>(row) >= table.Count()) return Candidate::kRejected;
  return ClassifyCandidate(GeometryOf(table.Row(static_cast<std::size_t>(row))));
}

}  // namespace ravelin
