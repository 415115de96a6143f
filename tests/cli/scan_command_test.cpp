#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

class ScanCommandTest : public ::testing::Test {
 protected:
  ScanCommandTest() {
    env_.discovery.sysfsRoot = dir_.File("sys");  // no disks: SOURCE is an image file
    env_.discovery.devRoot = dir_.File("dev");
  }

  // A raw image of a generated 600-page database cut into four pieces.
  std::string Image() {
    gen::DatabaseSpec design;
    design.pageCount = 600;
    gen::DatabaseGenerator db(design);
    gen::RawImageOptions options;
    options.fragments = 4;
    options.sectorsPerCluster = 8;
    const std::string path = dir_.File("a.img");
    EXPECT_TRUE(gen::BuildRawImage(db, {}, options, path, manifest_).ok());
    return path;
  }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ravelin");
    out_.str("");
    err_.str("");
    return RunCli(args, env_, out_, err_);
  }

  test::ScratchDir dir_;
  CliEnv env_;
  gen::Manifest manifest_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(ScanCommandTest, ListsTheFragmentsItFindsAndSavesTheScan) {
  const std::string image = Image();
  const std::string rows = dir_.File("rows.txt");
  ASSERT_EQ(Run({"scan", image, "--disk-image", "--sectors-per-cluster", "8", "--json", "--rows",
                 rows, "--content", dir_.File("content")}),
            kExitOk)
      << err_.str();
  const auto doc = nlohmann::json::parse(out_.str());
  ASSERT_GE(doc["count"].get<int>(), 1);
  bool header = false;
  for (const auto& row : doc["fragments"])
    if (row["StartPage"] == 0)
      header = row["Remark"].get<std::string>().find("shop.mdf") != std::string::npos;
  EXPECT_TRUE(header) << out_.str();
  EXPECT_NE(err_.str().find("完成"), std::string::npos);

  // The saved rows list the same fragments.
  ASSERT_EQ(Run({"fragments", rows, "--json"}), kExitOk) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["count"], doc["count"]);
}

TEST_F(ScanCommandTest, BadOptionsAndSourcesAreRefusedWithExitCodeTwo) {
  const std::string image = Image();
  EXPECT_EQ(Run({"scan", image, "--disk-image", "--sectors-per-cluster", "0"}), kExitBadSource);
  EXPECT_NE(err_.str().find("每簇扇区数必须大于0"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"scan", dir_.File("missing.img")}), kExitBadSource);
  EXPECT_EQ(Run({"scan", image, "--disk-image", "--free-space-only"}), kExitBadSource);
  EXPECT_NE(err_.str().find("--free-space-only"), std::string::npos);
  EXPECT_TRUE(out_.str().empty());
}

TEST_F(ScanCommandTest, BeginEndAndFileIdNarrowTheScan) {
  const std::string image = Image();
  ASSERT_EQ(Run({"scan", image, "--disk-image", "--file-id", "5", "--json"}), kExitOk);
  EXPECT_EQ(nlohmann::json::parse(out_.str())["count"], 0) << "no pages of file 5";
  ASSERT_EQ(Run({"scan", image, "--disk-image", "--begin", "0", "--end", "1", "--json"}), kExitOk);
  EXPECT_EQ(nlohmann::json::parse(out_.str())["count"], 0);
}

}  // namespace
}  // namespace ravelin::cli
