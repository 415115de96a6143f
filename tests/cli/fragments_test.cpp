#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "common/bytes.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"
#include "support/page_builder.h"
#include "support/saved_image_scan.h"

namespace ravelin::cli {
namespace {

using test::PageBuilder;

// A saved scan of a small image file: a header fragment [0,3) at 64 (LSN 2A/1F0/1), [5,6) at
// 400 with a Chinese memo, [10,12) at 600 and [0,2) at 1000.
class SavedScanTest : public test::CliFixture {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> image(2048 * kSectorSize, 0);
    auto put = [&](std::uint64_t sector, const test::Page& page) {
      std::copy(page.begin(), page.end(),
                image.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    };
    test::Page header = test::FileHeaderPage(1, 100).Build();
    Store32(header, 40, 0x2A);
    Store32(header, 44, 0x1F0);
    Store16(header, 48, 1);
    put(64, header);
    for (int p = 1; p < 3; ++p) put(64 + 16 * p, PageBuilder().PageId(p).Noise(p).Build());
    put(400, PageBuilder().PageId(5).Noise(5).Build());
    for (int p = 10; p < 12; ++p)
      put(600 + 16 * (p - 10), PageBuilder().PageId(p).Noise(p).Build());
    put(1000, test::FileHeaderPage(1, 2).Build());
    put(1016, PageBuilder().PageId(1).Noise(99).Build());
    std::ofstream(image_, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    image_bytes_ = std::move(image);

    ASSERT_TRUE(test::SaveImageScan(image_, 2048, 8,
                                    {{3, 0, 64, "无效文件头,size:800KB"},
                                     {1, 5, 400, "中文备注"},
                                     {2, 10, 600, " "},
                                     {2, 0, 1000, "无效文件头,size:16KB"}},
                                    rows_, content_));
  }
  std::vector<std::uint8_t> Sectors(std::uint64_t sector, std::size_t count) const {
    const auto b = image_bytes_.begin() + static_cast<std::ptrdiff_t>(sector * 512);
    return {b, b + static_cast<std::ptrdiff_t>(count * 512)};
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  std::string rows_ = dir_.File("scan.txt");
  std::string content_ = dir_.File("spcontent");
  std::vector<std::uint8_t> image_bytes_;
};

using FragmentsCommandTest = SavedScanTest;

TEST_F(FragmentsCommandTest, ListsTheRowsAsTabSeparatedCells) {
  ASSERT_EQ(Run({"fragments", rows_}), kExitOk) << err_.str();
  const auto lines = OutLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0],
            "序号(number)\t碎片大小(KB)(size)\t开始页面号(first page)\t结束页面号(end page)\t"
            "备注(remark)\t开始扇区(start sector)\t结束扇区(end sector)");
  EXPECT_EQ(lines[2], "2\t8\t5\t6\t中文备注\t400\t416");
}

TEST_F(FragmentsCommandTest, FiltersSortsAndWritesJson) {
  ASSERT_EQ(
      Run({"fragments", rows_, "--filter-range", "0", "1", "--sort", "start-sector", "--json"}),
      kExitOk)
      << err_.str();
  const auto doc = nlohmann::json::parse(out_.str());
  EXPECT_EQ(doc["count"], 2);
  EXPECT_EQ(doc["total"], 4);
  EXPECT_EQ(doc["fragments"][0]["position"], 1);
  EXPECT_EQ(doc["fragments"][1]["start_sector"], 1000);

  ASSERT_EQ(Run({"fragments", rows_, "--holding-page", "11", "--json"}), kExitOk);
  const auto held = nlohmann::json::parse(out_.str());
  ASSERT_EQ(held["count"], 1);
  EXPECT_EQ(held["fragments"][0]["position"], 3);

  ASSERT_EQ(Run({"fragments", rows_, "--sort", "备注"}), kExitOk);
  EXPECT_EQ(OutLines()[1].substr(0, 2), "3\t") << "the blank memo sorts first";
  EXPECT_EQ(Run({"fragments", rows_, "--sort", "colour"}), kExitBadUsage);
}

TEST_F(FragmentsCommandTest, LsnComesFromTheContentFile) {
  ASSERT_EQ(Run({"fragments", rows_, "--content", content_, "--lsn"}), kExitOk) << err_.str();
  const auto lines = OutLines();
  EXPECT_NE(lines[1].find("无效文件头,size:800KB 0000002A000001F00001"), std::string::npos);
  EXPECT_NE(lines[4].find("无效文件头,size:16KB 00000000000000000000"), std::string::npos);
  EXPECT_NE(Run({"fragments", rows_, "--lsn"}), kExitOk) << "needs the content file";
}

TEST_F(FragmentsCommandTest, CorruptRowFileFailsNamingTheLine) {
  std::ofstream(rows_, std::ios::app) << "XYZ\r\n";
  EXPECT_EQ(Run({"fragments", rows_}), kExitFailed);
  EXPECT_NE(err_.str().find("line 5"), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());
}

}  // namespace
}  // namespace ravelin::cli
