#include "gen/sample_image.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "gen/database_generator.h"
#include "gen/fs_mbr.h"
#include "gen/image_decoys.h"
#include "gen/image_writer.h"
#include "gen/real_file_source.h"

namespace ravelin::gen {
namespace {

constexpr std::uint32_t kClusterSectors = 4;  // a page spans four clusters: holes split pages
constexpr std::int64_t kGeneratedPages = 400;
constexpr int kLayoutTries = 16;

// Checksum first: its older copy's header LSN can be lowered (checksum-2005's is 0:0:1).
constexpr const char* kRealFiles[] = {"checksum-2014.mdf", "tornpage-2008r2.mdf",
                                      "checksum-2005.mdf"};

std::string WithoutExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// A split page whose tail lies before the next page in the newer copy, and nothing either
// copy loses: a demonstration recovery can then give both back whole.
bool ShowsARepairableSplit(const Manifest& m) {
  for (int t : m.TargetFiles()) {
    if (!m.UnrecoverablePages(t).empty()) return false;
  }
  for (const SplitPage& s : m.splitPages) {
    if (s.file == 0 && s.tailBeforeNextPage) return true;
  }
  return false;
}

DiskImageOptions SampleLayout(std::uint64_t seed) {
  DiskImageOptions o;
  o.table = PartitionTableKind::kMbr;
  o.fat32.seed = seed;
  o.fat32.sectorsPerCluster = kClusterSectors;
  o.fat32.decoys.count = 12;
  o.fat32.decoys.minClusters = 1;
  o.fat32.decoys.maxClusters = 24;
  o.fat32.databaseName = "SHOP.MDF";
  return o;
}

}  // namespace

Status BuildSample(const SampleOptions& o, const std::string& imagePath, Manifest& manifest,
                   SampleFiles* files) {
  manifest = Manifest{};
  // The newer copy and the older one.
  std::unique_ptr<RealFileSource> real;
  for (const char* name : kRealFiles) {
    if (o.realDir.empty()) break;
    struct stat st {};
    const std::string path = o.realDir + "/" + name;
    if (::stat(path.c_str(), &st) != 0) continue;
    if (Status s = RealFileSource::Open(path, real); !s.ok()) return s;
    break;
  }
  std::vector<std::unique_ptr<PageSource>> owned;
  const PageSource* newer = nullptr;
  const PageSource* older = nullptr;
  if (real) {
    newer = real.get();
    owned.push_back(std::make_unique<PatchedPageSource>(
        *real, PagePatch{std::nullopt, kOlderAge}, WithoutExtension(real->Name()) + "-older.mdf"));
    older = owned.back().get();
  } else {
    DatabaseSpec design;
    design.logicalName = "sample";
    design.physicalPath = R"(C:\Program Files\Microsoft SQL Server\MSSQL\DATA\sample.mdf)";
    design.pageCount = kGeneratedPages;
    design.seed = o.seed;
    design.generation = 2;
    owned.push_back(std::make_unique<DatabaseGenerator>(design));
    owned.push_back(std::make_unique<RenamedSource>(*owned.back(), "sample.mdf"));
    newer = owned.back().get();
    design.generation = 1;
    owned.push_back(std::make_unique<DatabaseGenerator>(design));
    owned.push_back(std::make_unique<RenamedSource>(*owned.back(), "sample-older.mdf"));
    older = owned.back().get();
  }

  // Holes of whole clusters cut pages almost always, but a hole can also hold nothing but a
  // page's tail, which no recovery mends. The next layout seed is tried until the newer
  // copy has a repairable split page and neither copy has a page it cannot give back.
  Status built;
  for (int attempt = 0; attempt < kLayoutTries; ++attempt) {
    built =
        BuildDiskImage({newer, older}, SampleLayout(o.seed + 0x100 * attempt), imagePath, manifest);
    if (!built.ok()) return built;
    if (ShowsARepairableSplit(manifest)) break;
    built = Status::ToolFailed("no layout gave the sample a repairable split page");
  }
  if (!built.ok()) {
    std::remove(imagePath.c_str());
    return built;
  }
  if (Status s =
          WriteManifest(manifest, o.manifestPath.empty() ? imagePath + ".json" : o.manifestPath);
      !s.ok()) {
    return s;
  }
  if (!o.originalsDir.empty()) {
    for (const PageSource* source : {newer, older}) {
      if (Status s = WriteSourceFile(*source, o.originalsDir + "/" + source->Name()); !s.ok()) {
        return s;
      }
    }
  }
  if (files != nullptr) *files = {newer->Name(), older->Name(), real != nullptr};
  return Status::Ok();
}

}  // namespace ravelin::gen
