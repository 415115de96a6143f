#include "assembly/missing_fragment_search.h"

#include <algorithm>
#include <array>
#include <map>

#include "analysis/file_identification.h"
#include "analysis/page_map.h"
#include "assembly/assembly_list.h"
#include "catalogue/left_page_repair.h"
#include "catalogue/stored_content.h"
#include "common/messages.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

constexpr char kNoNameMessage[] = "get fileinfo2 error";

// Whether at least one page of the fragment is one the file may hold: its allocation is
// unknown, or the file's PFS pages say it is allocated. A fragment wholly on pages known to
// be free can only be another file's pages or stale ones.
bool FillsPageNotKnownFree(const PageMap& map, const FragmentGeometry& fragment) {
  for (std::int64_t p = fragment.startPage; p < fragment.startPage + fragment.pages; ++p)
    if (map.Contains(p) && map.AllocState(p) != kAllocFree) return true;
  return false;
}

// The gaps a sweep judged without adding anything, by first page, each while no record of
// its pages changes in the map and no fragment is added at its edges: a candidate's verdict
// and the pages it would fill depend on nothing else, so judging such a gap again would read
// the same pages and come to the same end. What it logged is kept to be said again.
class SettledGaps {
 public:
  explicit SettledGaps(PageMap& map) : map_(map) { map_.RecordChangesIn(&changed_); }
  ~SettledGaps() { map_.RecordChangesIn(nullptr); }
  SettledGaps(const SettledGaps&) = delete;
  SettledGaps& operator=(const SettledGaps&) = delete;

  struct Gap {
    std::int64_t end = 0;
    std::optional<std::int32_t> passedOver;  // the row logged as passed over
  };

  // The settled gap [first, end), after forgetting those whose pages changed since.
  const Gap* Find(std::int64_t first, std::int64_t end) {
    for (const std::int64_t page : changed_) {
      auto it = gaps_.upper_bound(page);
      if (it != gaps_.begin() && page < (--it)->second.end) gaps_.erase(it);
    }
    changed_.clear();
    const auto it = gaps_.find(first);
    return it != gaps_.end() && it->second.end == end ? &it->second : nullptr;
  }
  void Settle(std::int64_t first, Gap gap) { gaps_[first] = gap; }
  // Forgets the gaps that share a page with [first, end) or touch it at an edge (a fragment
  // without pages lies on a gap's edge and may be a candidate of both gaps there).
  void Forget(std::int64_t first, std::int64_t end) {
    auto it = gaps_.upper_bound(end);
    while (it != gaps_.begin()) {
      --it;
      if (it->second.end < first) break;
      it = gaps_.erase(it);
    }
  }

 private:
  PageMap& map_;
  std::vector<std::int64_t> changed_;  // pages whose record changed since the last look
  std::map<std::int64_t, Gap> gaps_;
};

class Sweep {
 public:
  Sweep(const FragmentTable& table, SearchList& list, PageMapper& mapper, Reporter& reporter,
        SearchResult& result, VersionGuard* versions, SettledGaps& settled)
      : table_(table),
        list_(list),
        mapper_(mapper),
        reporter_(reporter),
        result_(result),
        versions_(versions),
        settled_(settled) {}

