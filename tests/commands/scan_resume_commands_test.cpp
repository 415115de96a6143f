#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "commands/scan_resume.h"
#include "support/image_fixtures.h"
#include "support/scripted_ui.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// A workspace over a 4096-sector image file of zeros.
class CheckpointWriterTest : public ::testing::Test {
 protected:
  CheckpointWriterTest() : ws_(ui_) {
    image_ = dir_.File("disk.img");
    std::ofstream(image_).close();
    std::filesystem::resize_file(image_, 4096 * 512);
    ws_.source().SourceChosen = true;
    ws_.source().SourcePath = image_;
    ws_.source().SectorLimit = 4096;
    ScanSettings settings;
    settings.end = 4096;
    identity_ = ScanIdentity(ws_, settings);
  }

  test::ScratchDir dir_;
  test::ScriptedUi ui_;
  Workspace ws_;
  std::string image_;
  CheckpointFields identity_;
};

TEST_F(CheckpointWriterTest, WritesWhenTheIntervalHasPassedAndNotAgainSoonAfter) {
  const std::string path = dir_.File("rows.checkpoint");
  CheckpointWriter writer(ws_, path, identity_, 77, {});
  writer.every = std::chrono::hours(1);
  writer.everySectors = 1000;
  writer.quiet = std::chrono::seconds(1);
  writer.Reached({0, 0, 0});  // where the scan starts: nothing to keep yet
  writer.Reached({1000, 0, 0});
  EXPECT_EQ(writer.Written(), 0) << "not in the first second of the scan";
  std::this_thread::sleep_for(std::chrono::seconds(1));
  writer.Reached({999, 0, 0});
  EXPECT_EQ(writer.Written(), 0);
  writer.Reached({1000, 0, 0});
  ASSERT_EQ(writer.Written(), 1);
  // The next write waits 200 times as long as the last one took, however far the scan went.
  writer.Reached({5000, 0, 0});
  EXPECT_EQ(writer.Written(), 1);

  std::string error;
  const auto checkpoint = ReadCheckpoint(path, &error);
  ASSERT_TRUE(checkpoint) << error;
  EXPECT_EQ(checkpoint->position, 1000);
  EXPECT_EQ(checkpoint->contentKey, 77u);
  EXPECT_FALSE(IdentityDifference(checkpoint->identity, identity_));
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CheckpointWriterTest, ACheckpointNeverLandsOnTheSource) {
  const auto before = std::filesystem::last_write_time(image_);
  CheckpointWriter writer(ws_, image_, identity_, 1, {});
  writer.every = std::chrono::seconds(0);
  writer.quiet = std::chrono::seconds(1);
  writer.Reached({0, 0, 0});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  writer.Reached({16, 0, 0});
  EXPECT_EQ(writer.Written(), 0);
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_NE(ui_.messages[0].text.find(image_), std::string::npos) << ui_.messages[0].text;
  EXPECT_NE(ui_.messages[1].text.find("the scan goes on without one"), std::string::npos);
  // After one failure the scan goes on without asking again.
  writer.Reached({32, 0, 0});
  EXPECT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(std::filesystem::file_size(image_), 4096u * 512);
  EXPECT_EQ(std::filesystem::last_write_time(image_), before);
}

TEST_F(CheckpointWriterTest, TheIdentityChangesWithTheSourcesFirstSectorsAndSize) {
  {
    std::fstream f(image_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(63 * 512 + 7);
    f.put('x');
  }
  ScanSettings settings;
  settings.end = 4096;
  Workspace again(ui_);
  again.source() = ws_.source();
  EXPECT_EQ(IdentityDifference(identity_, ScanIdentity(again, settings))
                .value_or("")
                .rfind("source-hash: ", 0),
            0u);
  std::filesystem::resize_file(image_, 4097 * 512);
  again.source().SectorLimit = 4097;
  EXPECT_EQ(IdentityDifference(identity_, ScanIdentity(again, settings))
                .value_or("")
                .rfind("source-sectors: 4096 (now 4097)", 0),
            0u);
}

}  // namespace
}  // namespace ravelin
