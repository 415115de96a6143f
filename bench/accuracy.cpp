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

#include "accuracy/real_images.h"
#include "gen/fs_tools.h"

namespace fs = std::filesystem;
using namespace ravelin;
using namespace ravelin::accuracy;

namespace {

struct Case {
  Case(std::string k, ImageKind kind, std::uint32_t cluster, std::vector<std::string> files)
      : klass(std::move(k)) {
    image.kind = kind;
    image.cluster = cluster;
    image.files = std::move(files);
  }
  std::string klass;  // the class its recovery counts in
  ImageCase image;
  // Whole disks: the class of a second recovery of the same image with --partition 1.
  std::string partitionClass;
};

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
      Case c{"raw-" + std::to_string(cluster), ImageKind::kRaw, cluster, {f}};
      c.image.splitPages = cluster < 16 ? 3 : 0;
      c.image.seed = seed++;
      cases.push_back(c);
    }
  }
  // File systems: the database copied into the holes of a full volume, then deleted.
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    const std::uint32_t cluster = i % 3 == 0 ? 1 : i % 3 == 1 ? 4 : 8;
    cases.emplace_back("fat32", ImageKind::kFat32, cluster, std::vector<std::string>{kAll[i]});
    cases.back().image.seed = seed++;
  }
  for (std::size_t i = 0; i < kAll.size(); i += 2) {
    cases.emplace_back("ntfs", ImageKind::kNtfs, i % 4 == 0 ? 8u : 1u,
                       std::vector<std::string>{kAll[i]});
    cases.back().image.seed = seed++;
  }
  // Whole disks holding an 8-sector-cluster FAT32 volume (a few large holes), recovered as
  // the whole disk with no options and again as partition 1.
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    Case c{"disk", i % 2 == 0 ? ImageKind::kMbr : ImageKind::kGpt, 8, {kAll[i]}};
    c.image.fewHoles = true;
    c.image.seed = seed++;
    c.partitionClass = "disk-partition-1";
    cases.push_back(c);
  }
  // Two unrelated databases deleted from one disk.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"checksum-2008-pubs.mdf", "checksum-2014.mdf"},
      {"tornpage-2008r2.mdf", "checksum-2019-education.mdf"},
      {"checksum-2005.mdf", "checksum-2008-northwind.mdf"}};
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ImageKind kind = i == 0 ? ImageKind::kRaw : ImageKind::kFat32;
    Case c{"two-databases", kind, i == 0 ? 8u : 4u, {pairs[i].first, pairs[i].second}};
    c.image.splitPages = kind == ImageKind::kRaw ? 2 : 0;
    c.image.seed = seed++;
    cases.push_back(c);
  }
  // Each pair of versions of one database, interleaved on a raw disk, a FAT32 volume and a
  // whole disk.
  for (const auto& [a, b] : kVersionPairs) {
    const std::vector<std::pair<ImageKind, std::uint32_t>> places = {{ImageKind::kRaw, 1},
                                                                     {ImageKind::kRaw, 8},
                                                                     {ImageKind::kFat32, 4},
                                                                     {ImageKind::kFat32, 8},
                                                                     {ImageKind::kMbr, 8}};
    for (const auto& [kind, cluster] : places) {
      Case c{"versions", kind, cluster, {a, b}};
      c.image.splitPages = kind == ImageKind::kRaw ? 2 : 0;
      c.image.seed = seed++;
      cases.push_back(c);
    }
  }
  // Unreadable sectors, half of them inside the database's pieces.
  for (std::size_t i = 1; i < kAll.size(); i += 3) {
    Case c{"unreadable", ImageKind::kRaw, 8, {kAll[i]}};
    c.image.unreadable = 8;
    c.image.seed = seed++;
    cases.push_back(c);
  }
  // Whole disks holding an 8-sector-cluster NTFS volume, recovered as given and as partition
  // 1 (last, so that the classes above keep their images).
  for (std::size_t i = 0; i < kAll.size(); i += 2) {
    Case c{"disk-ntfs", i % 4 == 0 ? ImageKind::kMbr : ImageKind::kGpt, 8, {kAll[i]}};
    c.image.volume = "ntfs";
    c.image.seed = seed++;
    c.partitionClass = "disk-ntfs-partition-1";
    cases.push_back(c);
  }
  return cases;
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
  const auto count = [&](const Case& c, int index, bool partitionOne, const Recovered& r) {
    const std::string& klass = partitionOne ? c.partitionClass : c.klass;
    const std::string image = KindName(c.image.kind) + "-c" + std::to_string(c.image.cluster) +
                              " " + c.image.files.front() + (partitionOne ? " --partition 1" : "");
    if (!tallies.count(klass)) order.push_back(klass);
    Tally& t = tallies[klass];
    t.seconds += r.seconds;
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < r.judgements.size(); ++i) {
      const gen::RecoveryJudgement& j = r.judgements[i];
      if (!r.findable[i] && !j.written) {
        ++t.unfindable;
        files.push_back({{"file", c.image.files[i]}, {"findable", false}});
        continue;
      }
      t.Add(j);
      nlohmann::json jj = JudgementJson(j);
      jj["file"] = c.image.files[i];
      files.push_back(jj);
      if (verbose && !j.Sound() && !r.errors.empty()) std::cerr << r.errors;
      if (verbose && !j.Sound()) {
        std::cerr << klass << " #" << index << " " << image << ": " << c.image.files[i]
                  << ": written " << j.written << ", allocated right " << j.allocatedRight << "/"
                  << j.allocated << ", other-file pages " << j.otherFilePages << ", foreign free "
                  << j.foreignFreePages << ", unnamed " << j.wrongUnnamed << ", pages";
        for (std::int64_t p : j.wrongSample) std::cerr << " " << p;
        std::cerr << "\n";
      }
    }
    runs.push_back({{"class", klass},
                    {"case", index},
                    {"image", image},
                    {"exit_code", r.exitCode},
                    {"errors", r.errors},
                    {"seconds", r.seconds},
                    {"files", files}});
  };

  const auto started = std::chrono::steady_clock::now();
  int index = 0;
  for (const Case& c : Cases()) {
    ++index;
    if (!only.empty() && c.klass != only && c.partitionClass != only) continue;
    if (onlyCase != 0 && index != onlyCase) continue;
    OpenedFiles o;
    if (gen::Status opened = OpenFiles(realDir, c.image.files, o); !opened.ok()) {
      std::cerr << "skipped: " << opened.message() << "\n";
      continue;
    }
    const std::string dir = work + "/case" + std::to_string(index);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string image = dir + "/" + KindName(c.image.kind) + "-c" +
                              std::to_string(c.image.cluster) + "-" +
                              fs::path(c.image.files.front()).stem().string() + ".img";
    gen::Manifest m;
    if (gen::Status s = BuildImage(c.image, o, image, m); !s.ok()) {
      std::cerr << "cannot build " << image << ": " << s.message() << "\n";
      fs::remove_all(dir);
      continue;
    }
    if (keep) (void)gen::WriteManifest(m, image + ".json");
    count(c, index, false, RecoverAndJudge(o, m, image, dir, false));
    if (!c.partitionClass.empty()) count(c, index, true, RecoverAndJudge(o, m, image, dir, true));
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
