// The search for missing fragments (SEARCH MORE on tab IV).
//
//   1. A sweep sorts the Assembly list by first page and walks its gaps: between each row and
//      the next, and from the last row to the file's page count.
//   2. For each gap, the fragments of the whole table that lie wholly inside it are listed
//      (ListFragmentsInRange), in page-order index order. The first that the page map says
//      belongs is added; failing that, the first that it leaves undecided and that would
//      fill at least one page whose allocation nothing has told yet. An undecided fragment
//      lying wholly on pages the file's PFS pages already account for is never added: it is
//      as likely to be another database's pages, or stale ones, as the file's.
//   3. An added fragment is chosen and its pages go into the page map, which may decide the
//      fragments of later gaps and sweeps. At most one fragment is added per gap and sweep.
//   4. Sweeps repeat, on the rebuilt list, until one adds nothing. A gap where a sweep added
//      nothing is judged again only once a record of its pages has changed in the map or a
//      fragment was added at its edge: until then its candidates' verdicts stand, and the
//      sweep says again what it said of it. The work of a sweep follows what was added.
//   5. The closing step reads page 32 (the file's physical name) from the row that holds it,
//      mending it first when a cluster boundary split it from its tail.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analysis/page_matching.h"
#include "analysis/version_guard.h"
#include "assembly/assembly_list.h"
#include "assembly/assembly_rows.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/mutex.h"
#include "common/reporter.h"
#include "ports/report_list.h"

namespace ravelin {

inline constexpr char kOverlapMessage[] = "error";

// The positions j of `index` (sorted by StartPage) whose entry has StartPage >= first and
// EndPage <= end, ascending. Found by binary search on StartPage, so a gap costs the entries
// that start inside it, not the whole index.
std::vector<std::int32_t> ListFragmentsInRange(const std::vector<FragmentIndexEntry>& index,
                                               std::int64_t first, std::int64_t end);

// The Assembly list as the search changes it (the session's version takes the Workspace's
// table lock around each change).
class SearchList {
 public:
  virtual ~SearchList() = default;
  // Sorts the list by its first-page column and gives its rows in that order.
  virtual std::vector<AssemblyRow> SortedRows() = 0;
  virtual void Choose(std::int32_t row) = 0;  // FragmentChosen[row] = 1
  virtual void Rebuild() = 0;                 // FillAssemblyList
  virtual bool Chosen(std::int32_t row) const = 0;
};

enum class SearchOutcome {
  kNotSearched,  // empty list, or its first row does not start at page 0: nothing logged
  kOverlap,      // rows overlap ("error" shown): stopped, no summary line
  kSwept,        // a sweep added nothing: go on with the closing step
};

struct SearchResult {
  SearchOutcome outcome = SearchOutcome::kNotSearched;
  std::vector<std::int64_t> foundPerSweep;   // one entry per summary line
  std::vector<std::int64_t> judgedPerSweep;  // candidates classified (pages read) per sweep
  // Undecided fragments a sweep passed over because they lay wholly on pages whose
  // allocation the file's PFS pages already give (table rows).
  std::vector<std::int32_t> passedOver;
};

// Steps 1 to 4. `mapper` classifies candidates and records added fragments (its own
// reporter takes the page map's tag lines); `reporter` takes the search's lines (Memo3),
// its messages, and a Yield after every gap that had candidates.
// `versions`, when given, keeps the search in the analysed copy of the database: a candidate
// holding pages of another version is not taken, and of several undecided candidates the
// one of the file's own version is.
SearchResult SearchMissingFragments(const FragmentTable& table, SearchList& list,
                                    PageMapper& mapper, std::int64_t filePageCount,
                                    Reporter& reporter, VersionGuard* versions = nullptr);

enum class NameOutcome {
  kInFirstRow,  // the first row holds page 32: nothing read, the memo cell stays
  kReadFailed,  // page 32 or its repair block could not be read: the memo cell stays
  kMemoSet,     // `memo` is the first row's new memo cell
};

struct NameResult {
  NameOutcome outcome = NameOutcome::kInFirstRow;
  std::optional<std::string> name;  // the name page 32 gives, when it gives one
  std::string memo;                 // name + ":" + pages x 8 + "KB"
};

// Step 5 on the sorted rows: page 32 from the row after the first that holds it, with its
// left-page repair when the row ends with it and the next row starts at page 33. Messages:
// "read disk error", "get fileinfo2 error". `databaseFileName` is the name known so far.
NameResult ReadNameFromPage32(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount,
                              std::int32_t sectorsPerCluster, FragmentSource& source,
                              const std::string& databaseFileName, Reporter& reporter);

}  // namespace ravelin
