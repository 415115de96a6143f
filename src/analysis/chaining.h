// Chaining the fragments of one database file, from its header fragment on.
//
//   1. Page 0 of the header fragment gives the file's page count (FilePageCount), page 32
//      its physical name (DatabaseFileName).
//   2. The page map is reset to the page count and filled from the header fragment.
//   3. The sequential search walks the page-order index once: at each position that starts
//      at or after the first page not yet covered and belongs to the file (ClassifyCandidate),
//      it gathers the overlapping fragments that belong too (at most 13), chooses one, marks
//      it chosen, adds its pages to the map, and goes on after it.
//   4. The caller rebuilds the Assembly list from the marks.
//
// The choice among several fragments: in automatic mode the one that starts at the lowest
// page, and of those the one whose start sector lies nearest the fragment chained last (the
// earlier index position on a tie); in manual mode the person's, through SuccessorQuestion.
// In automatic mode the page LSNs keep the chain in the analysed file's own version first
// (VersionGuard): of several candidates, those the LSNs name another copy's are set aside, and
// one that holds an older copy of pages another candidate holds; the memo says where that
// changed the choice. Another copy's fragment that no candidate of the file's own stands
// against is taken, and its pages named version uncertain.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/page_map.h"
#include "analysis/page_matching.h"
#include "analysis/version_guard.h"
#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/reporter.h"

namespace ravelin {

inline constexpr char kNoNameFile[] = "c:\\noname.mdf";
// A candidate group holds at most this many index positions.
inline constexpr std::size_t kMaxCandidateGroup = 13;

// The header fragment chosen on tab III, as its cells give it.
struct HeaderFragment {
  std::uint64_t startSector = 0;  // S
  std::int64_t pages = 0;         // H, its page count
};

// FragmentChosen as the analysis changes it; the Workspace's takes its table lock.
class ChosenMarks {
 public:
  virtual ~ChosenMarks() = default;
  virtual void ClearAll() = 0;              // every row 0
  virtual void Mark(std::int32_t row) = 0;  // row 1
};

// FragmentChosen held in a plain vector (one entry per row).
class VectorChosenMarks final : public ChosenMarks {
 public:
  explicit VectorChosenMarks(std::vector<std::int32_t>& chosen) : chosen_(chosen) {}
  void ClearAll() override;
  void Mark(std::int32_t row) override;

 private:
  std::vector<std::int32_t>& chosen_;
};

// Manual mode's question: which position of `group` (page-order index positions, in index
// order) follows `lastRow`, the table row chained last (-1 when none is known). Nothing when
// the person gives up.
class SuccessorQuestion {
 public:
  virtual ~SuccessorQuestion() = default;
  virtual std::optional<std::int32_t> AskSuccessor(const std::vector<std::int32_t>& group,
                                                   std::int32_t lastRow) = 0;
};

enum class AnalysisOutcome {
  kEnded,    // stopped by a failure, already reported; the Assembly list is not rebuilt
  kGaveUp,   // the person gave up ("用户终止" logged); the Assembly list is not rebuilt
  kChained,  // the search went through the index: rebuild the Assembly list
};

struct AnalysisInputs {
  const FragmentTable& table;  // rows and the page-order index; read only
  FragmentSource& source;
  PageMapSettings mapSettings;
  SuccessorQuestion* ask = nullptr;  // manual mode; null in automatic mode
  // Checked before each step of the search: the window is closing.
  const std::atomic<bool>* cancel = nullptr;
};

// What the analysis leaves for tab IV, also when it ends early.
struct AnalysisOutputs {
  PageMap& pageMap;
  std::int32_t& FilePageCount;
  std::string& DatabaseFileName;
  ChosenMarks& marks;
  // Pages taken from fragments whose LSNs name them another copy's (VersionGuard).
  std::vector<std::int64_t> versionUncertain = {};
};

// Steps 1 to 3 for `header`. Messages and log lines go to `reporter`; in manual mode it is
// told to Yield before each step of the search.
AnalysisOutcome AnalyseHeaderFragment(const HeaderFragment& header, const AnalysisInputs& in,
                                      AnalysisOutputs& out, Reporter& reporter);

// Step 3 alone, from `need` (the first page not yet covered), `lastRow` being the row chained
// last (-1: none) and `lastSector` its start sector.
// `versions` (automatic mode only; may be null) keeps the chain in one version.
AnalysisOutcome SequentialSearch(const AnalysisInputs& in, PageMapper& mapper, ChosenMarks& marks,
                                 Reporter& reporter, std::int64_t need, std::int32_t lastRow,
                                 std::uint64_t lastSector, VersionGuard* versions = nullptr);

// The automatic choice from `group` (at least one position): the first position, replaced by
// a later one that starts at the same page only when its start sector lies strictly nearer
// `lastSector`.
std::int32_t ChooseSuccessor(const FragmentTable& table, const std::vector<std::int32_t>& group,
                             std::uint64_t lastSector);

}  // namespace ravelin
