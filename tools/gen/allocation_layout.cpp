#include "gen/allocation_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ravelin::gen {

std::uint64_t Hash(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  Random r(a * 0x9E3779B97F4A7C15ull ^ b * 0xC2B2AE3D27D4EB4Full ^ c * 0x165667B19E3779F9ull ^
           d * 0x27D4EB2F165667C5ull);
  return r.Next();
}

namespace {

constexpr std::int64_t kPfsExtentStride = kPfsInterval / 8;  // 1011
// Growth bound of one unit over all generations, so that its upper index levels can be fixed
// once: at most 4 extents per generation.
constexpr std::int64_t kGrowthBoundPages = std::int64_t{kMaxGenerations} * 4 * 8;

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// Real system-table object ids of a fresh database, used for the small system units.
constexpr std::int32_t kSystemObjIds[] = {4, 5, 7, 13, 27, 34, 41};

struct TablePlan {
  std::vector<int> units;  // indexes into units_
  std::vector<double> shares;
};

}  // namespace

int AllocationLayout::GamFamilyIndex(std::int64_t n) {
  switch (n % kGamIntervalPages) {
    case 2:
      return 0;
    case 3:
      return 1;
    case 6:
      return 2;
    case 7:
      return 3;
    default:
      return -1;
  }
}

AllocationLayout::AllocationLayout(const LayoutParams& params)
    : pageCount_(std::clamp(params.pageCount, kMinPageCount, kMaxPageCount)),
      extentCount_(pageCount_ / 8),
      seed_(params.seed),
      generation_(std::clamp(params.generation, 0, kMaxGenerations)),
      tables_(params.tables),
      fillRatio_(std::clamp(params.fillRatio, 0.0, 1.0)) {
  if (tables_ <= 0) {
    tables_ = 1 + static_cast<int>(std::log2(static_cast<double>(pageCount_) / 40.0));
  }
  tables_ = std::min(tables_, 256);
  Random rng(Hash(seed_, 0x4C41594F5554ull));
  BuildUnits(rng);
  SimulateGenerations();
  ActivateGeneration();
}

// 1. Declare the units: two fixed system units (the one on page 8, sysfiles on page 32), a
//    few more small system units, then the user tables with their indexes and text.
// 2. Size them from the fill ratio; shrink the sizes (and at last drop tables) until the
//    mixed area and the uniform extents fit into the file.
void AllocationLayout::BuildUnits(Random& rng) {
  Unit sysalloc;
  sysalloc.objId = 10;
  sysalloc.indexId = 256;
  sysalloc.kind = UnitKind::kClustered;
  sysalloc.basePages = 1;
  units_.push_back(sysalloc);
  Unit sysfiles;
  sysfiles.objId = 8;
  sysfiles.indexId = 0;
  sysfiles.kind = UnitKind::kHeap;
  sysfiles.basePages = 1;
  sysfiles.unprotectedIam = true;
  units_.push_back(sysfiles);
  const int extraSystem =
      static_cast<int>(std::min<std::int64_t>(std::size(kSystemObjIds), 1 + pageCount_ / 200));
  for (int i = 0; i < extraSystem; ++i) {
    Unit u;
    u.objId = kSystemObjIds[i];
    u.indexId = static_cast<std::uint16_t>(rng.Chance(0.5) ? 256 : 1);
    u.kind = rng.Chance(0.5) ? UnitKind::kClustered : UnitKind::kHeap;
    u.basePages = rng.Between(1, 3);
    units_.push_back(u);
  }
  const std::size_t systemUnits = units_.size();

  std::vector<TablePlan> tables;
  std::vector<std::int32_t> usedIds;
  for (int t = 0; t < tables_; ++t) {
    std::int32_t objId;
    do {
      objId = static_cast<std::int32_t>(rng.Between(100'000, 2'147'000'000));
    } while (std::find(usedIds.begin(), usedIds.end(), objId) != usedIds.end());
    usedIds.push_back(objId);
    TablePlan plan;
    const double weight = static_cast<double>(rng.Between(1, 10));
    Unit data;
    data.objId = objId;
    data.kind = rng.Chance(0.3) ? UnitKind::kHeap : UnitKind::kClustered;
    data.indexId = data.kind == UnitKind::kHeap ? 0 : 1;
    plan.units.push_back(static_cast<int>(units_.size()));
    plan.shares.push_back(weight);
    units_.push_back(data);
    const int indexes = static_cast<int>(rng.Below(3));
    for (int i = 0; i < indexes; ++i) {
      Unit index;
      index.objId = objId;
      index.kind = UnitKind::kNonclustered;
      index.indexId = static_cast<std::uint16_t>(2 + i);
      plan.units.push_back(static_cast<int>(units_.size()));
      plan.shares.push_back(weight * 0.2);
      units_.push_back(index);
    }
    if (rng.Chance(0.2)) {
      Unit text;
      text.objId = objId;
      text.kind = UnitKind::kText;
      text.indexId = 255;
      plan.units.push_back(static_cast<int>(units_.size()));
      plan.shares.push_back(weight * 0.3);
      units_.push_back(text);
    }
    tables.push_back(std::move(plan));
  }
  for (Unit& u : units_) u.fanout = static_cast<int>(rng.Between(150, 450));

  double budget = fillRatio_ * static_cast<double>(pageCount_) - 16.0;
  for (int attempt = 0;; ++attempt) {
    double total = 0;
    for (const TablePlan& t : tables)
      total += std::accumulate(t.shares.begin(), t.shares.end(), 0.0);
    for (const TablePlan& t : tables) {
      for (std::size_t i = 0; i < t.units.size(); ++i) {
        const double share = total > 0 ? budget * t.shares[i] / total : 0;
        units_[t.units[i]].basePages = std::max<std::int64_t>(1, static_cast<std::int64_t>(share));
      }
    }
    Random placeRng(Hash(seed_, 0x504C414345ull, static_cast<std::uint64_t>(attempt)));
    if (TryPlace(budget, placeRng)) return;
    if (budget >= 1.0) {
      budget *= 0.8;
    } else if (!tables.empty()) {
      units_.resize(units_.size() - tables.back().units.size());
      tables.pop_back();
    } else {
      // Only system units left; they always fit a 40-page file. Drop the optional ones.
      units_.resize(std::max<std::size_t>(2, std::min(units_.size(), systemUnits) - 1));
    }
  }
}