  // False when the search must stop (the outcome says why).
  bool Gap(std::int64_t e, std::int64_t b) {
    if (const SettledGaps::Gap* gap = settled_.Find(e, b)) {
      if (gap->passedOver) PassOver(*gap->passedOver);
      reporter_.Yield();
      return true;
    }
    const std::int64_t unreadableBefore = mapper_.UnreadableReported();
    const auto& index = table_.FragmentIndex();
    std::vector<std::int32_t> candidates = ListFragmentsInRange(index, e, b);
    // A fragment already chosen is a row of the list; it can lie in a gap only when it has no
    // pages, and adding it again would never fill anything.
    std::erase_if(candidates, [&](std::int32_t j) {
      const std::int32_t row = index[static_cast<std::size_t>(j)].Row;
      return row < 0 || static_cast<std::size_t>(row) >= table_.Count() || list_.Chosen(row);
    });
    if (candidates.empty()) return true;
    // First pass: the first that belongs and that the LSNs do not name another copy's.
    // Nothing is added between the passes, so the second pass judges the same
    // map and takes the first pass's verdicts.
    std::vector<Candidate> verdicts;
    verdicts.reserve(candidates.size());
    std::optional<std::int32_t> otherCopy;
    bool added = false;
    for (const std::int32_t j : candidates) {
      ++judged_;
      verdicts.push_back(mapper_.ClassifyCandidate(table_, j));
      if (verdicts.back() == Candidate::kRejected) continue;
      if (versions_ != nullptr &&
          versions_->Judge(index[static_cast<std::size_t>(j)].Row, mapper_.LastMatch()) ==
              CopyEvidence::kOther &&
          verdicts.back() == Candidate::kBelongs) {
        if (!otherCopy) otherCopy = j;
        continue;
      }
      if (verdicts.back() == Candidate::kBelongs) {
        if (!Add(j, Text(TextId::kFoundFragment))) return false;
        added = true;
        break;
      }
    }
    if (!added) {
      // Of the undecided fragments that fill pages the file may hold, the first of the
      // file's own version (another copy's pages share object ids and page numbers).
      // Nothing changes the map until a fragment is added, so each undecided fragment's
      // pages are looked up once.
      std::vector<bool> fills(candidates.size(), false);
      std::vector<std::int32_t> fitting;
      for (std::size_t c = 0; c < candidates.size(); ++c) {
        if (verdicts[c] != Candidate::kUndecided) continue;
        fills[c] = FillsPageNotKnownFree(mapper_.Map(), Geometry(candidates[c]));
        if (fills[c]) fitting.push_back(candidates[c]);
      }
      if (versions_ != nullptr && fitting.size() > 1)
        fitting = versions_->Newest(table_, versions_->Prefer(table_, fitting, reporter_));
      bool firstUndecided = true;
      std::optional<std::int32_t> passedOver;
      for (std::size_t c = 0; c < candidates.size(); ++c) {
        if (verdicts[c] != Candidate::kUndecided) continue;
        const std::int32_t j = candidates[c];
        if (std::find(fitting.begin(), fitting.end(), j) != fitting.end()) {
          if (!Add(j, Text(TextId::kFoundUndecidedFragment))) return false;
          added = true;
          break;
        }
        if (fills[c]) continue;
        if (firstUndecided) {
          passedOver = index[static_cast<std::size_t>(j)].Row;
          PassOver(*passedOver);
        }
        firstUndecided = false;
      }
      // A page that could not be read is reported again by each sweep that judges it.
      if (!added && !otherCopy && mapper_.UnreadableReported() == unreadableBefore)
        settled_.Settle(e, {b, passedOver});
    }
    // Another copy's fragment fills the gap only when nothing of the file's own does.
    if (!added && otherCopy && !Add(*otherCopy, Text(TextId::kFoundFragment))) return false;
    reporter_.Yield();
    return true;
  }

  std::int64_t Found() const { return found_; }
  std::int64_t Judged() const { return judged_; }

 private:
  void PassOver(std::int32_t row) {
    reporter_.Log("未加入未确定碎片号" + std::to_string(row) +
                  "(its pages are all free by the file's PFS pages: not added)");
    result_.passedOver.push_back(row);
  }

  FragmentGeometry Geometry(std::int32_t position) const {
    const FragmentIndexEntry& entry = table_.FragmentIndex()[static_cast<std::size_t>(position)];
    const FragmentRow& row = table_.Row(static_cast<std::size_t>(entry.Row));
    return {row.Pages(), entry.StartPage, row.StartSector};
  }

  bool Add(std::int32_t position, std::string_view line) {
    const FragmentIndexEntry& entry = table_.FragmentIndex()[static_cast<std::size_t>(position)];
    const std::int32_t row = entry.Row;
    settled_.Forget(entry.StartPage, entry.EndPage);
    ++found_;
    reporter_.Log(std::string(line) + std::to_string(row));
    list_.Choose(row);
    if (versions_ != nullptr) versions_->Taken(table_, position, reporter_);
    // A page that cannot be read is reported and left out of the map; the search goes on.
    if (mapper_.AddToPageMap(Geometry(position)) != 0)
      reporter_.Log(std::string(Text(TextId::kFragmentUnreadable)) + std::to_string(row));
    return true;
  }

