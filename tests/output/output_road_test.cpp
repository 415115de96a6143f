// The output road: what it refuses (and leaves untouched), and that a writer that fails
// part-way or is interrupted leaves no file behind, final or temporary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "output/output_file.h"
#include "output/output_guard.h"
#include "output/temp_registry.h"
#include "support/image_fixtures.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

class OutputRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(input_) << "rows";
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    fs::create_directory(folder_);
    fs::create_hard_link(input_, dir_.File("hard"));
    fs::create_symlink(input_, dir_.File("soft"));
  }
  // Names in the scratch folder, temporary files included.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.File(""))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::ScratchDir dir_;
  std::string input_ = dir_.File("scan.rows");
  std::string fifo_ = dir_.File("fifo");
  std::string folder_ = dir_.File("folder");
};

TEST_F(OutputRoadTest, RefusesNodesThatAreNotFilesAndTheOperationsInputs) {
  const std::vector<std::string> before = Names();
  struct Case {
    std::string target;
    std::string reason;  // a part of the refusal
  };
  const std::vector<Case> cases = {
      {"/dev/null", "character device"},
      {fifo_, "fifo"},
      {folder_, "directory"},
      {input_, "input of this operation"},
      {dir_.File("hard"), "input of this operation"},
      {dir_.File("soft"), "input of this operation"},
      {dir_.File("./folder/../scan.rows"), "input of this operation"},
      {dir_.File("missing/out.bin"), "不可用"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    OutputRequest request;
    request.inputs = {input_};
    std::string why;
    EXPECT_FALSE(OutputFile::Create(c.target, request, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null is still a device";
  ASSERT_EQ(::stat(fifo_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Names(), before) << "nothing created, nothing replaced";
  std::ifstream in(input_);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "rows");

  // The old entry point refuses the same nodes.
  int error = 0;
  EXPECT_FALSE(OutputFile::Create("/dev/null", &error));
  EXPECT_NE(error, 0);
}

TEST_F(OutputRoadTest, RefusesAnOutputThatCannotFitBeforeWriting) {
  OutputRequest request;
  request.expectedBytes = std::uint64_t{1} << 62;
  std::string why;
  EXPECT_FALSE(OutputFile::Create(dir_.File("big.mdf"), request, &why));
  EXPECT_NE(why.find("needs 4611686018427387904 bytes"), std::string::npos) << why;
  EXPECT_NE(why.find("free"), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(dir_.File("big.mdf")));
}

// Fails the write that would take the file past `limit` bytes with `writeError`, or the
// sync with `syncError`.
OutputOps Failing(std::uint64_t limit, int writeError, int syncError) {
  OutputOps ops = OutputOps::System();
  ops.pwrite = [limit, writeError](int fd, const void* data, std::size_t size, off_t offset) {
    if (static_cast<std::uint64_t>(offset) + size > limit) {
      errno = writeError;
      return ssize_t{-1};
    }
    return ::pwrite(fd, data, size, offset);
  };
  ops.fdatasync = [syncError](int fd) {
    if (syncError == 0) return ::fdatasync(fd);
    errno = syncError;
    return -1;
  };
  return ops;
}

TEST_F(OutputRoadTest, AWriterThatFailsLeavesNoFileAndNeverReportsSuccess) {
  const std::vector<std::string> before = Names();
  struct Case {
    const char* name;
    OutputOps ops;
    int expected;
  };
  const Case cases[] = {
      {"disk full", Failing(3 << 20, ENOSPC, 0), ENOSPC},
      {"I/O error", Failing(1 << 20, EIO, 0), EIO},
      {"sync fails", Failing(~std::uint64_t{0}, 0, EIO), EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputRequest request;
    request.ops = &c.ops;
    std::string why;
    auto file = OutputFile::Create(dir_.File("out.mdf"), request, &why);
    ASSERT_TRUE(file) << why;
    bool ok = true;
    for (int i = 0; i < 64 && ok; ++i) ok = file->AppendZeros(128 * 1024);
    ok = ok && file->Commit();
    EXPECT_FALSE(ok);
    EXPECT_EQ(file->LastError(), c.expected);
    file.reset();
    EXPECT_EQ(Names(), before) << "no final and no temporary file";
  }
}

TEST_F(OutputRoadTest, RegisteredTemporaryFilesAreRemovedOnInterruption) {
  auto file = OutputFile::Create(dir_.File("out.mdf"));
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Append(std::vector<std::uint8_t>(100, 7)));
  ASSERT_TRUE(fs::exists(file->TemporaryPath()));
  RemoveTemporaryOutputs();  // what the signal handler calls
  EXPECT_FALSE(fs::exists(file->TemporaryPath()));
  EXPECT_FALSE(fs::exists(dir_.File("out.mdf")));

  // A committed file is no longer anyone's to remove.
  auto done = OutputFile::Create(dir_.File("done.mdf"));
  ASSERT_TRUE(done && done->Append(std::vector<std::uint8_t>(3, 1)) && done->Commit());
  RemoveTemporaryOutputs();
  EXPECT_EQ(fs::file_size(dir_.File("done.mdf")), 3u);
}

TEST_F(OutputRoadTest, SignalHandlersRemoveTheTemporaryFilesAndExitWith128PlusTheSignal) {
  for (const int signal : {SIGTERM, SIGINT}) {
    const std::string target = dir_.File("sig" + std::to_string(signal) + ".mdf");
    std::string temporary;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto file = OutputFile::Create(target);
      if (!file || !file->Append(std::vector<std::uint8_t>(10, 1))) ::_exit(1);
      std::ofstream(target + ".where") << file->TemporaryPath();
      RemoveTemporaryOutputsOnSignal();
      ::raise(signal);
      ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    std::ifstream(target + ".where") >> temporary;
    ASSERT_FALSE(temporary.empty());
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(target));
  }
}

}  // namespace
}  // namespace ravelin
