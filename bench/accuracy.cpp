// The accuracy benchmark: SQL Server's own database files, laid on disk images by the real
// file-system tools (or cut into raw images with noise), deleted, recovered with `ravelin
// recover` (in-process, so that unreadable sectors can be injected) and held to their
// originals. One line per class of image, and every judgement in a JSON file.
//
//   ravelin-accuracy REAL_DIR [--json OUT.json] [--work DIR] [--only CLASS] [--case N] [--keep]
//                    [--verbose]
// --case N runs only the N-th image (the number --verbose and the JSON give); --keep leaves
// the images, their manifests' folders and the rebuilt files in the work folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "datasource/fault_device.h"
#include "gen/fs_fat32.h"
#include "gen/fs_mbr.h"
#include "gen/fs_ntfs.h"
#include "gen/fs_tools.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/real_file_source.h"
#include "gen/recovery_judge.h"

namespace fs = std::filesystem;
using namespace ravelin;

namespace {

enum class Kind { kRaw, kFat32, kNtfs, kMbr, kGpt };

struct Case {
  Case(std::string k, Kind d, std::uint32_t c, std::vector<std::string> f)
      : klass(std::move(k)), kind(d), cluster(c), files(std::move(f)) {}
  std::string klass;  // the class its recovery counts in
  Kind kind;
  std::uint32_t cluster;
  std::vector<std::string> files;  // the deleted databases (targets)
  bool versions = false;           // the targets are two versions of one database
  int splitPages = 0;              // raw: pieces that end inside a page
  int unreadable = 0;              // sectors the reader refuses
  bool fewHoles = false;           // file systems: a few large decoys, so a few large holes
  std::uint64_t seed = 1;
  // Whole disks: the class of a second recovery of the same image with --partition 1.
  std::string partitionClass;
};

std::string KindName(Kind k) {
  switch (k) {
    case Kind::kRaw:
      return "raw";
    case Kind::kFat32:
      return "fat32";
    case Kind::kNtfs:
      return "ntfs";
    case Kind::kMbr:
      return "mbr";
    case Kind::kGpt:
      return "gpt";
  }
  return "?";
}

const std::vector<std::string> kAll = {
    "checksum-2005.mdf",           "tornpage-2008r2.mdf",           "checksum-2014.mdf",
    "tornpage-2005-northwind.mdf", "checksum-2005-renthouse-a.mdf", "checksum-2005-renthouse-b.mdf",
    "checksum-2008-trivia-a.mdf",  "checksum-2008-trivia-b.mdf",    "checksum-2008-aspnetdb.mdf",
    "checksum-2008-northwind.mdf", "checksum-2008-pubs.mdf",        "checksum-2016-teahouse.mdf",
    "checksum-2019-education.mdf"};

const std::vector<std::pair<std::string, std::string>> kVersionPairs = {
    {"tornpage-2005-northwind.mdf", "tornpage-2008r2.mdf"},
    {"checksum-2005-renthouse-a.mdf", "checksum-2005-renthouse-b.mdf"},
    {"checksum-2008-trivia-a.mdf", "checksum-2008-trivia-b.mdf"}};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  std::uint64_t seed = 11;
  // Raw images: every file at every cluster size; pieces cut inside pages where clusters are
  // smaller than a page.
  for (std::uint32_t cluster : {1u, 4u, 8u, 64u}) {
    for (const std::string& f : kAll) {
      Case c{"raw-" + std::to_string(cluster), Kind::kRaw, cluster, {f}};
      c.splitPages = cluster < 16 ? 3 : 0;
      c.seed = seed++;
      cases.push_back(c);
    }
  }
  // File systems: the database copied into the holes of a full volume, then deleted.
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    const std::uint32_t cluster = i % 3 == 0 ? 1 : i % 3 == 1 ? 4 : 8;
    cases.emplace_back("fat32", Kind::kFat32, cluster, std::vector<std::string>{kAll[i]});
    cases.back().seed = seed++;
  }
  for (std::size_t i = 0; i < kAll.size(); i += 2) {
    cases.emplace_back("ntfs", Kind::kNtfs, i % 4 == 0 ? 8u : 1u,
                       std::vector<std::string>{kAll[i]});
    cases.back().seed = seed++;
  }
  // Whole disks holding an 8-sector-cluster FAT32 volume (a few large holes), recovered as
  // the whole disk with no options and again as partition 1.
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    Case c{"disk", i % 2 == 0 ? Kind::kMbr : Kind::kGpt, 8, {kAll[i]}};
    c.fewHoles = true;
    c.seed = seed++;
    c.partitionClass = "disk-partition-1";
    cases.push_back(c);
  }
  // Two unrelated databases deleted from one disk.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"checksum-2008-pubs.mdf", "checksum-2014.mdf"},
      {"tornpage-2008r2.mdf", "checksum-2019-education.mdf"},
      {"checksum-2005.mdf", "checksum-2008-northwind.mdf"}};
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const Kind kind = i == 0 ? Kind::kRaw : Kind::kFat32;
    Case c{"two-databases", kind, i == 0 ? 8u : 4u, {pairs[i].first, pairs[i].second}};
    c.splitPages = kind == Kind::kRaw ? 2 : 0;
    c.seed = seed++;
    cases.push_back(c);
  }
  // Each pair of versions of one database, interleaved on a raw disk, a FAT32 volume and a
  // whole disk.
  for (const auto& [a, b] : kVersionPairs) {
    const std::vector<std::pair<Kind, std::uint32_t>> places = {
        {Kind::kRaw, 1}, {Kind::kRaw, 8}, {Kind::kFat32, 4}, {Kind::kFat32, 8}, {Kind::kMbr, 8}};
    for (const auto& [kind, cluster] : places) {
      Case c{"versions", kind, cluster, {a, b}};
      c.versions = true;
      c.splitPages = kind == Kind::kRaw ? 2 : 0;
      c.seed = seed++;
      cases.push_back(c);
    }
  }
  // Unreadable sectors, half of them inside the database's pieces.
  for (std::size_t i = 1; i < kAll.size(); i += 3) {
    Case c{"unreadable", Kind::kRaw, 8, {kAll[i]}};
    c.unreadable = 8;
    c.seed = seed++;
    cases.push_back(c);
  }
  return cases;
}