bool AllocationLayout::TryPlace(double /*budget*/, Random& rng) {
  // Mixed area: each unit's interval-0 IAM page and its first (at most 8) pages.
  std::vector<Slot> items;
  bigUnits_.clear();
  std::int64_t uniformExtents = 0;
  for (int u = 0; u < static_cast<int>(units_.size()); ++u) {
    Unit& unit = units_[u];
    unit.singles.clear();
    unit.runs.clear();
    unit.tailFree = 0;
    items.push_back({Role::kIam, u, 0});
    const std::int64_t singles = std::min<std::int64_t>(8, unit.basePages);
    for (std::int64_t r = 0; r < singles; ++r) {
      if ((u == 0 || u == 1) && r == 0) continue;  // fixed on pages 8 and 32
      items.push_back({Role::kUnitPage, u, r});
    }
    if (unit.basePages > 8) {
      const std::int64_t extents = CeilDiv(unit.basePages - 8, 8);
      unit.tailFree = static_cast<int>(extents * 8 - (unit.basePages - 8));
      uniformExtents += extents;
      bigUnits_.push_back(u);
    }
  }
  const std::int64_t freeSlots =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(items.size()) / 8);
  mixedEnd_ = std::max<std::int64_t>(
      40, 8 * CeilDiv(8 + 3 + static_cast<std::int64_t>(items.size()) + freeSlots, 8));
  if (mixedEnd_ > 8 * extentCount_ || mixedEnd_ > kPfsInterval) return false;
  zoneExtents_ =
      bigUnits_.empty() ? 0 : CeilDiv(static_cast<std::int64_t>(bigUnits_.size()) + 1, 8);

  std::int64_t available = 0;
  for (std::int64_t x = mixedEnd_ / 8; x < extentCount_;) {
    const std::int64_t r = std::min(NextReservedExtent(x), extentCount_);
    available += r - x;
    x = r + 1;
  }
  if (uniformExtents > available) return false;

  // Arrange the mixed area: fixed pages first, the rest shuffled with free slots between.
  slots_.assign(static_cast<std::size_t>(mixedEnd_ - 8), Slot{});
  slots_[0] = {Role::kUnitPage, 0, 0};
  slots_[1] = {Role::kBoot, -1, 0};
  slots_[32 - 8] = {Role::kUnitPage, 1, 0};
  while (items.size() < slots_.size() - 3) items.push_back(Slot{});
  for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[rng.Below(i)]);
  std::size_t next = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (i == 0 || i == 1 || i == 32 - 8) continue;
    slots_[i] = items[next++];
  }
  units_[0].singles = {8};
  units_[1].singles = {32};
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& s = slots_[i];
    const std::int64_t page = 8 + static_cast<std::int64_t>(i);
    if (s.role == Role::kIam) units_[s.unit].iamPage = page;
  }
  // Singles in rank order: rank r lives in the slot that names it.
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& s = slots_[i];
    if (s.role != Role::kUnitPage || (i == 0 || i == 32 - 8)) continue;
    std::vector<std::int64_t>& singles = units_[s.unit].singles;
    if (singles.size() <= static_cast<std::size_t>(s.rank)) singles.resize(s.rank + 1, -1);
    singles[s.rank] = 8 + static_cast<std::int64_t>(i);
  }

  zoneSlot_.assign(units_.size(), -1);
  for (std::size_t i = 0; i < bigUnits_.size(); ++i) zoneSlot_[bigUnits_[i]] = static_cast<int>(i);

  // Upper index levels, fixed over all generations (see kGrowthBoundPages).
  for (Unit& unit : units_) {
    unit.levelPages.clear();
    unit.upperPages = 0;
    if (unit.kind != UnitKind::kClustered && unit.kind != UnitKind::kNonclustered) continue;
    if (unit.basePages < 2) continue;
    auto levelsFor = [&unit](std::int64_t leaves) {
      unit.levelPages.clear();
      unit.upperPages = 0;
      std::int64_t count = leaves;
      do {
        count = CeilDiv(count, unit.fanout);
        unit.levelPages.push_back(count);
        unit.upperPages += count;
      } while (count > 1);
    };
    // Room for the most a unit can grow; a small index that would then be mostly upper
    // levels keeps the levels of its base size (its last level-1 page fills up instead).
    levelsFor(unit.basePages + (unit.basePages > 8 ? kGrowthBoundPages : 0));
    if (unit.upperPages * 4 > unit.basePages) levelsFor(unit.basePages);
  }
  PlaceBase(rng);
  return true;
}

