#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/commands.h"
#include "cli/scan_run.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

class ScanCommandTest : public test::CliFixture {
 protected:
  ScanCommandTest() {
    WithoutDisks(dir_.File(""));  // SOURCE is an image file
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

  test::ScratchDir dir_;
  gen::Manifest manifest_;
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
    if (row["start_page"] == 0) header = row["name"].get<std::string>().ends_with("shop.mdf");
  EXPECT_TRUE(header) << out_.str();
  EXPECT_NE(err_.str().find("完成"), std::string::npos);

  // The saved rows list the same fragments.
  ASSERT_EQ(Run({"fragments", rows, "--json"}), kExitOk) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["count"], doc["count"]);
}

TEST_F(ScanCommandTest, BadOptionsAndSourcesAreRefusedWithExitCodeTwo) {
  const std::string image = Image();
  EXPECT_EQ(Run({"scan", image, "--disk-image", "--sectors-per-cluster", "0"}), kExitBadUsage);
  EXPECT_NE(err_.str().find("--sectors-per-cluster: 0 is outside 1..32767"), std::string::npos)
      << err_.str();
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

TEST_F(ScanCommandTest, OptionValuesOutsideTheirRangeNameTheOptionAndTheRange) {
  const std::string image = Image();
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--file-id", "0"}, "--file-id: 0 is outside 1..32767"},
      {{"--file-id", "40000"}, "--file-id: 40000 is outside 1..32767"},
      {{"--sectors-per-cluster", "99999999999999999999"},
       "--sectors-per-cluster: '99999999999999999999' is too large"},
      {{"--begin", "abc"}, "--begin: 'abc' is not a whole number"},
      {{"--begin", "20", "--end", "10"}, "--end 10 不大于 --begin 20"},
      {{"--begin", "10", "--end", "10"}, "--end must be above --begin"},
      {{"--no-such-option"}, "--no-such-option"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"scan", image, "--disk-image"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.said);
    EXPECT_EQ(Run(args), kExitBadUsage);
    EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
  }
  // A zero-byte image asked for nothing: the source is unusable, no option is blamed.
  const std::string empty = dir_.File("empty.img");
  std::ofstream(empty).close();
  EXPECT_EQ(Run({"scan", empty, "--disk-image"}), kExitBadSource);
  EXPECT_NE(err_.str().find("the source has no sectors to scan"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("--end"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_NE(out_.str().find("ravelin "), std::string::npos);
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out_.str().find("130 stopped by Ctrl-C"), std::string::npos);
}

TEST_F(ScanCommandTest, UnusableOutputsAreRefusedBeforeTheScanStarts) {
  const std::string image = Image();
  const std::string same = dir_.File("same.bin");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--rows", dir_.File("nodir/x.rows")},
                                             {"--rows", "/proc/x.rows"},
                                             {"--rows", same, "--content", same},
                                             {"--rows", image}}) {
    std::vector<std::string> all = {"scan", image, "--disk-image"};
    all.insert(all.end(), args.begin(), args.end());
    SCOPED_TRACE(args.back());
    EXPECT_EQ(Run(all), kExitBadUsage);
    EXPECT_NE(err_.str().find("error,"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(args.back()), std::string::npos) << "names the path";
    EXPECT_EQ(err_.str().find("开始扫描"), std::string::npos) << "refused before scanning";
  }
  EXPECT_FALSE(std::filesystem::exists(same));
}

// A failed scan left a 0-byte row file that `fragments` then read as an empty scan.
TEST_F(ScanCommandTest, AFailedScanWritesNoRowOrContentFile) {
  // An NTFS partition image whose MFT lies past its end: the free-space map cannot be built.
  std::vector<std::uint8_t> image(64 * kSectorSize, 0);
  std::memcpy(image.data() + 3, "NTFS    ", 8);
  Store16(image, 11, 512);
  image[13] = 8;
  Store64(image, 40, 63);
  Store64(image, 48, 1000);
  image[0x40] = 0xF6;
  const std::string path = dir_.File("bad.img");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  const std::string rows = dir_.File("rows.txt");
  const std::string content = dir_.File("content");
  EXPECT_EQ(Run({"scan", path, "--partition-image", "--rows", rows, "--content", content}),
            kExitFailed);
  EXPECT_NE(err_.str().find("生成存储位图失败"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("was not written"), std::string::npos) << err_.str();
  EXPECT_FALSE(std::filesystem::exists(rows));
  EXPECT_FALSE(std::filesystem::exists(content));
  for (const auto& e : std::filesystem::directory_iterator(dir_.File("")))
    EXPECT_EQ(e.path().filename(), "bad.img") << "no temporary file is left behind";
}

TEST_F(ScanCommandTest, AScanStoppedByCtrlCSavesWhatItFoundAndSaysSo) {
  const std::string image = Image();
  const std::string rows = dir_.File("rows.txt");
  // The first read of the image is Ctrl-C, and slow enough for the command to pass the stop
  // on while the scan still runs.
  auto raised = std::make_shared<std::atomic<bool>>(false);
  env_.opener = [raised](const std::string& path) {
    class Stopping final : public Device {
     public:
      Stopping(std::unique_ptr<Device> inner, std::shared_ptr<std::atomic<bool>> raised)
          : inner_(std::move(inner)), raised_(std::move(raised)) {}
      bool ReadAt(std::uint64_t offset, MutableBytes out) override {
        if (!raised_->exchange(true)) {
          std::raise(SIGINT);
          std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        return inner_->ReadAt(offset, out);
      }
      std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
      std::uint32_t LogicalSectorSize() const override { return 512; }

     private:
      std::unique_ptr<Device> inner_;
      std::shared_ptr<std::atomic<bool>> raised_;
    };
    OpenResult opened = OpenSystemDevice(path);
    if (opened.device) opened.device = std::make_unique<Stopping>(std::move(opened.device), raised);
    return opened;
  };
  EXPECT_EQ(
      Run({"scan", image, "--disk-image", "--sectors-per-cluster", "8", "--json", "--rows", rows}),
      kExitInterrupted)
      << err_.str();
  const auto doc = nlohmann::json::parse(out_.str());
  EXPECT_TRUE(doc["stopped"].get<bool>());
  EXPECT_TRUE(std::filesystem::exists(rows)) << "the rows found so far are saved";
}

// The bar is redrawn in place: a line wider than the terminal would wrap and scroll instead.
TEST(ProgressBarTest, NeverWiderThanTheTerminal) {
  for (const std::size_t length : {2u, 40u, 75u, 200u}) {
    const std::string line = ProgressBarLine(0.5, std::string(length, 'x'));
    EXPECT_EQ(line.size(), 80u) << length;  // "\r" and 79 columns (80 without a terminal)
    EXPECT_EQ(line.find('[') != std::string::npos, length < 70) << line;
  }
  EXPECT_NE(ProgressBarLine(0.5, "50%").find("[###############               ] 50%"),
            std::string::npos);
}

}  // namespace
}  // namespace ravelin::cli
