#include "gen/image_raw.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "gen/extent_plan.h"
#include "gen/image_writer.h"
#include "gen/pfs_reader.h"
#include "gen/random.h"
#include "gen/raw_layout.h"

namespace ravelin::gen {
namespace {

template <typename T>
void Shuffle(std::vector<T>& v, Random& random) {
  for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[random.Below(i)]);
}

Status CheckChosenExtents(const std::vector<FileExtent>& extents, std::uint64_t fileSectors,
                          std::uint64_t spc) {
  std::vector<FileExtent> byFile = extents;
  std::sort(byFile.begin(), byFile.end(),
            [](const FileExtent& a, const FileExtent& b) { return a.fileSector < b.fileSector; });
  for (std::size_t i = 0; i < byFile.size(); ++i) {
    const FileExtent& e = byFile[i];
    if (e.sectorCount == 0 || e.fileSector + e.sectorCount > fileSectors ||
        (i > 0 && byFile[i - 1].fileSector + byFile[i - 1].sectorCount > e.fileSector)) {
      return Status::BadInput("chosen extents must be non-empty, inside the file and apart");
    }
    if (e.diskSector % spc != 0) {
      return Status::BadInput("chosen extent at sector " + std::to_string(e.diskSector) +
                              " is not cluster-aligned");
    }
  }
  return Status::Ok();
}

// Maximal runs [first, end) of pages that `target`'s PFS pages mark free and where `other`
// has content: where foreign pages pass for the target's own by their page ids.
std::vector<std::pair<std::uint64_t, std::uint64_t>> FreeIdRuns(const PageSource& target,
                                                                const PageSource& other) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
  const PfsReader pfs(target);
  std::vector<std::uint8_t> page(kPageSize);
  const std::int64_t end = std::min(target.PageCount(), other.PageCount());
  for (std::int64_t n = 0; n < end; ++n) {
    bool usable = pfs.Free(n);
    if (usable) {
      other.ReadPage(n, MutablePage(page.data(), kPageSize));
      usable = std::any_of(page.begin(), page.end(), [](std::uint8_t b) { return b != 0; });
    }
    if (!usable) continue;
    const auto u = static_cast<std::uint64_t>(n);
    if (!runs.empty() && runs.back().second == u) {
      runs.back().second = u + 1;
    } else {
      runs.emplace_back(u, u + 1);
    }
  }
  return runs;
}

// The target's extents: chosen by the caller (first target only) or planned, each target
// with its own seed. With olderAfterHeader the second target is also cut where the first
// target's header extent ends, so a piece of it starts exactly there.
Status PlanTargets(const std::vector<const PageSource*>& targets, const RawImageOptions& o,
                   std::vector<std::vector<FileExtent>>& plans, std::uint64_t& resumeSector) {
  plans.assign(targets.size(), {});
  for (std::size_t t = 0; t < targets.size(); ++t) {
    const PageSource& target = *targets[t];
    if (t == 0 && !o.extents.empty()) {
      const std::uint64_t fileSectors = static_cast<std::uint64_t>(target.PageCount()) * kSpp;
      if (Status s = CheckChosenExtents(o.extents, fileSectors, o.sectorsPerCluster); !s.ok()) {
        return s;
      }
      plans[0] = o.extents;
      continue;
    }
    RawImageOptions cut = o;
    cut.seed = t == 0 ? o.seed : o.seed ^ (0x7A26E7ull * t);
    PlanHints hints;
    if (o.splitBeforeZeroPage > 0) hints.zeroFollowed = ZeroFollowedPages(target);
    if (Status s = PlanExtents(target.PageCount(), cut, plans[t], hints); !s.ok()) return s;
  }
  resumeSector = 0;
  if (o.olderAfterHeader) {
    for (const FileExtent& e : plans[0]) {
      if (e.fileSector == 0) resumeSector = e.fileSector + e.sectorCount;
    }
    SplitExtentAt(plans[1], resumeSector);
  }
  return Status::Ok();
}

Status CheckOptions(const std::vector<const PageSource*>& targets, const RawImageOptions& o) {
  if (!IsValidClusterSize(o.sectorsPerCluster)) {
    return Status::BadInput("sectors per cluster must be a power of two from 1 to 128");
  }
  if (targets.empty()) return Status::BadInput("a raw image needs at least one database file");
  for (const PageSource* t : targets) {
    if (t == nullptr || t->PageCount() <= 0) {
      return Status::BadInput("the database file has no pages");
    }
  }
  if (o.maxGapClusters < 1 || o.maxRunPages < 1) {
    return Status::BadInput("gaps and decoy runs need a size of at least 1");
  }
  if (o.olderAfterHeader) {
    if (targets.size() < 2 || targets[0]->PageCount() != targets[1]->PageCount()) {
      return Status::BadInput(
          "placing an older copy after the header fragment needs a second database file of "
          "the same size, an older copy of the first");
    }
    if (!o.extents.empty()) {
      return Status::BadInput("an older copy after the header fragment needs a planned layout");
    }
  }
  return Status::Ok();
}

}  // namespace