struct Opened {
  std::vector<std::unique_ptr<gen::RealFileSource>> files;
  std::vector<const gen::PageSource*> targets;
};

gen::Status Build(const Case& c, const Opened& o, const std::string& image, gen::Manifest& m) {
  gen::LiveDecoyOptions decoys;
  decoys.count = 10;
  // Decoys as large as the database's pieces, so the holes it is copied into are large.
  decoys.minClusters = std::max(1u, 64u / c.cluster);
  decoys.maxClusters = std::max(2u, 1024u / c.cluster);
  if (c.fewHoles) {
    decoys.count = 4;
    decoys.minClusters = 2048 / c.cluster;
    decoys.maxClusters = 8192 / c.cluster;
  }
  switch (c.kind) {
    case Kind::kRaw: {
      gen::RawImageOptions r;
      r.seed = c.seed;
      r.sectorsPerCluster = c.cluster;
      r.fragments = 10;
      r.splitPages = c.splitPages;
      r.unreadableSectors = c.unreadable;
      r.maxGapClusters = std::max(2u, 256u / c.cluster);
      r.zeroGapShare = 0.3;
      return gen::BuildRawImage(o.targets, gen::DecoySources{}, r, image, m);
    }
    case Kind::kFat32: {
      gen::Fat32ImageOptions f;
      f.seed = c.seed;
      f.sectorsPerCluster = c.cluster;
      f.decoys = decoys;
      return gen::BuildFat32Image(o.targets, f, image, m);
    }
    case Kind::kNtfs: {
      gen::NtfsImageOptions n;
      n.seed = c.seed;
      n.sectorsPerCluster = c.cluster;
      n.decoys = decoys;
      n.decoys.count = 6;
      n.fragments = 8;
      return gen::BuildNtfsImage(o.targets, n, image, m);
    }
    case Kind::kMbr:
    case Kind::kGpt: {
      gen::DiskImageOptions d;
      d.table =
          c.kind == Kind::kGpt ? gen::PartitionTableKind::kGpt : gen::PartitionTableKind::kMbr;
      d.fat32.seed = c.seed;
      d.fat32.sectorsPerCluster = c.cluster;
      d.fat32.decoys = decoys;
      return gen::BuildDiskImage(o.targets, d, image, m);
    }
  }
  return gen::Status::BadInput("unknown kind");
}

struct Outcome {
  std::string klass, image;
  int index = 0;  // of the case, from 1 (--case)
  std::vector<std::string> files;
  int exitCode = 0;
  std::vector<gen::RecoveryJudgement> judgements;
  // Per target: whether a scan can find it at all. A file is found by its page 0 followed by
  // its PFS page; where page 0 lies alone in its piece, no file starts there.
  std::vector<bool> findable;
  double seconds = 0;
};

