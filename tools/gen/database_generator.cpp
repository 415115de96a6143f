#include "gen/database_generator.h"

#include <algorithm>
#include <cstring>

#include "gen/page_layout.h"

namespace ravelin::gen {

namespace {

constexpr std::uint64_t kSaltBody = 0x424F4459;
constexpr std::uint64_t kSaltStaleBody = 0x53424F44;
constexpr std::uint64_t kSaltFlags = 0x464C4147;

std::u16string LogPath(std::u16string path) {
  if (path.size() >= 4) {
    std::u16string ext = path.substr(path.size() - 4);
    for (char16_t& c : ext) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (ext == u".mdf") path.resize(path.size() - 4);
  }
  return path + u"_log.ldf";
}

void FillRandom(MutablePage page, std::size_t offset, std::size_t length, Random& r) {
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const std::uint64_t v = r.Next();
    std::memcpy(page.data() + offset + i, &v, 8);
  }
  if (i < length) {
    const std::uint64_t v = r.Next();
    std::memcpy(page.data() + offset + i, &v, length - i);
  }
}

// Rows of a leaf page (data, nonclustered index or text) as `plan` says; the first
// `plan.ghosts` rows picked are flagged as ghost records.
void FillLeafRows(MutablePage page, UnitKind kind, const ContentPlan& plan, std::int64_t keyBase,
                  std::int64_t pageCount, std::uint16_t fileId, Random& r) {
  RowPage rows(page);
  const std::size_t size = plan.rowSize;
  for (std::uint16_t i = 0; i < plan.rows; ++i) {
    const std::size_t at = rows.AddRow(size);
    if (at == 0) break;
    const bool ghost = plan.ghosts > 0 && (i * 7u) % plan.rows < plan.ghosts;
    const auto key = static_cast<std::uint64_t>(keyBase * 1000 + i);
    switch (kind) {
      case UnitKind::kNonclustered:
        page[at] = ghost ? 0x1A : 0x16;  // index record (ghost index record)
        Store64(page, at + 1, key);
        StorePointer(
            page, at + 9,
            {static_cast<std::int32_t>(r.Below(static_cast<std::uint64_t>(pageCount))), fileId});
        Store16(page, at + 15, static_cast<std::uint16_t>(r.Below(200)));
        break;
      case UnitKind::kText:
        page[at] = 0x08;  // blob fragment
        Store16(page, at + 2, static_cast<std::uint16_t>(size));
        Store64(page, at + 4, key);
        if (size > 14) {
          Store16(page, at + 12, 3);  // data fragment
          FillRandom(page, at + 14, size - 14, r);
        }
        break;
      default: {
        page[at] = ghost ? 0x1C : 0x10;  // primary record (ghost data record)
        const std::size_t fixed = size - 3;
        Store16(page, at + 2, static_cast<std::uint16_t>(fixed));
        Store64(page, at + 4, key);
        if (fixed > 12) FillRandom(page, at + 12, fixed - 12, r);
        Store16(page, at + fixed, static_cast<std::uint16_t>(1 + (fixed - 4) / 8));
        page[at + fixed + 2] = 0;  // null bitmap
        break;
      }
    }
  }
  rows.Finish();
}

std::uint8_t TypeOf(Role role) {
  switch (role) {
    case Role::kFileHeader:
      return page_type::kFileHeader;
    case Role::kPfs:
      return page_type::kPfs;
    case Role::kGam:
      return page_type::kGam;
    case Role::kSgam:
      return page_type::kSgam;
    case Role::kDcm:
      return page_type::kDcm;
    case Role::kBcm:
      return page_type::kBcm;
    case Role::kBoot:
      return page_type::kBoot;
    default:
      return 0;
  }
}

}  // namespace

DatabaseGenerator::DatabaseGenerator(DatabaseSpec design)
    : spec_(std::move(design)),
      layout_(LayoutParams{spec_.pageCount, spec_.seed, spec_.generation, spec_.tables,
                           spec_.fillRatio}),
      model_(ModelParams{spec_.seed, spec_.verify, spec_.fileId, spec_.unprotectedPerMille},
             layout_) {
  spec_.pageCount = layout_.PageCount();
  spec_.generation = layout_.Generation();
  names_.logical = Utf16(spec_.logicalName).substr(0, 128);
  names_.physical = Utf16(spec_.physicalPath).substr(0, 260);
  names_.logLogical = names_.logical + u"_log";
  names_.logPhysical = LogPath(names_.physical);
}

