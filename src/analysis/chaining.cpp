#include "analysis/chaining.h"

#include <algorithm>
#include <array>

#include "analysis/file_identification.h"
#include "common/messages.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

// A header fragment of this many pages or fewer is mapped from its PFS page alone.
constexpr std::int64_t kShortHeader = 2;

std::uint64_t Distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

const FragmentRow& RowAt(const FragmentTable& table, std::int32_t position) {
  return table.Row(static_cast<std::size_t>(table.FragmentIndex()[position].Row));
}

}  // namespace

void VectorChosenMarks::ClearAll() { std::fill(chosen_.begin(), chosen_.end(), 0); }

void VectorChosenMarks::Mark(std::int32_t row) {
  if (row >= 0 && static_cast<std::size_t>(row) < chosen_.size()) chosen_[row] = 1;
}

std::int32_t ChooseSuccessor(const FragmentTable& table, const std::vector<std::int32_t>& group,
                             std::uint64_t lastSector) {
  const auto& index = table.FragmentIndex();
  std::int32_t chosen = group.front();
  const std::int32_t startPage = index[chosen].StartPage;
  std::uint64_t nearest = Distance(RowAt(table, chosen).StartSector, lastSector);
  for (std::size_t i = 1; i < group.size(); ++i) {
    const std::int32_t q = group[i];
    if (index[q].StartPage != startPage) break;  // a later start page never wins
    const std::uint64_t d = Distance(RowAt(table, q).StartSector, lastSector);
    if (d < nearest) {
      chosen = q;
      nearest = d;
    }
  }
  return chosen;
}

AnalysisOutcome SequentialSearch(const AnalysisInputs& in, PageMapper& mapper, ChosenMarks& marks,
                                 Reporter& reporter, std::int64_t need, std::int32_t lastRow,
                                 std::uint64_t lastSector, VersionGuard* versions) {
  const FragmentTable& table = in.table;
  const auto& index = table.FragmentIndex();
  const auto count = static_cast<std::int32_t>(index.size());
  if (in.ask != nullptr) versions = nullptr;  // the person decides between versions
  // Belongs to the file; in automatic mode what its LSNs say of its version is kept.
  auto belongs = [&](std::int32_t position) {
    if (mapper.ClassifyCandidate(table, position) != Candidate::kBelongs) return false;
    if (versions != nullptr) versions->Judge(index[position].Row, mapper.LastMatch());
    return true;
  };
  // An empty index (a scan stopped before it built one) has no position to look at.
  if (count == 0) return AnalysisOutcome::kChained;
  std::int32_t cursor = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (index[i].StartPage >= need) {
      cursor = i;
      break;
    }
  }

  do {
    if (in.cancel != nullptr && in.cancel->load()) return AnalysisOutcome::kEnded;
    if (in.ask != nullptr) reporter.Yield();
    const std::int32_t p = cursor;
    if (index[p].StartPage < need || !belongs(p)) {
      ++cursor;
      continue;
    }
    // Every fragment that overlaps the group so far and belongs as well.
    std::vector<std::int32_t> group{p};
    std::int64_t reach = index[p].EndPage;
    for (std::int32_t q = p + 1;
         q < count && index[q].StartPage < reach && group.size() < kMaxCandidateGroup; ++q) {
      if (!belongs(q)) continue;
      group.push_back(q);
      reach = std::max(reach, index[q].EndPage);
    }

    std::int32_t c = p;
    if (group.size() > 1) {
      if (in.ask != nullptr) {
        const std::optional<std::int32_t> answer = in.ask->AskSuccessor(group, lastRow);
        if (!answer || std::find(group.begin(), group.end(), *answer) == group.end()) {
          reporter.Log(Text(TextId::kUserStopped));
          return AnalysisOutcome::kGaveUp;
        }
        c = *answer;
      } else {
        c = ChooseSuccessor(table, group, lastSector);
        if (versions != nullptr) {
          const std::int32_t plain = c;
          c = ChooseSuccessor(
              table, versions->Newest(table, versions->Prefer(table, group, reporter)), lastSector);
          versions->ReportChoice(table, c, plain, reporter);
        }
      }
    }

    const std::int32_t r = index[c].Row;
    const FragmentRow& row = table.Row(static_cast<std::size_t>(r));
    reporter.Log(std::string(Text(TextId::kFoundFragment)) + std::to_string(r));
    if (versions != nullptr) versions->Taken(table, c, reporter);
    lastRow = r;
    lastSector = row.StartSector;
    marks.Mark(r);
    // A page that cannot be read is reported and left out of the map; the chain goes on.
    if (mapper.AddToPageMap(GeometryOf(row)) != 0)
      reporter.Log(std::string(Text(TextId::kFragmentUnreadable)) + std::to_string(r));
    need = index[c].EndPage;
    cursor = c + 1;
  } while (cursor <= count - 1);
  return AnalysisOutcome::kChained;
}

