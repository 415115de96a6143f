#include "gen/manifest.h"

#include <algorithm>
#include <set>

#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// Where each sector of one file lies, from its extents sorted by file sector.
class SectorMap {
 public:
  explicit SectorMap(const std::vector<FileExtent>& sorted) : extents_(sorted) {}
  // Index of the extent holding file sector s, or -1.
  int ExtentOf(std::uint64_t s) const {
    auto it =
        std::upper_bound(extents_.begin(), extents_.end(), s,
                         [](std::uint64_t v, const FileExtent& e) { return v < e.fileSector; });
    if (it == extents_.begin()) return -1;
    --it;
    return s < it->fileSector + it->sectorCount ? static_cast<int>(it - extents_.begin()) : -1;
  }
  std::optional<std::uint64_t> DiskOf(std::uint64_t s) const {
    const int i = ExtentOf(s);
    if (i < 0) return std::nullopt;
    return extents_[i].diskSector + (s - extents_[i].fileSector);
  }

 private:
  const std::vector<FileExtent>& extents_;
};

}  // namespace

int Manifest::TargetFile() const {
  const std::vector<int> targets = TargetFiles();
  return targets.empty() ? -1 : targets.front();
}

std::vector<int> Manifest::TargetFiles() const {
  std::vector<int> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].role == "target") out.push_back(static_cast<int>(i));
  }
  return out;
}

std::vector<PageRange> Manifest::UnrecoverablePages(int file) const {
  std::vector<std::pair<std::int64_t, std::int64_t>> spans;  // [first, end)
  for (const PageRange& r : lostPages) {
    if (r.file == file) spans.emplace_back(r.firstPage, r.firstPage + r.pageCount);
  }
  for (const DamagedPage& d : damagedPages) {
    if (d.file == file) spans.emplace_back(d.page, d.page + 1);
  }
  std::sort(spans.begin(), spans.end());
  std::vector<PageRange> out;
  for (auto [first, end] : spans) {
    if (!out.empty() && out.back().firstPage + out.back().pageCount >= first) {
      PageRange& last = out.back();
      last.pageCount = std::max(last.pageCount, end - last.firstPage);
    } else {
      out.push_back({file, first, end - first});
    }
  }
  return out;
}

int AddManifestFile(Manifest& manifest, const PageSource& source, const std::string& role) {
  ManifestFile f;
  f.name = source.Name();
  f.role = role;
  f.pageCount = source.PageCount();
  f.fileId = FileIdOf(source);
  f.sha256 = Sha256OfPages(source);
  f.headerLsn = HeaderLsnText(source);
  manifest.files.push_back(std::move(f));
  return static_cast<int>(manifest.files.size() - 1);
}

std::vector<ManifestFragment> Manifest::FragmentsOf(int file) const {
  std::vector<ManifestFragment> out;
  for (const ManifestFragment& f : fragments) {
    if (f.file == file) out.push_back(f);
  }
  std::sort(out.begin(), out.end(), [](const ManifestFragment& a, const ManifestFragment& b) {
    return a.extent.fileSector < b.extent.fileSector;
  });
  return out;
}

void DescribeFileLayout(Manifest& manifest, int file, std::vector<FileExtent> extents) {
  std::sort(extents.begin(), extents.end(),
            [](const FileExtent& a, const FileExtent& b) { return a.fileSector < b.fileSector; });
  const auto pageCount = static_cast<std::uint64_t>(manifest.files[file].pageCount);
  const std::uint64_t fileSectors = pageCount * kSpp;
  const SectorMap map(extents);

  for (const FileExtent& e : extents) {
    ManifestFragment f;
    f.file = file;
    f.extent = e;
    const std::uint64_t first = CeilDiv(e.fileSector, kSpp);
    const std::uint64_t end = std::min(CeilDiv(e.fileSector + e.sectorCount, kSpp), pageCount);
    f.firstPage = end > first ? static_cast<std::int64_t>(first) : -1;
    f.pageCount = end > first ? static_cast<std::int64_t>(end - first) : 0;
    f.startSector = end > first ? e.diskSector + (first * kSpp - e.fileSector) : e.diskSector;
    manifest.fragments.push_back(f);
  }

  // Uncovered stretches of the file: pages whose header lies there are lost; a page whose
  // header survives but that reaches into such a stretch is partial.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
  std::uint64_t cursor = 0;
  for (const FileExtent& e : extents) {
    if (e.fileSector > cursor) gaps.emplace_back(cursor, std::min(e.fileSector, fileSectors));
    cursor = std::max(cursor, e.fileSector + e.sectorCount);
  }
  if (cursor < fileSectors) gaps.emplace_back(cursor, fileSectors);
  std::set<std::int64_t> partial;
  for (auto [a, b] : gaps) {
    if (a >= b) continue;
    const std::uint64_t firstLost = CeilDiv(a, kSpp);
    const std::uint64_t endLost = CeilDiv(b, kSpp);
    if (endLost > firstLost) {
      PageRange* last = manifest.lostPages.empty() ? nullptr : &manifest.lostPages.back();
      if (last && last->file == file &&
          last->firstPage + last->pageCount == static_cast<std::int64_t>(firstLost)) {
        last->pageCount += static_cast<std::int64_t>(endLost - firstLost);
      } else {
        manifest.lostPages.push_back({file, static_cast<std::int64_t>(firstLost),
                                      static_cast<std::int64_t>(endLost - firstLost)});
      }
    }
    if (a % kSpp != 0 && map.ExtentOf(a / kSpp * kSpp) >= 0) {
      partial.insert(static_cast<std::int64_t>(a / kSpp));
    }
  }
  for (std::int64_t page : partial) manifest.damagedPages.push_back({file, page, "partial"});

  // Pages with every sector present but not all in one extent.
  std::set<std::uint64_t> candidates;
  for (const FileExtent& e : extents) {
    const std::uint64_t end = e.fileSector + e.sectorCount;
    if (end % kSpp != 0 && end < fileSectors) candidates.insert(end / kSpp);
  }
  for (std::uint64_t page : candidates) {
    if (partial.count(static_cast<std::int64_t>(page)) != 0) continue;
    const std::uint64_t base = page * kSpp;
    const int headExtent = map.ExtentOf(base);
    if (headExtent < 0) continue;  // lost, listed above
    const FileExtent& head = extents[headExtent];
    SplitPage split;
    split.file = file;
    split.page = static_cast<std::int64_t>(page);
    split.headSector = *map.DiskOf(base);
    split.headSectors = static_cast<std::uint32_t>(head.fileSector + head.sectorCount - base);
    const auto next = page + 1 < pageCount ? map.DiskOf(base + kSpp) : std::nullopt;
    bool before = next.has_value();
    for (std::uint64_t j = split.headSectors; before && j < kSpp; ++j) {
      const auto at = map.DiskOf(base + j);
      before = at.has_value() && *at + (kSpp - j) == *next;
    }
    split.tailBeforeNextPage = before;
    split.tailSector = map.DiskOf(base + split.headSectors);
    manifest.splitPages.push_back(split);
    if (!before) manifest.damagedPages.push_back({file, split.page, "split"});
  }
}

