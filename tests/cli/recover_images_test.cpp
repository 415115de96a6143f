// `ravelin recover` end to end, in-process, on generated images: raw images of several
// cluster sizes, FAT32, NTFS, a whole disk with a partition table, pages split across
// clusters, two databases on one disk, an older and a newer copy of one database, unreadable
// sectors, and SQL Server's own files. Each target's rebuilt file is held to its original
// page by page: every page must come back except those the manifest calls unrecoverable.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "datasource/fault_device.h"
#include "gen/database_generator.h"
#include "gen/fs_fat32.h"
#include "gen/fs_mbr.h"
#include "gen/fs_ntfs.h"
#include "gen/image_decoys.h"
#include "gen/image_raw.h"
#include "gen/real_file_source.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"

namespace ravelin::cli {
namespace {

using gen::Manifest;
using gen::PageSource;

enum class Kind { kRaw, kFat32, kNtfs, kDisk };

struct RecoverCase {
  const char* name;
  Kind kind;
  std::uint32_t cluster;
  std::uint64_t seed;
  const char* realFile = nullptr;  // else a generated database
  int splitPages = 0;              // raw: pages cut across clusters, tails before the next
  bool twoDatabases = false;       // a second, unrelated database as a second target
  bool olderTarget = false;        // an older copy of the database as a second target
  int unreadable = 0;              // sectors the fault device refuses
  // A known limit: this many pages that could come back are wrong (named in the case).
  int knownWrong = 0;
  // raw: of the split pages, this many have their tail in a piece of its own, which no page
  // header follows (and so no row's lead-in holds)
  int detachedTails = 0;
  int tailsRight = 0;  // of those, how many come back as the original
};

std::ostream& operator<<(std::ostream& out, const RecoverCase& c) { return out << c.name; }

// Pages the original's PFS pages mark allocated.
std::vector<bool> AllocatedPages(const PageSource& file) {
  std::vector<bool> allocated(static_cast<std::size_t>(file.PageCount()), false);
  std::array<std::uint8_t, kPageSize> page{};
  for (std::int64_t pfs = 1; pfs < file.PageCount(); pfs = pfs == 1 ? 8088 : pfs + 8088) {
    file.ReadPage(pfs, page);
    const std::size_t row0 = Load16(page, kPageSize - 2);
    const std::int64_t first = pfs == 1 ? 0 : pfs;
    for (std::int64_t t = first; t < first + 8088 && t < file.PageCount(); ++t) {
      const std::size_t at = row0 + 4 + static_cast<std::size_t>(t - first);
      if (at < kPageSize && (page[at] & 0x40)) allocated[static_cast<std::size_t>(t)] = true;
    }
  }
  return allocated;
}

struct Tally {
  int files = 0;
  int identical = 0;
  std::int64_t allocated = 0;
  std::int64_t allocatedRight = 0;
  std::int64_t wrongRecoverable = 0;  // pages that could come back and did not
  std::int64_t wrongUnreported = 0;   // of those, pages the page account calls verified
  // Free pages written as zero pages: the search leaves out a fragment lying wholly on pages
  // the file's PFS pages mark free, even the file's own.
  std::int64_t freeZeroed = 0;
  int tailsRight = 0;  // split pages whose tail no page follows, back as the original
};

// Holds the rebuilt file of target `t` to its original and counts.
void Judge(const Manifest& manifest, int t, const PageSource& original, const std::string& path,
           const nlohmann::json& file, Tally& tally, std::ostringstream& why) {
  ++tally.files;
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> rebuilt((std::istreambuf_iterator<char>(in)), {});
  const std::int64_t pages = original.PageCount();
  if (rebuilt.size() != static_cast<std::size_t>(pages) * kPageSize) {
    why << path << ": " << rebuilt.size() << " bytes, expected " << pages * kPageSize << '\n';
    return;
  }
  std::vector<bool> unrecoverable(static_cast<std::size_t>(pages), false);
  for (const gen::PageRange& r : manifest.UnrecoverablePages(t))
    for (std::int64_t p = r.firstPage; p < r.firstPage + r.pageCount && p < pages; ++p)
      unrecoverable[static_cast<std::size_t>(p)] = true;
  const std::vector<bool> allocated = AllocatedPages(original);
  std::set<std::int64_t> reported;
  for (const auto& n : file["missing_allocated_pages"]) reported.insert(n.get<std::int64_t>());
  std::set<std::int64_t> problems;  // pages the account does not call verified
  for (const auto& n : file["account"]["problem_pages"])
    problems.insert(n["page"].get<std::int64_t>());
  bool identical = true;
  std::array<std::uint8_t, kPageSize> page{};
  for (std::int64_t p = 0; p < pages; ++p) {
    original.ReadPage(p, page);
    const auto at = rebuilt.begin() + static_cast<std::ptrdiff_t>(p) * kPageSize;
    const bool same = std::equal(page.begin(), page.end(), at);
    identical = identical && same;
    if (allocated[static_cast<std::size_t>(p)]) {
      ++tally.allocated;
      if (same) ++tally.allocatedRight;
    }
    const bool zero = std::all_of(at, at + kPageSize, [](std::uint8_t v) { return v == 0; });
    if (!same && zero && !allocated[static_cast<std::size_t>(p)]) {
      ++tally.freeZeroed;
      continue;
    }
    if (!same && !problems.count(p)) {
      ++tally.wrongUnreported;
      why << path << ": page " << p << " is wrong and the page account calls it verified\n";
    }
    if (!same && !unrecoverable[static_cast<std::size_t>(p)]) {
      if (tally.wrongRecoverable++ < 10) {
        const auto diff = std::mismatch(page.begin(), page.end(), at).first - page.begin();
        why << path << ": page " << p << " differs from sector " << diff / 512 << " on\n";
      }
    }
  }
  // Lost pages no fragment supplies are zero pages, and the allocated ones are reported.
  for (const gen::PageRange& r : manifest.lostPages) {
    if (r.file != t) continue;
    for (std::int64_t p = r.firstPage; p < r.firstPage + r.pageCount; ++p) {
      const auto at = rebuilt.begin() + static_cast<std::ptrdiff_t>(p) * kPageSize;
      const bool zero = std::all_of(at, at + kPageSize, [](std::uint8_t b) { return b == 0; });
      if (zero && allocated[static_cast<std::size_t>(p)] && !reported.count(p))
        why << path << ": lost allocated page " << p << " is not reported by the check\n";
    }
  }
  if (identical) ++tally.identical;
  for (const gen::HardCase& h : manifest.hardCases) {
    if (h.kind != "detached-tail" || h.file != t) continue;
    original.ReadPage(h.page, page);
    if (std::equal(page.begin(), page.end(),
                   rebuilt.begin() + static_cast<std::ptrdiff_t>(h.page) * kPageSize))
      ++tally.tailsRight;
  }
}

struct Built {
  test::ScratchDir dir;
  Manifest manifest;
  std::string image;
  std::vector<std::unique_ptr<gen::DatabaseGenerator>> generated;
  std::unique_ptr<gen::RealFileSource> real;
  std::unique_ptr<gen::PatchedPageSource> older;
  std::vector<const PageSource*> targets;
};

gen::DatabaseSpec Design(std::uint64_t seed, std::int64_t pages, const std::string& name) {
  gen::DatabaseSpec d;
  d.pageCount = pages;
  d.seed = seed;
  d.generation = 1;
  d.logicalName = name;
  d.physicalPath = "D:\\data\\" + name + ".mdf";
  return d;
}

gen::Status Build(const RecoverCase& c, Built& b) {
  b.image = b.dir.File("image.img");
  const PageSource* first = nullptr;
  if (c.realFile != nullptr) {
    const gen::Status opened = gen::RealFileSource::Open(test::RealFilePath(c.realFile), b.real);
    if (!opened.ok()) return opened;
    first = b.real.get();
  } else {
    b.generated.push_back(std::make_unique<gen::DatabaseGenerator>(Design(c.seed, 1200, "shop")));
    first = b.generated.back().get();
  }
  b.targets.push_back(first);
  b.older =
      std::make_unique<gen::PatchedPageSource>(*first, gen::PagePatch{std::nullopt, 40}, "older");
  if (c.twoDatabases) {
    b.generated.push_back(
        std::make_unique<gen::DatabaseGenerator>(Design(c.seed + 50, 700, "ledger")));
    b.targets.push_back(b.generated.back().get());
  }
  if (c.olderTarget) b.targets.push_back(b.older.get());
  switch (c.kind) {
    case Kind::kRaw: {
      gen::RawImageOptions o;
      o.seed = c.seed;
      o.sectorsPerCluster = c.cluster;
      o.fragments = 10;
      o.splitPages = c.splitPages;
      o.detachedTails = c.detachedTails;
      o.staleRuns = 4;
      o.otherDatabaseRuns = 4;
      o.unreadableSectors = c.unreadable;
      o.maxGapClusters = std::max(2u, 128u / c.cluster);
      gen::DecoySources decoys;
      if (!c.olderTarget) decoys.olderCopy = b.older.get();
      decoys.stalePages = b.older.get();
      return gen::BuildRawImage(b.targets, decoys, o, b.image, b.manifest);
    }
    case Kind::kFat32: {
      gen::Fat32ImageOptions o;
      o.seed = c.seed;
      o.sectorsPerCluster = c.cluster;
      o.decoys.count = 8;
      o.decoys.minClusters = std::max(1u, 32 / c.cluster);
      o.decoys.maxClusters = std::max(2u, 160 / c.cluster);
      o.decoys.olderCopy = b.older.get();
      return gen::BuildFat32Image(b.targets, o, b.image, b.manifest);
    }
    case Kind::kNtfs: {
      gen::NtfsImageOptions o;
      o.seed = c.seed;
      o.sectorsPerCluster = c.cluster;
      o.fragments = 8;
      o.decoys.count = 4;
      o.decoys.olderCopy = b.older.get();
      return gen::BuildNtfsImage(b.targets, o, b.image, b.manifest);
    }
    case Kind::kDisk: {
      gen::DiskImageOptions o;
      o.fat32.seed = c.seed;
      o.fat32.sectorsPerCluster = c.cluster;
      o.fat32.decoys.count = 6;
      o.fat32.decoys.minClusters = std::max(1u, 32 / c.cluster);
      o.fat32.decoys.maxClusters = std::max(2u, 160 / c.cluster);
      return gen::BuildDiskImage(b.targets, o, b.image, b.manifest);
    }
  }
  return gen::Status::BadInput("unknown kind");
}

class RecoverImagesTest : public ::testing::TestWithParam<RecoverCase> {};

TEST_P(RecoverImagesTest, RebuildsEveryRecoverablePageOfEveryTarget) {
  const RecoverCase c = GetParam();
  if (c.kind == Kind::kFat32 || c.kind == Kind::kDisk)
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat");
  if (c.kind == Kind::kNtfs)
    RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkntfs", "ntfscp", "ntfscat", "ntfsinfo");
  if (c.kind == Kind::kDisk) RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk");
  Built b;
  const gen::Status built = Build(c, b);
  if (!built.ok() && c.realFile != nullptr) GTEST_SKIP() << built.message();
  ASSERT_TRUE(built.ok()) << built.message();

  CliEnv env;
  const std::set<std::uint64_t> bad(b.manifest.unreadableSectors.begin(),
                                    b.manifest.unreadableSectors.end());
  if (!bad.empty()) {
    env.opener = [bad](const std::string& path) {
      OpenResult opened = OpenSystemDevice(path);
      if (opened.device)
        opened.device = std::make_unique<FaultyDevice>(std::move(opened.device), bad);
      return opened;
    };
  }
  RecoverOptions o;
  o.scan.source.source = b.image;
  o.scan.source.diskImage = c.kind != Kind::kFat32 && c.kind != Kind::kNtfs;
  o.scan.source.partitionImage = !o.scan.source.diskImage;
  o.scan.allSpace = true;  // live decoys are scanned too
  if (c.kind == Kind::kRaw) o.scan.sectorsPerCluster = c.cluster;
  o.scan.progress = ScanOptions::ProgressStyle::kNone;
  o.outDir = b.dir.File("out");
  o.json = b.dir.File("report.json");
  std::ostringstream out, err;
  const int code = RunRecover(o, env, out, err);
  ASSERT_TRUE(code == kExitOk || code == kExitFailed) << out.str() << err.str();
  std::ifstream reportFile(o.json);
  const nlohmann::json report = nlohmann::json::parse(reportFile);
  // Exit 0 says that every file came back complete, and nothing less; a read that failed
  // part-way is never a success.
  EXPECT_EQ(code == kExitOk, report["all_complete"].get<bool>()) << out.str();
  if (c.unreadable > 0) {
    EXPECT_EQ(code, kExitFailed);
  }

  Tally tally;
  std::ostringstream why;
  const std::vector<int> targets = b.manifest.TargetFiles();
  ASSERT_EQ(targets.size(), b.targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const int t = targets[i];
    std::uint64_t headerSector = 0;
    for (const auto& f : b.manifest.FragmentsOf(t))
      if (f.firstPage == 0) headerSector = f.startSector;
    const nlohmann::json* file = nullptr;
    for (const auto& f : report["files"])
      if (f["start_sector"].get<std::uint64_t>() == headerSector) file = &f;
    if (file == nullptr) {
      why << "no file recovered from the header at " << headerSector << '\n';
      continue;
    }
    ASSERT_TRUE((*file)["written"].get<bool>()) << file->dump(2);
    Judge(b.manifest, t, *b.targets[i], (*file)["output"].get<std::string>(), *file, tally, why);
  }
  std::cout << c.name << ": " << tally.identical << " of " << tally.files << " files identical, "
            << tally.allocatedRight << " of " << tally.allocated << " allocated pages right, "
            << tally.freeZeroed << " free pages left zero\n";
  if (c.detachedTails > 0) {
    EXPECT_EQ(tally.tailsRight, c.tailsRight) << "split pages whose tail no page follows";
  }
  // A page that comes back wrong is never called verified.
  EXPECT_EQ(tally.wrongUnreported, 0) << why.str();
  if (c.knownWrong == 0) {
    EXPECT_TRUE(why.str().empty()) << why.str() << out.str();
  } else {
    EXPECT_EQ(tally.wrongRecoverable, c.knownWrong) << why.str();
    std::cout << "known limit: " << why.str();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, RecoverImagesTest,
    ::testing::Values(
        RecoverCase{"Raw1", Kind::kRaw, 1, 31}, RecoverCase{"Raw8", Kind::kRaw, 8, 32},
        RecoverCase{"Raw16", Kind::kRaw, 16, 33}, RecoverCase{"Raw64", Kind::kRaw, 64, 34},
        RecoverCase{"RawSplitPages4", Kind::kRaw, 4, 35, nullptr, 3},
        RecoverCase{"RawTwoDatabases8", Kind::kRaw, 8, 36, nullptr, 0, true},
        RecoverCase{"RawOlderAndNewer8", Kind::kRaw, 8, 37, nullptr, 0, false, true},
        RecoverCase{"RawUnreadable8", Kind::kRaw, 8, 38, nullptr, 0, false, false, 6},
        RecoverCase{"Fat32At1", Kind::kFat32, 1, 39}, RecoverCase{"NtfsAt8", Kind::kNtfs, 8, 40},
        RecoverCase{"DiskFat32At4", Kind::kDisk, 4, 41},
        RecoverCase{"RealChecksum2005Raw8", Kind::kRaw, 8, 42, "checksum-2005.mdf"},
        // Known limit: with one sector per cluster, page 6 (torn-page
        // protected) split across clusters comes back with sectors 9-15 wrong:
        // torn bits, two bits a sector, pass several of the one-sector trials,
        // and the structure test passes more than one. The page is kept as
        // read and the page account calls it uncertain.
        RecoverCase{"KnownLimit_RealTornPage2008Fat32At1UncertainPage", Kind::kFat32, 1, 43,
                    "tornpage-2008r2.mdf", 0, false, false, 0, 1},
        RecoverCase{"RealChecksum2014Raw1", Kind::kRaw, 1, 44, "checksum-2014.mdf", 2},
        // Tails no page follows, found by their pages' checksums.
        RecoverCase{"DetachedTailsRaw4", Kind::kRaw, 4, 45, nullptr, 3, false, false, 0, 0, 3, 3},
        RecoverCase{"RealNorthwindDetachedTailsRaw1", Kind::kRaw, 1, 46,
                    "checksum-2008-northwind.mdf", 4, false, false, 0, 0, 3, 3}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ravelin::cli
