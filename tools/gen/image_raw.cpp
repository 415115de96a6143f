#include "gen/image_raw.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "gen/image_writer.h"
#include "gen/page_layout.h"
#include "gen/random.h"
#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

constexpr std::uint64_t kSpp = kSectorsPerPage;

// One thing written to the image: an extent of the target or a run of decoy pages.
struct Item {
  int file = 0;
  const PageSource* source = nullptr;
  FileExtent extent;  // diskSector filled by the layout
  bool fixed = false;
};

template <typename T>
void Shuffle(std::vector<T>& v, Random& random) {
  for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[random.Below(i)]);
}

// Cluster-rounded [begin, end) of each item, sorted, and the complement as gaps.
std::vector<std::pair<std::uint64_t, std::uint64_t>> Gaps(const std::vector<Item>& items,
                                                          std::uint64_t spc,
                                                          std::uint64_t totalSectors) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> used;
  for (const Item& it : items) {
    used.emplace_back(it.extent.diskSector,
                      it.extent.diskSector + RoundUp(it.extent.sectorCount, spc));
  }
  std::sort(used.begin(), used.end());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
  std::uint64_t cursor = 0;
  for (auto [b, e] : used) {
    if (b > cursor) gaps.emplace_back(cursor, b);
    cursor = std::max(cursor, e);
  }
  if (cursor < totalSectors) gaps.emplace_back(cursor, totalSectors);
  return gaps;
}

// Places each not-yet-fixed item in a free stretch, at least one cluster from its
// neighbours. Used when the target's extents were chosen by the caller.
Status PlaceInFreeSpace(std::vector<Item>& items, std::uint64_t spc, std::uint64_t totalSectors,
                        Random& random) {
  for (Item& item : items) {
    if (item.fixed) continue;
    const std::uint64_t need = RoundUp(item.extent.sectorCount, spc);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> fits;
    for (auto [b, e] : Gaps(items, spc, totalSectors)) {
      const std::uint64_t first = RoundUp(b, spc) + spc;
      if (first + need + spc <= e) fits.emplace_back(first, e - need - spc);
    }
    if (fits.empty()) return Status::BadInput("the image is too small for the noise asked for");
    auto [lo, hi] = fits[random.Below(fits.size())];
    item.extent.diskSector = lo + random.Below((hi - lo) / spc + 1) * spc;
    item.fixed = true;
  }
  return Status::Ok();
}

}  // namespace

Status PlanExtents(std::int64_t pageCount, const RawImageOptions& o,
                   std::vector<FileExtent>& extents) {
  extents.clear();
  const std::uint64_t spc = o.sectorsPerCluster;
  const auto pages = static_cast<std::uint64_t>(pageCount);
  const std::uint64_t fileSectors = pages * kSpp;
  if (o.fragments < 1 || o.splitPages < 0 || o.detachedTails < 0 || o.lostExtents < 0) {
    return Status::BadInput("fragment counts must not be negative, and at least 1 fragment");
  }
  if (o.splitPages > 0 && spc >= kSpp) {
    return Status::BadInput("split pages need clusters smaller than a page (2, 4 or 8 sectors)");
  }
  if (o.detachedTails > o.splitPages) {
    return Status::BadInput("detached tails are a subset of the split pages");
  }
  const int alignedBreaks = o.fragments - 1 - o.splitPages - o.detachedTails;
  if (alignedBreaks < 0) {
    return Status::BadInput("each split page and each detached tail needs a fragment of its own");
  }
  if (o.lostExtents >= o.fragments) return Status::BadInput("every fragment would be lost");

  Random random(o.seed ^ 0x5EC7042Dull);
  std::set<std::uint64_t> breaks;
  std::set<std::uint64_t> splitPages;
  const auto tooMany = [&] {
    return Status::BadInput("a file of " + std::to_string(pages) + " pages cannot be cut into " +
                            std::to_string(o.fragments) + " fragments as asked");
  };
  // Split pages first, two pages apart, each with a page after it for the tail to precede.
  for (int i = 0, tries = 0; i < o.splitPages; ++tries) {
    if (tries > 1000 + 100 * o.splitPages || pages < 2) return tooMany();
    const std::uint64_t k = random.Below(pages - 1);
    if (splitPages.count(k) || splitPages.count(k + 1) || (k > 0 && splitPages.count(k - 1))) {
      continue;
    }
    splitPages.insert(k);
    const std::uint64_t j = 1 + random.Below(kSpp / spc - 1);
    breaks.insert(k * kSpp + j * spc);
    if (i < o.detachedTails) breaks.insert((k + 1) * kSpp);
    ++i;
  }
  const std::uint64_t step = std::max<std::uint64_t>(kSpp, spc);
  const std::uint64_t positions = (fileSectors + step - 1) / step - 1;
  for (int i = 0, tries = 0; i < alignedBreaks; ++tries) {
    if (positions == 0 || tries > 1000 + 100 * alignedBreaks) return tooMany();
    const std::uint64_t b = (1 + random.Below(positions)) * step;
    const std::uint64_t page = b / kSpp;
    if (breaks.count(b) || splitPages.count(page) || (page > 0 && splitPages.count(page - 1))) {
      continue;
    }
    breaks.insert(b);
    ++i;
  }
  std::uint64_t cursor = 0;
  breaks.insert(fileSectors);
  for (std::uint64_t b : breaks) {
    extents.push_back({cursor, b - cursor, 0});
    cursor = b;
  }
  // Lose some extents, never the first: it holds the file header page.
  for (int i = 0; i < o.lostExtents; ++i) {
    extents.erase(extents.begin() + 1 +
                  static_cast<std::ptrdiff_t>(random.Below(extents.size() - 1)));
  }
  return Status::Ok();
}

