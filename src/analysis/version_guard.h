// Telling two versions of one database apart while chaining. A person who copied a database,
// worked on in one copy and lost both leaves two sets of fragments with the same object ids
// and page ids: every page of either "belongs" by the page map, and the automatic choice by
// start page and sector distance can walk from one version into the other.
//
// What separates them is the log sequence number each page carries (m_lsn, bytes 40-49:
// VLF, log block, slot). In a data file almost every page's LSN is at or below that of its
// boot page (page 9) and file header page (page 0); the few above it lie within a few log
// blocks. A copy that went on working has its changed pages far beyond. So, against the
// bound taken from the analysed file's own pages 0 and 9:
//   - a fragment holding a page beyond the bound is another (newer) version: it is passed
//     over;
//   - of candidates that hold the same page ids, one whose pages there are older than
//     another's is an outdated copy of those pages: the newer is chosen, whatever the
//     distance. Pages the versions share unchanged are byte-identical, and either is right.
//     When another header fragment of the same file (same file id and size) has a newer
//     page 0, the analysed file is the older copy, and the older of such candidates is
//     chosen instead. When another one has the same page-0 LSN (copies that went on
//     separately can keep page 0 as it was), nothing says which copy is the newer: no
//     candidate is set aside for its age, and the choice by start page and distance stands.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/fragment_pages.h"
#include "analysis/page_matching.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/bytes.h"
#include "common/reporter.h"

namespace ravelin {

// m_lsn as one number: VLF in the high 32 bits, log block in the low; the slot is left out.
using Lsn = std::uint64_t;

// Pages above the bound by at most this many log blocks, in the bound's VLF, are the file's
// own (the real files show up to 56).
inline constexpr std::uint32_t kLsnSlackBlocks = 256;

// A page's LSN; 0 for a page whose header version is not 1.
Lsn PageLsn(PageView page);
// "VLF:block:slot" in decimal, as SQL Server prints an LSN.
std::string LogPositionText(PageView page);
std::string LogPositionText(Lsn lsn);

// Whether `lsn` lies beyond `bound`: above it in a later VLF, or by more than the slack.
bool BeyondBound(Lsn lsn, Lsn bound);

// Where the analysed file stands among the header fragments of the same file id and size.
enum class CopyAge : std::uint8_t {
  kNewest,   // no other has a page 0 as new (or there is no other)
  kOlder,    // another has a newer page 0
  kUnknown,  // another has the same page-0 LSN, none a newer one
};

class VersionGuard {
 public:
  // `bound`: the larger LSN of the header fragment's pages 0 and 9; nothing when the header
  // fragment does not reach the boot page (page 0 alone is no bound: SQL Server 2005 leaves
  // it at 0:0:1).
  // `age`: where the analysed file stands among its copies (AgeAmongCopies).
  VersionGuard(FragmentSource& source, std::optional<Lsn> bound, CopyAge age = CopyAge::kNewest);

  // How the page-0 LSN at `headerSector` compares with those of the other header fragments
  // in `table` of a file of the same file id and size.
  static CopyAge AgeAmongCopies(const FragmentTable& table, FragmentSource& source,
                                std::uint64_t headerSector);

  // The bound from a header fragment of `pages` pages at `startSector`.
  static std::optional<Lsn> BoundFromHeader(FragmentSource& source, std::uint64_t startSector,
                                            std::int64_t pages);

  // Whether the fragment holds a page beyond the bound (`counters` of its match: the newest
  // page read). Logs the first time for each row.
  bool IsOtherVersion(std::int32_t row, const MatchCounters& counters, Reporter& reporter);

  // Of the candidate `group` (index positions), the ones no other member shows to hold the
  // other side's copy of pages they share (older ones, or newer ones for an older file);
  // the whole group when none stands out or the file's age among its copies is unknown.
  std::vector<std::int32_t> Newest(const FragmentTable& table,
                                   const std::vector<std::int32_t>& group);

  // Says in the memo why `chosen` was taken instead of `plain` (the choice by start page and
  // distance), when they differ.
  void ReportChoice(const FragmentTable& table, std::int32_t chosen, std::int32_t plain,
                    Reporter& reporter);

 private:
  // LSN per page of the fragment at index position `position` (0 where unreadable).
  std::vector<Lsn> Lsns(const FragmentTable& table, std::int32_t position);

  FragmentSource& source_;
  std::optional<Lsn> bound_;
  bool preferOlder_ = false;
  bool ageUnknown_ = false;
  std::set<std::int32_t> reported_;
  std::vector<std::uint8_t> buffer_;
  // Why the last Newest call set a member aside: page, its LSN there, the newer LSN.
  struct Outdated {
    std::int32_t position;
    std::int32_t by;
    std::int64_t page;
    Lsn asideLsn;  // the set-aside member's LSN at `page`
    Lsn keptLsn;   // the other member's
  };
  std::vector<Outdated> outdated_;
};

}  // namespace ravelin
