// Telling two versions of one database apart while chaining. A person who copied a database,
// worked on in one copy and lost both leaves two sets of fragments with the same object ids
// and page ids: every page of either "belongs" by the page map, and the automatic choice by
// start page and sector distance can walk from one version into the other.
//
// What separates them is the log sequence number each page carries (m_lsn, bytes 40-49:
// VLF, log block, slot), held against the bound of each copy: the larger LSN of its boot page
// (page 9) and file header page (page 0). A copy's own pages lie at or below its bound, or
// a little above it: real files carry pages up to 70 log blocks above it in the same virtual
// log file, and some a few blocks into the next one. So a page fits a copy when its LSN is
// at most one VLF beyond the copy's bound; the evidence a fragment gives (its newest page
// read) only counts where other header fragments of the same file (same file id and size)
// are in the table:
//   - one that fits the analysed copy and no other copy can only be the analysed copy's;
//   - one that fits another copy and not the analysed one is that other copy's;
//   - one that fits both, or neither, says nothing.
// Among candidates for the same pages the analysed copy's are taken first and the other
// copy's last. A fragment is never passed over for its LSNs alone: where the other copy's
// fragment is the only one holding some pages, it is taken and its pages are named "version
// uncertain" in the page account, rather than zero pages written for pages a fragment holds.
//
// Of candidates that hold the same page ids, one whose pages there are older than another's
// is an outdated copy of those pages: the newer is chosen, whatever the distance. Pages the
// versions share unchanged are byte-identical, and either is right. When another header
// fragment of the same file has a newer page 0, the analysed file is the older copy, and the
// older of such candidates is chosen instead. When another one has the same page-0 LSN
// (copies that went on separately can keep page 0 as it was), nothing says which copy is the
// newer: no candidate is set aside for its age, and the choice by start page and distance
// stands.
#pragma once

#include <cstdint>
#include <map>
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

// A page's LSN; 0 for a page whose header version is not 1.
Lsn PageLsn(PageView page);
// "VLF:block:slot" in decimal, as SQL Server prints an LSN.
std::string LogPositionText(PageView page);
std::string LogPositionText(Lsn lsn);

// Whether `lsn` lies beyond what a copy whose bound is `bound` writes: more than one VLF
// beyond it. Any block of the bound's VLF, and of the next one, fits.
bool BeyondBound(Lsn lsn, Lsn bound);

// Where the analysed file stands among the header fragments of the same file id and size.
enum class CopyAge : std::uint8_t {
  kNewest,   // no other has a page 0 as new (or there is no other)
  kOlder,    // another has a newer page 0
  kUnknown,  // another has the same page-0 LSN, none a newer one
};

// What a fragment's LSNs say about whose it is.
enum class CopyEvidence : std::uint8_t {
  kNone,   // no other copy in the table, or it fits both copies or neither
  kOwn,    // fits the analysed copy and no other
  kOther,  // fits another copy and not the analysed one
};

// The other header fragments of the analysed file: its copies.
struct Copies {
  CopyAge age = CopyAge::kNewest;
  std::vector<Lsn> bounds;  // of each copy that reaches its boot page
};

class VersionGuard {
 public:
  // `bound`: the larger LSN of the header fragment's pages 0 and 9; nothing when the header
  // fragment does not reach the boot page (page 0 alone is no bound: SQL Server 2005 leaves
  // it at 0:0:1). `copies`: the file's other header fragments (FindCopies).
  VersionGuard(FragmentSource& source, std::optional<Lsn> bound, Copies copies = {});

  // The guard for the header fragment of `pages` pages at `headerSector` in `table`.
  static VersionGuard ForHeader(const FragmentTable& table, FragmentSource& source,
                                std::uint64_t headerSector, std::int64_t pages);

  // The header fragments in `table` of a file of the same file id and size as the one at
  // `headerSector`, and how their page-0 LSNs compare with its own.
  static Copies FindCopies(const FragmentTable& table, FragmentSource& source,
                           std::uint64_t headerSector);

  // The bound from a header fragment of `pages` pages at `startSector`.
  static std::optional<Lsn> BoundFromHeader(FragmentSource& source, std::uint64_t startSector,
                                            std::int64_t pages);

  // What the fragment's newest page (`counters` of its match) says, kept for Prefer.
  CopyEvidence Judge(std::int32_t row, const MatchCounters& counters);

  // Of the candidate `group` (index positions, each judged), the analysed copy's when the
  // evidence names some, else those not named the other copy's; the whole group when every
  // member is the other copy's. Logs each member set aside, once per row.
  std::vector<std::int32_t> Prefer(const FragmentTable& table,
                                   const std::vector<std::int32_t>& group, Reporter& reporter);

  // The fragment at index position `position` is taken: when the evidence named it the
  // other copy's, its pages are version uncertain (logged).
  void Taken(const FragmentTable& table, std::int32_t position, Reporter& reporter);

  // Page ids of the taken fragments named the other copy's, ascending, each once.
  std::vector<std::int64_t> UncertainPages() const;

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
  CopyEvidence EvidenceOf(const FragmentTable& table, std::int32_t position) const;

  FragmentSource& source_;
  std::optional<Lsn> bound_;
  std::vector<Lsn> copyBounds_;
  bool preferOlder_ = false;
  bool ageUnknown_ = false;
  // Per judged row: the evidence, and the newest page and its LSN behind it.
  struct Judged {
    CopyEvidence evidence = CopyEvidence::kNone;
    std::int64_t page = -1;
    Lsn lsn = 0;
  };
  std::map<std::int32_t, Judged> judged_;
  std::set<std::int32_t> reported_;
  std::set<std::int64_t> uncertain_;
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