std::vector<std::uint64_t> ChooseUnreadable(std::uint64_t seed, int count,
                                            const std::vector<FileExtent>& extents,
                                            std::uint64_t totalSectors) {
  Random random(seed ^ 0xBADC0FFEEull);
  std::vector<std::uint64_t> sectors;
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0 && !extents.empty()) {
      const FileExtent& e = extents[random.Below(extents.size())];
      sectors.push_back(e.diskSector + random.Below(e.sectorCount));
    } else if (totalSectors > 0) {
      sectors.push_back(random.Below(totalSectors));
    }
  }
  return sectors;
}

Status BuildRawImage(const PageSource& target, const DecoySources& decoys, const RawImageOptions& o,
                     const std::string& imagePath, Manifest& manifest) {
  manifest = Manifest{};
  const std::uint64_t spc = o.sectorsPerCluster;
  if (!IsValidClusterSize(o.sectorsPerCluster)) {
    return Status::BadInput("sectors per cluster must be a power of two from 1 to 128");
  }
  if (target.PageCount() <= 0) return Status::BadInput("the database file has no pages");
  if (o.maxGapClusters < 1 || o.maxRunPages < 1) {
    return Status::BadInput("gaps and decoy runs need a size of at least 1");
  }
  const std::uint64_t fileSectors = static_cast<std::uint64_t>(target.PageCount()) * kSpp;

  manifest.kind = "raw";
  manifest.seed = o.seed;
  manifest.sectorsPerCluster = o.sectorsPerCluster;
  const int targetFile = AddManifestFile(manifest, target, "target");

  std::vector<FileExtent> extents = o.extents;
  const bool chosen = !extents.empty();
  if (chosen) {
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
  } else if (Status s = PlanExtents(target.PageCount(), o, extents); !s.ok()) {
    return s;
  }

  Random random(o.seed);
  std::vector<Item> items;
  for (const FileExtent& e : extents) items.push_back({targetFile, &target, e, chosen});

  const auto addRuns = [&](const PageSource* source, int runs, const char* role) {
    if (source == nullptr || runs <= 0 || source->PageCount() <= 0) return;
    const int file = AddManifestFile(manifest, *source, role);
    for (int i = 0; i < runs; ++i) {
      const std::uint64_t pageCount = source->PageCount();
      const std::uint64_t length = std::min<std::uint64_t>(
          pageCount, 1 + random.Below(static_cast<std::uint64_t>(o.maxRunPages)));
      const std::uint64_t first = random.Below(pageCount - length + 1);
      items.push_back({file, source, {first * kSpp, length * kSpp, 0}, false});
    }
  };
  if (decoys.olderCopy != nullptr && decoys.olderCopy->PageCount() > 0) {
    const int file = AddManifestFile(manifest, *decoys.olderCopy, "older-copy");
    items.push_back({file,
                     decoys.olderCopy,
                     {0, static_cast<std::uint64_t>(decoys.olderCopy->PageCount()) * kSpp, 0},
                     false});
  }
  addRuns(decoys.stalePages, o.staleRuns, "stale-pages");
  addRuns(decoys.otherDatabase, o.otherDatabaseRuns, "other-database");
  addRuns(decoys.otherFileId, o.otherFileIdRuns, "other-file-id");

  std::uint64_t totalSectors = o.totalSectors;
  if (chosen) {
    std::uint64_t end = 0;
    for (const Item& it : items) {
      if (it.fixed) end = std::max(end, it.extent.diskSector + RoundUp(it.extent.sectorCount, spc));
    }
    if (totalSectors == 0) {
      std::uint64_t decoySectors = 0;
      for (const Item& it : items) {
        if (!it.fixed) decoySectors += RoundUp(it.extent.sectorCount, spc) + 2 * spc;
      }
      totalSectors = end + decoySectors + o.maxGapClusters * spc;
    }
    if (end > totalSectors) return Status::BadInput("chosen extents reach past the image's end");
    if (Status s = PlaceInFreeSpace(items, spc, totalSectors, random); !s.ok()) return s;
  } else {
    // Items in random order (or the target's in file order, decoys among them), each
    // preceded by a gap of at least one cluster so no two pieces touch.
    if (o.shuffle) {
      Shuffle(items, random);
    } else {
      std::vector<Item> decoyItems(items.begin() + static_cast<std::ptrdiff_t>(extents.size()),
                                   items.end());
      items.resize(extents.size());
      for (Item& d : decoyItems) {
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(random.Below(items.size() + 1)),
                     d);
      }
    }
    std::uint64_t itemClusters = 0;
    for (const Item& it : items) itemClusters += RoundUp(it.extent.sectorCount, spc) / spc;
    const std::uint64_t gapCount = items.size() + 1;
    std::vector<std::uint64_t> gaps(gapCount);
    if (totalSectors == 0) {
      for (auto& g : gaps) g = 1 + random.Below(o.maxGapClusters);
      std::uint64_t sum = itemClusters;
      for (auto g : gaps) sum += g;
      totalSectors = sum * spc;
    } else {
      const std::uint64_t clusters = totalSectors / spc;
      if (itemClusters + gapCount > clusters) {
        return Status::BadInput("an image of " + std::to_string(totalSectors) +
                                " sectors is too small: the layout needs at least " +
                                std::to_string((itemClusters + gapCount) * spc));
      }
      // Spread the spare clusters over the gaps by random weights.
      const std::uint64_t spare = clusters - itemClusters - gapCount;
      std::vector<std::uint64_t> weights(gapCount);
      std::uint64_t weightSum = 0;
      for (auto& w : weights) weightSum += (w = 1 + random.Below(1000));
      std::uint64_t given = 0;
      for (std::size_t i = 0; i < gapCount; ++i) {
        const auto share = static_cast<std::uint64_t>(static_cast<long double>(spare) * weights[i] /
                                                      static_cast<long double>(weightSum));
        gaps[i] = 1 + share;
        given += share;
      }
      gaps.back() += spare - given;
    }
    std::uint64_t cursor = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      cursor += gaps[i] * spc;
      items[i].extent.diskSector = cursor;
      cursor += RoundUp(items[i].extent.sectorCount, spc);
    }
  }
  manifest.totalSectors = totalSectors;

  std::vector<Placement> placements;
  std::vector<FileExtent> targetExtents;
  for (const Item& it : items) {
    Placement p;
    p.sector = it.extent.diskSector;
    p.sectorCount = it.extent.sectorCount;
    p.kind = FillKind::kPages;
    p.source = it.source;
    p.sourceSector = it.extent.fileSector;
    placements.push_back(p);
    if (it.file == targetFile) {
      targetExtents.push_back(it.extent);
    } else {
      const std::uint64_t first = it.extent.fileSector / kSpp;
      manifest.fragments.push_back({it.file, it.extent, static_cast<std::int64_t>(first),
                                    static_cast<std::int64_t>(it.extent.sectorCount / kSpp),
                                    it.extent.diskSector});
    }
  }
  DescribeFileLayout(manifest, targetFile, targetExtents);
  std::sort(manifest.fragments.begin(), manifest.fragments.end(),
            [](const ManifestFragment& a, const ManifestFragment& b) {
              return a.extent.diskSector < b.extent.diskSector;
            });

  Random noise(o.seed ^ 0x9015Eull);
  for (auto [b, e] : Gaps(items, spc, totalSectors)) {
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
                 ChooseUnreadable(o.seed, o.unreadableSectors, targetExtents, totalSectors));

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
