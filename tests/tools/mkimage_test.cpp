// The ravelin-mkimage command line, run in-process: what it writes, and how it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "gen/database_generator.h"
#include "gen/image_cli.h"
#include "gen/manifest.h"
#include "gen/real_file_source.h"
#include "gen/sha256.h"
#include "support/image_fixtures.h"
#include "support/manifest_rebuild.h"
#include "support/real_files.h"

namespace ravelin::gen {
namespace {

struct Outcome {
  int code;
  std::string out, err;
};

Outcome Mkimage(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunMkimage(args, out, err);
  return {code, out.str(), err.str()};
}

TEST(Mkimage, WritesTheGeneratorsDatabaseFile) {
  test::ScratchDir dir;
  const Outcome r =
      Mkimage({"db", "--pages", "60", "--seed", "3", "--verify", "torn", "--generation", "2",
               "--file-id", "1", "--name", "shop", "-o", dir.File("s.mdf")});
  ASSERT_EQ(r.code, 0) << r.err;
  DatabaseSpec design;
  design.logicalName = "shop";
  design.physicalPath = R"(C:\Program Files\Microsoft SQL Server\MSSQL\DATA\shop.mdf)";
  design.pageCount = 60;
  design.seed = 3;
  design.verify = PageVerify::kTornPage;
  design.generation = 2;
  const DatabaseGenerator expected(design);
  EXPECT_EQ(test::FileSha256(dir.File("s.mdf")), Sha256OfPages(expected));
  EXPECT_NE(r.out.find(Sha256OfPages(expected)), std::string::npos);
}

TEST(Mkimage, RawImageFromARealFileWithItsManifest) {
  const std::string mdf = test::RealFilePath("tornpage-2008r2.mdf");
  std::unique_ptr<RealFileSource> real;
  if (!RealFileSource::Open(mdf, real).ok()) GTEST_SKIP() << "no " << mdf;
  test::ScratchDir dir;
  const Outcome r = Mkimage({"image",
                             "--kind",
                             "raw",
                             "--mdf",
                             mdf,
                             "--cluster",
                             "2",
                             "--fragments",
                             "6",
                             "--split-pages",
                             "2",
                             "--older-copy",
                             "--stale-runs",
                             "2",
                             "--other-db-runs",
                             "2",
                             "--other-file-id-runs",
                             "1",
                             "--unreadable",
                             "3",
                             "--other-mdf",
                             test::RealFilePath("checksum-2005.mdf"),
                             "--seed",
                             "8",
                             "-o",
                             dir.File("r.img"),
                             "--manifest",
                             dir.File("m.json")});
  ASSERT_EQ(r.code, 0) << r.err;
  Manifest m;
  ASSERT_TRUE(ReadManifest(dir.File("m.json"), m).ok());
  EXPECT_EQ(m.kind, "raw");
  EXPECT_EQ(m.sectorsPerCluster, 2u);
  EXPECT_EQ(m.files[0].sha256, "e7621a05eb1a253e18cef76066710b143ec2c288428391cbb2b0fa13eb04eac8");
  EXPECT_EQ(m.splitPages.size(), 2u);
  EXPECT_EQ(m.unreadableSectors.size(), 3u);
  EXPECT_EQ(m.files.size(), 5u);
  EXPECT_TRUE(test::FragmentsHoldPages(m, dir.File("r.img"), {{0, real.get()}}));
}

// The hard cases and a second target through the command line: each lands in the manifest.
TEST(Mkimage, RawImageWithTwoGenerationsAndHardCases) {
  test::ScratchDir dir;
  const Outcome r = Mkimage({"image",
                             "--kind",
                             "raw",
                             "--pages",
                             "400",
                             "--generation",
                             "2",
                             "--cluster",
                             "4",
                             "--fragments",
                             "8",
                             "--split-pages",
                             "3",
                             "--detached-tails",
                             "1",
                             "--split-before-zero",
                             "1",
                             "--second-target",
                             "older",
                             "--older-after-header",
                             "--other-db-runs",
                             "3",
                             "--other-db-on-free-pages",
                             "-o",
                             dir.File("r.img")});
  ASSERT_EQ(r.code, 0) << r.err;
  Manifest m;
  ASSERT_TRUE(ReadManifest(dir.File("r.img.json"), m).ok());
  ASSERT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
  EXPECT_EQ(m.files[1].name, "shop-older");
  EXPECT_LT(m.files[1].headerLsn, m.files[0].headerLsn);
  std::set<std::string> kinds;
  for (const HardCase& h : m.hardCases) kinds.insert(h.kind);
  EXPECT_EQ(kinds, (std::set<std::string>{"detached-tail", "split-before-zero-page",
                                          "foreign-pages-on-free-ids", "older-after-header"}));
  EXPECT_NE(r.out.find("shop-older"), std::string::npos) << r.out;
}

TEST(Mkimage, GptDiskWithPartitionsBeforeTheDatabase) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::ScratchDir dir;
  const Outcome r = Mkimage({"image", "--kind", "disk", "--table", "gpt", "--pages", "60",
                             "--partition-before", "empty:1M", "--partition-before", "fat32",
                             "--decoy-files", "2", "-o", dir.File("d.img")});
  ASSERT_EQ(r.code, 0) << r.err;
  Manifest m;
  ASSERT_TRUE(ReadManifest(dir.File("d.img.json"), m).ok());
  EXPECT_EQ(m.partitionTable, "gpt");
  ASSERT_EQ(m.partitions.size(), 3u);
  EXPECT_EQ(m.partitions[0].sectorCount, 2048u);
  EXPECT_EQ(m.partitions[1].fileSystem, "FAT32");
  EXPECT_EQ(m.partition->number, 3);
}

// The built-in sample, from SQL Server's own file: both copies come back whole from the
// manifest's extents, and match the originals written beside the image.
TEST(Mkimage, SampleFromARealFile) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  const std::string realDir = std::filesystem::path(test::RealFilePath("x")).parent_path();
  if (!std::filesystem::exists(realDir + "/checksum-2014.mdf")) GTEST_SKIP() << "no " << realDir;
  test::ScratchDir dir;
  std::filesystem::create_directory(dir.File("orig"));
  const Outcome r = Mkimage({"sample", dir.File("s.img"), "--real-dir", realDir, "--seed", "3",
                             "--write-originals", dir.File("orig")});
  ASSERT_EQ(r.code, 0) << r.err;
  Manifest m;
  ASSERT_TRUE(ReadManifest(dir.File("s.img.json"), m).ok());
  EXPECT_EQ(m.kind, "disk");
  EXPECT_EQ(m.partitionTable, "mbr");
  EXPECT_EQ(m.sectorsPerCluster, 4u);
  ASSERT_EQ(m.partitions.size(), 1u);
  EXPECT_EQ(m.partitions[0].fileSystem, "FAT32");
  EXPECT_FALSE(m.liveFiles.empty());
  ASSERT_EQ(m.TargetFiles(), (std::vector<int>{0, 1}));
  EXPECT_EQ(m.files[0].name, "checksum-2014.mdf");
  EXPECT_EQ(m.files[0].sha256, "834df3ef3aeb85afa920295208c1c38091d578286e60a2f670ae445e07419017");
  EXPECT_LT(m.files[1].headerLsn, m.files[0].headerLsn);
  EXPECT_TRUE(std::any_of(m.splitPages.begin(), m.splitPages.end(), [](const SplitPage& s) {
    return s.file == 0 && s.tailBeforeNextPage;
  })) << "at least one repairable split page";
  for (int t : {0, 1}) {
    SCOPED_TRACE(m.files[t].name);
    EXPECT_GT(m.FragmentsOf(t).size(), 1u);
    EXPECT_TRUE(m.UnrecoverablePages(t).empty());
    const std::vector<std::uint8_t> rebuilt = test::RebuildFromManifest(m, dir.File("s.img"), t);
    EXPECT_EQ(Sha256Hex(rebuilt), m.files[t].sha256);
    EXPECT_EQ(test::FileSha256(dir.File("orig/" + m.files[t].name)), m.files[t].sha256);
  }
  // The older copy lies apart from the newer, on the same partition.
  EXPECT_GT(m.FragmentsOf(1).front().extent.diskSector, m.FragmentsOf(0).back().extent.diskSector);
}

