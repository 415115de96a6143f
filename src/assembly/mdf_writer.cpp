#include "assembly/mdf_writer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "assembly/write_behind.h"
#include "catalogue/left_page_repair.h"
#include "catalogue/orphan_tail.h"
#include "catalogue/stored_content.h"
#include "common/rounding.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

constexpr char kLeadInReadError[] = "read disk error ,leftpage";
// The check's text for the same fault: rows that cannot be laid out side by side.
constexpr char kRowConflictMessage[] = "error";

// Pages read in one request: large reads are what keeps the writer near the disk's speed.
constexpr std::int64_t kChunkPages = 256;  // 2 MiB
// How far ahead of the row being written the rows to come are announced to the source: a
// fragmented file is read all over the disk, and a disk fetches announced rows together.
constexpr std::int64_t kAnnouncedPages = 8192;  // 64 MiB

using Page = std::array<std::uint8_t, kPageSize>;

// A zero-filled, page-aligned block of bytes.
class AlignedChunk {
 public:
  explicit AlignedChunk(std::size_t size)
      : data_(static_cast<std::uint8_t*>(std::aligned_alloc(4096, size))), size_(size) {
    if (!data_) throw std::bad_alloc();
    std::fill(begin(), end(), std::uint8_t{0});
  }
  std::uint8_t* data() { return data_.get(); }
  std::uint8_t* begin() { return data_.get(); }
  std::uint8_t* end() { return data_.get() + size_; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> data_;
  std::size_t size_;
};

// Notes pages [first, end) as zero-filled, joined to the run before when they follow it.
void NoteZeroFilled(std::vector<PageRun>& runs, std::int64_t first, std::int64_t end) {
  if (end <= first) return;
  if (!runs.empty() && runs.back().end == first)
    runs.back().end = end;
  else
    runs.push_back({first, end});
}

// Reads the row's pages [first, first + count) into `chunk` (zero-filled first). A request
// that fails is retried page by page, so exactly the pages that cannot be read end up as
// zero pages, each reported and noted in `zeroFilled`, as a page-by-page writer would.
std::int64_t ReadChunk(const AssemblyRow& row, std::int64_t first, std::int64_t count,
                       FragmentSource& source, AlignedChunk& chunk, Reporter& reporter,
                       std::vector<PageRun>& zeroFilled) {
  const auto bytes = static_cast<std::size_t>(count) * kPageSize;
  std::fill(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(bytes), std::uint8_t{0});
  const auto sectors =
      static_cast<std::int32_t>(count * static_cast<std::int64_t>(kSectorsPerPage));
  if (source.ReadSectors(row.startSector, first * static_cast<std::int64_t>(kSectorsPerPage),
                         sectors, MutableBytes(chunk.data(), bytes))) {
    return 0;
  }
  std::int64_t unread = 0;
  for (std::int64_t k = 0; k < count; ++k) {
    MutablePage page(chunk.data() + static_cast<std::size_t>(k) * kPageSize, kPageSize);
    if (!source.ReadPage(row.startSector, first + k, page)) {
      std::fill(page.begin(), page.end(), std::uint8_t{0});
      reporter.UnreadablePage(row.startPage + first + k);
      NoteZeroFilled(zeroFilled, row.startPage + first + k, row.startPage + first + k + 1);
      ++unread;
    }
  }
  return unread;
}

std::vector<std::uint64_t> RowStartSectors(const std::vector<AssemblyRow>& rows) {
  std::vector<std::uint64_t> sectors;
  sectors.reserve(rows.size());
  for (const AssemblyRow& row : rows)
    if (row.Pages() > 0) sectors.push_back(row.startSector);
  return sectors;
}

// Zero pages in place of the free pages of the chunk the file should not take as read.
std::int64_t ZeroForeignFreePages(std::int64_t firstPage, std::int64_t count, AlignedChunk& chunk,
                                  const MdfWriteOptions& options) {
  if (!options.knownFree) return 0;
  std::int64_t zeroed = 0;
  for (std::int64_t k = 0; k < count; ++k) {
    std::uint8_t* at = chunk.data() + static_cast<std::size_t>(k) * kPageSize;
    if (KeepsFreePage(PageView(at, kPageSize), firstPage + k, options)) continue;
    std::fill(at, at + kPageSize, std::uint8_t{0});
    ++zeroed;
  }
  return zeroed;
}

// Whether the page carries page id n (and the file id) in its header.
bool IsOwnPage(PageView page, std::int64_t n, const MdfWriteOptions& options) {
  return static_cast<std::int32_t>(Load32(page, page_header::kPageNumber)) == n &&
         (options.fileId == 0 || Load16(page, page_header::kFileId) == options.fileId);
}

// Pages of the chunk whose bytes are not the file's page at their place, taken instead from
// the one row the chain passed over that holds that page of the file, and holds. A zero page
// stays (a page never written is zero).
std::int64_t TakePassedOverPages(std::int64_t firstPage, std::int64_t count, AlignedChunk& chunk,
                                 FragmentSource& source, const MdfWriteOptions& options) {
  if (options.passedOver.empty()) return 0;
  std::int64_t taken = 0;
  Page candidate;
  for (std::int64_t k = 0; k < count; ++k) {
    const std::int64_t n = firstPage + k;
    std::uint8_t* at = chunk.data() + static_cast<std::size_t>(k) * kPageSize;
    const PageView page(at, kPageSize);
    if (IsOwnPage(page, n, options) || IsZeroPage(page)) continue;
    std::optional<Page> found;
    bool several = false;
    for (const AssemblyRow& row : options.passedOver) {
      if (row.startPage > n) break;
      if (n >= row.startPage + row.Pages()) continue;
      if (!source.ReadPage(row.startSector, n - row.startPage, candidate) ||
          !IsOwnPage(candidate, n, options) || !PageHolds(candidate))
        continue;
      several = several || (found && *found != candidate);
      found = candidate;
    }
    if (!found || several) continue;
    std::copy(found->begin(), found->end(), at);
    ++taken;
  }
  return taken;
}

bool AllFree(const std::function<bool(std::int64_t)>& knownFree, std::int64_t first,
             std::int64_t end) {
  if (!knownFree) return false;
  for (std::int64_t n = first; n < end; ++n)
    if (!knownFree(n)) return false;
  return true;
}

// The left-page repair of the writer: runs the careful repair, notes what it did, and says
// in the memo where it decided otherwise than the plain repair would have.
struct SplitPageRepair {
  MdfWriteResult& result;
  FragmentSource& source;
  Reporter& reporter;
  std::int32_t sectorsPerCluster;  // the source's, for the plain repair
  std::int64_t filePages;          // the file's page count
  const MdfWriteOptions& options;
  SectorSignatures signatures{source};  // for tails no page follows, kept from page to page

