#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "catalogue/scan_checkpoint.h"
#include "catalogue/scan_text.h"
#include "cli/commands.h"
#include "cli/scan_checkpoint_run.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> RowTexts(const std::string& rowsPath) {
  std::string error;
  const auto rows = ParseRowFile(Slurp(rowsPath), &error);
  EXPECT_TRUE(rows) << error;
  std::vector<std::string> texts;
  for (const FragmentRow& row : rows.value_or(std::vector<FragmentRow>{}))
    texts.push_back(row.Text());
  return texts;
}

class ScanResumeCliTest : public test::CliFixture {
 protected:
  ScanResumeCliTest() {
    WithoutDisks(dir_.File(""));
    gen::DatabaseSpec design;
    design.pageCount = 1500;
    gen::DatabaseGenerator db(design);
    gen::RawImageOptions options;
    options.fragments = 9;
    options.sectorsPerCluster = 1;
    image_ = dir_.File("a.img");
    EXPECT_TRUE(gen::BuildRawImage(db, {}, options, image_, manifest_).ok());
  }

  // Reads of the image go through a device that calls `onRead` with the number of each read
  // of a piece of the scan's window or of a fragment (reads above 32 KiB: not the single
  // sectors, not the first sectors the checkpoint identifies the source by).
  void WatchReads(std::function<void(int)> onRead) {
    auto reads = std::make_shared<std::atomic<int>>(0);
    env_.opener = [reads, onRead](const std::string& path) {
      class Watched final : public Device {
       public:
        Watched(std::unique_ptr<Device> inner, std::shared_ptr<std::atomic<int>> reads,
                std::function<void(int)> onRead)
            : inner_(std::move(inner)), reads_(std::move(reads)), onRead_(std::move(onRead)) {}
        bool ReadAt(std::uint64_t offset, MutableBytes out) override {
          if (out.size() > 32 * 1024) onRead_(++*reads_);
          return inner_->ReadAt(offset, out);
        }
        std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
        std::uint32_t LogicalSectorSize() const override { return 512; }

       private:
        std::unique_ptr<Device> inner_;
        std::shared_ptr<std::atomic<int>> reads_;
        std::function<void(int)> onRead_;
      };
      OpenResult opened = OpenSystemDevice(path);
      if (opened.device)
        opened.device = std::make_unique<Watched>(std::move(opened.device), reads, onRead);
      return opened;
    };
  }
  // Raises `signal` at read `at`, then waits long enough for the command to pass the stop on
  // while the scan still runs.
  void InterruptAtRead(int at, int signal) {
    WatchReads([at, signal](int read) {
      if (read != at) return;
      std::raise(signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
  }
  // Counts the reads, to place the signals within a run.
  void CountReads(int& reads) {
    WatchReads([&reads](int read) { reads = read; });
  }

  // The pages of every fragment, read back from a saved content file by `extract`: two saves
  // of one scan draw different keys and are otherwise the same.
  std::string Pages(const std::string& rows, const std::string& content) {
    const std::string combined = content + ".pages";
    EXPECT_EQ(Run({"extract", rows, "--fragments", "all", "--combined", combined, "--content",
                   content, "--force"}),
              kExitOk)
        << err_.str();
    return Slurp(combined);
  }

  std::vector<std::string> Scan(const std::string& rows, const std::string& content,
                                std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"scan", image_,      "--disk-image", "--rows",
                                     rows,   "--content", content,        "--json"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  test::ScratchDir dir_;
  gen::Manifest manifest_;
  std::string image_;
};

TEST_F(ScanResumeCliTest, AnInterruptedScanResumedGivesTheRowsAndContentOfAWholeOne) {
  const std::string rows = dir_.File("whole.rows");
  const std::string content = dir_.File("whole.content");
  int reads = 0;
  CountReads(reads);
  ASSERT_EQ(Run(Scan(rows, content)), kExitOk) << err_.str();
  const std::string wholeList = out_.str();
  ASSERT_GT(reads, 6);
  env_.opener = OpenSystemDevice;
  const std::string wholePages = Pages(rows, content);
  EXPECT_FALSE(fs::exists(CheckpointPath(rows))) << "a finished scan keeps no checkpoint";

  std::set<std::int64_t> stoppedAt;
  for (const auto& [at, signal] :
       {std::pair{2, SIGINT}, std::pair{reads / 3, SIGTERM}, std::pair{2 * reads / 3, SIGINT},
        std::pair{reads - 1, SIGINT}}) {
    SCOPED_TRACE("signal at read " + std::to_string(at));
    const std::string r = dir_.File("r" + std::to_string(at) + ".rows");
    const std::string c = dir_.File("r" + std::to_string(at) + ".content");
    InterruptAtRead(at, signal);
    ASSERT_EQ(Run(Scan(r, c)), 128 + signal) << err_.str();
    EXPECT_NE(err_.str().find("检查点(checkpoint): " + CheckpointPath(r)), std::string::npos)
        << err_.str();
    std::string error;
    const auto checkpoint = ParseCheckpoint(Slurp(CheckpointPath(r)), &error);
    ASSERT_TRUE(checkpoint) << error;
    stoppedAt.insert(checkpoint->position);

    env_.opener = OpenSystemDevice;
    // The rows and content the stopped run saved are its own: --resume replaces them.
    ASSERT_EQ(Run(Scan(r, c, {"--resume"})), kExitOk) << err_.str();
    EXPECT_EQ(out_.str(), wholeList);
    EXPECT_EQ(RowTexts(r), RowTexts(rows));
    EXPECT_EQ(fs::file_size(c), fs::file_size(content));
    EXPECT_TRUE(Pages(r, c) == wholePages) << "the content holds the same pages";
    EXPECT_FALSE(fs::exists(CheckpointPath(r)));
    EXPECT_EQ(Run(Scan(r, c, {"--resume"})), kExitBadUsage) << "nothing left to resume";
    EXPECT_NE(err_.str().find("no checkpoint to resume from"), std::string::npos) << err_.str();
  }
  EXPECT_GT(stoppedAt.size(), 2u) << "the scans stopped at different points";
}

TEST_F(ScanResumeCliTest, ResumeRefusesAnotherSourceOrOtherOptionsAndWritesNothing) {
  const std::string rows = dir_.File("r.rows");
  const std::string content = dir_.File("r.content");
  InterruptAtRead(3, SIGINT);
  ASSERT_EQ(Run(Scan(rows, content)), kExitInterrupted) << err_.str();
  env_.opener = OpenSystemDevice;
  const std::string checkpoint = Slurp(CheckpointPath(rows));
  const std::string savedRows = Slurp(rows);

  // The same first sectors under another name and size is another source.
  const std::string longer = dir_.File("b.img");
  fs::copy_file(image_, longer);
  fs::resize_file(longer, fs::file_size(image_) + 512);
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--file-id", "2"}, "file-id: 1 (now 2)"},
      {{"--sectors-per-cluster", "8"}, "sectors-per-cluster: 1 (now 8)"},
      {{"--begin", "16"}, "begin: 0 (now 16)"},
      {{"--start-page-below", "100"}, "start-page-below: none (now 100)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    std::vector<std::string> args = Scan(rows, content, {"--resume"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), kExitBadUsage);
    EXPECT_NE(err_.str().find("is of another scan"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(c.said), std::string::npos) << err_.str();
  }
  std::vector<std::string> other = Scan(rows, content, {"--resume"});
  other[1] = longer;
  EXPECT_EQ(Run(other), kExitBadUsage);
  EXPECT_NE(err_.str().find("source-path"), std::string::npos) << err_.str();

  // A new scan over the checkpoint is refused unless asked to start again.
  EXPECT_EQ(Run(Scan(rows, content)), kExitBadUsage);
  EXPECT_NE(err_.str().find("--resume goes on with it, --force starts again"), std::string::npos)
      << err_.str();
  EXPECT_EQ(Slurp(CheckpointPath(rows)), checkpoint) << "nothing was written";
  EXPECT_EQ(Slurp(rows), savedRows);

  // A rows file that is not the one the stopped run saved is not replaced without --force.
  std::ofstream(rows, std::ios::app) << "x";
  EXPECT_EQ(Run(Scan(rows, content, {"--resume"})), kExitBadUsage);
  EXPECT_NE(err_.str().find("--force replaces it"), std::string::npos) << err_.str();

  // A damaged checkpoint is refused whole.
  std::ofstream(CheckpointPath(rows), std::ios::app) << "x\n";
  EXPECT_EQ(Run(Scan(rows, content, {"--resume", "--force"})), kExitBadUsage);
  EXPECT_NE(err_.str().find("damaged"), std::string::npos) << err_.str();

  EXPECT_EQ(Run({"scan", image_, "--disk-image", "--resume"}), kExitBadUsage)
      << "--resume needs --rows";
}

// The .mdf files of a recovery folder by name, with their bytes.
std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".mdf")
      files[entry.path().filename().string()] = Slurp(entry.path().string());
  return files;
}

TEST_F(ScanResumeCliTest, AnInterruptedRecoveryResumedWritesTheFilesOfAWholeOne) {
  const std::string whole = dir_.File("whole");
  int reads = 0;
  CountReads(reads);
  const int wholeExit = Run({"recover", image_, "--disk-image", "--out-dir", whole});
  ASSERT_NE(wholeExit, kExitBadUsage) << err_.str();
  const auto expected = Files(whole);
  ASSERT_FALSE(expected.empty()) << err_.str();
  EXPECT_FALSE(fs::exists(RecoverCheckpointPath(whole)));
  ASSERT_GT(reads, 10);
  env_.opener = OpenSystemDevice;

  // In the scan, and late in the analysis and writing of the files.
  for (const int at : {2, reads - 2}) {
    SCOPED_TRACE("signal at read " + std::to_string(at));
    const std::string dir = dir_.File("r" + std::to_string(at));
    InterruptAtRead(at, SIGINT);
    ASSERT_EQ(Run({"recover", image_, "--disk-image", "--out-dir", dir}), kExitInterrupted)
        << err_.str();
    ASSERT_TRUE(fs::exists(RecoverCheckpointPath(dir))) << err_.str();
    env_.opener = OpenSystemDevice;
    EXPECT_EQ(
        Run({"recover", image_, "--disk-image", "--out-dir", dir, "--file-id", "2", "--resume"}),
        kExitBadUsage);
    EXPECT_NE(err_.str().find("file-id: 1 (now 2)"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"recover", image_, "--disk-image", "--out-dir", dir}), kExitBadUsage)
        << "a new recovery over the checkpoint is refused";
    EXPECT_EQ(Run({"recover", image_, "--disk-image", "--out-dir", dir, "--resume"}), wholeExit)
        << err_.str();
    EXPECT_EQ(Files(dir), expected);
    EXPECT_FALSE(fs::exists(RecoverCheckpointPath(dir)));
  }
}

}  // namespace
}  // namespace ravelin::cli
