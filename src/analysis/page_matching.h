// Filling the page map from a fragment's pages, and judging a fragment against the map.
//
// AddToPageMap records what a fragment's allocation pages and page links say: a PFS page
// marks the pages it covers allocated or free (and IAM pages as such), an IAM page claims the
// pages it lists for its object, a data or index page lends its object to the pages it links
// to. MatchPagesToMap counts the pages of a fragment that agree with the map and stops at the
// first that contradicts an owner the allocation pages gave. The analysis, the search for
// missing fragments and the missing-page check all go through these, over any fragment's
// geometry. docs/allocation_pages.md describes the pages read.
//
// Ownership conflicts are logged ("erra", "errb", "errc"); a page that cannot be read is a
// message box "read disk error". Page ids outside the map (the file's page count) are
// ignored wherever they come from: a fragment's own pages, PFS bytes, IAM entries, links.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/fragment_pages.h"
#include "analysis/page_map.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "page/allocation_page.h"

namespace ravelin {

// Of a PFS page whose second half may not belong to it, the PFS bytes in its first 4096
// bytes: from byte 100 (row 0 at 96, after its 4-byte row header) to byte 4095.
inline constexpr std::int64_t kHalfPagePfsBytes = 3996;

struct MatchCounters {
  std::int32_t Matches = 0;    // pages that confirm the fragment
  std::int32_t Conflicts = 0;  // pages that contradict it; counting stops at the first
  // The highest LSN (VLF and log block as one number) among the pages read, and its page.
  std::uint64_t NewestLsn = 0;
  std::int64_t NewestPage = -1;
};

enum class Candidate {
  kBelongs = 1,
  kRejected = 2,
  kUndecided = 3,
};

struct PageMapSettings {
  // Below 16, a cluster is smaller than a page: a fragment's last page may end in sectors
  // that belong to something else, so its allocation pages are trusted only when intact.
  std::int32_t sectorsPerCluster = 16;
  // CurrentFileId: links to pages of another file are not followed.
  std::uint16_t fileId = 1;
};

// The geometry of fragment row `row` of the table.
FragmentGeometry GeometryOf(const FragmentRow& row);

class PageMapper {
 public:
  // The map's size is the file's page count (FilePageCount).
  PageMapper(PageMap& map, FragmentSource& source, PageMapSettings settings, Reporter& reporter);

  // 0 done; 1 a page could not be read (reported): the other pages are recorded all the same.
  int AddToPageMap(const FragmentGeometry& fragment);
  // The header fragment of two pages or fewer: only its PFS page counts, and when the PFS
  // page is the last page and may be cut at a cluster boundary half-way, only the PFS bytes
  // of its first half. 0 or 1 as AddToPageMap.
  int AddHeaderToPageMap(const FragmentGeometry& fragment);

  MatchCounters MatchPagesToMap(const FragmentGeometry& fragment);

  // A fragment that ends past the file is rejected unread; otherwise one that contradicts
  // the map is rejected, one that confirms it belongs, and one that does neither is
  // undecided.
  Candidate ClassifyCandidate(const FragmentGeometry& fragment);
  // The fragment at `position` of the table's page-order index.
  Candidate ClassifyCandidate(const FragmentTable& table, std::int32_t position);
  // The counters of the last classification (zero when it read nothing).
  const MatchCounters& LastMatch() const { return lastMatch_; }

  PageMap& Map() { return map_; }
  // Pages reported unreadable so far, by every call.
  std::int64_t UnreadableReported() const { return unreadable_; }

 private:
  // Calls visit(page, position, type, isLastPage) for each page of the fragment that may
  // fill the map: readable, header version 1 of a type the map is filled from, inside the
  // map, and not known free (while its allocation is unknown, only a PFS page). An
  // unreadable page is reported and skipped. 0, or 1 when a page could not be read.
  template <typename Visit>
  int ForEachUsablePage(const FragmentGeometry& fragment, Visit visit);
  // PFS bytes from `offset`, `count` of them (cut at the page's end), for the pages from
  // `firstPage` on.
  void ApplyPfsBytes(const std::uint8_t* page, std::size_t offset, std::int64_t count,
                     std::int64_t firstPage);
  void AddIamPage(const std::uint8_t* page, std::int32_t obj);
  void AddLinks(const std::uint8_t* page);
  // An IAM page lists page x for `obj`.
  void ClaimPage(std::int64_t x, std::int32_t obj, const char* tag);
  // A data or index page of `obj` links to page x.
  void LinkPage(std::int64_t x, std::int32_t obj);
  bool Allocated(std::int64_t page) const {
    return map_.Contains(page) && map_.AllocState(page) == kAllocAllocated;
  }

  PageMap& map_;
  FragmentSource& source_;
  PageMapSettings settings_;
  Reporter& reporter_;
  std::vector<std::uint8_t> buffer_;  // one read block, reused across fragments
  MatchCounters lastMatch_;
  std::int64_t unreadable_ = 0;
};

}  // namespace ravelin