  // Page `pageId`, the last of row `before`, when no lead-in held its tail: a tail that no
  // page follows, found by its checksum. True when the page changed.
  bool OrphanTail(Page& previous, std::int64_t pageId, const AssemblyRow& before) {
    if (before.Pages() <= 0) return false;
    const std::uint64_t head =
        before.startSector + kSectorsPerPage * static_cast<std::uint64_t>(before.Pages() - 1);
    const std::optional<ravelin::OrphanTail> tail = FindOrphanTail(
        previous, head, std::max(sectorsPerCluster, 1), before.startSector, signatures, source);
    if (!tail) return false;
    const std::string id = std::to_string(pageId);
    const std::string from = "its last " + std::to_string(tail->sectors) + " sectors from sector " +
                             std::to_string(tail->sector);
    if (tail->uncertain) {
      // As with a lead-in's versions: a free page no version is sure of is a zero page.
      const bool free = options.knownFree && options.knownFree(pageId);
      if (free) std::fill(previous.begin(), previous.end(), std::uint8_t{0});
      ++result.uncertainPages;
      result.notes.push_back(
          {pageId, true,
           "页面" + id +
               "不确定(uncertain: tails no page follows give versions differing only "
               "in free space; " +
               (free ? std::string("a free page: written as a zero page") : from + " written") +
               ")"});
    } else {
      ++result.repairedPages;
      result.notes.push_back(
          {pageId, false, "修复页面" + id + "(repaired: " + from + ", a tail no page follows)"});
    }
    reporter.Log(result.notes.back().line);
    return true;
  }

