// Where everything lies in a synthetic primary data file: the fixed allocation pages, the
// mixed extents that hold every object's first pages and IAM pages, and the uniform extents
// each object owns, for one update generation.
//
// The layout is built once from the seed and kept as O(objects) state (objects, their extent
// runs, the slots of the mixed area); every question about page n is answered on demand by
// arithmetic and a binary search, so a file of millions of pages is never materialised.
//
// Fixed places, as SQL Server puts them:
//   page 0 file header, 1 PFS, 2 GAM, 3 SGAM, 6 DCM, 7 BCM, 9 boot page, 32 sysfiles row;
//   a PFS page at every multiple of 8088 (each covers the 8088 pages from itself on);
//   GAM, SGAM, DCM and BCM again at 511232 k + 2, 3, 6, 7 (one GAM interval = 63904 extents);
//   the other pages of such an extent stay unused, like pages 4 and 5.
// Pages 4 and 5 are never used. Objects grow as SQL Server grows them: the first 8 pages of an
// object are single pages in mixed extents, the rest uniform extents; an object has one IAM
// page per GAM interval in which it owns extents, chained in interval order.
#pragma once

#include <cstdint>
#include <vector>

#include "gen/random.h"

namespace ravelin::gen {

inline constexpr std::int64_t kPfsInterval = 8088;
inline constexpr std::int64_t kGamIntervalPages = 511232;
inline constexpr std::int64_t kGamIntervalExtents = kGamIntervalPages / 8;  // 63904
inline constexpr std::int64_t kMinPageCount = 40;  // the smallest file that holds page 32
// Below the first page where a PFS page and a GAM page would coincide (511232 x 1011).
inline constexpr std::int64_t kMaxPageCount = 500'000'000;
inline constexpr int kMaxGenerations = 32;
inline constexpr int kNever = 1 << 30;  // removedAt of a run that is never freed

enum class UnitKind : std::uint8_t {
  kHeap,          // type 1 pages, no page links
  kClustered,     // type 1 leaf pages linked in key order, type 2 pages above them
  kNonclustered,  // type 2 pages at every level, each level linked
  kText,          // type 3 (text mix) pages, no links
};

// One allocation unit: the pages of one index of one object, listed by one IAM chain.
// Several units may share an object id (a table, its nonclustered indexes, its text).
struct Unit {
  std::int32_t objId = 0;
  std::uint16_t indexId = 0;
  UnitKind kind = UnitKind::kHeap;
  bool unprotectedIam = false;  // like sysfiles' IAM page in real files
  std::int64_t basePages = 0;   // pages at generation 0
  int tailFree = 0;             // free pages at the end of its last extent (0..7)
  int fanout = 400;             // index rows per upper-level page

  std::vector<std::int64_t> singles;  // mixed-extent pages, rank order (at most 8)
  std::int64_t iamPage = 0;           // the IAM page of GAM interval 0

  struct Run {
    std::int64_t firstExtent;
    std::int64_t extents;
    int addedAt;    // generation that allocated it (0 = base file)
    int removedAt;  // generation that freed it, kNever if never
  };
  std::vector<Run> runs;  // every run it ever owns, in rank order

  // Upper index levels, fixed for all generations: levelPages[0] is level 1, back() the root.
  std::vector<std::int64_t> levelPages;
  std::int64_t upperPages = 0;  // sum of levelPages
};

// What a page is. Free kinds say what the bytes at that place hold.
enum class Role : std::uint8_t {
  kFileHeader,
  kPfs,
  kGam,
  kSgam,
  kDcm,
  kBcm,
  kBoot,
  kUnitPage,      // an allocated page of a unit (unit, rank)
  kIam,           // the IAM page of (unit, interval)
  kFreeMixed,     // unused slot of a mixed extent (stale or zero)
  kFreeSystem,    // unused page of an allocation-page extent (zero)
  kFreeOwned,     // past the last used page of a unit's last extent (stale, same unit)
  kFreeReleased,  // in a run a later generation freed (stale, same unit)
  kFreeGap,       // extent never allocated in this generation (stale or zero)
};

struct PageRole {
  Role role = Role::kFreeGap;
  int unit = -1;
  std::int64_t rank = 0;  // kUnitPage/kFreeOwned: rank in the unit; kFreeReleased: page index
  int interval = 0;       // kIam: GAM interval
  int generation = 0;     // kUnitPage: generation of its run; kFreeReleased: when freed
  bool mixed = false;     // kUnitPage: a single page in a mixed extent
};

struct LayoutParams {
  std::int64_t pageCount = 2000;
  std::uint64_t seed = 1;
  int generation = 0;
  int tables = 0;           // user tables; 0 picks a count from the file size
  double fillRatio = 0.75;  // share of the file the objects use at generation 0
};

class AllocationLayout {
 public:
  explicit AllocationLayout(const LayoutParams& params);