void DatabaseGenerator::ReadPage(std::int64_t n, MutablePage out) const {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  if (n < 0 || n >= PageCount()) return;
  const PageRole role = layout_.Classify(n);
  int generation = layout_.Generation();
  switch (role.role) {
    case Role::kFileHeader:
      RenderFileHeader(model_, names_, out);
      break;
    case Role::kBoot:
      RenderBootPage(model_, names_, out);
      break;
    case Role::kPfs:
      RenderPfsPage(model_, n, out);
      generation = layout_.LastAllocationChange();
      break;
    case Role::kGam:
    case Role::kSgam:
    case Role::kDcm:
    case Role::kBcm:
      RenderBitmapPage(model_, n, role.role, out);
      generation = layout_.LastAllocationChange();
      break;
    case Role::kIam:
      RenderIamPage(model_, n, role.unit, role.interval, out);
      generation = layout_.IamGeneration(role.unit, role.interval);
      break;
    case Role::kUnitPage:
      if (role.unit == 1 && role.rank == 0) {
        RenderSysfilesPage(model_, names_, out);
        generation = 0;
      } else {
        generation = model_.ModifiedGeneration(n, role);
        RenderUnitPage(n, role, generation, out);
      }
      break;
    default: {
      const StaleInfo stale = model_.Stale(n, role);
      if (stale.zero) return;
      RenderStalePage(n, stale, out);
      generation = stale.generation;
      break;
    }
  }
  ProtectPage(out, model_.Protection(n, role), model_.TornPattern(n, generation));
}

void DatabaseGenerator::RenderUnitPage(std::int64_t n, const PageRole& role, int generation,
                                       MutablePage page) const {
  const Unit& unit = layout_.Units()[role.unit];
  const std::uint16_t fileId = spec_.fileId;
  bool upper = false;
  HeaderFields h;
  h.type = model_.UnitPageType(role.unit, role.rank, &upper);
  const ContentPlan plan = model_.Plan(n, unit.kind, upper, generation);
  Random r(Hash(spec_.seed, kSaltBody, static_cast<std::uint64_t>(n),
                static_cast<std::uint64_t>(generation)));
  const std::uint64_t flags = Hash(spec_.seed, kSaltFlags, static_cast<std::uint64_t>(n));
  h.typeFlagBits = (h.type != 3 && flags % 5 != 0) ? 4 : 0;
  h.flagBitsHigh = flags % 20 < 5 ? 0x80 : (flags % 20 == 5 ? 0x40 : (flags % 20 == 6 ? 0xC0 : 0));
  if (flags % 7 == 0) h.xdesId = static_cast<std::uint32_t>(0x100 + (flags >> 16) % 0x200);
  h.indexId = unit.indexId;
  h.objId = unit.objId;
  h.pageId = static_cast<std::int32_t>(n);
  h.fileId = fileId;
  h.lsn = model_.PageLsn(n, generation);
  h.ghostRecCnt = plan.ghosts;
  auto pointer = [&](std::int64_t rank) {
    const std::int64_t p = rank < 0 ? -1 : layout_.PageOfRank(role.unit, rank);
    return p < 0 ? PagePointer{} : PagePointer{static_cast<std::int32_t>(p), fileId};
  };
  const bool linked = unit.kind == UnitKind::kClustered || unit.kind == UnitKind::kNonclustered;

  if (upper) {
    // Upper index levels: ranks [0, upperPages) hold the root first, then each level down.
    const int levels = static_cast<int>(unit.levelPages.size());
    std::int64_t rest = role.rank;
    int level = levels;
    std::int64_t levelStart = 0;
    while (level > 1 && rest >= unit.levelPages[level - 1]) {
      rest -= unit.levelPages[level - 1];
      levelStart += unit.levelPages[level - 1];
      --level;
    }
    const std::int64_t count = unit.levelPages[level - 1];
    h.level = static_cast<std::uint8_t>(level);
    h.pminlen = plan.rowSize;
    if (rest > 0) h.prev = pointer(levelStart + rest - 1);
    if (rest + 1 < count) h.next = pointer(levelStart + rest + 1);
    WriteHeader(page, h);
    const std::int64_t children =
        level == 1 ? layout_.LeafCount(role.unit) : unit.levelPages[level - 2];
    const std::int64_t childStart = levelStart + count;  // rank of the level below's first page
    RowPage rows(page);
    // The children are spread evenly over the pages of this level.
    for (std::int64_t c = rest * children / count; c < (rest + 1) * children / count; ++c) {
      const std::size_t at = rows.AddRow(plan.rowSize);
      if (at == 0) break;
      page[at] = 0x06;  // index record
      Store64(page, at + 1, static_cast<std::uint64_t>(c) * 1000);
      const std::int64_t childRank = level == 1 ? layout_.LeafRankAt(role.unit, c) : childStart + c;
      StorePointer(page, at + 9, pointer(childRank));
    }
    rows.Finish();
    return;
  }
  std::int64_t key = role.rank;
  if (linked) {
    const std::int64_t pos = layout_.LeafPosition(role.unit, role.rank);
    key = pos;
    if (pos > 0) h.prev = pointer(layout_.LeafRankAt(role.unit, pos - 1));
    h.next = pointer(layout_.LeafRankAt(role.unit, pos + 1));
  }
  h.pminlen = static_cast<std::uint16_t>(unit.kind == UnitKind::kText ? 0 : plan.rowSize - 3);
  if (unit.kind == UnitKind::kNonclustered) h.pminlen = plan.rowSize;
  WriteHeader(page, h);
  FillLeafRows(page, unit.kind, plan, key, PageCount(), fileId, r);
}

