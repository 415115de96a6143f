#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"
#include "support/page_builder.h"
#include "support/saved_image_scan.h"

namespace ravelin::cli {
namespace {

using test::PageBuilder;
using Bytes = std::vector<std::uint8_t>;

// An image with [0,3) at 64, [5,6) at 400 and [10,12) at 600, its rows and content saved.
class ExtractCommandTest : public test::CliFixture {
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
    SaveRows({{3, 0, 64}, {1, 5, 400}, {2, 10, 600}});
  }
  // Saves rows (pages, start page, start sector) of the image, in this order, with content.
  void SaveRows(const std::vector<test::ScanRow>& fragments) {
    ASSERT_TRUE(test::SaveImageScan(image_, 1024, 16, fragments, rows_, content_));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.File("")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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
            kExitBadUsage);
  EXPECT_NE(err_.str().find("fragment 4 is not in the list"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", out}), kExitBadUsage);
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--content", content_}), kExitBadUsage);
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", image_, "--source", image_,
                 "--disk-image"}),
            kExitBadUsage)
      << "never onto the source";
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(ReadFile(image_), image_bytes_);
}

TEST_F(ExtractCommandTest, RefusesTargetsThatAreNotFilesOrAreInputsAndLeavesThemUntouched) {
  const std::vector<std::string> before = Names();
  const std::string folder = dir_.File("");
  for (const std::string& target : {std::string("/dev/null"), folder, rows_, content_}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(
        Run({"extract", rows_, "--fragments", "all", "--combined", target, "--content", content_}),
        kExitBadUsage);
    EXPECT_NE(err_.str().find("error,无法创建文件" + target + " ("), std::string::npos)
        << err_.str();
  }
  EXPECT_EQ(Names(), before);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST_F(ExtractCommandTest, GarbagePageNumbersAreRefusedBeforeWriting) {
  SaveRows({{3, 0, 64}, {2, 2147483647, 400}, {2, 10, 600}});
  const std::string out = dir_.File("combined.mdf");
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "all", "--combined", out, "--content", content_,
                 "--sort", "position"}),
            kExitBadUsage);
  // A row past the last page id is refused as soon as the row file is read.
  EXPECT_NE(err_.str().find("line 2 of the scan-info file): EndPage"), std::string::npos)
      << err_.str();
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(ExtractCommandTest, FragmentRangesAndStartPageOrderUnlessSorted) {
  // Listed out of page order: 序号 1 holds pages [10,12), 序号 3 pages [0,3).
  SaveRows({{2, 10, 600}, {1, 5, 400}, {3, 0, 64}});
  const std::string out = dir_.File("combined.mdf");
  ASSERT_EQ(Run({"extract", rows_, "--fragments", "2-", "--combined", out, "--content", content_}),
            kExitOk)
      << err_.str();
  Bytes expected = Sectors(64, 48);
  expected.resize(expected.size() + 2 * kPageSize, 0);
  const Bytes page5 = Sectors(400, 16);
  expected.insert(expected.end(), page5.begin(), page5.end());
  EXPECT_EQ(ReadFile(out), expected) << "pages [0,3), two zero pages, page 5";

  ASSERT_EQ(Run({"extract", rows_, "--fragments", "1,3", "--combined", out, "--content", content_,
                 "--sort", "position", "--force"}),
            kExitOk);
  EXPECT_EQ(ReadFile(out).size(), 5 * kPageSize) << "list order asked for: [10,12) then [0,3)";
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1-x", "--combined", out, "--content", content_}),
            kExitBadUsage);
  EXPECT_NE(err_.str().find("--fragments: '1-x'"), std::string::npos) << err_.str();
}

TEST_F(ExtractCommandTest, AContentFileOfOtherRowsIsRefusedUnlessForced) {
  std::filesystem::resize_file(content_, std::filesystem::file_size(content_) + 512);
  const std::string out = dir_.File("combined.mdf");
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", out, "--content", content_}),
            kExitBadUsage);
  EXPECT_NE(err_.str().find("--force"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"extract", rows_, "--fragments", "1", "--combined", out, "--content", content_,
                 "--force"}),
            kExitOk);
}

// Raises SIGINT on the `n`-th read of any device it opens.
DeviceOpener InterruptOnRead(int n) {
  auto reads = std::make_shared<int>(0);
  return [reads, n](const std::string& path) {
    class Interrupting final : public Device {
     public:
      Interrupting(std::unique_ptr<Device> inner, std::shared_ptr<int> reads, int n)
          : inner_(std::move(inner)), reads_(std::move(reads)), n_(n) {}
      bool ReadAt(std::uint64_t offset, MutableBytes out) override {
        if (++*reads_ == n_) std::raise(SIGINT);
        return inner_->ReadAt(offset, out);
      }
      std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
      std::uint32_t LogicalSectorSize() const override { return 512; }

     private:
      std::unique_ptr<Device> inner_;
      std::shared_ptr<int> reads_;
      int n_;
    };
    OpenResult opened = OpenSystemDevice(path);
    if (opened.device) {
      opened.device = std::make_unique<Interrupting>(std::move(opened.device), reads, n);
    }
    return opened;
  };
}

TEST_F(ExtractCommandTest, CtrlCDuringACombinedExtractionLeavesNothingBehind) {
  const std::vector<std::string> before = Names();
  const std::string out = dir_.File("combined.mdf");
  EXPECT_EXIT(
      {
        InstallInterruptHandlers();
        env_.opener = InterruptOnRead(4);
        Run({"extract", rows_, "--fragments", "all", "--combined", out, "--source", image_,
             "--disk-image"});
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kExitInterrupted), "");
  EXPECT_EQ(Names(), before) << "neither the file nor its temporary name";
}

}  // namespace
}  // namespace ravelin::cli
