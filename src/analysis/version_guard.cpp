#include "analysis/version_guard.h"

#include <algorithm>
#include <array>

#include "page/page_format.h"

namespace ravelin {
namespace {

// The boot page: its header LSN moves with the database's checkpoints.
constexpr std::int64_t kBootPage = 9;

std::uint32_t Vlf(Lsn lsn) { return static_cast<std::uint32_t>(lsn >> 32); }
std::uint32_t Block(Lsn lsn) { return static_cast<std::uint32_t>(lsn); }

}  // namespace

Lsn PageLsn(PageView page) {
  if (page[page_header::kHeaderVersion] != 1) return 0;
  return (Lsn{Load32(page, page_header::kLsn)} << 32) | Load32(page, page_header::kLsn + 4);
}

std::string LogPositionText(Lsn lsn) {
  return std::to_string(Vlf(lsn)) + ":" + std::to_string(Block(lsn));
}

std::string LogPositionText(PageView page) {
  return LogPositionText(PageLsn(page)) + ":" + std::to_string(Load16(page, page_header::kLsn + 8));
}

bool BeyondBound(Lsn lsn, Lsn bound) { return lsn > bound && Vlf(lsn) > Vlf(bound) + 1; }

VersionGuard::VersionGuard(FragmentSource& source, std::optional<Lsn> bound, Copies copies)
    : source_(source),
      bound_(bound),
      copyBounds_(std::move(copies.bounds)),
      preferOlder_(copies.age == CopyAge::kOlder),
      ageUnknown_(copies.age == CopyAge::kUnknown) {}

VersionGuard VersionGuard::ForHeader(const FragmentTable& table, FragmentSource& source,
                                     std::uint64_t headerSector, std::int64_t pages) {
  return VersionGuard(source, BoundFromHeader(source, headerSector, pages),
                      FindCopies(table, source, headerSector));
}

std::optional<Lsn> VersionGuard::BoundFromHeader(FragmentSource& source, std::uint64_t startSector,
                                                 std::int64_t pages) {
  if (pages <= kBootPage) return std::nullopt;
  std::array<std::uint8_t, kPageSize> page{};
  if (!source.ReadPage(startSector, kBootPage, page)) return std::nullopt;
  // A boot page of this file: type 13, its own page id.
  if (page[page_header::kType] != 13 ||
      static_cast<std::int32_t>(Load32(page, page_header::kPageNumber)) != kBootPage)
    return std::nullopt;
  Lsn bound = PageLsn(page);
  if (bound == 0) return std::nullopt;
  if (source.ReadPage(startSector, 0, page)) bound = std::max(bound, PageLsn(page));
  return bound;
}

Copies VersionGuard::FindCopies(const FragmentTable& table, FragmentSource& source,
                                std::uint64_t headerSector) {
  Copies copies;
  std::array<std::uint8_t, kPageSize> page{};
  if (!source.ReadPage(headerSector, 0, page)) return copies;
  RestoreTornBits(page);
  std::int32_t size = 0;
  if (GetFileSizeFromHeader(page, size) != 0) return copies;
  bool sameAge = false, older = false;
  const Lsn ours = PageLsn(page);
  const std::uint16_t fileId = Load16(page, page_header::kFileId);
  for (std::size_t i = 0; i < table.Count(); ++i) {
    const FragmentRow& row = table.Row(i);
    if (row.StartPage != 0 || row.StartSector == headerSector || row.Pages() <= 0) continue;
    if (!source.ReadPage(row.StartSector, 0, page)) continue;
    RestoreTornBits(page);
    std::int32_t theirs = 0;
    if (page[page_header::kType] != kPageTypeFileHeader ||
        Load16(page, page_header::kFileId) != fileId || GetFileSizeFromHeader(page, theirs) != 0 ||
        theirs != size)
      continue;
    const Lsn theirLsn = PageLsn(page);
    if (theirLsn > ours) older = true;
    if (theirLsn == ours) sameAge = true;
    if (const std::optional<Lsn> bound = BoundFromHeader(source, row.StartSector, row.Pages()))
      copies.bounds.push_back(*bound);
  }
  copies.age = older ? CopyAge::kOlder : sameAge ? CopyAge::kUnknown : CopyAge::kNewest;
  return copies;
}

CopyEvidence VersionGuard::Judge(std::int32_t row, const MatchCounters& counters) {
  Judged j{CopyEvidence::kNone, counters.NewestPage, counters.NewestLsn};
  if (!copyBounds_.empty() && counters.NewestLsn != 0) {
    const bool fitsOurs = !bound_ || !BeyondBound(counters.NewestLsn, *bound_);
    const bool fitsOther = std::any_of(copyBounds_.begin(), copyBounds_.end(),
                                       [&](Lsn b) { return !BeyondBound(counters.NewestLsn, b); });
    if (fitsOurs && !fitsOther) j.evidence = CopyEvidence::kOwn;
    if (!fitsOurs && fitsOther) j.evidence = CopyEvidence::kOther;
  }
  judged_[row] = j;
  return j.evidence;
}

CopyEvidence VersionGuard::EvidenceOf(const FragmentTable& table, std::int32_t position) const {
  const auto it = judged_.find(table.FragmentIndex()[static_cast<std::size_t>(position)].Row);
  return it == judged_.end() ? CopyEvidence::kNone : it->second.evidence;
}

std::vector<std::int32_t> VersionGuard::Prefer(const FragmentTable& table,
                                               const std::vector<std::int32_t>& group,
                                               Reporter& reporter) {
  const auto has = [&](CopyEvidence e) {
    return std::any_of(group.begin(), group.end(),
                       [&](std::int32_t g) { return EvidenceOf(table, g) == e; });
  };
  std::vector<std::int32_t> kept;
  if (has(CopyEvidence::kOwn)) {
    for (const std::int32_t g : group)
      if (EvidenceOf(table, g) == CopyEvidence::kOwn) kept.push_back(g);
  } else {
    for (const std::int32_t g : group)
      if (EvidenceOf(table, g) != CopyEvidence::kOther) kept.push_back(g);
  }
  if (kept.empty()) return group;
  for (const std::int32_t g : group) {
    if (EvidenceOf(table, g) != CopyEvidence::kOther) continue;
    const std::int32_t row = table.FragmentIndex()[static_cast<std::size_t>(g)].Row;
    if (!reported_.insert(row).second) continue;
    const Judged& j = judged_[row];
    reporter.Log("跳过碎片号" + std::to_string(row) + "(another version of the file: page " +
                 std::to_string(j.page) + " has LSN " + LogPositionText(j.lsn) +
                 ", beyond the boot page's " + LogPositionText(bound_.value_or(0)) +
                 ", as another copy's pages are)");
  }
  return kept;
}

void VersionGuard::Taken(const FragmentTable& table, std::int32_t position, Reporter& reporter) {
  if (EvidenceOf(table, position) != CopyEvidence::kOther) return;
  const auto& entry = table.FragmentIndex()[static_cast<std::size_t>(position)];
  for (std::int64_t p = entry.StartPage; p < entry.EndPage; ++p) uncertain_.insert(p);
  const Judged& j = judged_[entry.Row];
  reporter.Log("版本不确定:碎片号" + std::to_string(entry.Row) + "(page " + std::to_string(j.page) +
               " has LSN " + LogPositionText(j.lsn) +
               ", as another copy's pages are, and no other fragment holds pages " +
               std::to_string(entry.StartPage) + "-" + std::to_string(entry.EndPage - 1) +
               ": taken, its pages version uncertain)");
}

std::vector<std::int64_t> VersionGuard::UncertainPages() const {
  return {uncertain_.begin(), uncertain_.end()};
}

std::vector<Lsn> VersionGuard::Lsns(const FragmentTable& table, std::int32_t position) {
  const auto& entry = table.FragmentIndex()[static_cast<std::size_t>(position)];
  const FragmentRow& row = table.Row(static_cast<std::size_t>(entry.Row));
  const FragmentGeometry geometry = GeometryOf(row);
  std::vector<Lsn> lsns(static_cast<std::size_t>(std::max<std::int64_t>(geometry.pages, 0)), 0);
  FragmentPages pages(source_, geometry, buffer_);
  for (std::int64_t k = 0; k < geometry.pages; ++k) {
    const std::uint8_t* page = pages.Page(k);
    if (page == nullptr) break;
    lsns[static_cast<std::size_t>(k)] = PageLsn(PageView(page, kPageSize));
  }
  return lsns;
}

std::vector<std::int32_t> VersionGuard::Newest(const FragmentTable& table,
                                               const std::vector<std::int32_t>& group) {
  outdated_.clear();
  if (ageUnknown_) return group;
  const auto& index = table.FragmentIndex();
  // Every member is read once; a gap at the end of a large file can hold thousands.
  std::vector<std::vector<Lsn>> lsns;
  lsns.reserve(group.size());
  for (const std::int32_t g : group) lsns.push_back(Lsns(table, g));
  std::vector<std::int32_t> kept;
  for (std::size_t i = 0; i < group.size(); ++i) {
    const std::int32_t a = group[i];
    const std::vector<Lsn>& la = lsns[i];
    const std::int64_t startA = index[static_cast<std::size_t>(a)].StartPage;
    const std::int64_t endA = startA + static_cast<std::int64_t>(la.size());
    bool isOutdated = false;
    for (std::size_t j = 0; j < group.size(); ++j) {
      const std::int32_t b = group[j];
      if (b == a) continue;
      const std::vector<Lsn>& lb = lsns[j];
      const std::int64_t startB = index[static_cast<std::size_t>(b)].StartPage;
      // Pages both hold: where they differ, who is newer.
      const std::int64_t first = std::max(startA, startB);
      const std::int64_t end = std::min(endA, startB + static_cast<std::int64_t>(lb.size()));
      std::int64_t olderAt = -1;
      bool newerSomewhere = false;
      for (std::int64_t p = first; p < end; ++p) {
        const Lsn x = la[static_cast<std::size_t>(p - startA)];
        const Lsn y = lb[static_cast<std::size_t>(p - startB)];
        if (x == 0 || y == 0 || x == y) continue;
        if (bound_ && (BeyondBound(x, *bound_) || BeyondBound(y, *bound_))) continue;
        // Set aside: the member holding the copy of the other side of the analysed file.
        const bool setAside = preferOlder_ ? x > y : x < y;
        if (setAside && olderAt < 0) olderAt = p;
        if (!setAside) newerSomewhere = true;
      }
      if (olderAt >= 0 && !newerSomewhere) {
        outdated_.push_back({a, b, olderAt, la[static_cast<std::size_t>(olderAt - startA)],
                             lb[static_cast<std::size_t>(olderAt - startB)]});
        isOutdated = true;
        break;
      }
    }
    if (!isOutdated) kept.push_back(a);
  }
  return kept.empty() ? group : kept;
}

void VersionGuard::ReportChoice(const FragmentTable& table, std::int32_t chosen, std::int32_t plain,
                                Reporter& reporter) {
  if (chosen == plain) return;
  const auto& index = table.FragmentIndex();
  const std::int32_t rowChosen = index[static_cast<std::size_t>(chosen)].Row;
  const std::int32_t rowPlain = index[static_cast<std::size_t>(plain)].Row;
  for (const Outdated& o : outdated_) {
    if (o.position != plain) continue;
    reporter.Log("版本选择:碎片号" + std::to_string(rowChosen) + "(another version: row " +
                 std::to_string(rowPlain) + " holds " + (preferOlder_ ? "a newer" : "an older") +
                 " copy of page " + std::to_string(o.page) + ", LSN " +
                 LogPositionText(o.asideLsn) + " against " + LogPositionText(o.keptLsn) +
                 (preferOlder_ ? "; a newer copy of this file has its header elsewhere" : "") +
                 ")");
    return;
  }
  reporter.Log("版本选择:碎片号" + std::to_string(rowChosen) + "(another version: row " +
               std::to_string(rowPlain) + " set aside as " +
               (preferOlder_ ? "a newer" : "an older") + " copy)");
}

}  // namespace ravelin
