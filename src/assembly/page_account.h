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
  kUncertain,         // a repair could not decide between versions: kept as read
  kUnverifiable,      // unprotected and its structure does not hold (or protection unknown)
  kDamaged,           // its protection fails, or it carries another page id or file id
  kMissingAllocated,  // a zero page where the PFS pages say a page is allocated
  kZeroFree,          // a zero page where the page is free (or nothing says otherwise)
};
inline constexpr std::size_t kPageVerdictCount = 8;

// Short English names, as `ravelin verify --json` writes them.
const char* VerdictName(PageVerdict verdict);

struct PageAccount {
  std::int64_t pageCount = 0;
  std::uint16_t fileId = 0;             // from page 0
  std::int64_t headerPageCount = -1;    // the size page 0 gives; -1 when it gives none
  std::vector<PageVerdict> verdicts;    // one per page
  std::vector<std::uint8_t> allocated;  // 1 allocated, 0 free, 0xFF unknown (no PFS page)
  std::array<std::int64_t, kPageVerdictCount> counts{};

  std::int64_t Count(PageVerdict v) const { return counts[static_cast<std::size_t>(v)]; }
  // The file is as long as its header says, and every page the PFS pages call allocated
  // (or, where no PFS page says, every page that is not zero) verified by protection,
  // structure or a verified repair.
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
  // repaired, pages it left uncertain.
  PageAccount Finish(const std::vector<PageVerdict>& writerNotes = {});

 private:
  std::uint8_t& AllocatedAt(std::int64_t n);
  void TakeAllocation(std::int64_t n, PageView page);
  PageAccount account_;
};

// Reads page n of a file of `pageCount` pages into the buffer; false when it cannot.
using PageReaderFn = std::function<bool(std::int64_t n, MutablePage page)>;

// The account of a file. A page that cannot be read counts as damaged.
PageAccount AccountPages(std::int64_t pageCount, const PageReaderFn& read,
                         const std::vector<PageVerdict>& writerNotes = {});

}  // namespace ravelin