void NoteZeroNextPages(Manifest& manifest, int file, const PageSource& source) {
  std::vector<std::uint8_t> page(kPageSize);
  for (SplitPage& s : manifest.splitPages) {
    if (s.file != file || s.page + 1 >= source.PageCount()) continue;
    source.ReadPage(s.page + 1, MutablePage(page.data(), kPageSize));
    s.nextPageZero = std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == 0; });
  }
}

void NoteSplitHardCases(Manifest& manifest, int file) {
  const std::vector<ManifestFragment> fragments = manifest.FragmentsOf(file);
  // The image sector where file sector s lies, if any.
  const auto diskOf = [&](std::uint64_t s) -> std::optional<std::uint64_t> {
    for (const ManifestFragment& f : fragments) {
      const FileExtent& e = f.extent;
      if (s >= e.fileSector && s < e.fileSector + e.sectorCount) {
        return e.diskSector + (s - e.fileSector);
      }
    }
    return std::nullopt;
  };
  const std::int64_t pages = manifest.files[file].pageCount;
  for (const SplitPage& s : manifest.splitPages) {
    if (s.file != file || !s.tailSector) continue;
    if (!s.tailBeforeNextPage) {
      manifest.hardCases.push_back({"detached-tail", file, s.page, 1, *s.tailSector, -1});
      continue;
    }
    if (!s.nextPageZero || s.page + 2 >= pages) continue;
    const auto zeroPage = diskOf(static_cast<std::uint64_t>(s.page + 1) * kSpp);
    const auto afterIt = diskOf(static_cast<std::uint64_t>(s.page + 2) * kSpp);
    if (zeroPage && afterIt && *afterIt == *zeroPage + kSpp) {
      manifest.hardCases.push_back({"split-before-zero-page", file, s.page, 1, *s.tailSector, -1});
    }
  }
}

void MarkUnreadable(Manifest& manifest, std::vector<std::uint64_t> sectors) {
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  std::set<std::pair<int, std::int64_t>> seen;
  for (const DamagedPage& d : manifest.damagedPages) {
    if (d.reason == "unreadable") seen.insert({d.file, d.page});
  }
  for (std::uint64_t s : sectors) {
    for (const ManifestFragment& f : manifest.fragments) {
      const FileExtent& e = f.extent;
      if (s < e.diskSector || s >= e.diskSector + e.sectorCount) continue;
      const auto page = static_cast<std::int64_t>((e.fileSector + (s - e.diskSector)) / kSpp);
      if (page < manifest.files[f.file].pageCount && seen.insert({f.file, page}).second) {
        manifest.damagedPages.push_back({f.file, page, "unreadable"});
      }
    }
  }
  manifest.unreadableSectors.insert(manifest.unreadableSectors.end(), sectors.begin(),
                                    sectors.end());
  std::sort(manifest.unreadableSectors.begin(), manifest.unreadableSectors.end());
}

void ShiftSectors(Manifest& manifest, std::uint64_t delta) {
  for (ManifestFragment& f : manifest.fragments) {
    f.extent.diskSector += delta;
    f.startSector += delta;
  }
  for (SplitPage& s : manifest.splitPages) {
    s.headSector += delta;
    if (s.tailSector) *s.tailSector += delta;
  }
  for (HardCase& h : manifest.hardCases) h.sector += delta;
  for (NoiseRegion& n : manifest.noise) n.sector += delta;
  for (LiveFile& l : manifest.liveFiles) {
    for (FileExtent& e : l.extents) e.diskSector += delta;
  }
  for (std::uint64_t& s : manifest.unreadableSectors) s += delta;
  if (manifest.partition) manifest.partition->startSector += delta;
}

}  // namespace ravelin::gen
