#include "gen/raw_layout.h"

#include <algorithm>
#include <string>

namespace ravelin::gen {

SectorSpans FreeSpans(const std::vector<RawItem>& items, std::uint64_t spc,
                      std::uint64_t totalSectors) {
  SectorSpans used;
  for (const RawItem& it : items) {
    used.emplace_back(it.extent.diskSector,
                      it.extent.diskSector + RoundUp(it.extent.sectorCount, spc));
  }
  std::sort(used.begin(), used.end());
  SectorSpans gaps;
  std::uint64_t cursor = 0;
  for (auto [b, e] : used) {
    if (b > cursor) gaps.emplace_back(cursor, b);
    cursor = std::max(cursor, e);
  }
  if (cursor < totalSectors) gaps.emplace_back(cursor, totalSectors);
  return gaps;
}

Status PlaceInFreeSpace(std::vector<RawItem>& items, std::uint64_t spc, std::uint64_t totalSectors,
                        Random& random) {
  for (RawItem& item : items) {
    if (item.fixed) continue;
    const std::uint64_t need = RoundUp(item.extent.sectorCount, spc);
    SectorSpans fits;
    std::vector<RawItem> placed;
    for (const RawItem& other : items) {
      if (other.fixed) placed.push_back(other);
    }
    for (auto [b, e] : FreeSpans(placed, spc, totalSectors)) {
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

std::uint64_t LayInOrder(std::vector<RawItem>& items, const std::vector<std::uint64_t>& gaps,
                         std::uint64_t spc) {
  std::uint64_t cursor = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    cursor += gaps[i] * spc;
    items[i].extent.diskSector = cursor;
    cursor += RoundUp(items[i].extent.sectorCount, spc);
  }
  return cursor + gaps.back() * spc;
}

Status ChooseGaps(const std::vector<RawItem>& items, std::uint64_t spc, std::uint64_t totalSectors,
                  std::uint32_t maxGapClusters, Random& random, std::vector<std::uint64_t>& gaps) {
  std::uint64_t itemClusters = 0;
  for (const RawItem& it : items) itemClusters += RoundUp(it.extent.sectorCount, spc) / spc;
  const std::uint64_t gapCount = items.size() + 1;
  gaps.assign(gapCount, 0);
  if (totalSectors == 0) {
    for (auto& g : gaps) g = 1 + random.Below(maxGapClusters);
    return Status::Ok();
  }
  const std::uint64_t clusters = totalSectors / spc;
  if (itemClusters + gapCount > clusters) {
    return Status::BadInput("an image of " + std::to_string(totalSectors) +
                            " sectors is too small: the layout needs at least " +
                            std::to_string((itemClusters + gapCount) * spc));
  }
  // Spread the spare clusters over the gaps by random weights; the last gap also takes the
  // sectors of a size that is not a whole number of clusters.
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
  return Status::Ok();
}

int PutOlderAfterHeader(std::vector<RawItem>& items, std::vector<std::uint64_t>& gaps, int newer,
                        int older, std::uint64_t resumeSector) {
  std::vector<RawItem> moved;
  std::vector<RawItem> rest;
  std::vector<std::uint64_t> restGaps;
  std::uint64_t freed = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].file == older) {
      moved.push_back(items[i]);
      freed += gaps[i];
    } else {
      rest.push_back(items[i]);
      restGaps.push_back(gaps[i]);
    }
  }
  restGaps.push_back(gaps.back());
  const auto header = std::find_if(rest.begin(), rest.end(), [&](const RawItem& it) {
    return it.file == newer && it.extent.fileSector == 0;
  });
  if (moved.empty() || header == rest.end()) return -1;
  std::sort(moved.begin(), moved.end(), [](const RawItem& a, const RawItem& b) {
    return a.extent.fileSector < b.extent.fileSector;
  });
  const auto resume = std::find_if(moved.begin(), moved.end(), [&](const RawItem& it) {
    return it.extent.fileSector >= resumeSector;
  });
  std::rotate(moved.begin(), resume, moved.end());

  const auto at = header - rest.begin() + 1;
  rest.insert(rest.begin() + at, moved.begin(), moved.end());
  restGaps.insert(restGaps.begin() + at, moved.size(), 1);
  restGaps.back() += freed - moved.size();
  items = std::move(rest);
  gaps = std::move(restGaps);
  return static_cast<int>(at);
}

}  // namespace ravelin::gen
