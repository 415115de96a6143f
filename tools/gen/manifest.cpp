#include "gen/manifest.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace ravelin::gen {
namespace {

using nlohmann::json;
constexpr std::uint64_t kSpp = ravelin::kSectorsPerPage;

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

json ExtentJson(const FileExtent& e) {
  return {{"file_sector", e.fileSector}, {"sectors", e.sectorCount}, {"sector", e.diskSector}};
}
FileExtent ExtentFrom(const json& j) {
  return {j.at("file_sector").get<std::uint64_t>(), j.at("sectors").get<std::uint64_t>(),
          j.at("sector").get<std::uint64_t>()};
}

}  // namespace

int Manifest::TargetFile() const {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].role == "target") return static_cast<int>(i);
  }
  return -1;
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
    manifest.splitPages.push_back(split);
    if (!before) manifest.damagedPages.push_back({file, split.page, "split"});
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
  for (SplitPage& s : manifest.splitPages) s.headSector += delta;
  for (NoiseRegion& n : manifest.noise) n.sector += delta;
  for (LiveFile& l : manifest.liveFiles) {
    for (FileExtent& e : l.extents) e.diskSector += delta;
  }
  for (std::uint64_t& s : manifest.unreadableSectors) s += delta;
  if (manifest.partition) manifest.partition->startSector += delta;
}

std::string ManifestToJson(const Manifest& m) {
  json j;
  j["kind"] = m.kind;
  j["seed"] = m.seed;
  j["total_sectors"] = m.totalSectors;
  j["sectors_per_cluster"] = m.sectorsPerCluster;
  if (m.partition) {
    const PartitionInfo& p = *m.partition;
    j["partition"] = {{"start_sector", p.startSector},
                      {"sector_count", p.sectorCount},
                      {"file_system", p.fileSystem},
                      {"mbr_type", p.mbrType},
                      {"reserved_sectors", p.reservedSectors},
                      {"sectors_per_fat", p.sectorsPerFat},
                      {"fat_count", p.fatCount},
                      {"data_start_sector", p.dataStartSector},
                      {"mft_start_cluster", p.mftStartCluster},
                      {"cluster_count", p.clusterCount}};
  } else {
    j["partition"] = nullptr;
  }
  j["files"] = json::array();
  for (const ManifestFile& f : m.files) {
    j["files"].push_back({{"name", f.name},
                          {"role", f.role},
                          {"pages", f.pageCount},
                          {"file_id", f.fileId},
                          {"sha256", f.sha256}});
  }
  j["fragments"] = json::array();
  for (const ManifestFragment& f : m.fragments) {
    j["fragments"].push_back({{"file", f.file},
                              {"extent", ExtentJson(f.extent)},
                              {"first_page", f.firstPage},
                              {"pages", f.pageCount},
                              {"start_sector", f.startSector}});
  }
  j["split_pages"] = json::array();
  for (const SplitPage& s : m.splitPages) {
    j["split_pages"].push_back({{"file", s.file},
                                {"page", s.page},
                                {"head_sector", s.headSector},
                                {"head_sectors", s.headSectors},
                                {"tail_before_next_page", s.tailBeforeNextPage}});
  }
  j["lost_pages"] = json::array();
  for (const PageRange& r : m.lostPages) {
    j["lost_pages"].push_back(
        {{"file", r.file}, {"first_page", r.firstPage}, {"pages", r.pageCount}});
  }
  j["damaged_pages"] = json::array();
  for (const DamagedPage& d : m.damagedPages) {
    j["damaged_pages"].push_back({{"file", d.file}, {"page", d.page}, {"reason", d.reason}});
  }
  j["noise"] = json::array();
  for (const NoiseRegion& n : m.noise) {
    j["noise"].push_back({{"sector", n.sector}, {"sectors", n.sectorCount}, {"kind", n.kind}});
  }
  j["live_files"] = json::array();
  for (const LiveFile& l : m.liveFiles) {
    json extents = json::array();
    for (const FileExtent& e : l.extents) extents.push_back(ExtentJson(e));
    j["live_files"].push_back({{"name", l.name}, {"extents", extents}});
  }
  j["unreadable_sectors"] = m.unreadableSectors;
  return j.dump(1) + "\n";
}