// Uniform extents: objects grow in turns, so each unit owns a few runs interleaved with the
// others' and with free gaps (extents that held data of dropped objects, or never used).
void AllocationLayout::PlaceBase(Random& rng) {
  std::int64_t cursor = mixedEnd_ / 8;
  pool_.clear();
  auto take = [&](std::int64_t count, auto&& sink) {
    while (count > 0 && cursor < extentCount_) {
      while (cursor < extentCount_ && IsReservedExtent(cursor)) ++cursor;
      const std::int64_t stop = std::min(NextReservedExtent(cursor), extentCount_);
      const std::int64_t len = std::min(count, stop - cursor);
      if (len <= 0) break;
      sink(cursor, len);
      cursor += len;
      count -= len;
    }
  };
  std::vector<std::vector<std::int64_t>> pieces(units_.size());
  std::int64_t needed = 0;
  for (int u : bigUnits_) {
    std::int64_t extents = CeilDiv(units_[u].basePages - 8, 8);
    needed += extents;
    const std::int64_t count = std::min<std::int64_t>(extents, 1 + rng.Below(6));
    for (std::int64_t i = count; i > 0; --i) {
      const std::int64_t piece = i == 1 ? extents : rng.Between(1, extents - (i - 1));
      pieces[u].push_back(piece);
      extents -= piece;
    }
  }
  std::int64_t available = 0;
  for (std::int64_t x = cursor; x < extentCount_;) {
    const std::int64_t r = std::min(NextReservedExtent(x), extentCount_);
    available += r - x;
    x = r + 1;
  }
  std::int64_t gapBudget = (available - needed) / 2;
  std::vector<int> order = bigUnits_;
  for (std::size_t round = 0; round < 6; ++round) {
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng.Below(i)]);
    for (int u : order) {
      if (pieces[u].size() <= round) continue;
      take(pieces[u][round], [&](std::int64_t first, std::int64_t len) {
        units_[u].runs.push_back({first, len, 0, kNever});
      });
      if (gapBudget > 0 && rng.Chance(0.25)) {
        const std::int64_t gap = rng.Between(
            1, std::max<std::int64_t>(1, std::min<std::int64_t>(gapBudget, needed / 16 + 1)));
        gapBudget -= gap;
        take(gap, [&](std::int64_t first, std::int64_t len) { pool_.push_back({first, len}); });
      }
    }
  }
  usedEnd_ = cursor;
  take(extentCount_, [&](std::int64_t first, std::int64_t len) { pool_.push_back({first, len}); });
}