  const FragmentTable& table_;
  SearchList& list_;
  PageMapper& mapper_;
  Reporter& reporter_;
  SearchResult& result_;
  VersionGuard* versions_;
  SettledGaps& settled_;
  std::int64_t found_ = 0;
  std::int64_t judged_ = 0;
};

}  // namespace

std::vector<std::int32_t> ListFragmentsInRange(const std::vector<FragmentIndexEntry>& index,
                                               std::int64_t first, std::int64_t end) {
  std::vector<std::int32_t> positions;
  auto it = std::lower_bound(
      index.begin(), index.end(), first,
      [](const FragmentIndexEntry& entry, std::int64_t page) { return entry.StartPage < page; });
  // An entry starting after `end` ends after it too (no fragment ends before it starts).
  for (; it != index.end() && it->StartPage <= end; ++it)
    if (it->EndPage <= end) positions.push_back(static_cast<std::int32_t>(it - index.begin()));
  return positions;
}

SearchResult SearchMissingFragments(const FragmentTable& table, SearchList& list,
                                    PageMapper& mapper, std::int64_t filePageCount,
                                    Reporter& reporter, VersionGuard* versions) {
  SearchResult result;
  SettledGaps settled(mapper.Map());
  for (;;) {
    const std::vector<AssemblyRow> rows = list.SortedRows();
    if (rows.empty() || rows.front().startPage != 0) return result;
    Sweep sweep(table, list, mapper, reporter, result, versions, settled);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::int64_t e = rows[i].endPage;
      const std::int64_t b = i + 1 < rows.size() ? rows[i + 1].startPage : filePageCount;
      if (b < e) {
        reporter.Message(kOverlapMessage);
        result.outcome = SearchOutcome::kOverlap;
        return result;
      }
      if (b == e) continue;
      if (!sweep.Gap(e, b)) return result;
    }
    reporter.Log(std::string(Text(TextId::kSweepDone)) + std::to_string(sweep.Found()) +
                 "。二次查找完毕");
    result.foundPerSweep.push_back(sweep.Found());
    result.judgedPerSweep.push_back(sweep.Judged());
    if (sweep.Found() == 0) break;
    list.Rebuild();
  }
  result.outcome = SearchOutcome::kSwept;
  return result;
}

NameResult ReadNameFromPage32(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount,
                              std::int32_t sectorsPerCluster, FragmentSource& source,
                              const std::string& databaseFileName, Reporter& reporter) {
  NameResult result;
  if (rows.empty() || rows.front().sizeKB > kNamePage * 8) return result;
  std::string name = databaseFileName;
  std::size_t holder = 0;
  for (std::size_t i = 1; i < rows.size() && rows[i].startPage <= kNamePage; ++i) {
    if (rows[i].endPage > kNamePage) {
      holder = i;
      break;
    }
  }
  if (holder > 0) {
    const AssemblyRow& row = rows[holder];
    std::array<std::uint8_t, kPageSize> page{};
    if (!source.ReadPage(row.startSector, kNamePage - row.startPage, page)) {
      reporter.UnreadablePage(kNamePage);
      result.outcome = NameOutcome::kReadFailed;
      return result;
    }
    if (LeftPageRepairApplies(sectorsPerCluster) && row.endPage == kNamePage + 1 &&
        holder + 1 < rows.size() && rows[holder + 1].startPage == kNamePage + 1) {
      std::array<std::uint8_t, kLeadInBytes> block{};
      if (!source.ReadSectors(rows[holder + 1].startSector,
                              -static_cast<std::int64_t>(kLeadInSectors),
                              static_cast<std::int32_t>(kLeadInSectors), block)) {
        reporter.UnreadablePage(kNamePage);
        result.outcome = NameOutcome::kReadFailed;
        return result;
      }
      LeftPageRepair(page, block, sectorsPerCluster);
    }
    RestoreTornBits(page);
    std::string found;
    if (GetFileNameFromPage(page, found) == 0) {
      name = found;
      result.name = found;
    } else {
      reporter.Message(kNoNameMessage);
    }
  }
  result.outcome = NameOutcome::kMemoSet;
  result.memo = name + ":" + std::to_string(filePageCount * 8) + "KB";
  return result;
}

}  // namespace ravelin