Status ManifestFromJson(const std::string& text, Manifest& m) {
  m = Manifest{};
  try {
    const json j = json::parse(text);
    m.kind = j.at("kind").get<std::string>();
    m.seed = j.at("seed").get<std::uint64_t>();
    m.totalSectors = j.at("total_sectors").get<std::uint64_t>();
    m.sectorsPerCluster = j.at("sectors_per_cluster").get<std::uint32_t>();
    if (!j.at("partition").is_null()) {
      const json& p = j.at("partition");
      PartitionInfo info;
      info.startSector = p.at("start_sector").get<std::uint64_t>();
      info.sectorCount = p.at("sector_count").get<std::uint64_t>();
      info.fileSystem = p.at("file_system").get<std::string>();
      info.mbrType = p.at("mbr_type").get<std::uint32_t>();
      info.reservedSectors = p.at("reserved_sectors").get<std::uint64_t>();
      info.sectorsPerFat = p.at("sectors_per_fat").get<std::uint64_t>();
      info.fatCount = p.at("fat_count").get<std::uint32_t>();
      info.dataStartSector = p.at("data_start_sector").get<std::uint64_t>();
      info.mftStartCluster = p.at("mft_start_cluster").get<std::uint64_t>();
      info.clusterCount = p.at("cluster_count").get<std::uint64_t>();
      m.partition = info;
    }
    for (const json& f : j.at("files")) {
      m.files.push_back({f.at("name").get<std::string>(), f.at("role").get<std::string>(),
                         f.at("pages").get<std::int64_t>(), f.at("file_id").get<std::uint16_t>(),
                         f.at("sha256").get<std::string>()});
    }
    for (const json& f : j.at("fragments")) {
      m.fragments.push_back({f.at("file").get<int>(), ExtentFrom(f.at("extent")),
                             f.at("first_page").get<std::int64_t>(),
                             f.at("pages").get<std::int64_t>(),
                             f.at("start_sector").get<std::uint64_t>()});
    }
    for (const json& s : j.at("split_pages")) {
      m.splitPages.push_back({s.at("file").get<int>(), s.at("page").get<std::int64_t>(),
                              s.at("head_sector").get<std::uint64_t>(),
                              s.at("head_sectors").get<std::uint32_t>(),
                              s.at("tail_before_next_page").get<bool>()});
    }
    for (const json& r : j.at("lost_pages")) {
      m.lostPages.push_back({r.at("file").get<int>(), r.at("first_page").get<std::int64_t>(),
                             r.at("pages").get<std::int64_t>()});
    }
    for (const json& d : j.at("damaged_pages")) {
      m.damagedPages.push_back({d.at("file").get<int>(), d.at("page").get<std::int64_t>(),
                                d.at("reason").get<std::string>()});
    }
    for (const json& n : j.at("noise")) {
      m.noise.push_back({n.at("sector").get<std::uint64_t>(), n.at("sectors").get<std::uint64_t>(),
                         n.at("kind").get<std::string>()});
    }
    for (const json& l : j.at("live_files")) {
      LiveFile live{l.at("name").get<std::string>(), {}};
      for (const json& e : l.at("extents")) live.extents.push_back(ExtentFrom(e));
      m.liveFiles.push_back(std::move(live));
    }
    m.unreadableSectors = j.at("unreadable_sectors").get<std::vector<std::uint64_t>>();
    std::vector<int> refs;
    for (const ManifestFragment& f : m.fragments) refs.push_back(f.file);
    for (const SplitPage& s : m.splitPages) refs.push_back(s.file);
    for (const PageRange& r : m.lostPages) refs.push_back(r.file);
    for (const DamagedPage& d : m.damagedPages) refs.push_back(d.file);
    for (int file : refs) {
      if (file < 0 || static_cast<std::size_t>(file) >= m.files.size()) {
        return Status::BadInput("manifest names file " + std::to_string(file) + " of " +
                                std::to_string(m.files.size()));
      }
    }
  } catch (const json::exception& e) {
    return Status::BadInput(std::string("malformed manifest: ") + e.what());
  }
  return Status::Ok();
}

Status WriteManifest(const Manifest& manifest, const std::string& path) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << ManifestToJson(manifest);
    out.flush();
    if (!out) return Status::IoError("cannot write " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return Status::IoError("cannot rename " + temporary + " to " + path);
  }
  return Status::Ok();
}

Status ReadManifest(const std::string& path, Manifest& manifest) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::BadInput("cannot open " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return ManifestFromJson(text.str(), manifest);
}

}  // namespace ravelin::gen