TEST(Mkimage, GeneratedSampleIsTheSameForASeed) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("sfdisk", "mkfs.vfat", "mcopy", "mdel", "mshowfat", "fsck.vfat");
  test::ScratchDir dir;
  ASSERT_EQ(Mkimage({"sample", dir.File("a.img"), "--seed", "5"}).code, 0);
  ASSERT_EQ(Mkimage({"sample", dir.File("b.img"), "--seed", "5"}).code, 0);
  EXPECT_TRUE(test::FilesEqual(dir.File("a.img"), dir.File("b.img")));
  Manifest a, b;
  ASSERT_TRUE(ReadManifest(dir.File("a.img.json"), a).ok());
  ASSERT_TRUE(ReadManifest(dir.File("b.img.json"), b).ok());
  EXPECT_EQ(ManifestToJson(a), ManifestToJson(b));
  EXPECT_EQ(a.files[0].name, "sample.mdf");
  EXPECT_EQ(a.files[1].name, "sample-older.mdf");
  for (int t : {0, 1}) {
    EXPECT_TRUE(a.UnrecoverablePages(t).empty());
    EXPECT_EQ(Sha256Hex(test::RebuildFromManifest(a, dir.File("a.img"), t)), a.files[t].sha256);
  }
}

TEST(Mkimage, BadInputExitsWithTwoAndSaysWhy) {
  test::ScratchDir dir;
  const std::string out = dir.File("x.img");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"image", "--kind", "zip", "-o", out},
           {"image", "--kind", "raw"},
           {"image", "--kind", "raw", "--cluster", "3", "-o", out},
           {"image", "--kind", "raw", "--size", "10X", "-o", out},
           {"image", "--kind", "raw", "--extent", "0:16", "-o", out},
           {"image", "--kind", "raw", "--mdf", dir.File("missing.mdf"), "-o", out},
           {"image", "--kind", "raw", "--mdf", "/etc/hostname", "--pages", "50", "-o", out},
           {"db", "--pages", "10", "-o", out},
           {"image", "--kind", "raw", "--older-after-header", "-o", out},
           {"image", "--kind", "raw", "--second-target", "newer", "-o", out},
           {"image", "--kind", "disk", "--table", "apm", "-o", out},
           {"image", "--kind", "disk", "--partition-before", "ntfs", "-o", out},
           {"image", "--kind", "disk", "--partition-before", "fat32:0", "-o", out},
           {"sample"},
       }) {
    const Outcome r = Mkimage(args);
    EXPECT_EQ(r.code, kExitBadInput) << ::testing::PrintToString(args);
    EXPECT_FALSE(r.err.empty()) << ::testing::PrintToString(args);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(Mkimage, HelpDocumentsTheKindsAndExitsWithZero) {
  const Outcome top = Mkimage({"--help"});
  EXPECT_EQ(top.code, 0);
  EXPECT_NE(top.out.find("Exit codes"), std::string::npos);
  const Outcome image = Mkimage({"image", "--help"});
  EXPECT_EQ(image.code, 0);
  for (const char* option :
       {"--kind", "--cluster", "--split-pages", "--older-copy", "--overwrite-clusters",
        "--partition-start", "--unreadable", "--split-before-zero", "--other-db-on-free-pages",
        "--older-after-header", "--second-target", "--table", "--partition-before"}) {
    EXPECT_NE(image.out.find(option), std::string::npos) << option;
  }
  const Outcome sample = Mkimage({"sample", "--help"});
  EXPECT_EQ(sample.code, 0);
  for (const char* option : {"--real-dir", "--seed", "--write-originals"}) {
    EXPECT_NE(sample.out.find(option), std::string::npos) << option;
  }
}

TEST(Mkimage, MissingFileSystemToolsExitWithThree) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir.File("empty"));
  // RAVELIN_TOOL_PATH replaces the whole search path: a machine without ntfs-3g.
  ::setenv("RAVELIN_TOOL_PATH", dir.File("empty").c_str(), 1);
  const Outcome ntfs =
      Mkimage({"image", "--kind", "ntfs", "--pages", "40", "-o", dir.File("n.img")});
  const Outcome disk =
      Mkimage({"image", "--kind", "disk", "--pages", "40", "-o", dir.File("d.img")});
  ::unsetenv("RAVELIN_TOOL_PATH");
  EXPECT_EQ(ntfs.code, kExitMissingTool);
  EXPECT_NE(ntfs.err.find("ntfs-3g"), std::string::npos) << ntfs.err;
  EXPECT_EQ(disk.code, kExitMissingTool);
  EXPECT_FALSE(std::filesystem::exists(dir.File("n.img")));
}

}  // namespace
}  // namespace ravelin::gen
