// The ravelin-mkimage command line, run in-process: what it writes, and how it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "gen/database_generator.h"
#include "gen/image_cli.h"
#include "gen/manifest.h"
#include "gen/real_file_source.h"
#include "gen/sha256.h"
#include "support/image_fixtures.h"
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
  for (const char* option : {"--kind", "--cluster", "--split-pages", "--older-copy",
                             "--overwrite-clusters", "--partition-start", "--unreadable"}) {
    EXPECT_NE(image.out.find(option), std::string::npos) << option;
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