AnalysisOutcome AnalyseHeaderFragment(const HeaderFragment& header, const AnalysisInputs& in,
                                      AnalysisOutputs& out, Reporter& reporter) {
  const std::uint64_t s = header.startSector;
  const std::int64_t h = header.pages;
  std::array<std::uint8_t, kPageSize> page{};

  // 1. The page count from page 0. A count of 0 or less, or one this machine cannot hold a
  // map for, is no page count. The map is made now, so that a file too large ends here.
  if (!in.source.ReadPage(s, 0, page)) {
    reporter.UnreadablePage(0, kReadDiskError, kMessCaption);
    return AnalysisOutcome::kEnded;
  }
  RestoreTornBits(page);
  std::int32_t size = 0;
  PageMap fresh;
  if (GetFileSizeFromHeader(page, size) != 0 || size <= 0 || !fresh.Reset(size)) {
    reporter.Message("get fileinfo1 error", kMessCaption);
    return AnalysisOutcome::kEnded;
  }
  out.FilePageCount = size;

  // The physical name from page 32. Without one the analysis goes on under the name used
  // for short header fragments: real files exist whose page 32 holds a long logical name,
  // or the logical name ending in ".mdf" before the physical one.
  if (h > kNamePage) {
    if (!in.source.ReadPage(s, kNamePage, page)) {
      reporter.UnreadablePage(kNamePage);
      return AnalysisOutcome::kEnded;
    }
    RestoreTornBits(page);
    std::string name;
    if (GetFileNameFromPage(page, name) != 0) {
      reporter.Message("get fileinfo2 error");
      name = kNoNameFile;
    }
    out.DatabaseFileName = std::move(name);
  } else {
    out.DatabaseFileName = kNoNameFile;
  }

  // 2. The map of this file, from the header fragment.
  out.pageMap = std::move(fresh);
  PageMapper mapper(out.pageMap, in.source, in.mapSettings, reporter);
  const FragmentGeometry head{h, 0, s};
  const int mapped =
      h <= kShortHeader ? mapper.AddHeaderToPageMap(head) : mapper.AddToPageMap(head);
  // A page of the header fragment that cannot be read is reported and left out of the map.
  if (mapped != 0) reporter.Message("get page info error");

  // 3. Only the header fragment is chosen so far.
  out.marks.ClearAll();
  std::int32_t lastRow = -1;
  for (std::size_t i = 0; i < in.table.Count(); ++i) {
    if (in.table.Row(i).StartSector == s) {
      lastRow = static_cast<std::int32_t>(i);
      out.marks.Mark(lastRow);
      break;
    }
  }
  VersionGuard versions = VersionGuard::ForHeader(in.table, in.source, s, h);
  const AnalysisOutcome outcome =
      SequentialSearch(in, mapper, out.marks, reporter, h, lastRow, s, &versions);
  out.versionUncertain = versions.UncertainPages();
  return outcome;
}

}  // namespace ravelin
