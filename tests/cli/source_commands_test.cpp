#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "cli/terminal_ui.h"
#include "commands/datasource_menu.h"
#include "common/bytes.h"
#include "common/messages.h"
#include "support/cli_fixture.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

// A made-up machine: /sys with a disk sdz (partition sdz1) and an empty optical drive, and
// a /dev whose nodes are ordinary files holding the bytes of those devices.
class CliTest : public test::CliFixture {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("ravelin-cli-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_ / "sys/block/sdz/sdz1");
    fs::create_directories(root_ / "sys/block/sr0");
    fs::create_directories(root_ / "dev");
    Write(root_ / "sys/block/sdz/size", "40960");
    Write(root_ / "sys/block/sdz/removable", "0");
    Write(root_ / "sys/block/sdz/dev", "8:0");
    Write(root_ / "sys/block/sdz/sdz1/size", "20480");
    Write(root_ / "sys/block/sdz/sdz1/partition", "1");
    Write(root_ / "sys/block/sr0/size", "0");
    Write(root_ / "sys/block/sr0/dev", "11:0");
    WriteImage(root_ / "dev/sdz", std::vector<std::uint8_t>(kSectorSize), 40960);
    WriteImage(root_ / "dev/sdz1", Fat32Boot(), 20480);

    env_.discovery.sysfsRoot = root_ / "sys";
    env_.discovery.devRoot = root_ / "dev";
    env_.discovery.probe = [this](const std::string& path) {
      return path == Dev("sdz1") ? VolumeInfo{"Backup", "vfat", "FAT32"} : VolumeInfo{};
    };
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << '\n';
  }
  // FAT32, 32 reserved sectors, 100 sectors per FAT: the cluster area starts at 232.
  static std::vector<std::uint8_t> Fat32Boot() {
    std::vector<std::uint8_t> s(kSectorSize, 0);
    std::memcpy(s.data() + 3, "MSDOS5.0", 8);
    Store16(s, 11, 512);
    s[13] = 8;
    Store16(s, 14, 32);
    Store32(s, 32, 20480);
    Store32(s, 36, 100);
    std::memcpy(s.data() + 82, "FAT32   ", 8);
    return s;
  }
  static void WriteImage(const fs::path& file, const std::vector<std::uint8_t>& head,
                         std::uint64_t sectors) {
    {
      std::ofstream out(file, std::ios::binary);
      out.write(reinterpret_cast<const char*>(head.data()),
                static_cast<std::streamsize>(head.size()));
    }
    fs::resize_file(file, sectors * kSectorSize);
  }
  std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

  nlohmann::json Json() const { return nlohmann::json::parse(out_.str()); }

  fs::path root_;
};

TEST_F(CliTest, SourcesPrintsTheMenuWithSizesAndFileSystems) {
  ASSERT_EQ(Run({"sources"}), kExitOk);
  EXPECT_EQ(out_.str(),
            "打开镜像文件 (open an image file: give its path as the source)\n-\n"
            "本地磁盘 0 (20.00 MB) [" +
                Dev("sdz") + "]  (local disk 0)\n-\n" + "逻辑分区 " + Dev("sdz1") +
                " [BACKUP]  10.00 MB  vfat FAT32  (partition)\n" + "逻辑分区 " + Dev("sr0") +
                " []  0.00 MB  -  (partition)\n");

  ASSERT_EQ(Run({"sources", "--json"}), kExitOk);
  const auto doc = Json();
  ASSERT_EQ(doc["disks"].size(), 1u);
  EXPECT_EQ(doc["disks"][0]["device"], Dev("sdz"));
  EXPECT_EQ(doc["disks"][0]["bytes"], 40960u * 512u);
  ASSERT_EQ(doc["partitions"].size(), 2u);
  EXPECT_EQ(doc["partitions"][0]["number"], 1);
  EXPECT_EQ(doc["partitions"][0]["label"], "Backup");
  EXPECT_EQ(doc["partitions"][0]["file_system"], "vfat");
  EXPECT_EQ(doc["partitions"][0]["disk"], "sdz");
  EXPECT_EQ(doc["partitions"][1]["optical"], true);
}

TEST_F(CliTest, SourceInfoChoosesListedDisksAndPartitionsByNameOrNode) {
  ASSERT_EQ(Run({"source-info", "sdz", "--json"}), kExitOk) << err_.str();
  auto doc = Json();
  EXPECT_EQ(doc["source"]["is_partition"], false);
  EXPECT_EQ(doc["source"]["source_path"], Dev("sdz"));
  EXPECT_EQ(doc["source"]["total_sectors"], 40960);
  EXPECT_EQ(doc["options"]["end"], "40960");
  EXPECT_EQ(doc["options"]["free_space_only_enabled"], false);

  ASSERT_EQ(Run({"source-info", Dev("sdz1"), "--json"}), kExitOk) << err_.str();
  doc = Json();
  EXPECT_EQ(doc["source"]["is_partition"], true);
  EXPECT_EQ(doc["source"]["drive_number"], 1);
  EXPECT_EQ(doc["source"]["file_system_name"], "FAT32");
  EXPECT_EQ(doc["source"]["sector_limit"], 20479);
  EXPECT_EQ(doc["options"]["begin"], "232");
  EXPECT_EQ(doc["options"]["file_system_label"], "FAT32");
  EXPECT_EQ(doc["options"]["free_space_only"], true);
}

