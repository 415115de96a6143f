// A page-by-page account of a database file: for every page, whether it verifies and how,
// whether it is a page the file's own PFS pages say is allocated, and, for a file this
// program rebuilt, what the writer did to it. `ravelin verify` gives it for any data file,
// `ravelin recover` for each file it writes, CHECK on tab IV as a summary.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace ravelin {

enum class PageVerdict : std::uint8_t {
  kProtection,        // its checksum holds, or its torn bits and its structure do, and
                      // its page id is its place
  kStructure,         // unprotected; its structure holds and its page id is its place
  kRepaired,          // a left-page repair mended it, and it now verifies
  kUncertain,         // a repair could not decide between versions: kept as read, or the
                      // first of versions that differ only in free space
  kUnverifiable,      // unprotected and its structure does not hold (or protection unknown)
  kDamaged,           // its protection fails, or it carries another page id or file id, or
                      // it cannot be read
  kMissingAllocated,  // a zero page not known to be free that stands for a lost page: one a
                      // writer put where no row held the page or it could not be read, or one
                      // SQL Server always writes (allocation pages, the boot page, IAM pages,
                      // pages its PFS byte says hold rows)
  kZeroFree,          // a zero page where the page is free (or nothing says otherwise)
  kAllocatedZero,     // all zero as read where the PFS pages say allocated, and nothing says
                      // it was written: a page SQL Server allocated and never wrote, or one
                      // that was lost
  kFreeNotPage,       // the PFS pages say free; not zero, and not a page that holds in its
                      // place (disk residue, stale bytes)
  kVersionUncertain,  // it holds, but it came from a fragment whose LSNs say another copy
                      // of the database left it, and no fragment of the file's own copy held
                      // the page
};
inline constexpr std::size_t kPageVerdictCount = 11;

// Short English names, as `ravelin verify --json` writes them.
const char* VerdictName(PageVerdict verdict);

// Whether a page with this verdict stands against the file wherever it lies: damaged,
// uncertain (a repair's or a version's), unverifiable or missing. Pages the account turns free
// never carry one of these but kUncertain; allocated zero pages are listed beside them, not as a
// fault.
bool IsProblemVerdict(PageVerdict verdict);

// What a file is worth as a whole, from its account.
enum class FileStatus : std::uint8_t {
  kComplete,    // every page in use verified or was repaired, and the file is as long as
                // its header says
  kIncomplete,  // pages in use are missing (written as zero pages), or the file is cut short
  kDoubtful,    // pages in use are damaged, uncertain or unverifiable
};

// "complete", "incomplete", "doubtful".
const char* FileStatusName(FileStatus status);

// The status and the counts behind it. A page is in use when the PFS pages say allocated,
// or, where no PFS page says, when it is not zero; a file with both missing and doubtful
// pages is doubtful, since bytes it holds may be wrong.
struct FileAssessment {
  FileStatus status = FileStatus::kComplete;
  std::int64_t inUse = 0;          // pages in use
  std::int64_t sound = 0;          // of those, verified by protection or structure, or repaired
  std::int64_t allocatedZero = 0;  // of those, all zero as read (not a fault by itself)
  std::int64_t missing = 0;        // of those, written as zero pages for want of the page
  std::int64_t doubtful = 0;       // of those, damaged, uncertain or unverifiable
  std::int64_t pagesShort = 0;     // pages the header gives beyond the end of the file
};

// "complete (440 pages in use: 438 sound, 2 missing, 0 doubtful)", with the allocated zero
// pages and the pages short of the header when there are any.
std::string StatusLine(const FileAssessment& a);

struct PageAccount {
  std::int64_t pageCount = 0;
  std::uint16_t fileId = 0;             // from page 0
  std::int64_t headerPageCount = -1;    // the size page 0 gives; -1 when it gives none
  std::vector<PageVerdict> verdicts;    // one per page
  std::vector<std::uint8_t> allocated;  // 1 allocated, 0 free, 0xFF unknown (no PFS page)
  std::array<std::int64_t, kPageVerdictCount> counts{};

  std::int64_t Count(PageVerdict v) const { return counts[static_cast<std::size_t>(v)]; }
  FileAssessment Assess() const;
  // Assess() says complete.
  bool AllAllocatedVerified() const;
  // Summary lines, one per verdict that occurs.
  std::vector<std::string> SummaryLines() const;
};

// Takes the account page by page, in order from page 0, as a writer produces them or a
// reader reads them. A PFS page lies before the pages it describes (page 0 aside, which is
// always in use), so the allocation is known when it matters; zero pages are judged at the
// end, against every PFS page seen.
class PageAccounter {
 public:
  void Add(PageView page);
  void AddUnreadable();
  void AddZeros(std::int64_t count);
  std::int64_t Pages() const { return static_cast<std::int64_t>(account_.verdicts.size()); }
  // `writerNotes` (when not empty, one per page) carries what the writer knows: pages it
  // repaired (kRepaired), pages it left uncertain (kUncertain), pages it wrote from another
  // copy's fragment (kVersionUncertain, for an allocated page that holds), pages it wrote as
  // zero pages because no row held them or they could not be read (kMissingAllocated);
  // kZeroFree for the rest.
  PageAccount Finish(const std::vector<PageVerdict>& writerNotes = {});

 private:
  std::uint8_t& AllocatedAt(std::int64_t n);
  void TakeAllocation(std::int64_t n, PageView page);
  PageAccount account_;
  void MarkWritten(std::int64_t n);
  std::vector<std::int64_t> unreadable_;  // in page order
  std::vector<bool> written_;             // pages that cannot be all zero in a sound file
};

// Reads page n of a file of `pageCount` pages into the buffer; false when it cannot.
using PageReaderFn = std::function<bool(std::int64_t n, MutablePage page)>;

// The account of a file. A page that cannot be read counts as damaged.
PageAccount AccountPages(std::int64_t pageCount, const PageReaderFn& read,
                         const std::vector<PageVerdict>& writerNotes = {});

}  // namespace ravelin
