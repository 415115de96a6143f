// What the command line writes: never over an existing file unless --force says so, never
// before every output has been checked, and no folder left behind by a run that wrote
// nothing into it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

class OutputsTest : public test::CliFixture {
 protected:
  void SetUp() override {
    WithoutDisks(dir_.File("machine"));
    gen::DatabaseSpec design;
    design.pageCount = 300;
    design.seed = 11;
    design.generation = 1;
    const gen::DatabaseGenerator database(design);
    gen::RawImageOptions o;
    o.seed = 11;
    o.fragments = 3;
    gen::Manifest manifest;
    ASSERT_TRUE(gen::BuildRawImage(database, {}, o, image_, manifest).ok());
  }
  std::vector<std::string> Scan() const {
    return {"scan", image_, "--disk-image", "--sectors-per-cluster", "8"};
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
};

// Each output of each command: an existing file there is refused and left as it was, and
// replaced with --force.
TEST_F(OutputsTest, AnExistingFileIsReplacedOnlyWithForce) {
  std::vector<std::string> save = Scan();
  const std::string rows = dir_.File("saved.rows"), content = dir_.File("saved.content");
  for (const std::string& a : {std::string("--rows"), rows, std::string("--content"), content})
    save.push_back(a);
  ASSERT_EQ(Run(save), kExitOk) << err_.str();

  const std::string taken = dir_.File("taken");
  struct Case {
    const char* what;
    std::vector<std::string> args;  // writes to `taken`
  };
  std::vector<std::string> scanRows = Scan(), scanContent = Scan();
  scanRows.insert(scanRows.end(), {"--rows", taken});
  scanContent.insert(scanContent.end(), {"--rows", dir_.File("new.rows"), "--content", taken});
  const Case cases[] = {
      {"scan --rows", scanRows},
      {"scan --content", scanContent},
      {"extract --combined",
       {"extract", rows, "--content", content, "--fragments", "all", "--combined", taken}},
      {"analyse --out",
       {"analyse", rows, "--content", content, "--file", "1", "--search", "--out", taken}},
      {"recover --json",
       {"recover", image_, "--disk-image", "--sectors-per-cluster", "8", "--out-dir",
        dir_.File("out"), "--json", taken}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_.File("out"));
    fs::remove(dir_.File("new.rows"));
    std::ofstream(taken) << "keep";
    EXPECT_EQ(Run(c.args), kExitBadUsage) << err_.str();
    EXPECT_NE(err_.str().find("--force"), std::string::npos) << err_.str();
    EXPECT_EQ(Read(taken), "keep");
    EXPECT_FALSE(fs::exists(dir_.File("out")));
    EXPECT_FALSE(fs::exists(dir_.File("new.rows")));
    std::vector<std::string> forced = c.args;
    forced.push_back("--force");
    fs::remove(dir_.File("new.rows"));
    EXPECT_EQ(Run(forced), kExitOk) << err_.str();
    EXPECT_NE(Read(taken), "keep");
  }
}

// Outputs that cannot be written stop the run before the scan, and nothing is made: not the
// folder, not its parents.
TEST_F(OutputsTest, OutputsAreCheckedBeforeAnythingIsMade) {
  std::ofstream(dir_.File("plain")) << "x";
  fs::create_directory(dir_.File("folder"));
  const std::string outDir = dir_.File("a/b/c");
  struct Case {
    const char* what;
    std::vector<std::string> extra;
  };
  const Case cases[] = {
      {"report into a missing folder", {"--json", dir_.File("missing/r.json")}},
      {"report onto a folder", {"--json", dir_.File("folder")}},
      {"report onto a device", {"--json", "/dev/null"}},
      {"report onto the source", {"--json", image_}},
      {"file 0", {"--file", "0"}},
      {"file -1", {"--file", "-1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"recover", image_, "--disk-image", "--out-dir", outDir};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(Run(args), kExitBadUsage) << err_.str();
    EXPECT_FALSE(fs::exists(dir_.File("a"))) << err_.str();
    EXPECT_EQ(err_.str().find("scan: "), std::string::npos) << "scanned: " << err_.str();
  }
  // A folder under a file is refused as such, naming the folder, not a file in it.
  EXPECT_EQ(Run({"recover", image_, "--disk-image", "--out-dir", dir_.File("plain/sub")}),
            kExitBadUsage);
  EXPECT_NE(err_.str().find("plain"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("x.mdf"), std::string::npos) << err_.str();
  // A run that fails after the scan takes away the folders it made.
  EXPECT_EQ(Run({"recover", image_, "--disk-image", "--sectors-per-cluster", "8", "--file", "5",
                 "--out-dir", outDir}),
            kExitBadUsage);
  EXPECT_FALSE(fs::exists(dir_.File("a")));
}

// The report on standard output is JSON alone; the text goes to stderr.
TEST_F(OutputsTest, ReportOnStandardOutput) {
  ASSERT_EQ(Run({"recover", image_, "--disk-image", "--sectors-per-cluster", "8", "--out-dir",
                 dir_.File("out"), "--json", "-"}),
            kExitOk)
      << err_.str();
  const nlohmann::json report = nlohmann::json::parse(out_.str());
  EXPECT_EQ(report["files"].size(), 1u);
  EXPECT_FALSE(report["interrupted"].get<bool>());
  EXPECT_FALSE(fs::exists("-"));
  EXPECT_NE(err_.str().find("recovered 1 of 1 database file"), std::string::npos) << err_.str();
}

TEST(InterruptTest, TheExitCodeNamesTheSignal) {
  for (const auto& [signal, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    StopOnInterrupt interrupt;
    std::raise(signal);
    EXPECT_TRUE(interrupt.TakeRequest());
    EXPECT_EQ(interrupt.ExitCode(), code);
  }
}

}  // namespace
}  // namespace ravelin::cli