// Generation s (1..kMaxGenerations) grows one unit by 1-4 extents from the lowest free ones,
// or frees the last run of one unit. Every generation is simulated whatever the requested one,
// so generation g of a seed is always a prefix of generation g+1.
void AllocationLayout::SimulateGenerations() {
  if (bigUnits_.empty()) return;
  std::vector<std::int64_t> pages(units_.size());
  for (int u : bigUnits_) pages[u] = units_[u].basePages;
  for (int s = 1; s <= kMaxGenerations; ++s) {
    Random rng(Hash(seed_, 0x47454E, static_cast<std::uint64_t>(s)));
    const int u = bigUnits_[rng.Below(bigUnits_.size())];
    Unit& unit = units_[u];
    if (rng.Below(4) < 3) {
      std::int64_t want = rng.Between(1, 4);
      while (want > 0 && !pool_.empty()) {
        auto& range = pool_.front();
        const std::int64_t len = std::min(want, range.second);
        unit.runs.push_back({range.first, len, s, kNever});
        pages[u] += 8 * len;
        range.first += len;
        range.second -= len;
        want -= len;
        if (range.second == 0) pool_.erase(pool_.begin());
      }
    } else {
      int last = -1;
      int alive = 0;
      for (int i = 0; i < static_cast<int>(unit.runs.size()); ++i) {
        if (unit.runs[i].removedAt == kNever) {
          last = i;
          ++alive;
        }
      }
      if (alive < 2) continue;
      Unit::Run& run = unit.runs[last];
      if (pages[u] - 8 * run.extents < 4 * unit.upperPages + 8) continue;
      run.removedAt = s;
      pages[u] -= 8 * run.extents;
      freedAll_.push_back({run.firstExtent, run.extents, u, s});
      const auto at = std::lower_bound(pool_.begin(), pool_.end(),
                                       std::make_pair(run.firstExtent, std::int64_t{0}));
      pool_.insert(at, {run.firstExtent, run.extents});
    }
  }
}

void AllocationLayout::ActivateGeneration() {
  const int g = generation_;
  active_.assign(units_.size(), ActiveUnit{});
  iamIntervals_.assign(units_.size(), {0});
  runIndex_.clear();
  freedIndex_.clear();
  lastAllocChange_ = 0;
  for (int u = 0; u < static_cast<int>(units_.size()); ++u) {
    const Unit& unit = units_[u];
    ActiveUnit& a = active_[u];
    std::int64_t rank = static_cast<std::int64_t>(unit.singles.size());
    for (const Unit::Run& run : unit.runs) {
      if (run.addedAt > g) continue;
      const int interval = static_cast<int>(run.firstExtent / kGamIntervalExtents);
      std::vector<int>& iv = iamIntervals_[u];
      if (std::find(iv.begin(), iv.end(), interval) == iv.end()) iv.push_back(interval);
      lastAllocChange_ = std::max(lastAllocChange_, run.addedAt);
      if (run.removedAt <= g) {
        lastAllocChange_ = std::max(lastAllocChange_, run.removedAt);
        continue;
      }
      a.runs.push_back({run.firstExtent, run.extents, rank, u, run.addedAt});
      runIndex_.push_back(a.runs.back());
      rank += 8 * run.extents;
    }
    std::sort(iamIntervals_[u].begin(), iamIntervals_[u].end());
    a.pages = rank - (a.runs.empty() ? 0 : unit.tailFree);
  }
  for (const FreedRun& f : freedAll_) {
    if (f.generation <= g) freedIndex_.push_back(f);
  }
  auto byExtent = [](const auto& a, const auto& b) { return a.firstExtent < b.firstExtent; };
  std::sort(runIndex_.begin(), runIndex_.end(), byExtent);
  std::sort(freedIndex_.begin(), freedIndex_.end(), byExtent);
}