  // Repairs `previous` (page `pageId`, the last of row `before`) from `leadIn`, the sectors
  // before `sector`, with `freePages` free zero pages between. True when the page changed.
  bool Apply(Page& previous, LeadInView leadIn, std::int64_t pageId, std::uint64_t sector,
             std::int64_t freePages, const AssemblyRow& before) {
    Page plain = previous;
    if (freePages == 0) LeftPageRepair(plain, leadIn, sectorsPerCluster);
    const LeftPageResult r =
        RepairLeftPage(previous, leadIn, result.clusterSectors, sectorsPerCluster == 1, filePages);
    if (r.outcome == LeftPageOutcome::kFailed) return OrphanTail(previous, pageId, before);
    const std::string id = std::to_string(pageId);
    if (r.outcome == LeftPageOutcome::kUncertain) {
      // A free page no version is sure of is nothing the file needs: a zero page.
      const bool free = options.knownFree && options.knownFree(pageId);
      if (free) std::fill(previous.begin(), previous.end(), std::uint8_t{0});
      ++result.uncertainPages;
      result.notes.push_back(
          {pageId, true,
           "页面" + id + "不确定(uncertain: " + std::to_string(r.passing) + " repairs pass, " +
               (free            ? "a free page: written as a zero page"
                : r.sectors > 0 ? "differing only in free space; its last " +
                                      std::to_string(r.sectors) + " sectors from before sector " +
                                      std::to_string(sector - 16 * freePages) + " written"
                                : "kept as read") +
               ")"});
      reporter.Log(result.notes.back().line);
      return free || r.sectors > 0;
    }
    if (r.outcome != LeftPageOutcome::kRepaired) return false;
    ++result.repairedPages;
    std::string line;
    if (previous != plain) {
      line = "修复页面" + id + "(repaired: its last " + std::to_string(r.sectors) +
             " sectors from before sector " + std::to_string(sector - 16 * freePages) +
             (freePages > 0 ? ", across " + std::to_string(freePages) + " free zero pages" : "") +
             (r.byStructure ? ", chosen by structure" : "") + ")";
      reporter.Log(line);
    }
    result.notes.push_back({pageId, false, line});
    return true;
  }

  // The split page before `freePages` free pages that no row holds: the tail lies before the
  // zero pages' sectors, so the lead-in ends 16 x freePages sectors before `row`.
  bool AcrossFreePages(Page& previous, std::int64_t pageId, const AssemblyRow& before,
                       const AssemblyRow& row, std::int64_t freePages) {
    if (PageHolds(previous)) return false;
    const std::int64_t back = static_cast<std::int64_t>(kLeadInSectors) +
                              static_cast<std::int64_t>(kSectorsPerPage) * freePages;
    std::array<std::uint8_t, kLeadInBytes> leadIn{};
    // Stored content keeps only 15 sectors before a fragment; without the sectors this
    // repair is not tried, and the page stays as read.
    if (!source.ReadSectors(row.startSector, -back, static_cast<std::int32_t>(kLeadInSectors),
                            leadIn)) {
      reporter.Log("页面" + std::to_string(pageId) + "未修复(split before " +
                   std::to_string(freePages) +
                   " free zero pages, and the sectors before them cannot be read: a saved "
                   "scan holds only the 15 sectors before each fragment; kept as read)");
      return false;
    }
    return Apply(previous, leadIn, pageId, row.startSector, freePages, before);
  }
};

}  // namespace