TEST_F(CliTest, ImageKindComesFromTheOptionsElseWholeDisk) {
  const std::string image = (root_ / "part.img").string();
  WriteImage(image, Fat32Boot(), 20480);

  ASSERT_EQ(Run({"source-info", image, "--partition-image", "--json"}), kExitOk) << err_.str();
  auto doc = Json();
  EXPECT_EQ(doc["source"]["has_file_system"], true);
  EXPECT_EQ(doc["source"]["sector_limit"], 20480);  // the image's end
  EXPECT_EQ(doc["options"]["begin"], "232");
  EXPECT_TRUE(err_.str().empty()) << err_.str();

  ASSERT_EQ(Run({"source-info", image, "--disk-image", "--json"}), kExitOk);
  EXPECT_EQ(Json()["source"]["has_file_system"], false);

  // No option: sector 0 decides, says so, and nothing is asked.
  ASSERT_EQ(Run({"source-info", image}), kExitOk);
  EXPECT_NE(err_.str().find("partition image (FAT32 boot sector in sector 0"), std::string::npos)
      << err_.str();
  EXPECT_EQ(err_.str().find(std::string(Text(TextId::kImageKindQuestion))), std::string::npos);
  EXPECT_NE(out_.str().find("--begin                 232\n"), std::string::npos) << out_.str();
  const std::string zeros = (root_ / "zeros.img").string();
  WriteImage(zeros, {}, 2048);
  ASSERT_EQ(Run({"source-info", zeros}), kExitOk);
  EXPECT_NE(err_.str().find("whole-disk image (no boot sector"), std::string::npos) << err_.str();
  EXPECT_NE(out_.str().find("--end                   2048\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("--free-space-only       false (not available"), std::string::npos);

  EXPECT_NE(Run({"source-info", image, "--partition-image", "--disk-image"}), kExitOk);
  EXPECT_NE(err_.str().find("excludes"), std::string::npos) << err_.str();
}

TEST_F(CliTest, AMisspeltCommandIsNamedWithTheCommands) {
  EXPECT_EQ(Run({"recovr", "x"}), kExitBadUsage);
  EXPECT_NE(err_.str().find("(unknown command) \"recovr\"; the commands are:"), std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find(" recover"), std::string::npos) << err_.str();
}

TEST_F(CliTest, UnusableSourcesExitWithTwoAndSayWhy) {
  EXPECT_EQ(Run({"source-info", (root_ / "nothing.img").string()}), kExitBadSource);
  EXPECT_NE(err_.str().find("unknown source"), std::string::npos) << err_.str();
  EXPECT_TRUE(out_.str().empty());

  EXPECT_EQ(Run({"source-info", root_.string()}), kExitBadSource);
  EXPECT_NE(err_.str().find("is a directory"), std::string::npos) << err_.str();

  const std::string locked = (root_ / "locked.img").string();
  WriteImage(locked, {}, 10);
  env_.opener = [locked](const std::string& path) -> OpenResult {
    if (path == locked) return {nullptr, EACCES};
    return OpenSystemDevice(path);
  };
  EXPECT_EQ(Run({"source-info", locked}), kExitBadSource);
  EXPECT_NE(err_.str().find("提示(note): 没有读取 " + locked), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("disk 组"), std::string::npos);
  EXPECT_TRUE(out_.str().empty());

  // A source chosen without its file-system options: shown, but not a success.
  const std::string empty = (root_ / "empty.img").string();
  WriteImage(empty, {}, 0);
  EXPECT_EQ(Run({"source-info", empty, "--partition-image", "--json"}), kExitFailed);
  EXPECT_NE(err_.str().find("512error 读取sec0"), std::string::npos);
  EXPECT_NE(err_.str().find("提示(note): 取分区信息失败2 (the partition image's boot sector"),
            std::string::npos)
      << "the core's message with an English gloss";
  EXPECT_EQ(Json()["source"]["source_chosen"], true);  // stdout holds the document alone
}

TEST(TerminalUiTest, AnswersFromOptionsThenTheTerminalThenNo) {
  std::ostringstream out, err;
  std::istringstream typed("y\n\n");
  TerminalUi ui(out, err, &typed);
  ui.SetAnswer("set?", false);
  EXPECT_FALSE(ui.AskYesNo("set?", "c"));
  EXPECT_TRUE(ui.AskYesNo("ask?", "c"));
  EXPECT_FALSE(ui.AskYesNo("ask?", "c"));  // an empty line is No
  EXPECT_FALSE(ui.AskYesNo("ask?", "c"));  // end of input is No
  ui.ShowMessage("text", "提示", MessageIcon::kWarning);
  ui.AppendMemo(Memo::kMemo1, "memo line");
  EXPECT_EQ(out.str(), "memo line\n");
  EXPECT_NE(err.str().find("提示(note): text\n"), std::string::npos);
}

}  // namespace
}  // namespace ravelin::cli