Status BuildRawImage(const PageSource& target, const DecoySources& decoys, const RawImageOptions& o,
                     const std::string& imagePath, Manifest& manifest) {
  return BuildRawImage(std::vector<const PageSource*>{&target}, decoys, o, imagePath, manifest);
}

Status BuildRawImage(const std::vector<const PageSource*>& targets, const DecoySources& decoys,
                     const RawImageOptions& o, const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  if (Status s = CheckOptions(targets, o); !s.ok()) return s;
  const std::uint64_t spc = o.sectorsPerCluster;
  const bool chosen = !o.extents.empty();

  manifest.kind = "raw";
  manifest.seed = o.seed;
  manifest.sectorsPerCluster = o.sectorsPerCluster;
  for (const PageSource* t : targets) AddManifestFile(manifest, *t, "target");

  std::vector<std::vector<FileExtent>> plans;
  std::uint64_t resumeSector = 0;
  if (Status s = PlanTargets(targets, o, plans, resumeSector); !s.ok()) return s;

  Random random(o.seed);
  std::vector<RawItem> items;
  std::size_t targetItems = 0;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    for (const FileExtent& e : plans[t]) {
      items.push_back({static_cast<int>(t), targets[t], e, chosen && t == 0});
    }
    targetItems += plans[t].size();
  }

  std::vector<HardCase> foreignRuns;  // sectors filled in once the layout is known
  const auto addRuns = [&](const PageSource* source, int runs, const char* role) -> Status {
    if (source == nullptr || runs <= 0 || source->PageCount() <= 0) return Status::Ok();
    const int file = AddManifestFile(manifest, *source, role);
    const bool onFree = o.otherDatabaseOnFreePages && std::string(role) == "other-database";
    std::vector<std::pair<std::uint64_t, std::uint64_t>> freeRuns;
    if (onFree) {
      freeRuns = FreeIdRuns(*targets[0], *source);
      if (freeRuns.empty()) {
        return Status::BadInput(
            "no page id is free in the target and holds a page of the other database");
      }
    }
    for (int i = 0; i < runs; ++i) {
      std::uint64_t lo = 0, hi = static_cast<std::uint64_t>(source->PageCount());
      if (onFree) std::tie(lo, hi) = freeRuns[random.Below(freeRuns.size())];
      const std::uint64_t length = std::min<std::uint64_t>(
          hi - lo, 1 + random.Below(static_cast<std::uint64_t>(o.maxRunPages)));
      const std::uint64_t first = lo + random.Below(hi - lo - length + 1);
      int tag = -1;
      if (onFree) {
        tag = static_cast<int>(foreignRuns.size());
        foreignRuns.push_back({"foreign-pages-on-free-ids", 0, static_cast<std::int64_t>(first),
                               static_cast<std::int64_t>(length), 0, file});
      }
      items.push_back({file, source, {first * kSpp, length * kSpp, 0}, false, tag});
    }
    return Status::Ok();
  };
  if (decoys.olderCopy != nullptr && decoys.olderCopy->PageCount() > 0) {
    const int file = AddManifestFile(manifest, *decoys.olderCopy, "older-copy");
    items.push_back({file,
                     decoys.olderCopy,
                     {0, static_cast<std::uint64_t>(decoys.olderCopy->PageCount()) * kSpp, 0},
                     false});
  }
  if (Status s = addRuns(decoys.stalePages, o.staleRuns, "stale-pages"); !s.ok()) return s;
  if (Status s = addRuns(decoys.otherDatabase, o.otherDatabaseRuns, "other-database"); !s.ok()) {
    return s;
  }
  if (Status s = addRuns(decoys.otherFileId, o.otherFileIdRuns, "other-file-id"); !s.ok()) {
    return s;
  }

  std::uint64_t totalSectors = o.totalSectors;
  int olderAt = -1;
  if (chosen) {
    std::uint64_t end = 0;
    for (const RawItem& it : items) {
      if (it.fixed) end = std::max(end, it.extent.diskSector + RoundUp(it.extent.sectorCount, spc));
    }
    if (totalSectors == 0) {
      std::uint64_t looseSectors = 0;
      for (const RawItem& it : items) {
        if (!it.fixed) looseSectors += RoundUp(it.extent.sectorCount, spc) + 2 * spc;
      }
      totalSectors = end + looseSectors + o.maxGapClusters * spc;
    }
    if (end > totalSectors) return Status::BadInput("chosen extents reach past the image's end");
    if (Status s = PlaceInFreeSpace(items, spc, totalSectors, random); !s.ok()) return s;
  } else {
    // Items in random order (or the targets' in file order, decoys among them), each
    // preceded by a gap of at least one cluster so no two pieces touch.
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (o.shuffle) {
      Shuffle(order, random);
    } else {
      std::vector<std::size_t> loose(order.begin() + static_cast<std::ptrdiff_t>(targetItems),
                                     order.end());
      order.resize(targetItems);
      for (std::size_t d : loose) {
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(random.Below(order.size() + 1)),
                     d);
      }
    }
    std::vector<RawItem> ordered;
    for (std::size_t i : order) ordered.push_back(items[i]);
    items = std::move(ordered);

    std::vector<std::uint64_t> gaps;
    if (Status s = ChooseGaps(items, spc, totalSectors, o.maxGapClusters, random, gaps); !s.ok()) {
      return s;
    }
    if (o.olderAfterHeader) olderAt = PutOlderAfterHeader(items, gaps, 0, 1, resumeSector);
    const std::uint64_t laid = LayInOrder(items, gaps, spc);
    if (totalSectors == 0) totalSectors = laid;
  }
  manifest.totalSectors = totalSectors;

  std::vector<Placement> placements;
  std::vector<std::vector<FileExtent>> targetExtents(targets.size());
  std::vector<FileExtent> allTargetExtents;
  for (const RawItem& it : items) {
    Placement p;
    p.sector = it.extent.diskSector;
    p.sectorCount = it.extent.sectorCount;
    p.kind = FillKind::kPages;
    p.source = it.source;
    p.sourceSector = it.extent.fileSector;
    placements.push_back(p);
    if (static_cast<std::size_t>(it.file) < targets.size()) {
      targetExtents[it.file].push_back(it.extent);
      allTargetExtents.push_back(it.extent);
    } else {
      const std::uint64_t first = it.extent.fileSector / kSpp;
      manifest.fragments.push_back({it.file, it.extent, static_cast<std::int64_t>(first),
                                    static_cast<std::int64_t>(it.extent.sectorCount / kSpp),
                                    it.extent.diskSector});
    }
  }
  for (std::size_t t = 0; t < targets.size(); ++t) {
    DescribeFileLayout(manifest, static_cast<int>(t), targetExtents[t]);
    NoteZeroNextPages(manifest, static_cast<int>(t), *targets[t]);
    NoteSplitHardCases(manifest, static_cast<int>(t));
  }
  std::sort(manifest.fragments.begin(), manifest.fragments.end(),
            [](const ManifestFragment& a, const ManifestFragment& b) {
              return a.extent.diskSector < b.extent.diskSector;
            });
  for (const RawItem& it : items) {
    if (it.tag >= 0) foreignRuns[static_cast<std::size_t>(it.tag)].sector = it.extent.diskSector;
  }
  manifest.hardCases.insert(manifest.hardCases.end(), foreignRuns.begin(), foreignRuns.end());
  if (olderAt >= 0) {
    const FileExtent& e = items[static_cast<std::size_t>(olderAt)].extent;
    manifest.hardCases.push_back({"older-after-header", 0,
                                  static_cast<std::int64_t>((e.fileSector + kSpp - 1) / kSpp), 1,
                                  e.diskSector, 1});
  }

  Random noise(o.seed ^ 0x9015Eull);
  for (auto [b, e] : FreeSpans(items, spc, totalSectors)) {
    const bool zeros = noise.Chance(o.zeroGapShare);
    manifest.noise.push_back({b, e - b, zeros ? "zeros" : "random"});
    if (!zeros) {
      Placement p;
      p.sector = b;
      p.sectorCount = e - b;
      p.kind = FillKind::kRandom;
      p.seed = noise.Next();
      placements.push_back(p);
    }
  }
  MarkUnreadable(manifest,
                 ChooseUnreadable(o.seed, o.unreadableSectors, allTargetExtents, totalSectors));

  const std::string temporary = imagePath + ".tmp";
  WriteOptions write;
  write.totalSectors = totalSectors;
  if (Status s = WritePlacements(temporary, std::move(placements), write); !s.ok()) {
    std::remove(temporary.c_str());
    return s;
  }
  if (std::rename(temporary.c_str(), imagePath.c_str()) != 0) {
    std::remove(temporary.c_str());
    return Status::IoError("cannot rename " + temporary + " to " + imagePath);
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