// Runs `ravelin recover` on the image and judges each target's rebuilt file.
Outcome Recover(const Case& c, const std::string& klass, bool partitionOne, const Opened& o,
                const gen::Manifest& m, const std::string& image, const std::string& dir) {
  Outcome r;
  r.klass = klass;
  r.files = c.files;
  r.image = fs::path(image).filename().string() + (partitionOne ? " --partition 1" : "");
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
  fs::remove_all(ro.outDir);
  fs::create_directories(ro.outDir);
  std::ostringstream out, err;
  const auto started = std::chrono::steady_clock::now();
  r.exitCode = cli::RunRecover(ro, env, out, err);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  nlohmann::json report;
  if (std::ifstream in(ro.json); in) report = nlohmann::json::parse(in, nullptr, false);

  const std::vector<int> targets = m.TargetFiles();
  for (std::size_t i = 0; i < targets.size(); ++i) {
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
    for (std::size_t k = 0; k < o.targets.size(); ++k)
      if (k != i) others.push_back(o.targets[k]);
    r.judgements.push_back(output.empty() ? gen::RecoveryJudgement{}
                                          : gen::JudgeRecovery(*o.targets[i], output,
                                                               m.UnrecoverablePages(targets[i]),
                                                               named, others));
  }
  return r;
}

struct Tally {
  int files = 0, sound = 0, identical = 0, unfindable = 0;
  std::int64_t allocated = 0, allocatedRight = 0, otherPages = 0, foreign = 0, wrong = 0,
               unnamed = 0;
  double seconds = 0;

  void Add(const gen::RecoveryJudgement& j) {
    Add(Tally{1, j.Sound() ? 1 : 0, j.identical ? 1 : 0, 0, j.allocated, j.allocatedRight,
              j.otherFilePages, j.foreignFreePages, j.wrongPages, j.wrongUnnamed, 0});
  }
  void Add(const Tally& t) {
    files += t.files;
    sound += t.sound;
    identical += t.identical;
    unfindable += t.unfindable;
    allocated += t.allocated;
    allocatedRight += t.allocatedRight;
    otherPages += t.otherPages;
    foreign += t.foreign;
    wrong += t.wrong;
    unnamed += t.unnamed;
    seconds += t.seconds;
  }
  void Print(const std::string& name) const {
    std::printf("%-18s %4d/%-3d %9d %8lld/%-8lld %11lld %12lld %8lld %8lld %7.1f\n", name.c_str(),
                sound, files, identical, static_cast<long long>(allocatedRight),
                static_cast<long long>(allocated), static_cast<long long>(otherPages),
                static_cast<long long>(foreign), static_cast<long long>(wrong),
                static_cast<long long>(unnamed), seconds);
  }
  nlohmann::json Json() const {
    return {{"files", files},
            {"sound", sound},
            {"identical", identical},
            {"allocated", allocated},
            {"allocated_right", allocatedRight},
            {"other_file_pages", otherPages},
            {"foreign_free_pages", foreign},
            {"wrong_pages", wrong},
            {"wrong_unnamed", unnamed},
            {"seconds", seconds},
            {"unfindable", unfindable}};
  }
};

nlohmann::json JudgementJson(const gen::RecoveryJudgement& j) {
  return {{"written", j.written},
          {"sound", j.Sound()},
          {"identical", j.identical},
          {"size_right", j.sizeRight},
          {"allocated", j.allocated},
          {"allocated_right", j.allocatedRight},
          {"lost_zero", j.lostZero},
          {"lost_not_zero", j.lostNotZero},
          {"other_file_pages", j.otherFilePages},
          {"foreign_free_pages", j.foreignFreePages},
          {"wrong_pages", j.wrongPages},
          {"wrong_unnamed", j.wrongUnnamed},
          {"wrong_sample", j.wrongSample}};
}

}  // namespace