std::int64_t AllocationLayout::NextReservedExtent(std::int64_t extent) const {
  if (extent < mixedEnd_ / 8) return extent;
  std::int64_t best = CeilDiv(extent, kPfsExtentStride) * kPfsExtentStride;
  const std::int64_t k = extent / kGamIntervalExtents;
  if (k >= 1 && extent <= k * kGamIntervalExtents + zoneExtents_) return extent;
  best = std::min(best, (k + 1) * kGamIntervalExtents);
  return best;
}

bool AllocationLayout::IsReservedExtent(std::int64_t extent) const {
  return NextReservedExtent(extent) == extent;
}

std::int64_t AllocationLayout::ZonePage(int interval, int slot) const {
  const std::int64_t base = std::int64_t{interval} * kGamIntervalPages + 8;
  std::int64_t page = base + slot;
  const std::int64_t pfs = CeilDiv(base, kPfsInterval) * kPfsInterval;
  if (pfs <= page) ++page;  // the zone steps over a PFS page that falls into it
  return page;
}

int AllocationLayout::ZoneSlotOf(std::int64_t n, int interval) const {
  const std::int64_t base = std::int64_t{interval} * kGamIntervalPages + 8;
  if (n < base || n >= base + 8 * zoneExtents_ || IsPfsPage(n)) return -1;
  const std::int64_t pfs = CeilDiv(base, kPfsInterval) * kPfsInterval;
  const std::int64_t slot = n - base - (pfs < n ? 1 : 0);
  return slot < static_cast<std::int64_t>(bigUnits_.size()) ? static_cast<int>(slot) : -1;
}

PageRole AllocationLayout::Classify(std::int64_t n) const {
  PageRole r;
  if (n < 0 || n >= pageCount_) return r;
  if (n == 0) return {Role::kFileHeader};
  if (IsPfsPage(n)) return {Role::kPfs};
  switch (GamFamilyIndex(n)) {
    case 0:
      return {Role::kGam};
    case 1:
      return {Role::kSgam};
    case 2:
      return {Role::kDcm};
    case 3:
      return {Role::kBcm};
    default:
      break;
  }
  if (n < 8) return {Role::kFreeSystem};
  if (n < mixedEnd_) {
    const Slot& s = slots_[static_cast<std::size_t>(n - 8)];
    r.role = s.role;
    r.unit = s.unit;
    r.rank = s.rank;
    r.mixed = true;
    return r;
  }
  const std::int64_t x = n / 8;
  if (x >= extentCount_) return r;  // the partial extent at the end of the file
  const std::int64_t k = n / kGamIntervalPages;
  if (k >= 1 && x <= k * kGamIntervalExtents + zoneExtents_) {
    if (x == k * kGamIntervalExtents) return {Role::kFreeSystem};
    const int slot = ZoneSlotOf(n, static_cast<int>(k));
    if (slot >= 0) {
      const int u = bigUnits_[slot];
      const std::vector<int>& iv = iamIntervals_[u];
      if (std::binary_search(iv.begin(), iv.end(), static_cast<int>(k))) {
        r.role = Role::kIam;
        r.unit = u;
        r.interval = static_cast<int>(k);
        return r;
      }
    }
    r.role = Role::kFreeMixed;
    return r;
  }
  if (x % kPfsExtentStride == 0) return {Role::kFreeSystem};
  auto it = std::upper_bound(runIndex_.begin(), runIndex_.end(), x,
                             [](std::int64_t v, const ActiveRun& a) { return v < a.firstExtent; });
  if (it != runIndex_.begin()) {
    const ActiveRun& run = *std::prev(it);
    if (x < run.firstExtent + run.extents) {
      r.unit = run.unit;
      r.rank = run.rankStart + (n - run.firstExtent * 8);
      r.generation = run.generation;
      r.role = r.rank < active_[run.unit].pages ? Role::kUnitPage : Role::kFreeOwned;
      return r;
    }
  }
  auto ft = std::upper_bound(freedIndex_.begin(), freedIndex_.end(), x,
                             [](std::int64_t v, const FreedRun& a) { return v < a.firstExtent; });
  // At most one freed run per generation, so a backward scan is cheap; the latest freeing
  // of an extent freed twice wins.
  const FreedRun* hit = nullptr;
  for (; ft != freedIndex_.begin(); --ft) {
    const FreedRun& f = *std::prev(ft);
    if (x < f.firstExtent + f.extents && (hit == nullptr || f.generation > hit->generation)) {
      hit = &f;
    }
  }
  if (hit != nullptr) {
    r.role = Role::kFreeReleased;
    r.unit = hit->unit;
    r.generation = hit->generation;
    r.rank = n;
    return r;
  }
  r.role = Role::kFreeGap;
  r.rank = x < usedEnd_ ? 1 : 0;  // 1: inside the used part of the file (may hold stale data)
  return r;
}

