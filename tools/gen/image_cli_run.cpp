// The ravelin-mkimage sub-commands, once their arguments are parsed: build the page sources,
// hand them to the image builders, write the manifest and say what was written.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "gen/database_generator.h"
#include "gen/fs_mbr.h"
#include "gen/image_cli.h"
#include "gen/image_cli_args.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/image_writer.h"
#include "gen/real_file_source.h"
#include "gen/sample_image.h"
#include "gen/sha256.h"

namespace ravelin::gen {
namespace {

DatabaseSpec DesignOf(const DbArgs& a) {
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

// fat32 | empty, optionally :SECTORS
bool ParsePartitionBefore(const std::string& text, ExtraPartition& p) {
  const std::size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  if (kind != "fat32" && kind != "empty") return false;
  p.fat32 = kind == "fat32";
  p.sectors = 0;
  if (colon == std::string::npos) return true;
  return ParseSize(text.substr(colon + 1), p.sectors) && p.sectors > 0;
}

// The page sources an image is made of, owned in one place.
struct Sources {
  std::vector<std::unique_ptr<PageSource>> owned;
  std::unique_ptr<RealFileSource> real, otherReal, secondReal;
  const PageSource* target = nullptr;
  const PageSource* older = nullptr;
  const PageSource* other = nullptr;
  const PageSource* otherFileId = nullptr;
  const PageSource* second = nullptr;

  const PageSource* Keep(std::unique_ptr<PageSource> source) {
    owned.push_back(std::move(source));
    return owned.back().get();
  }
};

Status MakeSources(const ImageArgs& a, const DbArgs& d, Sources& s) {
  if (!a.mdf.empty()) {
    if (Status st = RealFileSource::Open(a.mdf, s.real); !st.ok()) return st;
    s.target = s.real.get();
    const std::string stem = s.target->Name().substr(0, s.target->Name().rfind('.'));
    s.older = s.Keep(std::make_unique<PatchedPageSource>(
        *s.target, PagePatch{std::nullopt, kOlderAge}, stem + "-older.mdf"));
  } else {
    DatabaseSpec design = DesignOf(d);
    s.target = s.Keep(std::make_unique<DatabaseGenerator>(design));
    if (design.generation > 0) {
      design.generation -= 1;
      const PageSource* earlier = s.Keep(std::make_unique<DatabaseGenerator>(design));
      s.older = s.Keep(std::make_unique<RenamedSource>(*earlier, design.logicalName + "-older"));
    } else {
      s.older = s.Keep(std::make_unique<PatchedPageSource>(
          *s.target, PagePatch{std::nullopt, kOlderAge}, design.logicalName + "-older"));
    }
  }
  if (!a.otherMdf.empty()) {
    if (Status st = RealFileSource::Open(a.otherMdf, s.otherReal); !st.ok()) return st;
    s.other = s.otherReal.get();
  } else if (a.otherRuns > 0 || a.otherFileIdRuns > 0 || a.liveOther) {
    DatabaseSpec design;
    design.logicalName = "other";
    design.physicalPath = R"(D:\data\other.mdf)";
    design.pageCount =
        std::min<std::int64_t>(std::max<std::int64_t>(s.target->PageCount(), kMinPageCount), 4000);
    design.seed = a.seed ^ 0x07E5ull;
    s.other = s.Keep(std::make_unique<DatabaseGenerator>(design));
  }
  if (a.otherFileIdRuns > 0 && s.other != nullptr) {
    s.otherFileId = s.Keep(
        std::make_unique<PatchedPageSource>(*s.other, PagePatch{3, 0}, s.other->Name() + "-id3"));
  }
  if (a.secondTarget == "older") {
    s.second = s.older;
  } else if (a.secondTarget == "other") {
    if (!a.secondMdf.empty()) {
      if (Status st = RealFileSource::Open(a.secondMdf, s.secondReal); !st.ok()) return st;
      s.second = s.secondReal.get();
    } else {
      DatabaseSpec design;
      design.logicalName = "stock";
      design.physicalPath = R"(C:\Program Files\Microsoft SQL Server\MSSQL\DATA\stock.mdf)";
      design.pageCount = std::max<std::int64_t>(s.target->PageCount(), kMinPageCount);
      design.seed = a.seed ^ 0x5700Cull;
      s.second = s.Keep(std::make_unique<DatabaseGenerator>(design));
    }
  }
  return Status::Ok();
}

}  // namespace

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

int WriteDatabase(const DbArgs& a, const std::string& path, std::ostream& out, std::ostream& err) {
  DatabaseGenerator db(DesignOf(a));
  if (Status s = WriteSourceFile(db, path); !s.ok()) {
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
  std::vector<ExtraPartition> before;
  for (const std::string& text : a.partitionsBefore) {
    ExtraPartition p;
    if (!ParsePartitionBefore(text, p)) {
      return bad("--partition-before takes fat32 or empty, optionally with :SIZE, not " + text);
    }
    before.push_back(p);
  }
  if (a.olderAfterHeader && a.secondTarget != "older") {
    return bad("--older-after-header needs --second-target older");
  }

  Sources src;
  if (Status s = MakeSources(a, d, src); !s.ok()) return bad(s.message());
  std::vector<const PageSource*> targets = {src.target};
  if (src.second != nullptr) targets.push_back(src.second);

  LiveDecoyOptions live;
  live.count = a.decoyFiles;
  live.minClusters = a.decoyMin;
  live.maxClusters = a.decoyMax;
  live.olderCopy = a.liveOlderCopy ? src.older : nullptr;
  live.otherDatabase = a.liveOther ? src.other : nullptr;
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
    o.splitBeforeZeroPage = a.splitBeforeZero;
    o.lostExtents = a.lostFragments;
    o.extents = extents;
    o.shuffle = !a.inOrder;
    o.staleRuns = a.staleRuns;
    o.otherDatabaseRuns = a.otherRuns;
    o.otherFileIdRuns = a.otherFileIdRuns;
    o.otherDatabaseOnFreePages = a.otherOnFreePages;
    o.olderAfterHeader = a.olderAfterHeader;
    o.maxRunPages = a.maxRunPages;
    o.maxGapClusters = a.maxGap;
    o.zeroGapShare = a.zeroShare;
    o.unreadableSectors = a.unreadable;
    const DecoySources decoys{a.olderCopy ? src.older : nullptr,
                              a.staleRuns > 0 ? src.older : nullptr, src.other, src.otherFileId};
    s = BuildRawImage(targets, decoys, o, a.out, manifest);
  } else if (a.kind == "fat32") {
    s = BuildFat32Image(targets, fat, a.out, manifest);
  } else if (a.kind == "ntfs") {
    s = BuildNtfsImage(targets, ntfs, a.out, manifest);
  } else {
    DiskImageOptions o;
    o.fileSystem = a.fs;
    o.table = a.table == "gpt" ? PartitionTableKind::kGpt : PartitionTableKind::kMbr;
    o.partitionsBefore = before;
    o.partitionStart = a.partitionStart;
    o.trailingSectors = a.trailing;
    o.fat32 = fat;
    o.ntfs = ntfs;
    s = BuildDiskImage(targets, o, a.out, manifest);
  }
  if (s.ok()) s = WriteManifest(manifest, a.manifest.empty() ? a.out + ".json" : a.manifest);
  if (!s.ok()) {
    err << "ravelin-mkimage: " << s.message() << "\n";
    return ExitFor(s);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  out << a.out << ": " << a.kind << " image, " << manifest.totalSectors << " sectors";
  for (int t : manifest.TargetFiles()) {
    out << ", " << manifest.FragmentsOf(t).size() << " fragments of " << manifest.files[t].name
        << " (" << manifest.files[t].pageCount << " pages)";
  }
  out << ", built in " << seconds << " s\n";
  return 0;
}

int WriteSample(const SampleArgs& a, std::ostream& out, std::ostream& err) {
  SampleOptions o;
  o.seed = a.seed;
  o.realDir = a.realDir;
  o.manifestPath = a.manifest;
  o.originalsDir = a.originals;
  Manifest manifest;
  SampleFiles files;
  if (Status s = BuildSample(o, a.out, manifest, &files); !s.ok()) {
    err << "ravelin-mkimage: " << s.message() << "\n";
    return ExitFor(s);
  }
  out << a.out << ": sample disk, " << manifest.totalSectors << " sectors, "
      << (files.real ? "SQL Server's " : "generated ") << files.database << " and its older copy "
      << files.older << ", deleted from FAT32 partition " << manifest.partition->number << "\n";
  for (int t : manifest.TargetFiles()) {
    out << "  " << manifest.files[t].name << ": " << manifest.FragmentsOf(t).size()
        << " fragments, sha256 " << manifest.files[t].sha256 << "\n";
  }
  out << "  manifest: " << (a.manifest.empty() ? a.out + ".json" : a.manifest) << "\n";
  if (!a.originals.empty()) out << "  originals: " << a.originals << "\n";
  return 0;
}

}  // namespace ravelin::gen
