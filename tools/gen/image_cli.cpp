#include "gen/image_cli.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <memory>
#include <optional>

#include "gen/database_generator.h"
#include "gen/fs_mbr.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/image_writer.h"
#include "gen/real_file_source.h"
#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

struct DbArgs {
  std::int64_t pages = 2000;
  std::uint64_t seed = 1;
  std::string verify = "checksum";
  int generation = 0;
  std::uint16_t fileId = 1;
  std::string name = "shop";
  std::string physicalPath;
};

struct ImageArgs {
  std::string kind;
  std::string out, manifest, mdf, otherMdf;
  std::string size = "0";
  std::uint64_t seed = 1;
  std::uint32_t cluster = 8;
  int fragments = 8, splitPages = 0, detachedTails = 0, lostFragments = 0;
  bool inOrder = false;
  std::vector<std::string> extents;
  std::uint32_t maxGap = 64;
  double zeroShare = 0.5;
  bool olderCopy = false;
  int staleRuns = 0, otherRuns = 0, otherFileIdRuns = 0, maxRunPages = 8;
  int decoyFiles = 8;
  std::uint32_t decoyMin = 1, decoyMax = 48, overwrite = 0;
  bool liveOlderCopy = false, liveOther = false;
  std::string dbName = "DATA.MDF";
  std::string fs = "fat32";
  std::uint64_t partitionStart = 2048, trailing = 2048;
  int unreadable = 0;
};

int ExitFor(const Status& s) {
  switch (s.code()) {
    case StatusCode::kOk:
      return 0;
    case StatusCode::kBadInput:
      return kExitBadInput;
    case StatusCode::kMissingTool:
      return kExitMissingTool;
    default:
      return kExitFailed;
  }
}

void AddDbOptions(CLI::App* app, DbArgs& a, bool forImage) {
  const std::string prefix = forImage ? "db-" : "";
  app->add_option("--pages", a.pages, "Pages in the database file")
      ->check(CLI::Range(kMinPageCount, kMaxPageCount))
      ->capture_default_str();
  app->add_option("--" + prefix + "seed", a.seed, "Seed of the database's content")
      ->capture_default_str();
  app->add_option("--verify", a.verify, "Page protection: checksum, torn or none")
      ->check(CLI::IsMember({"checksum", "torn", "none"}))
      ->capture_default_str();
  app->add_option("--generation", a.generation,
                  "Update generation (each adds one round of changes to the same seed)")
      ->check(CLI::Range(0, kMaxGenerations))
      ->capture_default_str();
  app->add_option("--file-id", a.fileId, "File id in every page header")
      ->check(CLI::Range(1, 32767))
      ->capture_default_str();
  app->add_option("--name", a.name, "Logical name (the physical name ends in <name>.mdf)")
      ->capture_default_str();
  app->add_option("--physical-path", a.physicalPath, "Physical file name stored on page 32");
}

DatabaseSpec SpecOf(const DbArgs& a) {
  DatabaseSpec design;
  design.logicalName = a.name;
  design.physicalPath =
      a.physicalPath.empty()
          ? R"(C:\Program Files\Microsoft SQL Server\MSSQL\DATA\)" + a.name + ".mdf"
          : a.physicalPath;
  design.pageCount = a.pages;
  design.fileId = a.fileId;
  design.verify = a.verify == "torn"   ? PageVerify::kTornPage
                  : a.verify == "none" ? PageVerify::kNone
                                       : PageVerify::kChecksum;
  design.seed = a.seed;
  design.generation = a.generation;
  return design;
}

