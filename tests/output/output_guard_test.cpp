#include "output/output_guard.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "catalogue/catalogue_fixture.h"
#include "catalogue/extraction.h"
#include "commands/popup_menu1.h"
#include "commands/scan_info_commands.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;
using test::CatalogueTest;

class OutputGuardTest : public CatalogueTest {
 protected:
  void SetUp() override {
    WriteFile(image_path_, std::string(64 * 1024, 'x'));
    source_.SourceChosen = true;
    source_.SourcePath = image_path_;
  }
  std::string image_path_ = dir_.File("disk.img");
  DataSource source_;
};

TEST_F(OutputGuardTest, RefusesTheSourceFileUnderAnyNameOnly) {
  EXPECT_TRUE(OutputOnSource(source_.SourcePath, image_path_));
  fs::create_hard_link(image_path_, dir_.File("hard"));
  fs::create_symlink(image_path_, dir_.File("soft"));
  EXPECT_TRUE(OutputOnSource(source_.SourcePath, dir_.File("hard")));
  EXPECT_TRUE(OutputOnSource(source_.SourcePath, dir_.File("soft")));
  EXPECT_FALSE(OutputOnSource(source_.SourcePath, dir_.File("other.mdf")));
  EXPECT_FALSE(OutputOnSource(std::string(), image_path_)) << "no source chosen";

  // The segments of a split Expert Witness image are the source too, existing or not.
  const std::string e01 = dir_.File("case.E01");
  WriteFile(e01, "EVF");
  for (const char* name : {"case.E02", "case.e17", "case.EAB"})
    EXPECT_TRUE(OutputOnSource(e01, dir_.File(name))) << name;
  for (const char* name : {"case.mdf", "other.E02", "case.E2", "case.json"})
    EXPECT_FALSE(OutputOnSource(e01, dir_.File(name))) << name;
}

TEST_F(OutputGuardTest, SaveAndExtractionNeverWriteOntoTheImage) {
  test::ScriptedUi ui;
  Workspace ws(ui);  // the real files
  ws.source() = source_;
  ws.source().SectorLimit = 128;
  ui.dialogAnswers = {image_path_, image_path_};
  ui.yesNoAnswers = {true};
  btnsaveClick(ws);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_NE(ui.messages[0].text.find("data source"), std::string::npos);
  EXPECT_EQ(ReadFile(image_path_).size(), 64u * 1024);
  EXPECT_EQ(ExtractCombined(ws, {}, dir_.File("soft-link-free")), 0);
  EXPECT_EQ(ExtractCombined(ws, {}, image_path_), kExtractRefused) << "refused, nothing written";
  EXPECT_EQ(ReadFile(image_path_), std::vector<std::uint8_t>(64 * 1024, 'x'));
}

// A made-up sysfs: disk sda (8:0) with sda1 (8:1) and sda2 (8:2), disk sdb (8:16) with
// sdb1 (8:17), and a mapped volume dm-0 (253:0) built on sda2.
TEST_F(OutputGuardTest, DeviceLiesOnFollowsPartitionsAndSlaves) {
  const fs::path root = dir_.File("sys");
  auto device = [&](const fs::path& dir, const std::string& dev, bool partition) {
    fs::create_directories(root / dir);
    WriteFile((root / dir / "dev").string(), dev + "\n");
    if (partition) WriteFile((root / dir / "partition").string(), "1\n");
    fs::create_directories(root / "dev/block");
    fs::create_directory_symlink(fs::path("../..") / dir, root / "dev/block" / dev);
  };
  device("block/sda", "8:0", false);
  device("block/sda/sda1", "8:1", true);
  device("block/sda/sda2", "8:2", true);
  device("block/sdb", "8:16", false);
  device("block/sdb/sdb1", "8:17", true);
  device("block/dm-0", "253:0", false);
  fs::create_directories(root / "block/dm-0/slaves");
  fs::create_directory_symlink("../../sda/sda2", root / "block/dm-0/slaves/sda2");

  const std::string sys = root.string();
  EXPECT_TRUE(DeviceLiesOn(makedev(8, 1), makedev(8, 0), sys));
  EXPECT_TRUE(DeviceLiesOn(makedev(253, 0), makedev(8, 0), sys));
  EXPECT_TRUE(DeviceLiesOn(makedev(253, 0), makedev(8, 2), sys));
  EXPECT_FALSE(DeviceLiesOn(makedev(8, 17), makedev(8, 0), sys));
  EXPECT_FALSE(DeviceLiesOn(makedev(8, 0), makedev(8, 1), sys)) << "a disk is not on its partition";
  EXPECT_FALSE(DeviceLiesOn(makedev(0, 42), makedev(8, 0), sys));
}

TEST_F(OutputGuardTest, OutputFileAppearsOnlyWhenCommitted) {
  const std::string target = dir_.File("out.bin");
  WriteFile(target, "old");
  {
    auto file = OutputFile::Create(target);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Append(std::vector<std::uint8_t>(10, 1)));
    EXPECT_EQ(ReadFile(target), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  }
  EXPECT_EQ(ReadFile(target), (std::vector<std::uint8_t>{'o', 'l', 'd'})) << "abandoned";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.File("")), fs::directory_iterator()), 2)
      << "no temporary file left behind";

  auto file = OutputFile::Create(target);
  ASSERT_TRUE(file->AppendZeros(5));
  ASSERT_TRUE(file->Append(std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_TRUE(file->OverwriteTail(std::vector<std::uint8_t>{9, 9}));
  EXPECT_FALSE(file->OverwriteTail(std::vector<std::uint8_t>(9, 0)));
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(ReadFile(target), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1, 9, 9}));
  EXPECT_FALSE(OutputFile::Create(dir_.File(""))) << "a folder is not a file";
  EXPECT_FALSE(OutputFile::Create(dir_.File("missing/out.bin")));
}

}  // namespace
}  // namespace ravelin
