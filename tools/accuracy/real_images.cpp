#include "accuracy/real_images.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "datasource/fault_device.h"
#include "gen/fs_fat32.h"
#include "gen/fs_mbr.h"
#include "gen/fs_ntfs.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"

namespace ravelin::accuracy {

namespace fs = std::filesystem;

std::string KindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::kRaw:
      return "raw";
    case ImageKind::kFat32:
      return "fat32";
    case ImageKind::kNtfs:
      return "ntfs";
    case ImageKind::kMbr:
      return "mbr";
    case ImageKind::kGpt:
      return "gpt";
  }
  return "?";
}

gen::Status OpenFiles(const std::string& dir, const std::vector<std::string>& names,
                      OpenedFiles& opened) {
  for (const std::string& name : names) {
    opened.files.emplace_back();
    if (gen::Status s = gen::RealFileSource::Open(dir + "/" + name, opened.files.back()); !s.ok())
      return s;
    opened.targets.push_back(opened.files.back().get());
  }
  return gen::Status::Ok();
}

gen::Status BuildImage(const ImageCase& c, const OpenedFiles& files, const std::string& image,
                       gen::Manifest& m) {
  gen::LiveDecoyOptions decoys;
  decoys.count = 10;
  // Decoys as large as the database's pieces, so the holes it is copied into are large.
  decoys.minClusters = std::max(1u, 64u / c.cluster);
  decoys.maxClusters = std::max(2u, 1024u / c.cluster);
  if (c.fewHoles) {
    decoys.count = 4;
    decoys.minClusters = std::max(1u, 2048u / c.cluster);
    decoys.maxClusters = std::max(2u, 8192u / c.cluster);
  }
  switch (c.kind) {
    case ImageKind::kRaw: {
      gen::RawImageOptions r;
      r.seed = c.seed;
      r.sectorsPerCluster = c.cluster;
      r.fragments = 10;
      r.splitPages = c.splitPages;
      r.unreadableSectors = c.unreadable;
      r.maxGapClusters = std::max(2u, 256u / c.cluster);
      r.zeroGapShare = 0.3;
      return gen::BuildRawImage(files.targets, gen::DecoySources{}, r, image, m);
    }
    case ImageKind::kFat32: {
      gen::Fat32ImageOptions f;
      f.seed = c.seed;
      f.sectorsPerCluster = c.cluster;
      f.decoys = decoys;
      return gen::BuildFat32Image(files.targets, f, image, m);
    }
    case ImageKind::kNtfs: {
      gen::NtfsImageOptions n;
      n.seed = c.seed;
      n.sectorsPerCluster = c.cluster;
      n.decoys = decoys;
      n.decoys.count = 6;
      n.fragments = 8;
      return gen::BuildNtfsImage(files.targets, n, image, m);
    }
    case ImageKind::kMbr:
    case ImageKind::kGpt: {
      gen::DiskImageOptions d;
      d.table =
          c.kind == ImageKind::kGpt ? gen::PartitionTableKind::kGpt : gen::PartitionTableKind::kMbr;
      d.fileSystem = c.volume;
      d.fat32.seed = d.ntfs.seed = c.seed;
      d.fat32.sectorsPerCluster = d.ntfs.sectorsPerCluster = c.cluster;
      d.fat32.decoys = d.ntfs.decoys = decoys;
      return gen::BuildDiskImage(files.targets, d, image, m);
    }
  }
  return gen::Status::BadInput("unknown kind of image");
}

Recovered RecoverAndJudge(const OpenedFiles& files, const gen::Manifest& m,
                          const std::string& image, const std::string& dir, bool partitionOne) {
  Recovered r;
  cli::CliEnv env;
  const std::set<std::uint64_t> bad(m.unreadableSectors.begin(), m.unreadableSectors.end());
  if (!bad.empty()) {
    env.opener = [bad](const std::string& path) {
      OpenResult opened = OpenSystemDevice(path);
      if (opened.device)
        opened.device = std::make_unique<FaultyDevice>(std::move(opened.device), bad);
      return opened;
    };
  }
  cli::RecoverOptions ro;
  ro.scan.source.source = image;
  if (partitionOne) ro.scan.source.partition = 1;
  ro.scan.progress = cli::ScanOptions::ProgressStyle::kNone;
  ro.outDir = dir + "/out";
  ro.json = dir + "/report.json";
  std::error_code ignored;
  fs::remove_all(ro.outDir, ignored);
  fs::remove(ro.json, ignored);
  fs::create_directories(ro.outDir);
  std::ostringstream out, err;
  const auto started = std::chrono::steady_clock::now();
  r.exitCode = cli::RunRecover(ro, env, out, err);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (r.exitCode != 0) r.errors = err.str();
  nlohmann::json report;
  if (std::ifstream in(ro.json); in) report = nlohmann::json::parse(in, nullptr, false);

  const std::vector<int> targets = m.TargetFiles();
  for (std::size_t i = 0; i < targets.size() && i < files.targets.size(); ++i) {
    std::uint64_t headerSector = 0;
    bool findable = false;
    for (const gen::ManifestFragment& f : m.FragmentsOf(targets[i])) {
      if (f.firstPage != 0) continue;
      headerSector = f.startSector;
      findable = f.pageCount > 1;
    }
    r.findable.push_back(findable);
    std::string output;
    std::set<std::int64_t> named;
    if (report.is_object()) {
      for (const auto& f : report["files"]) {
        if (f["start_sector"].get<std::uint64_t>() != headerSector || f["output"].is_null())
          continue;
        output = f["output"].get<std::string>();
        if (f.contains("account"))
          for (const auto& p : f["account"]["problem_pages"])
            named.insert(p["page"].get<std::int64_t>());
      }
    }
    std::vector<const gen::PageSource*> others;
    for (std::size_t k = 0; k < files.targets.size(); ++k)
      if (k != i) others.push_back(files.targets[k]);
    r.judgements.push_back(output.empty() ? gen::RecoveryJudgement{}
                                          : gen::JudgeRecovery(*files.targets[i], output,
                                                               m.UnrecoverablePages(targets[i]),
                                                               named, others));
  }
  return r;
}

}  // namespace ravelin::accuracy
