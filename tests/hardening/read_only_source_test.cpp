// The source is only ever read: every operation run on a read-only image (and, where the
// machine lets a test attach one, a read-only loop device over it) leaves the image's bytes,
// modification time and change time as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/saved_scan.h"
#include "cli/terminal_ui.h"
#include "commands/tab3_commands.h"
#include "commands/tab4_commands.h"
#include "datasource/fault_device.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"
#include "support/workspace_tables.h"
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

// The page numbers at which two files differ, as text.
std::string DifferingPages(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  std::string text = "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
                     ", pages differing:";
  const std::size_t n = std::min(a.size(), b.size()) / kPageSize;
  for (std::size_t p = 0; p < n; ++p)
    if (!std::equal(a.begin() + p * kPageSize, a.begin() + (p + 1) * kPageSize,
                    b.begin() + p * kPageSize))
      text += " " + std::to_string(p);
  return text;
}

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
class ReadOnlySourceTest : public test::CliFixture {
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

  // Every operation on `source`, read as a whole-disk image. Writes into the scratch folder.
  void RunEverything(const std::string& source) {
    const std::string rows = dir_.File("scan.txt"), content = dir_.File("spcontent");
    ASSERT_EQ(Run({"scan", source, "--disk-image", "--rows", rows, "--content", content}), kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"fragments", rows, "--content", content}), kExitOk) << err_.str();
    EXPECT_EQ(Run({"files", rows, "--source", source, "--disk-image"}), kExitOk) << err_.str();
    EXPECT_EQ(Run({"analyse", rows, "--source", source, "--disk-image", "--file", "1"}), kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"extract", rows, "--fragments", "1,2", "--dir", dir_.File(""), "--source",
                   source, "--disk-image"}),
              kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"verify", source}), kExitBadSource) << err_.str();  // an image, not a data file

    EXPECT_TRUE(Rebuild(source) == real_) << "the rebuilt file differs from the original";
    EXPECT_EQ(Run({"verify", dir_.File("rebuilt.mdf")}), kExitOk) << out_.str();
    // The whole recovery, from the source and from the saved scan.
    const std::string out = dir_.File("recovered"), again = dir_.File("recovered-again");
    EXPECT_EQ(Run({"recover", source, "--disk-image", "--out-dir", out, "--json",
                   dir_.File("report.json")}),
              kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"recover", "--rows", rows, "--content", content, "--out-dir", again}), kExitOk)
        << err_.str();
    EXPECT_EQ(Run({"analyse", rows, "--content", content, "--file", "1", "--search", "--check",
                   "--out", dir_.File("analysed.mdf")}),
              kExitOk)
        << err_.str();
  }

  // Scans `source` and rebuilds its first database file as the window does: the automatic
  // analysis, the Assembly list sorted by first page, the MDF write. The rebuilt bytes;
  // what the commands said goes to *said.
  std::vector<std::uint8_t> Rebuild(const std::string& source, std::string* said = nullptr,
                                    const std::function<void()>& beforeWrite = {}) {
    const std::string rows = dir_.File("rebuild.txt");
    EXPECT_EQ(Run({"scan", source, "--disk-image", "--rows", rows}), kExitOk) << err_.str();
    std::ostringstream memo, messages;
    TerminalUi ui(memo, messages, nullptr);
    Workspace ws(ui, env_.opener);
    SourceArgs args;
    args.source = source;
    args.diskImage = true;
    EXPECT_TRUE(OpenFileList(ws, env_, rows, "", args, false, messages)) << messages.str();
    test::EditList(ws, ws.ListView3()).SetCurrent(0);
    ListView3Click(ws);
    ws.controls().tab3.chkauto = true;
    Button1Click(ws);
    ws.jobs().WaitIdle(std::chrono::minutes(5));
    ws.jobs().JoinAll();
    ListView4ColumnClick(ws, 2);  // by first page, as the write wants it
    const std::string mdf = dir_.File("rebuilt.mdf");
    if (beforeWrite) beforeWrite();
    EXPECT_TRUE(CreateMdf(ws, mdf)) << messages.str();
    if (said) *said = err_.str() + memo.str() + messages.str();
    std::ifstream in(mdf, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  std::vector<std::uint8_t> real_;
};

TEST_F(ReadOnlySourceTest, EveryOperationLeavesAReadOnlyImageUntouched) {
  std::string why;
  if (!MakeImage(&why)) GTEST_SKIP() << why;
  const FileState before = StateOf(image_);
  RunEverything(image_);
  ExpectUnchanged(before, image_);
}

// A device whose chosen sectors turn unreadable while `*faulty` holds, so one Workspace can
// analyse with every sector readable and write with some of them failing.
class SwitchableFaults final : public Device {
 public:
  SwitchableFaults(const std::string& path, std::set<std::uint64_t> bad, const bool* faulty)
      : healthy_(OpenSystemDevice(path).device),
        faulty_(std::make_unique<FaultyDevice>(OpenSystemDevice(path).device, std::move(bad))),
        on_(faulty) {}
  bool ReadAt(std::uint64_t offset, MutableBytes out) override {
    return (*on_ ? static_cast<Device&>(*faulty_) : *healthy_).ReadAt(offset, out);
  }
  std::uint64_t SizeBytes() const override { return healthy_->SizeBytes(); }
  std::uint32_t LogicalSectorSize() const override { return 512; }

 private:
  std::unique_ptr<Device> healthy_;
  std::unique_ptr<FaultyDevice> faulty_;
  const bool* on_;
};

// Unreadable sectors cost the pages they lie in and no more: the scan finds the same
// fragments around them, and the write makes exactly those pages zero pages. (An analysis
// that meets an unreadable page ends, so it runs with the sectors readable.)
TEST_F(ReadOnlySourceTest, AnUnreadableRegionCostsOnlyThePagesItLiesIn) {
  std::string why;
  if (!MakeImage(&why)) GTEST_SKIP() << why;
  // Sectors 3..42 of page 50 of the header fragment at 6000: pages 50, 51 and 52.
  std::set<std::uint64_t> bad;
  for (std::uint64_t s = 6000 + 16 * 50 + 3; s < 6000 + 16 * 50 + 43; ++s) bad.insert(s);
  bool faulty = false;
  const std::string path = image_;
  env_.opener = [path, bad, &faulty](const std::string& p) -> OpenResult {
    if (p != path) return OpenSystemDevice(p);
    return {std::make_unique<SwitchableFaults>(p, bad, &faulty), 0};
  };
  const std::string healthyRows = dir_.File("healthy.txt"), faultyRows = dir_.File("faulty.txt");
  ASSERT_EQ(Run({"scan", image_, "--disk-image", "--rows", healthyRows}), kExitOk);
  faulty = true;
  ASSERT_EQ(Run({"scan", image_, "--disk-image", "--rows", faultyRows}), kExitOk);
  EXPECT_NE(err_.str().find("error1sec"), std::string::npos) << err_.str();
  ASSERT_EQ(Run({"fragments", faultyRows}), kExitOk) << err_.str();
  const std::string faultyList = out_.str();
  ASSERT_EQ(Run({"fragments", healthyRows}), kExitOk) << err_.str();
  EXPECT_EQ(faultyList, out_.str());

  std::string said;
  faulty = false;
  const std::vector<std::uint8_t> rebuilt = Rebuild(image_, &said, [&faulty] { faulty = true; });
  std::vector<std::uint8_t> expected = real_;
  std::fill(expected.begin() + 50 * kPageSize, expected.begin() + 53 * kPageSize, 0);
  EXPECT_TRUE(rebuilt == expected) << said << DifferingPages(rebuilt, expected);
  EXPECT_NE(said.find("read disk error"), std::string::npos) << said;
}

// A disk that drops off the bus part-way through: the scan ends, saying where reads failed,
// and does not hang.
TEST_F(ReadOnlySourceTest, ADiskThatStopsAnsweringEndsTheScan) {
  std::string why;
  if (!MakeImage(&why)) GTEST_SKIP() << why;
  for (const std::size_t goodReads : {0u, 1u, 3u}) {
    const std::string path = image_;
    env_.opener = [path, goodReads](const std::string& p) {
      OpenResult r = OpenSystemDevice(p);
      if (r.device && p == path) {
        auto faulty = std::make_unique<FaultyDevice>(std::move(r.device));
        faulty->FailReadsAfter(goodReads);
        r.device = std::move(faulty);
      }
      return r;
    };
    const int code = Run({"scan", image_, "--disk-image", "--rows", dir_.File("r.txt")});
    EXPECT_TRUE(code == kExitOk || code == kExitFailed || code == kExitBadSource)
        << goodReads << ": " << code;
    // Whatever it got to, it says a read failed; it never claims a clean scan.
    EXPECT_NE((err_.str() + out_.str()).find("error"), std::string::npos)
        << goodReads << ": " << err_.str();
  }
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