std::int64_t AllocationLayout::PageOfRank(int unit, std::int64_t rank) const {
  const ActiveUnit& a = active_[unit];
  if (rank < 0 || rank >= a.pages) return -1;
  const std::vector<std::int64_t>& singles = units_[unit].singles;
  if (rank < static_cast<std::int64_t>(singles.size())) return singles[rank];
  auto it = std::upper_bound(a.runs.begin(), a.runs.end(), rank,
                             [](std::int64_t v, const ActiveRun& r) { return v < r.rankStart; });
  const ActiveRun& run = *std::prev(it);
  return run.firstExtent * 8 + (rank - run.rankStart);
}

std::int64_t AllocationLayout::LeafCount(int unit) const {
  return active_[unit].pages - units_[unit].upperPages;
}

namespace {
// Neighbouring leaves swap places in key order now and then, as page splits leave them.
std::int64_t SwapPairs(std::uint64_t seed, int unit, std::int64_t i, std::int64_t count) {
  const std::int64_t partner = i ^ 1;
  if (partner >= count) return i;
  const bool swapped =
      (Hash(seed, 0x53574150, static_cast<std::uint64_t>(unit), static_cast<std::uint64_t>(i / 2)) &
       3) == 0;
  return swapped ? partner : i;
}
}  // namespace

std::int64_t AllocationLayout::LeafRankAt(int unit, std::int64_t pos) const {
  const std::int64_t leaves = LeafCount(unit);
  if (pos < 0 || pos >= leaves) return -1;
  return units_[unit].upperPages + SwapPairs(seed_, unit, pos, leaves);
}

std::int64_t AllocationLayout::LeafPosition(int unit, std::int64_t rank) const {
  return SwapPairs(seed_, unit, rank - units_[unit].upperPages, LeafCount(unit));
}

std::vector<int> AllocationLayout::IamIntervals(int unit) const { return iamIntervals_[unit]; }

std::int64_t AllocationLayout::IamPage(int unit, int interval) const {
  if (interval == 0) return units_[unit].iamPage;
  return zoneSlot_[unit] < 0 ? -1 : ZonePage(interval, zoneSlot_[unit]);
}

void AllocationLayout::OwnedExtents(int unit, int interval,
                                    std::vector<std::pair<std::int64_t, std::int64_t>>& out) const {
  out.clear();
  for (const ActiveRun& run : active_[unit].runs) {
    if (run.firstExtent / kGamIntervalExtents == interval) {
      out.push_back({run.firstExtent, run.extents});
    }
  }
  std::sort(out.begin(), out.end());
}

int AllocationLayout::IamGeneration(int unit, int interval) const {
  int g = 0;
  for (const Unit::Run& run : units_[unit].runs) {
    if (run.firstExtent / kGamIntervalExtents != interval) continue;
    if (run.addedAt <= generation_) g = std::max(g, run.addedAt);
    if (run.removedAt <= generation_) g = std::max(g, run.removedAt);
  }
  return g;
}

bool AllocationLayout::ExtentAllocated(std::int64_t extent) const {
  if (extent < 0 || extent >= extentCount_) return false;
  if (IsReservedExtent(extent)) return true;
  const PageRole r = Classify(extent * 8 + 1);
  return r.role == Role::kUnitPage || r.role == Role::kFreeOwned;
}

bool AllocationLayout::ExtentMixedWithFreePage(std::int64_t extent) const {
  if (extent <= 0 || extent >= extentCount_) return false;
  const std::int64_t k = extent / kGamIntervalExtents;
  const bool mainArea = extent < mixedEnd_ / 8;
  const bool zone = k >= 1 && extent > k * kGamIntervalExtents &&
                    extent <= k * kGamIntervalExtents + zoneExtents_;
  if (!mainArea && !zone) return false;
  for (std::int64_t n = extent * 8; n < extent * 8 + 8; ++n) {
    if (Classify(n).role == Role::kFreeMixed) return true;
  }
  return false;
}

}  // namespace ravelin::gen
