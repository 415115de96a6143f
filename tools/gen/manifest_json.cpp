// The manifest's JSON form (docs/test_data.md lists the fields). Fields added after the
// first manifests were written are optional on reading, so older manifests still load.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "gen/manifest.h"

namespace ravelin::gen {
namespace {

using nlohmann::json;

json ExtentJson(const FileExtent& e) {
  return {{"file_sector", e.fileSector}, {"sectors", e.sectorCount}, {"sector", e.diskSector}};
}
FileExtent ExtentFrom(const json& j) {
  return {j.at("file_sector").get<std::uint64_t>(), j.at("sectors").get<std::uint64_t>(),
          j.at("sector").get<std::uint64_t>()};
}

json PartitionJson(const PartitionInfo& p) {
  return {{"start_sector", p.startSector},
          {"sector_count", p.sectorCount},
          {"file_system", p.fileSystem},
          {"number", p.number},
          {"mbr_type", p.mbrType},
          {"reserved_sectors", p.reservedSectors},
          {"sectors_per_fat", p.sectorsPerFat},
          {"fat_count", p.fatCount},
          {"data_start_sector", p.dataStartSector},
          {"mft_start_cluster", p.mftStartCluster},
          {"cluster_count", p.clusterCount}};
}

PartitionInfo PartitionFrom(const json& p) {
  PartitionInfo info;
  info.startSector = p.at("start_sector").get<std::uint64_t>();
  info.sectorCount = p.at("sector_count").get<std::uint64_t>();
  info.fileSystem = p.at("file_system").get<std::string>();
  info.number = p.value("number", 0);
  info.mbrType = p.at("mbr_type").get<std::uint32_t>();
  info.reservedSectors = p.at("reserved_sectors").get<std::uint64_t>();
  info.sectorsPerFat = p.at("sectors_per_fat").get<std::uint64_t>();
  info.fatCount = p.at("fat_count").get<std::uint32_t>();
  info.dataStartSector = p.at("data_start_sector").get<std::uint64_t>();
  info.mftStartCluster = p.at("mft_start_cluster").get<std::uint64_t>();
  info.clusterCount = p.at("cluster_count").get<std::uint64_t>();
  return info;
}

json FileJson(const Manifest& m, int index) {
  const ManifestFile& f = m.files[index];
  json j = {{"name", f.name},      {"role", f.role},     {"pages", f.pageCount},
            {"file_id", f.fileId}, {"sha256", f.sha256}, {"header_lsn", f.headerLsn}};
  if (f.role == "target") {
    // Derived from lost_pages and damaged_pages, for scripts that compare a rebuilt file
    // with the original page by page; not read back.
    json ranges = json::array();
    for (const PageRange& r : m.UnrecoverablePages(index)) {
      ranges.push_back({r.firstPage, r.pageCount});
    }
    j["unrecoverable_pages"] = ranges;
  }
  return j;
}

}  // namespace

std::string ManifestToJson(const Manifest& m) {
  json j;
  j["kind"] = m.kind;
  j["seed"] = m.seed;
  j["total_sectors"] = m.totalSectors;
  j["sectors_per_cluster"] = m.sectorsPerCluster;
  j["partition"] = m.partition ? PartitionJson(*m.partition) : json(nullptr);
  j["partition_table"] = m.partitionTable.empty() ? json(nullptr) : json(m.partitionTable);
  j["partitions"] = json::array();
  for (const DiskPartition& p : m.partitions) {
    j["partitions"].push_back({{"number", p.number},
                               {"start_sector", p.startSector},
                               {"sector_count", p.sectorCount},
                               {"type", p.type},
                               {"file_system", p.fileSystem},
                               {"holds_database", p.holdsDatabase}});
  }
  j["files"] = json::array();
  for (std::size_t i = 0; i < m.files.size(); ++i) {
    j["files"].push_back(FileJson(m, static_cast<int>(i)));
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
                                {"tail_before_next_page", s.tailBeforeNextPage},
                                {"tail_sector", s.tailSector ? json(*s.tailSector) : json(nullptr)},
                                {"next_page_zero", s.nextPageZero}});
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
  j["hard_cases"] = json::array();
  for (const HardCase& h : m.hardCases) {
    j["hard_cases"].push_back({{"kind", h.kind},
                               {"file", h.file},
                               {"page", h.page},
                               {"pages", h.pageCount},
                               {"sector", h.sector},
                               {"other", h.other}});
  }
  j["noise"] = json::array();
  for (const NoiseRegion& n : m.noise) {
    j["noise"].push_back({{"sector", n.sector}, {"sectors", n.sectorCount}, {"kind", n.kind}});
  }
  j["live_files"] = json::array();
  for (const LiveFile& l : m.liveFiles) {
    json extents = json::array();
    for (const FileExtent& e : l.extents) extents.push_back(ExtentJson(e));
    j["live_files"].push_back({{"name", l.name}, {"partition", l.partition}, {"extents", extents}});
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
    if (!j.at("partition").is_null()) m.partition = PartitionFrom(j.at("partition"));
    if (j.contains("partition_table") && !j.at("partition_table").is_null()) {
      m.partitionTable = j.at("partition_table").get<std::string>();
    }
    for (const json& p : j.value("partitions", json::array())) {
      m.partitions.push_back(
          {p.at("number").get<int>(), p.at("start_sector").get<std::uint64_t>(),
           p.at("sector_count").get<std::uint64_t>(), p.at("type").get<std::string>(),
           p.at("file_system").get<std::string>(), p.at("holds_database").get<bool>()});
    }
    for (const json& f : j.at("files")) {
      m.files.push_back({f.at("name").get<std::string>(), f.at("role").get<std::string>(),
                         f.at("pages").get<std::int64_t>(), f.at("file_id").get<std::uint16_t>(),
                         f.at("sha256").get<std::string>(), f.value("header_lsn", "")});
    }
    for (const json& f : j.at("fragments")) {
      m.fragments.push_back({f.at("file").get<int>(), ExtentFrom(f.at("extent")),
                             f.at("first_page").get<std::int64_t>(),
                             f.at("pages").get<std::int64_t>(),
                             f.at("start_sector").get<std::uint64_t>()});
    }
    for (const json& s : j.at("split_pages")) {
      SplitPage split;
      split.file = s.at("file").get<int>();
      split.page = s.at("page").get<std::int64_t>();
      split.headSector = s.at("head_sector").get<std::uint64_t>();
      split.headSectors = s.at("head_sectors").get<std::uint32_t>();
      split.tailBeforeNextPage = s.at("tail_before_next_page").get<bool>();
      if (s.contains("tail_sector") && !s.at("tail_sector").is_null()) {
        split.tailSector = s.at("tail_sector").get<std::uint64_t>();
      }
      split.nextPageZero = s.value("next_page_zero", false);
      m.splitPages.push_back(split);
    }
    for (const json& r : j.at("lost_pages")) {
      m.lostPages.push_back({r.at("file").get<int>(), r.at("first_page").get<std::int64_t>(),
                             r.at("pages").get<std::int64_t>()});
    }
    for (const json& d : j.at("damaged_pages")) {
      m.damagedPages.push_back({d.at("file").get<int>(), d.at("page").get<std::int64_t>(),
                                d.at("reason").get<std::string>()});
    }
    for (const json& h : j.value("hard_cases", json::array())) {
      m.hardCases.push_back({h.at("kind").get<std::string>(), h.at("file").get<int>(),
                             h.at("page").get<std::int64_t>(), h.at("pages").get<std::int64_t>(),
                             h.at("sector").get<std::uint64_t>(), h.at("other").get<int>()});
    }
    for (const json& n : j.at("noise")) {
      m.noise.push_back({n.at("sector").get<std::uint64_t>(), n.at("sectors").get<std::uint64_t>(),
                         n.at("kind").get<std::string>()});
    }
    for (const json& l : j.at("live_files")) {
      LiveFile live{l.at("name").get<std::string>(), {}, l.value("partition", 0)};
      for (const json& e : l.at("extents")) live.extents.push_back(ExtentFrom(e));
      m.liveFiles.push_back(std::move(live));
    }
    m.unreadableSectors = j.at("unreadable_sectors").get<std::vector<std::uint64_t>>();
    std::vector<int> refs;
    for (const ManifestFragment& f : m.fragments) refs.push_back(f.file);
    for (const SplitPage& s : m.splitPages) refs.push_back(s.file);
    for (const PageRange& r : m.lostPages) refs.push_back(r.file);
    for (const DamagedPage& d : m.damagedPages) refs.push_back(d.file);
    for (const HardCase& h : m.hardCases) {
      refs.push_back(h.file);
      if (h.other != -1) refs.push_back(h.other);
    }
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
