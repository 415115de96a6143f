#include "gen/page_model.h"

#include <algorithm>

namespace ravelin::gen {

namespace {

// Salts that keep the hashes of different decisions independent.
enum Salt : std::uint64_t {
  kSaltRewrite = 0x5257,
  kSaltLsn = 0x4C534E,
  kSaltPlan = 0x504C414E,
  kSaltRowSize = 0x524F5753,
  kSaltStaleGap = 0x53544C47,
  kSaltStaleMixed = 0x53544C4D,
  kSaltStaleOwned = 0x53544C4F,
  kSaltDropped = 0x44524F50,
  kSaltUnprotected = 0x554E50,
  kSaltTorn = 0x544F524E,
};

constexpr std::uint32_t kFirstLogFile = 0x10;  // VLF of generation 0; 3 per generation
constexpr int kRewritePercent = 8;             // pages a generation rewrites

std::uint8_t FullnessCode(std::size_t usedBytes) {
  const std::size_t pct = usedBytes * 100 / (kPageSize - kPageHeaderSize);
  if (usedBytes == 0) return 0;
  if (pct <= 50) return 1;
  if (pct <= 80) return 2;
  if (pct <= 95) return 3;
  return 4;
}

std::uint8_t LeafType(UnitKind kind) {
  switch (kind) {
    case UnitKind::kNonclustered:
      return 2;
    case UnitKind::kText:
      return 3;
    default:
      return 1;
  }
}

}  // namespace

PageModel::PageModel(const ModelParams& params, const AllocationLayout& layout)
    : params_(params), layout_(layout) {}

int PageModel::ModifiedGeneration(std::int64_t n, const PageRole& role) const {
  const int base =
      role.role == Role::kIam ? layout_.IamGeneration(role.unit, role.interval) : role.generation;
  for (int s = layout_.Generation(); s > base; --s) {
    if (Hash(params_.seed, kSaltRewrite, static_cast<std::uint64_t>(n),
             static_cast<std::uint64_t>(s)) %
            100 <
        kRewritePercent) {
      return s;
    }
  }
  return base;
}

Lsn PageModel::PageLsn(std::int64_t n, int generation) const {
  const std::uint64_t h = Hash(params_.seed, kSaltLsn, static_cast<std::uint64_t>(n),
                               static_cast<std::uint64_t>(generation));
  Lsn lsn;
  lsn.file = kFirstLogFile + 3 * static_cast<std::uint32_t>(generation) +
             static_cast<std::uint32_t>(h & 1);
  lsn.offset = 0x10 + static_cast<std::uint32_t>((h >> 8) % 0x1E0);
  lsn.slot = static_cast<std::uint16_t>(1 + (h >> 32) % 0xFF);
  return lsn;
}

Lsn PageModel::OldLsn(std::int64_t n) const {
  const std::uint64_t h = Hash(params_.seed, kSaltLsn, static_cast<std::uint64_t>(n), 0xFFFF);
  return {static_cast<std::uint32_t>(0x08 + h % 8),
          static_cast<std::uint32_t>(0x10 + (h >> 8) % 0x1E0),
          static_cast<std::uint16_t>(1 + (h >> 32) % 0xFF)};
}

Lsn PageModel::CheckpointLsn() const {
  const std::uint32_t g = static_cast<std::uint32_t>(layout_.Generation());
  return {kFirstLogFile + 3 * g + 2, 0x1F8, 1};
}

std::uint8_t PageModel::TornPattern(std::int64_t n, int generation) const {
  // SQL Server flips the pattern on every write of the page.
  return static_cast<std::uint8_t>(1 + (Hash(params_.seed, kSaltTorn, static_cast<std::uint64_t>(n),
                                             static_cast<std::uint64_t>(generation)) &
                                        1));
}

ContentPlan PageModel::Plan(std::int64_t n, UnitKind kind, bool upperLevel, int generation) const {
  ContentPlan plan;
  if (upperLevel) {
    plan.rowSize = 15;  // status, 8-byte key, child page pointer
    return plan;        // rows: one per child, decided by the renderer
  }
  Random r(Hash(params_.seed, kSaltPlan, static_cast<std::uint64_t>(n),
                static_cast<std::uint64_t>(generation)));
  constexpr std::size_t kUsable = kPageSize - kPageHeaderSize;
  std::size_t fillPct = 0;
  switch (kind) {
    case UnitKind::kHeap:
      fillPct = static_cast<std::size_t>(r.Between(5, 100));
      plan.rowSize = static_cast<std::uint16_t>(24 + r.Below(377));
      break;
    case UnitKind::kClustered:
      fillPct = static_cast<std::size_t>(r.Between(55, 100));
      plan.rowSize = static_cast<std::uint16_t>(24 + r.Below(377));
      break;
    case UnitKind::kNonclustered:
      fillPct = static_cast<std::size_t>(r.Between(40, 100));
      plan.rowSize = 17;  // status, 8-byte key, row locator
      break;
    case UnitKind::kText: {
      fillPct = static_cast<std::size_t>(r.Between(10, 100));
      plan.rows = static_cast<std::uint16_t>(1 + r.Below(3));
      const std::size_t bytes = kUsable * fillPct / 100 / plan.rows;
      plan.rowSize = static_cast<std::uint16_t>(std::clamp<std::size_t>(bytes, 16, 8000) - 2);
      break;
    }
  }
  if (kind != UnitKind::kText) {
    plan.rows = static_cast<std::uint16_t>(
        std::max<std::size_t>(1, kUsable * fillPct / 100 / (plan.rowSize + 2u)));
  }
  if (r.Chance(0.04))
    plan.ghosts = static_cast<std::uint16_t>(std::min<int>(plan.rows, 1 + r.Below(3)));
  // SQL Server tracks free space in PFS only for heap and text pages.
  if (kind == UnitKind::kHeap || kind == UnitKind::kText) {
    plan.fullness = FullnessCode(std::size_t{plan.rows} * (plan.rowSize + 2u));
  }
  return plan;
}

std::uint8_t PageModel::UnitPageType(int unit, std::int64_t rank, bool* upper) const {
  const Unit& u = layout_.Units()[unit];
  const bool isUpper =
      (u.kind == UnitKind::kClustered || u.kind == UnitKind::kNonclustered) && rank < u.upperPages;
  if (upper != nullptr) *upper = isUpper;
  return isUpper ? 2 : LeafType(u.kind);
}

StaleInfo PageModel::Stale(std::int64_t n, const PageRole& role) const {
  StaleInfo s;
  const auto& units = layout_.Units();
  const auto un = static_cast<std::uint64_t>(n);
  auto fromUnit = [&](int unit) {
    s.zero = false;
    s.unit = unit;
    s.objId = units[unit].objId;
    s.indexId = units[unit].indexId;
    s.type = LeafType(units[unit].kind);
  };
  switch (role.role) {
    case Role::kFreeGap:
      // Inside the used part of the file: pages of objects dropped before generation 0.
      if (role.rank == 1 && Hash(params_.seed, kSaltStaleGap, un / 8) % 10 < 6) {
        const std::uint64_t h = Hash(params_.seed, kSaltDropped, un / 64);
        s.zero = false;
        s.objId = static_cast<std::int32_t>(100'000 + h % 2'000'000'000);
        s.indexId = 1;
        s.type = (h >> 40) % 5 == 0 ? 2 : 1;
        s.oldLsn = true;
      }
      break;
    case Role::kFreeMixed:
      if (n < layout_.MixedEnd() && Hash(params_.seed, kSaltStaleMixed, un) % 2 == 0) {
        fromUnit(static_cast<int>(Hash(params_.seed, kSaltStaleMixed, un, 1) % units.size()));
        s.oldLsn = true;
      }
      break;
    case Role::kFreeOwned:
      if (Hash(params_.seed, kSaltStaleOwned, un) % 3 != 0) {
        fromUnit(role.unit);
        s.oldLsn = true;
      }
      break;
    case Role::kFreeReleased:
      fromUnit(role.unit);
      s.generation = std::max(0, role.generation - 1);
      break;
    default:
      break;
  }
  return s;
}

PageVerify PageModel::Protection(std::int64_t n, const PageRole& role) const {
  if (params_.verify == PageVerify::kNone) return PageVerify::kNone;
  switch (role.role) {
    case Role::kBcm:
      return PageVerify::kNone;  // real files leave the BCM page unprotected
    case Role::kIam:
      if (layout_.Units()[role.unit].unprotectedIam) return PageVerify::kNone;
      return params_.verify;
    case Role::kFileHeader:
    case Role::kPfs:
    case Role::kGam:
    case Role::kSgam:
    case Role::kDcm:
    case Role::kBoot:
      return params_.verify;
    default:
      break;
  }
  if (Hash(params_.seed, kSaltUnprotected, static_cast<std::uint64_t>(n)) % 1000 <
      static_cast<std::uint64_t>(std::max(0, params_.unprotectedPerMille))) {
    return PageVerify::kNone;
  }
  return params_.verify;
}

std::uint8_t PageModel::PfsByte(std::int64_t n) const {
  const PageRole role = layout_.Classify(n);
  switch (role.role) {
    case Role::kFileHeader:
    case Role::kPfs:
    case Role::kGam:
    case Role::kSgam:
    case Role::kDcm:
    case Role::kBcm:
      return 0x44;
    case Role::kBoot:
      return 0x64;
    case Role::kIam:
      return 0x70;
    case Role::kFreeMixed:
      return 0x20;
    case Role::kUnitPage: {
      if (role.unit == 1 && role.rank == 0) return 0x61;  // sysfiles: two rows, heap
      const std::uint8_t base = role.mixed ? 0x60 : 0x40;
      bool upper = false;
      UnitPageType(role.unit, role.rank, &upper);
      const ContentPlan plan =
          Plan(n, layout_.Units()[role.unit].kind, upper, ModifiedGeneration(n, role));
      return static_cast<std::uint8_t>(base | plan.fullness | (plan.ghosts > 0 ? 0x08 : 0));
    }
    default:
      return 0x00;
  }
}

}  // namespace ravelin::gen
