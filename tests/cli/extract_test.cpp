#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/commands.h"
#include "commands/scan_info_commands.h"
#include "support/image_fixtures.h"
#include "support/page_builder.h"
#include "support/scripted_ui.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

using test::PageBuilder;
using Bytes = std::vector<std::uint8_t>;

// An image with [0,3) at 64, [5,6) at 400 and [10,12) at 600, its rows and content saved.
class ExtractCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_bytes_.assign(1024 * kSectorSize, 0);
    auto put = [&](std::uint64_t sector, std::int32_t page) {
      const test::Page p =
          PageBuilder().PageId(page).Noise(static_cast<std::uint32_t>(page)).Build();
      std::copy(p.begin(), p.end(),
                image_bytes_.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    };
    for (int p = 0; p < 3; ++p) put(64 + 16 * p, p);
    put(400, 5);
    put(600, 10);
    put(616, 11);
    std::ofstream(image_, std::ios::binary)
        .write(reinterpret_cast<const char*>(image_bytes_.data()),
               static_cast<std::streamsize>(image_bytes_.size()));
    test::ScriptedUi ui;
    Workspace ws(ui);
    ws.source.SourceChosen = true;
    ws.source.SourcePath = image_;
    ws.source.SectorLimit = 1024;
    ws.source.SectorsPerCluster = 16;
    for (auto [pages, start, sector] : {std::tuple{3, 0, 64}, {1, 5, 400}, {2, 10, 600}}) {
      FragmentRow row;
      row.StartSector = static_cast<std::uint64_t>(sector);
      row.EndSector = row.StartSector + 16 * static_cast<std::uint64_t>(pages);
      row.SizeKB = 8 * pages;
      row.StartPage = start;
      row.EndPage = start + pages;
      ws.fragments.Append(row);
    }
    ASSERT_TRUE(SaveScanInfo(ws, rows_, content_));
  }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ravelin");
    err_.str("");
    return RunCli(args, env_, out_, err_);
  }
  Bytes Sectors(std::uint64_t sector, std::size_t count) const {
    const auto b = image_bytes_.begin() + static_cast<std::ptrdiff_t>(sector * 512);
    return {b, b + static_cast<std::ptrdiff_t>(count * 512)};
  }
  static Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  std::string rows_ = dir_.File("scan.txt");
  std::string content_ = dir_.File("spcontent");
  Bytes image_bytes_;
  CliEnv env_;
  std::ostringstream out_, err_;
};

TEST_F(ExtractCommandTest, CombinedFileFromTheContentFileFillsTheGap) {
  const std::string out = dir_.File("combined.mdf");
  ASSERT_EQ(Run({"extract", rows_, "--fragments", "3,1", "--combined", out, "--check-order",
                 "--content", content_}),
            kExitOk)
      << err_.str();
  Bytes expected = Sectors(64, 48);
  expected.resize(expected.size() + 7 * kPageSize, 0);
  const Bytes tail = Sectors(600, 32);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(ReadFile(out), expected);
  EXPECT_NE(err_.str().find("保存完毕"), std::string::npos);
}

TEST_F(ExtractCommandTest, OneFilePerFragmentFromTheSourceImage) {
  ASSERT_EQ(Run({"extract", rows_, "--fragments", "2,3", "--dir", dir_.File(""), "--source", image_,
                 "--disk-image"}),
            kExitOk)
      << err_.str();
  EXPECT_EQ(ReadFile(dir_.File("400.hex")), Sectors(400, 16));
  EXPECT_EQ(ReadFile(dir_.File("600.hex")), Sectors(600, 32));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("64.hex")));
}

TEST_F(ExtractCommandTest, RefusesBadRequestsWithoutWriting) {
  const std::string out = dir_.File("combined.mdf");
  // Sorted by size, [0,3) comes after [10,12): the order check stops before any file.
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1,2,3", "--combined", out, "--check-order",
                 "--content", content_, "--sort", "size"}),
            kExitFailed);
  EXPECT_NE(err_.str().find("error,pageid not connectted:0"), std::string::npos) << err_.str();
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1,1", "--combined", out, "--content", content_,
                 "--check-order"}),
            kExitOk)
      << "a fragment ticked twice is one tick";
  std::filesystem::remove(out);
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "4", "--combined", out, "--content", content_}),
            kExitFailed);
  EXPECT_NE(err_.str().find("fragment 4 is not in the list"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", out}), kExitFailed);
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--content", content_}), kExitFailed);
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", image_, "--source", image_,
                 "--disk-image"}),
            kExitFailed)
      << "never onto the source";
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(ReadFile(image_), image_bytes_);
}

}  // namespace
}  // namespace ravelin::cli
