// The source is only ever read: every operation run on a read-only image (and, where the
// machine lets a test attach one, a read-only loop device over it) leaves the image's bytes,
// modification time and change time as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/saved_scan.h"
#include "cli/terminal_ui.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"
#include "workspace/workspace.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

struct FileState {
  std::string sha;
  struct timespec mtime {};
  struct timespec ctime {};
  mode_t mode = 0;
};

FileState StateOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {test::FileSha256(path), st.st_mtim, st.st_ctim, st.st_mode};
}

void ExpectUnchanged(const FileState& before, const std::string& path) {
  const FileState after = StateOf(path);
  EXPECT_EQ(after.sha, before.sha) << path;
  EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec);
  EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec);
  EXPECT_EQ(after.ctime.tv_sec, before.ctime.tv_sec);
  EXPECT_EQ(after.ctime.tv_nsec, before.ctime.tv_nsec);
  EXPECT_EQ(after.mode, before.mode);
}

// A real database file in two fragments, its second half in front of its first, with a few
// sectors of noise in front of each: pages 200..399 at sector 1000, pages 0..199 at 6000.
class ReadOnlySourceTest : public ::testing::Test {
 protected:
  static constexpr const char* kReal = "checksum-2014.mdf";

  bool MakeImage(std::string* why) {
    auto real = test::LoadRealFile(kReal, why);
    if (!real) return false;
    real_ = real->Bytes();
    std::vector<std::uint8_t> image(10000 * kSectorSize, 0);
    for (std::size_t i = 0; i < image.size(); ++i)
      image[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 11);
    const std::size_t half = 200 * kPageSize;
    std::copy(real_.begin() + half, real_.end(), image.begin() + 1000 * kSectorSize);
    std::copy(real_.begin(), real_.begin() + half, image.begin() + 6000 * kSectorSize);
    std::ofstream(image_, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    fs::permissions(image_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    return true;
  }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "ravelin");
    out_.str("");
    err_.str("");
    return RunCli(args, env_, out_, err_);
  }

  // Every operation on `source`, read as a whole-disk image. Writes into the scratch folder.
  void RunEverything(const std::string& source) {
    const std::string rows = dir_.File("scan.txt"), content = dir_.File("spcontent");
    ASSERT_EQ(Run({"scan", source, "--disk-image", "--rows", rows, "--content", content}),
              kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"fragments", rows, "--content", content}), kExitOk) << err_.str();
    EXPECT_EQ(Run({"files", rows, "--source", source, "--disk-image"}), kExitOk) << err_.str();
    EXPECT_EQ(Run({"analyse", rows, "--source", source, "--disk-image", "--file", "1"}), kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"extract", rows, "--fragments", "1,2", "--dir", dir_.File(""), "--source",
                   source, "--disk-image"}),
              kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"verify", source}), kExitFailed) << err_.str();  // an image, not a data file

    // The analysis and the write on tab IV, as the window runs them.
    std::ostringstream memo, messages;
    TerminalUi ui(memo, messages, nullptr);
    Workspace ws(ui, env_.opener);
    SourceArgs args{source, false, true};
    ASSERT_TRUE(OpenFileList(ws, ui, env_, rows, "", args, messages)) << messages.str();
    ws.ListView3.SetCurrent(0);
    ListView3Click(ws);
    ws.controls.tab3.chkauto = true;
    Button1Click(ws);
    ws.jobs.WaitIdle(std::chrono::minutes(5));
    ws.jobs.JoinAll();
    ListView4ColumnClick(ws, 2);  // by first page, as the write wants it
    const std::string mdf = dir_.File("rebuilt.mdf");
    ASSERT_TRUE(CreateMdf(ws, mdf)) << messages.str();
    std::ifstream in(mdf, std::ios::binary);
    const std::vector<std::uint8_t> rebuilt(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(rebuilt == real_) << "the rebuilt file differs from the original";
    EXPECT_EQ(Run({"verify", mdf}), kExitOk) << out_.str();
    // TODO: `ravelin recover` joins this list when it lands.
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  std::vector<std::uint8_t> real_;
  CliEnv env_;
  std::ostringstream out_, err_;
};

TEST_F(ReadOnlySourceTest, EveryOperationLeavesAReadOnlyImageUntouched) {
  std::string why;
  if (!MakeImage(&why)) GTEST_SKIP() << why;
  const FileState before = StateOf(image_);
  RunEverything(image_);
  ExpectUnchanged(before, image_);
}

// The same through a block device the kernel itself refuses to write: needs root and loop
// devices, skipped elsewhere.
TEST_F(ReadOnlySourceTest, EveryOperationLeavesAReadOnlyLoopDeviceUntouched) {
  std::string why;
  if (!MakeImage(&why)) GTEST_SKIP() << why;
  if (::geteuid() != 0 || !fs::exists("/dev/loop-control")) GTEST_SKIP() << "no loop devices";
  const std::string cmd = "losetup -r -f --show " + image_ + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) GTEST_SKIP() << "losetup unavailable";
  char name[256] = {};
  const bool got = std::fgets(name, sizeof name, p) != nullptr;
  if (::pclose(p) != 0 || !got) GTEST_SKIP() << "cannot attach a loop device here";
  std::string device(name);
  while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
  const FileState before = StateOf(image_);
  const FileState deviceBefore = StateOf(device);
  RunEverything(device);
  ExpectUnchanged(deviceBefore, device);
  EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0);
  ExpectUnchanged(before, image_);
}

}  // namespace
}  // namespace ravelin::cli