bool KeepsFreePage(PageView page, std::int64_t n, const MdfWriteOptions& options) {
  if (!options.knownFree || !options.knownFree(n)) return true;
  if (IsZeroPage(page)) return true;
  return IsOwnPage(page, n, options) && PageHolds(page);
}

std::uint64_t MdfSizeBytes(const std::vector<AssemblyRow>& given, std::int64_t filePageCount) {
  const std::vector<AssemblyRow> rows = PlaceRows(given).rows;
  std::uint64_t pages = 0;
  if (!rows.empty() && rows.front().startPage > 0)
    pages += static_cast<std::uint64_t>(rows.front().startPage);
  for (std::size_t s = 0; s < rows.size(); ++s) {
    if (s > 0 && rows[s - 1].endPage < rows[s].startPage)
      pages += static_cast<std::uint64_t>(rows[s].startPage - rows[s - 1].endPage);
    pages += static_cast<std::uint64_t>(std::max<std::int64_t>(rows[s].Pages(), 0));
  }
  if (!rows.empty() && rows.back().endPage < filePageCount)
    pages += static_cast<std::uint64_t>(filePageCount - rows.back().endPage);
  return pages * kPageSize;
}

bool AccountingSink::Append(ByteView pages) {
  if (next_ && !next_->Append(pages)) return false;
  const std::size_t count = pages.size() / kPageSize;
  if (count == 0) return true;
  TakePending();
  // Only the last page may still be overwritten: the others are accounted where they lie.
  for (std::size_t k = 0; k + 1 < count; ++k)
    accounter_.Add(PageView(pages.data() + k * kPageSize, kPageSize));
  const auto last = pages.begin() + static_cast<std::ptrdiff_t>((count - 1) * kPageSize);
  pending_.assign(last, last + static_cast<std::ptrdiff_t>(kPageSize));
  return true;
}

bool AccountingSink::AppendZeros(std::uint64_t bytes) {
  if (next_ && !next_->AppendZeros(bytes)) return false;
  const auto count = static_cast<std::int64_t>(bytes / kPageSize);
  if (count == 0) return true;
  TakePending();
  accounter_.AddZeros(count - 1);
  pending_.assign(kPageSize, 0);
  return true;
}

bool AccountingSink::OverwriteTail(PageView page) {
  if (next_ && !next_->OverwriteTail(page)) return false;
  if (pending_.empty()) return false;
  pending_.assign(page.begin(), page.end());
  return true;
}

void AccountingSink::TakePending() {
  if (pending_.empty()) return;
  accounter_.Add(PageView(pending_.data(), kPageSize));
  pending_.clear();
}

PageAccount AccountingSink::Finish(const MdfWriteResult& result) {
  TakePending();
  return accounter_.Finish(WriterNotes(result, accounter_.Pages()));
}

std::vector<PageVerdict> WriterNotes(const MdfWriteResult& result, std::int64_t pageCount) {
  std::vector<PageVerdict> notes(static_cast<std::size_t>(std::max<std::int64_t>(pageCount, 0)),
                                 PageVerdict::kZeroFree);
  for (const std::int64_t n : result.versionUncertain)
    if (n >= 0 && n < pageCount)
      notes[static_cast<std::size_t>(n)] = PageVerdict::kVersionUncertain;
  for (const PageRun& run : result.zeroFilled) {
    const std::int64_t end = std::min(run.end, pageCount);
    for (std::int64_t n = std::max<std::int64_t>(run.first, 0); n < end; ++n)
      notes[static_cast<std::size_t>(n)] = PageVerdict::kMissingAllocated;
  }
  for (const MdfPageNote& note : result.notes) {
    if (note.page < 0 || note.page >= pageCount) continue;
    notes[static_cast<std::size_t>(note.page)] =
        note.uncertain ? PageVerdict::kUncertain : PageVerdict::kRepaired;
  }
  return notes;
}