int main(int argc, char** argv) {
  std::string realDir, jsonPath = "accuracy.json", only;
  std::string work = (fs::temp_directory_path() / "ravelin-accuracy").string();
  bool verbose = false, keep = false;
  int onlyCase = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json" && i + 1 < argc) {
      jsonPath = argv[++i];
    } else if (a == "--work" && i + 1 < argc) {
      work = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (a == "--case" && i + 1 < argc) {
      onlyCase = std::atoi(argv[++i]);
    } else if (a == "--keep") {
      keep = true;
    } else if (a == "--verbose") {
      verbose = true;
    } else if (realDir.empty() && a[0] != '-') {
      realDir = a;
    } else {
      std::cerr << "usage: ravelin-accuracy REAL_DIR [--json OUT] [--work DIR] [--only CLASS] "
                   "[--case N] [--keep] [--verbose]\n";
      return 2;
    }
  }
  if (realDir.empty()) {
    std::cerr << "ravelin-accuracy: the folder of real database files is needed\n";
    return 2;
  }
  if (gen::Status s = gen::RequireTools({"mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat",
                                         "mkntfs", "ntfscp", "ntfscat", "ntfsinfo", "sfdisk"});
      !s.ok()) {
    std::cerr << "ravelin-accuracy: " << s.message() << "\n";
    return 3;
  }
  fs::create_directories(work);

  std::vector<std::string> order;
  std::map<std::string, Tally> tallies;
  nlohmann::json runs = nlohmann::json::array();
  const auto count = [&](const Outcome& r) {
    if (!tallies.count(r.klass)) order.push_back(r.klass);
    Tally& t = tallies[r.klass];
    t.seconds += r.seconds;
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < r.judgements.size(); ++i) {
      const gen::RecoveryJudgement& j = r.judgements[i];
      if (!r.findable[i] && !j.written) {
        ++t.unfindable;
        files.push_back({{"file", r.files[i]}, {"findable", false}});
        continue;
      }
      t.Add(j);
      nlohmann::json jj = JudgementJson(j);
      jj["file"] = r.files[i];
      files.push_back(jj);
      if (verbose && !j.Sound()) {
        std::cerr << r.klass << " #" << r.index << " " << r.image << " " << r.files[i]
                  << ": written " << j.written << ", allocated right " << j.allocatedRight << "/"
                  << j.allocated << ", other-file pages " << j.otherFilePages << ", foreign free "
                  << j.foreignFreePages << ", unnamed " << j.wrongUnnamed << ", pages";
        for (std::int64_t p : j.wrongSample) std::cerr << " " << p;
        std::cerr << "\n";
      }
    }
    runs.push_back({{"class", r.klass},
                    {"case", r.index},
                    {"image", r.image},
                    {"exit_code", r.exitCode},
                    {"seconds", r.seconds},
                    {"files", files}});
  };

  const auto started = std::chrono::steady_clock::now();
  int index = 0;
  for (const Case& c : Cases()) {
    ++index;
    if (!only.empty() && c.klass != only && c.partitionClass != only) continue;
    if (onlyCase != 0 && index != onlyCase) continue;
    Opened o;
    bool missing = false;
    for (const std::string& f : c.files) {
      o.files.emplace_back();
      if (!gen::RealFileSource::Open(realDir + "/" + f, o.files.back()).ok()) missing = true;
      o.targets.push_back(o.files.back().get());
    }
    if (missing) {
      std::cerr << "skipped (file missing): " << c.files.front() << "\n";
      continue;
    }
    const std::string dir = work + "/case" + std::to_string(index);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string image = dir + "/" + KindName(c.kind) + "-c" + std::to_string(c.cluster) +
                              "-" + fs::path(c.files.front()).stem().string() + ".img";
    gen::Manifest m;
    if (gen::Status s = Build(c, o, image, m); !s.ok()) {
      std::cerr << "cannot build " << image << ": " << s.message() << "\n";
      fs::remove_all(dir);
      continue;
    }
    if (keep) (void)gen::WriteManifest(m, image + ".json");
    Outcome first = Recover(c, c.klass, false, o, m, image, dir);
    first.index = index;
    count(first);
    if (!c.partitionClass.empty()) {
      Outcome second = Recover(c, c.partitionClass, true, o, m, image, dir);
      second.index = index;
      count(second);
    }
    if (!keep) fs::remove_all(dir);
  }
  const double total =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf("%-18s %8s %9s %17s %11s %12s %8s %8s %7s\n", "class", "sound", "identical",
              "allocated right", "other-file", "foreign-free", "wrong", "unnamed", "seconds");
  nlohmann::json classes = nlohmann::json::object();
  Tally all;
  for (const std::string& k : order) {
    tallies[k].Print(k);
    classes[k] = tallies[k].Json();
    all.Add(tallies[k]);
  }
  all.seconds = total;
  all.Print("all");
  if (all.unfindable > 0) {
    std::printf("not counted: %d files whose page 0 lies apart from page 1 (no scan finds them)\n",
                all.unfindable);
  }
  std::ofstream(jsonPath) << nlohmann::json{{"classes", classes}, {"runs", runs}}.dump(2) << "\n";
  std::printf("judgements: %s\n", jsonPath.c_str());
  return 0;
}