  std::int64_t PageCount() const { return pageCount_; }
  int Generation() const { return generation_; }
  std::uint64_t Seed() const { return seed_; }
  const std::vector<Unit>& Units() const { return units_; }
  // Pages [8, MixedEnd()) form the mixed area of GAM interval 0.
  std::int64_t MixedEnd() const { return mixedEnd_; }
  // The last generation <= Generation() that changed any allocation (0 if none).
  int LastAllocationChange() const { return lastAllocChange_; }

  PageRole Classify(std::int64_t n) const;

  // Pages a unit has at this generation, and the page holding a rank (-1 if none).
  std::int64_t UnitPageCount(int unit) const { return active_[unit].pages; }
  std::int64_t PageOfRank(int unit, std::int64_t rank) const;
  // The leaf in key order at chain position `pos`, as a rank (-1 outside the chain).
  std::int64_t LeafRankAt(int unit, std::int64_t pos) const;
  std::int64_t LeafPosition(int unit, std::int64_t rank) const;  // inverse of LeafRankAt
  std::int64_t LeafCount(int unit) const;

  // IAM chain of a unit at this generation: one page per interval it ever owned extents in.
  std::vector<int> IamIntervals(int unit) const;
  std::int64_t IamPage(int unit, int interval) const;
  // Extents of `interval` that the unit's IAM page lists, as sorted [first, first+count).
  void OwnedExtents(int unit, int interval,
                    std::vector<std::pair<std::int64_t, std::int64_t>>& out) const;
  // Latest generation that changed the extents of (unit, interval).
  int IamGeneration(int unit, int interval) const;

  // Allocation facts used by PFS, GAM and SGAM pages.
  bool ExtentAllocated(std::int64_t extent) const;
  bool ExtentMixedWithFreePage(std::int64_t extent) const;

  static bool IsPfsPage(std::int64_t n) { return n == 1 || (n > 0 && n % kPfsInterval == 0); }
  // 0..3 for GAM, SGAM, DCM, BCM (pages 2, 3, 6, 7 of each GAM interval), else -1.
  static int GamFamilyIndex(std::int64_t n);

 private:
  struct ActiveRun {
    std::int64_t firstExtent;
    std::int64_t extents;
    std::int64_t rankStart;
    int unit;
    int generation;
  };
  struct FreedRun {
    std::int64_t firstExtent;
    std::int64_t extents;
    int unit;
    int generation;
  };
  struct ActiveUnit {
    std::vector<ActiveRun> runs;  // rank order
    std::int64_t pages = 0;       // used pages (excludes the free tail)
  };
  // Mixed-area slot: what page 8 + i holds.
  struct Slot {
    Role role = Role::kFreeMixed;
    int unit = -1;
    std::int64_t rank = 0;
  };

  void BuildUnits(Random& rng);
  bool TryPlace(double budget, Random& rng);
  void PlaceBase(Random& rng);
  void SimulateGenerations();
  void ActivateGeneration();

  bool IsReservedExtent(std::int64_t extent) const;
  std::int64_t NextReservedExtent(std::int64_t extent) const;  // first reserved >= extent
  std::int64_t ZonePage(int interval, int slot) const;
  int ZoneSlotOf(std::int64_t n, int interval) const;  // -1 if n holds no zone slot
  std::int64_t ZoneExtents() const { return zoneExtents_; }

  std::int64_t pageCount_;
  std::int64_t extentCount_;  // whole extents in the file
  std::uint64_t seed_;
  int generation_;
  int tables_;
  double fillRatio_;
  std::int64_t mixedEnd_ = 40;
  std::int64_t zoneExtents_ = 0;  // mixed extents after each later GAM extent, for IAM pages
  std::int64_t usedEnd_ = 0;      // first extent never used by the base file
  int lastAllocChange_ = 0;

  std::vector<Unit> units_;
  std::vector<int> zoneSlot_;  // per unit: its IAM slot in later intervals' zones, or -1
  std::vector<Slot> slots_;    // mixed area, index = page - 8
  std::vector<std::pair<std::int64_t, std::int64_t>> pool_;  // free extent ranges for growth
  std::vector<FreedRun> freedAll_;

  std::vector<int> bigUnits_;  // units that own uniform extents, in zone-slot order
  std::vector<ActiveUnit> active_;
  std::vector<std::vector<int>> iamIntervals_;  // per unit, sorted
  std::vector<ActiveRun> runIndex_;             // active runs sorted by extent
  std::vector<FreedRun> freedIndex_;            // freed at or before this generation, sorted
};

// Deterministic hash of a few values (one splitmix64 step over their mix).
std::uint64_t Hash(std::uint64_t a, std::uint64_t b, std::uint64_t c = 0, std::uint64_t d = 0);

}  // namespace ravelin::gen