PlacedRows PlaceRows(std::vector<AssemblyRow> rows) {
  PlacedRows placed;
  std::stable_sort(rows.begin(), rows.end(), [](const AssemblyRow& a, const AssemblyRow& b) {
    return a.startPage < b.startPage;
  });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const AssemblyRow& row = rows[i];
    if (row.startPage < 0) {
      placed.conflicts.push_back({RowConflict::Kind::kBeforePageZero, row, {}});
    } else if (row.endPage < row.startPage) {
      placed.conflicts.push_back({RowConflict::Kind::kInverted, row, {}});
    } else if (i > 0 && row.startPage < rows[i - 1].endPage) {
      placed.conflicts.push_back({RowConflict::Kind::kOverlap, row, rows[i - 1]});
    }
  }
  placed.rows = std::move(rows);
  return placed;
}

MdfWriteResult WriteMdf(std::vector<AssemblyRow> given, std::int64_t filePageCount,
                        std::int32_t sectorsPerCluster, FragmentSource& source, MdfSink& target,
                        Reporter& reporter, const MdfWriteOptions& options) {
  MdfWriteResult result;
  PlacedRows placed = PlaceRows(std::move(given));
  if (!placed.conflicts.empty()) {
    result.conflicts = std::move(placed.conflicts);
    reporter.Message(kRowConflictMessage);
    return result;
  }
  const std::vector<AssemblyRow>& rows = placed.rows;
  // The block's last 7680 bytes receive the 15 sectors before a row; it keeps its bytes from
  // one repair to the next, so a block that cannot be read leaves the previous one in place.
  std::array<std::uint8_t, kLeadInBytes> block{};
  Page previous{};
  // Whether the file's last page is the previous row's last page: only then may a repair
  // rewrite it. A row of no pages leaves another row's page, or a gap's zero page, there.
  bool previousAtEnd = false;
  // Page-aligned: the kernel copies out of its cache much faster into an aligned buffer.
  // Two of them: one is read while the other is accounted and written behind.
  const auto chunkBytes = static_cast<std::size_t>(kChunkPages) * kPageSize;
  std::array<AlignedChunk, 2> chunks{AlignedChunk(chunkBytes), AlignedChunk(chunkBytes)};
  std::size_t current = 0;
  // After the chunks: it is ended, and its last block written, before they are freed.
  WriteBehind out(target);
  const auto count = static_cast<std::int64_t>(rows.size());
  result.clusterSectors = RepairClusterSectors(sectorsPerCluster, RowStartSectors(rows));
  result.versionUncertain = options.versionUncertain;
  SplitPageRepair repair{result, source, reporter, sectorsPerCluster, filePageCount, options};
  // Page n lies at byte n × 8192 also when no row begins at page 0.
  if (!rows.empty() && rows.front().startPage > 0) {
    const auto lead = static_cast<std::uint64_t>(rows.front().startPage);
    if (!out.AppendZeros(lead * kPageSize)) return result;
    NoteZeroFilled(result.zeroFilled, 0, rows.front().startPage);
    result.pages += static_cast<std::int64_t>(lead);
  }
  std::int64_t announced = 0;       // rows announced so far
  std::int64_t announcedPages = 0;  // their pages
  std::int64_t readPages = 0;       // pages of rows read so far
  const auto announce = [&] {
    for (; announced < count && announcedPages - readPages < kAnnouncedPages; ++announced) {
      const AssemblyRow& ahead = rows[static_cast<std::size_t>(announced)];
      source.WillNeed(ahead.startSector, ahead.Pages());
      announcedPages += std::max<std::int64_t>(ahead.Pages(), 0);
    }
  };
  for (std::int64_t s = 0; s < count; ++s) {
    const AssemblyRow& row = rows[static_cast<std::size_t>(s)];
    if (count > 1) reporter.Progress(static_cast<int>(RoundHalfEven(s * 100, count - 1)));
    reporter.Yield();
    if (s > 0) {
      const AssemblyRow& before = rows[static_cast<std::size_t>(s - 1)];
      if (before.endPage < row.startPage) {
        // A split page before pages no row holds, all free: zero pages, which the scan does
        // not see, so the row after them starts that many pages later than the tail. Before
        // other pages no row holds, its tail is one that no page follows.
        if (previousAtEnd && LeftPageRepairApplies(sectorsPerCluster)) {
          const bool mended = AllFree(options.knownFree, before.endPage, row.startPage)
                                  ? repair.AcrossFreePages(previous, before.endPage - 1, before,
                                                           row, row.startPage - before.endPage)
                                  : repair.OrphanTail(previous, before.endPage - 1, before);
          if (mended && KeepsFreePage(previous, before.endPage - 1, options) &&
              !out.OverwriteTail(previous))
            return result;
        }
        const auto gap = static_cast<std::uint64_t>(row.startPage - before.endPage);
        if (!out.AppendZeros(gap * kPageSize)) return result;
        NoteZeroFilled(result.zeroFilled, before.endPage, row.startPage);
        result.pages += static_cast<std::int64_t>(gap);
        previousAtEnd = false;
      }
      if (LeftPageRepairApplies(sectorsPerCluster) && before.endPage == row.startPage &&
          previousAtEnd) {
        if (!source.ReadSectors(row.startSector, -static_cast<std::int64_t>(kLeadInSectors),
                                static_cast<std::int32_t>(kLeadInSectors), block)) {
          reporter.Message(kLeadInReadError);
        }
        if (repair.Apply(previous, block, before.endPage - 1, row.startSector, 0, before) &&
            KeepsFreePage(previous, before.endPage - 1, options) && !out.OverwriteTail(previous))
          return result;
      }
    }
    const std::int64_t pages = row.Pages();
    for (std::int64_t first = 0; first < pages; first += kChunkPages) {
      const std::int64_t n = std::min(kChunkPages, pages - first);
      AlignedChunk& chunk = chunks[current];
      current ^= 1;
      result.unreadPages += ReadChunk(row, first, n, source, chunk, reporter, result.zeroFilled);
      // After the first read: the source is open.
      readPages += n;
      announce();
      result.passedOverPages +=
          TakePassedOverPages(row.startPage + first, n, chunk, source, options);
      const auto bytes = static_cast<std::size_t>(n) * kPageSize;
      // A repair works on the last page as read.
      std::copy(chunk.begin() + static_cast<std::ptrdiff_t>(bytes - kPageSize),
                chunk.begin() + static_cast<std::ptrdiff_t>(bytes), previous.begin());
      result.zeroedFreePages += ZeroForeignFreePages(row.startPage + first, n, chunk, options);
      if (!out.Append(ByteView(chunk.data(), bytes))) return result;
      result.pages += n;
      previousAtEnd = true;
    }
  }
  // The last row's last page: no row follows to hold its tail.
  if (previousAtEnd && LeftPageRepairApplies(sectorsPerCluster) &&
      repair.OrphanTail(previous, rows.back().endPage - 1, rows.back()) &&
      KeepsFreePage(previous, rows.back().endPage - 1, options) && !out.OverwriteTail(previous))
    return result;
  if (!rows.empty() && rows.back().endPage < filePageCount) {
    const auto tail = static_cast<std::uint64_t>(filePageCount - rows.back().endPage);
    if (!out.AppendZeros(tail * kPageSize)) return result;
    NoteZeroFilled(result.zeroFilled, rows.back().endPage, filePageCount);
    result.pages += static_cast<std::int64_t>(tail);
  }
  if (!out.Drain()) return result;
  if (result.passedOverPages > 0) {
    reporter.Log("取自未选碎片的页面" + std::to_string(result.passedOverPages) +
                 "(pages a chosen row held as other bytes, taken from a row the chain passed "
                 "over that holds them)");
  }
  if (result.zeroedFreePages > 0) {
    reporter.Log("空闲页面写为零页" + std::to_string(result.zeroedFreePages) +
                 "(free pages whose bytes were not the file's own page: zero pages)");
  }
  result.written = true;
  return result;
}

}  // namespace ravelin