void DatabaseGenerator::RenderStalePage(std::int64_t n, const StaleInfo& stale,
                                        MutablePage page) const {
  UnitKind kind = stale.type == 2 ? UnitKind::kNonclustered
                                  : (stale.type == 3 ? UnitKind::kText : UnitKind::kClustered);
  if (stale.unit >= 0) kind = layout_.Units()[stale.unit].kind;
  const ContentPlan plan = model_.Plan(n, kind, false, stale.generation + kMaxGenerations + 1);
  Random r(Hash(spec_.seed, kSaltStaleBody, static_cast<std::uint64_t>(n),
                static_cast<std::uint64_t>(stale.generation)));
  HeaderFields h;
  h.type = stale.type;
  h.typeFlagBits = stale.type == 3 ? 0 : 4;
  h.indexId = stale.indexId;
  h.objId = stale.objId;
  h.pageId = static_cast<std::int32_t>(n);
  h.fileId = spec_.fileId;
  h.lsn = stale.oldLsn ? model_.OldLsn(n) : model_.PageLsn(n, stale.generation);
  h.ghostRecCnt = plan.ghosts;
  h.pminlen = static_cast<std::uint16_t>(kind == UnitKind::kText ? 0 : plan.rowSize - 3);
  if (kind == UnitKind::kNonclustered) h.pminlen = plan.rowSize;
  if (stale.unit < 0 && stale.type != 3) {
    // A dropped object's pages still point at their old neighbours.
    const auto count = static_cast<std::uint64_t>(PageCount());
    if (r.Chance(0.7)) h.prev = {static_cast<std::int32_t>(1 + r.Below(count - 1)), spec_.fileId};
    if (r.Chance(0.7)) h.next = {static_cast<std::int32_t>(1 + r.Below(count - 1)), spec_.fileId};
  }
  WriteHeader(page, h);
  FillLeafRows(page, kind, plan, n, PageCount(), spec_.fileId, r);
}

PageInfo DatabaseGenerator::Truth(std::int64_t n) const {
  PageInfo info;
  if (n < 0 || n >= PageCount()) {
    info.zero = true;
    return info;
  }
  const PageRole role = layout_.Classify(n);
  const std::uint8_t pfs = model_.PfsByte(n);
  info.allocated = (pfs & 0x40) != 0;
  info.iam = (pfs & 0x10) != 0;
  info.protection = model_.Protection(n, role);
  const auto& units = layout_.Units();
  switch (role.role) {
    case Role::kFileHeader:
    case Role::kPfs:
    case Role::kGam:
    case Role::kSgam:
    case Role::kDcm:
    case Role::kBcm:
    case Role::kBoot:
      info.type = TypeOf(role.role);
      info.objId = info.ownerObjId = kAllocationObjId;
      info.generation = (role.role == Role::kFileHeader || role.role == Role::kBoot)
                            ? layout_.Generation()
                            : (role.role == Role::kBcm ? 0 : layout_.LastAllocationChange());
      return info;
    case Role::kIam:
      info.type = page_type::kIam;
      info.objId = info.ownerObjId = units[role.unit].objId;
      info.generation = layout_.IamGeneration(role.unit, role.interval);
      return info;
    case Role::kUnitPage:
      info.type = model_.UnitPageType(role.unit, role.rank);
      info.objId = info.ownerObjId = info.claimedBy = units[role.unit].objId;
      info.generation = (role.unit == 1 && role.rank == 0) ? 0 : model_.ModifiedGeneration(n, role);
      return info;
    default:
      break;
  }
  if (role.role == Role::kFreeOwned) info.claimedBy = units[role.unit].objId;
  const StaleInfo stale = model_.Stale(n, role);
  info.zero = stale.zero;
  if (stale.zero) {
    info.protection = PageVerify::kNone;
    return info;
  }
  info.type = stale.type;
  info.objId = stale.objId;
  info.generation = stale.generation;
  return info;
}

std::vector<ObjectInfo> DatabaseGenerator::Objects() const {
  std::vector<ObjectInfo> out;
  const auto& units = layout_.Units();
  for (int u = 0; u < static_cast<int>(units.size()); ++u) {
    ObjectInfo o{units[u].objId, units[u].indexId, units[u].kind, layout_.UnitPageCount(u), {}};
    for (int interval : layout_.IamIntervals(u)) o.iamPages.push_back(layout_.IamPage(u, interval));
    out.push_back(std::move(o));
  }
  return out;
}

}  // namespace ravelin::gen