// "123" sectors, or bytes with a K, M, G or T suffix (powers of 1024), a multiple of 512.
bool ParseSize(const std::string& text, std::uint64_t& sectors) {
  if (text.empty()) return false;
  std::size_t used = 0;
  std::uint64_t value = 0;
  try {
    value = std::stoull(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  const std::string suffix = text.substr(used);
  if (suffix.empty()) {
    sectors = value;
    return true;
  }
  static const std::string kUnits = "KMGT";
  const std::size_t unit = suffix.size() == 1
                               ? kUnits.find(static_cast<char>(std::toupper(suffix[0])))
                               : std::string::npos;
  if (unit == std::string::npos) return false;
  const std::uint64_t bytes = value << (10 * (unit + 1));
  if ((bytes >> (10 * (unit + 1))) != value || bytes % kSectorSize != 0) return false;
  sectors = bytes / kSectorSize;
  return true;
}

// FILESECTOR:COUNT@SECTOR
bool ParseExtent(const std::string& text, FileExtent& e) {
  unsigned long long f = 0, c = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%llu:%llu@%llu%c", &f, &c, &d, &tail) != 3) return false;
  e = {f, c, d};
  return true;
}

int WriteDatabase(const DbArgs& a, const std::string& path, std::ostream& out, std::ostream& err) {
  DatabaseGenerator db(SpecOf(a));
  Placement p;
  p.sectorCount = static_cast<std::uint64_t>(db.PageCount()) * kSectorsPerPage;
  p.kind = FillKind::kPages;
  p.source = &db;
  WriteOptions options;
  options.totalSectors = p.sectorCount;
  const std::string temporary = path + ".tmp";
  Status s = WritePlacements(temporary, {p}, options);
  if (s.ok() && std::rename(temporary.c_str(), path.c_str()) != 0) {
    s = Status::IoError("cannot rename " + temporary + " to " + path);
  }
  if (!s.ok()) {
    std::remove(temporary.c_str());
    err << "ravelin-mkimage: " << s.message() << "\n";
    return ExitFor(s);
  }
  out << path << ": " << db.PageCount() << " pages, sha256 " << Sha256OfPages(db) << "\n";
  return 0;
}

int WriteImage(const ImageArgs& a, const DbArgs& d, std::ostream& out, std::ostream& err) {
  const auto bad = [&](const std::string& message) {
    err << "ravelin-mkimage: " << message << "\n";
    return kExitBadInput;
  };
  std::uint64_t totalSectors = 0;
  if (!ParseSize(a.size, totalSectors)) {
    return bad("--size takes sectors, or bytes with K, M, G or T (a multiple of 512): " + a.size);
  }
  std::vector<FileExtent> extents;
  for (const std::string& text : a.extents) {
    FileExtent e;
    if (!ParseExtent(text, e)) return bad("--extent takes FILESECTOR:COUNT@SECTOR, not " + text);
    extents.push_back(e);
  }

  // The target, and the look-alikes written around it.
  std::vector<std::unique_ptr<PageSource>> owned;
  const PageSource* target = nullptr;
  const PageSource* older = nullptr;
  const PageSource* other = nullptr;
  std::unique_ptr<RealFileSource> real;
  if (!a.mdf.empty()) {
    if (Status s = RealFileSource::Open(a.mdf, real); !s.ok()) return bad(s.message());
    target = real.get();
    owned.push_back(std::make_unique<PatchedPageSource>(*target, PagePatch{std::nullopt, 1000},
                                                        target->Name() + " (older)"));
    older = owned.back().get();
  } else {
    DatabaseSpec design = SpecOf(d);
    owned.push_back(std::make_unique<DatabaseGenerator>(design));
    target = owned.back().get();
    if (design.generation > 0) {
      design.generation -= 1;
      owned.push_back(std::make_unique<DatabaseGenerator>(design));
    } else {
      owned.push_back(std::make_unique<PatchedPageSource>(*target, PagePatch{std::nullopt, 1000},
                                                          design.logicalName + " (older)"));
    }
    older = owned.back().get();
  }
  std::unique_ptr<RealFileSource> otherReal;
  if (!a.otherMdf.empty()) {
    if (Status s = RealFileSource::Open(a.otherMdf, otherReal); !s.ok()) return bad(s.message());
    other = otherReal.get();
  } else if (a.otherRuns > 0 || a.otherFileIdRuns > 0 || a.liveOther) {
    DatabaseSpec design;
    design.logicalName = "other";
    design.physicalPath = R"(D:\data\other.mdf)";
    design.pageCount =
        std::min<std::int64_t>(std::max<std::int64_t>(target->PageCount(), kMinPageCount), 4000);
    design.seed = a.seed ^ 0x07E5ull;
    owned.push_back(std::make_unique<DatabaseGenerator>(design));
    other = owned.back().get();
  }
  const PageSource* otherFileId = nullptr;
  if (a.otherFileIdRuns > 0 && other != nullptr) {
    owned.push_back(std::make_unique<PatchedPageSource>(*other, PagePatch{3, 0},
                                                        other->Name() + " (file id 3)"));
    otherFileId = owned.back().get();
  }

  LiveDecoyOptions live;
  live.count = a.decoyFiles;
  live.minClusters = a.decoyMin;
  live.maxClusters = a.decoyMax;
  live.olderCopy = a.liveOlderCopy ? older : nullptr;
  live.otherDatabase = a.liveOther ? other : nullptr;
  Fat32ImageOptions fat;
  fat.seed = a.seed;
  fat.sectorsPerCluster = a.cluster;
  fat.totalSectors = totalSectors;
  fat.decoys = live;
  fat.databaseName = a.dbName;
  fat.overwriteClusters = a.overwrite;
  fat.unreadableSectors = a.unreadable;
  NtfsImageOptions ntfs;
  ntfs.seed = a.seed;
  ntfs.sectorsPerCluster = a.cluster;
  ntfs.totalSectors = totalSectors;
  ntfs.decoys = live;
  ntfs.fragments = a.fragments;
  ntfs.maxGapClusters = a.maxGap;
  ntfs.randomGapShare = 1.0 - a.zeroShare;
  ntfs.unreadableSectors = a.unreadable;

  Manifest manifest;
  Status s;
  const auto started = std::chrono::steady_clock::now();
  if (a.kind == "raw") {
    RawImageOptions o;
    o.seed = a.seed;
    o.sectorsPerCluster = a.cluster;
    o.totalSectors = totalSectors;
    o.fragments = a.fragments;
    o.splitPages = a.splitPages;
    o.detachedTails = a.detachedTails;
    o.lostExtents = a.lostFragments;
    o.extents = extents;
    o.shuffle = !a.inOrder;
    o.staleRuns = a.staleRuns;
    o.otherDatabaseRuns = a.otherRuns;
    o.otherFileIdRuns = a.otherFileIdRuns;
    o.maxRunPages = a.maxRunPages;
    o.maxGapClusters = a.maxGap;
    o.zeroGapShare = a.zeroShare;
    o.unreadableSectors = a.unreadable;
    const DecoySources decoys{a.olderCopy ? older : nullptr, a.staleRuns > 0 ? older : nullptr,
                              other, otherFileId};
    s = BuildRawImage(*target, decoys, o, a.out, manifest);
  } else if (a.kind == "fat32") {
    s = BuildFat32Image(*target, fat, a.out, manifest);
  } else if (a.kind == "ntfs") {
    s = BuildNtfsImage(*target, ntfs, a.out, manifest);
  } else {
    DiskImageOptions o;
    o.fileSystem = a.fs;
    o.partitionStart = a.partitionStart;
    o.trailingSectors = a.trailing;
    o.fat32 = fat;
    o.ntfs = ntfs;
    s = BuildDiskImage(*target, o, a.out, manifest);
  }
  if (s.ok()) s = WriteManifest(manifest, a.manifest.empty() ? a.out + ".json" : a.manifest);
  if (!s.ok()) {
    err << "ravelin-mkimage: " << s.message() << "\n";
    return ExitFor(s);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::size_t targetFragments = manifest.FragmentsOf(manifest.TargetFile()).size();
  out << a.out << ": " << a.kind << " image, " << manifest.totalSectors << " sectors, "
      << targetFragments << " fragments of " << target->Name() << " (" << target->PageCount()
      << " pages), built in " << seconds << " s\n";
  return 0;
}

}  // namespace

int RunMkimage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Writes test data for Ravelin Recover: synthetic SQL Server database files, and disk\n"
      "images (raw, FAT32, NTFS, whole disk with an MBR) holding a database's pages among\n"
      "decoys, with a JSON manifest of the ground truth.",
      "ravelin-mkimage"};
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 done, 1 a tool or the disk failed, 2 bad input, 3 a needed tool "
      "(mkfs.vfat, mtools, mkntfs, ntfs-3g, sfdisk) is missing.\n"
      "Examples:\n"
      "  ravelin-mkimage db --pages 5000 --seed 7 -o shop.mdf\n"
      "  ravelin-mkimage image --kind raw --cluster 4 --fragments 12 --split-pages 3 "
      "--older-copy -o a.img\n"
      "  ravelin-mkimage image --kind disk --fs ntfs --mdf real.mdf -o disk.img");

  DbArgs dbArgs;
  std::string dbOut;
  CLI::App* db = app.add_subcommand("db", "Write a synthetic database file (.mdf)");
  AddDbOptions(db, dbArgs, false);
  db->add_option("-o,--output", dbOut, "The .mdf to write")->required();

  ImageArgs im;
  DbArgs imDb;
  imDb.generation = 1;  // so that an older generation exists for the decoys
  CLI::App* image = app.add_subcommand("image", "Write a disk image and its manifest");
  image->add_option("--kind", im.kind, "raw, fat32, ntfs or disk")
      ->required()
      ->check(CLI::IsMember({"raw", "fat32", "ntfs", "disk"}));
  image->add_option("-o,--output", im.out, "The image to write")->required();
  image->add_option("--manifest", im.manifest, "The manifest (default: <output>.json)");
  image->add_option("--seed", im.seed, "Seed of the layout and the noise")->capture_default_str();
  image->add_option("--cluster", im.cluster, "Sectors per cluster: 1, 2, 4 ... 128")
      ->capture_default_str();
  image
      ->add_option("--size", im.size,
                   "Image size: sectors, or bytes with K/M/G/T; 0 = as small as fits")
      ->capture_default_str();
  image->add_option("--unreadable", im.unreadable, "Sectors listed as unreadable")
      ->capture_default_str();
  CLI::Option* mdf = image->add_option("--mdf", im.mdf, "Use this .mdf instead of a generated one")
                         ->check(CLI::ExistingFile);
  AddDbOptions(image, imDb, true);
  for (const char* name : {"--pages", "--db-seed", "--verify", "--generation", "--file-id",
                           "--name", "--physical-path"}) {
    image->get_option(name)->excludes(mdf)->group("Generated database");
  }
  const std::string rawGroup = "Raw images (and NTFS: --fragments, --max-gap, --zero-share)";
  image->add_option("--fragments", im.fragments, "Pieces the database is cut into")
      ->group(rawGroup)
      ->capture_default_str();
  image
      ->add_option("--split-pages", im.splitPages,
                   "Pieces that end inside a page (clusters of 2, 4 or 8 sectors)")
      ->group(rawGroup);
  image
      ->add_option("--detached-tails", im.detachedTails,
                   "Of the split pages, those whose tail is not before the next page")
      ->group(rawGroup);
  image->add_option("--lost-fragments", im.lostFragments, "Pieces never written")->group(rawGroup);
  image
      ->add_option("--extent", im.extents,
                   "Place a piece yourself: FILESECTOR:COUNT@SECTOR (repeatable; replaces "
                   "the random cut)")
      ->group(rawGroup);
  image->add_flag("--in-order", im.inOrder, "Lay the pieces in file order")->group(rawGroup);
  image->add_option("--max-gap", im.maxGap, "Largest gap between pieces, in clusters")
      ->group(rawGroup)
      ->capture_default_str();
  image->add_option("--zero-share", im.zeroShare, "Share of gaps left zero rather than random")
      ->check(CLI::Range(0.0, 1.0))
      ->group(rawGroup)
      ->capture_default_str();
  image->add_flag("--older-copy", im.olderCopy, "Also write a whole older copy of the database")
      ->group(rawGroup);
  image->add_option("--stale-runs", im.staleRuns, "Runs of stale (older) copies of pages")
      ->group(rawGroup);
  image->add_option("--other-db-runs", im.otherRuns, "Runs of pages of another database")
      ->group(rawGroup);
  image
      ->add_option("--other-file-id-runs", im.otherFileIdRuns,
                   "Runs of pages of another file id (3)")
      ->group(rawGroup);
  image->add_option("--max-run-pages", im.maxRunPages, "Longest decoy run")->group(rawGroup);
  image->add_option("--other-mdf", im.otherMdf, "The other database, from a real .mdf")
      ->check(CLI::ExistingFile)
      ->group(rawGroup);
  const std::string fsGroup = "FAT32, NTFS and disk images";
  image->add_option("--decoy-files", im.decoyFiles, "Live random files written first")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--decoy-min-clusters", im.decoyMin)->group(fsGroup)->capture_default_str();
  image->add_option("--decoy-max-clusters", im.decoyMax)->group(fsGroup)->capture_default_str();
  image->add_flag("--live-older-copy", im.liveOlderCopy, "Keep an older copy as a live file")
      ->group(fsGroup);
  image->add_flag("--live-other-db", im.liveOther, "Keep another database as a live file")
      ->group(fsGroup);
  image
      ->add_option("--overwrite-clusters", im.overwrite,
                   "FAT32: a new file reusing this many of the deleted database's clusters")
      ->group(fsGroup);
  image->add_option("--db-name", im.dbName, "FAT32: name the database had before deletion")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--fs", im.fs, "disk: the partition's file system, fat32 or ntfs")
      ->check(CLI::IsMember({"fat32", "ntfs"}))
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--partition-start", im.partitionStart, "disk: first sector of the partition")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--trailing", im.trailing, "disk: sectors after the partition")
      ->group(fsGroup)
      ->capture_default_str();

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : kExitBadInput;
  }
  if (db->parsed()) return WriteDatabase(dbArgs, dbOut, out, err);
  return WriteImage(im, imDb, out, err);
}

}  // namespace ravelin::gen
