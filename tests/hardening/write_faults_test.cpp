// Every operation that writes a file, with the disk failing under it: full (ENOSPC) or broken
// (EIO), at the first byte, inside the first buffer, and past the first megabyte. None may
// report success, leave a file under the target's name or leave its temporary file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "catalogue/catalogue_fixture.h"
#include "catalogue/extraction.h"
#include "catalogue/fragment_rows.h"
#include "commands/popup_menu1.h"
#include "commands/scan_info_commands.h"
#include "commands/tab4_commands.h"
#include "output/output_file.h"
#include "support/workspace_tables.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

// The disk as the injected write function sees it: `budget` more bytes fit, then every write
// fails with `error`. A write that straddles the limit is short, as on a real full disk.
std::uint64_t budget = 0;
int failure = ENOSPC;

ssize_t FailingWrite(int fd, const void* data, std::size_t size, off_t offset) {
  if (budget == 0) {
    errno = failure;
    return -1;
  }
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, budget));
  const ssize_t written = ::pwrite(fd, data, n, offset);
  if (written > 0) budget -= static_cast<std::uint64_t>(written);
  return written;
}

// The system's calls with the write replaced.
OutputOps WritingWith(std::function<ssize_t(int, const void*, std::size_t, off_t)> write) {
  OutputOps ops = OutputOps::System();
  ops.pwrite = std::move(write);
  return ops;
}

class WriteFaultTest : public test::CatalogueTest {
 protected:
  WriteFaultTest() : CatalogueTest(8192) {}
  void SetUp() override {
    // Two fragments, together past the output's 1 MiB buffer: pages 0..99 and 100..199.
    PutRun(64, 0, 100);
    PutRun(2000, 100, 100);
    AddRow(100, 0, 64);
    AddRow(100, 100, 2000);
    test::EditList(Ws(), Ws().ListView2()).CheckAll(true);
    for (std::size_t i = 0; i < Ws().fragments().Count(); ++i) {
      ReportRow item = FragmentListItem(Ws().fragments().Row(i), Ws().ListView4().Count());
      item.tableRow = static_cast<std::int64_t>(i);
      test::EditList(Ws(), Ws().ListView4()).Append(std::move(item));
    }
    Ws().FilePageCount() = 200;
  }
  void FailWrites() { Ws().SetOutputOps(&failing_); }
  void HealthyWrites() { Ws().SetOutputOps(nullptr); }

  // Files in the scratch folder, temporary ones included.
  std::vector<std::string> FilesLeft() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder_))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    return names;
  }
  bool SaidWriteFailed() const {
    for (const std::string& text : MessageTexts())
      if (text.find("写入文件失败") != std::string::npos) return true;
    return false;
  }

  std::string folder_ = fs::path(dir_.File("x")).parent_path().string();
  const OutputOps failing_ = WritingWith(&FailingWrite);
};

struct Operation {
  const char* name;
  // True when the operation says it succeeded.
  std::function<bool(Workspace&, const std::string& folder)> run;
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"save rows", [](Workspace& ws, const std::string& d) { return WriteRowFile(ws, d + "/r"); }},
      {"save content",
       [](Workspace& ws, const std::string& d) { return WriteContentFile(ws, d + "/c", 7u); }},
      {"extract combined",
       [](Workspace& ws, const std::string& d) {
         return ExtractCombined(ws, TickedRows(ws.ListView2()), d + "/x") == 0;
       }},
      {"extract fragment files",
       [](Workspace& ws, const std::string& d) {
         return ExtractFragmentFiles(ws, TickedRows(ws.ListView2()), d) == 0;
       }},
      {"write mdf",
       [](Workspace& ws, const std::string& d) { return CreateMdf(ws, d + "/m.mdf"); }},
  };
  return ops;
}

TEST_F(WriteFaultTest, EveryWriterReportsAFailingDiskAndLeavesNoFileBehind) {
  for (const Operation& op : Operations()) {
    for (const int error : {ENOSPC, EIO}) {
      for (const std::uint64_t limit :
           {std::uint64_t{0}, std::uint64_t{3000}, std::uint64_t{(1u << 20) + 5000}}) {
        SCOPED_TRACE(std::string(op.name) + " errno " + std::to_string(error) + " after " +
                     std::to_string(limit) + " bytes");
        ui_.messages.clear();
        budget = limit;
        failure = error;
        FailWrites();
        const bool ok = op.run(Ws(), folder_);
        HealthyWrites();
        // The row file is small enough to fit under every limit but the first.
        if (ok) {
          EXPECT_FALSE(std::string(op.name) != "save rows" || limit == 0);
          EXPECT_FALSE(SaidWriteFailed());
          for (const auto& e : fs::directory_iterator(folder_)) fs::remove(e.path());
          continue;
        }
        EXPECT_TRUE(SaidWriteFailed());
        // Only whole fragment files written before the failing one may stay.
        for (const auto& e : fs::directory_iterator(folder_)) {
          EXPECT_EQ(e.path().extension(), ".hex") << e.path();
          EXPECT_EQ(fs::file_size(e.path()), 100 * kPageSize) << e.path();
          fs::remove(e.path());
        }
      }
    }
  }
}

TEST_F(WriteFaultTest, EveryWriterSucceedsOnAHealthyDisk) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    ui_.messages.clear();
    EXPECT_TRUE(op.run(Ws(), folder_));
    EXPECT_FALSE(SaidWriteFailed());
    EXPECT_FALSE(FilesLeft().empty());
    for (const auto& e : fs::directory_iterator(folder_)) fs::remove(e.path());
  }
}

// A write call that takes no byte and gives no error would otherwise be repeated for ever.
TEST_F(WriteFaultTest, AWriteThatTakesNothingFailsInsteadOfHanging) {
  const OutputOps nothing = WritingWith([](int, const void*, std::size_t, off_t) { return 0; });
  Ws().SetOutputOps(&nothing);
  EXPECT_FALSE(CreateMdf(Ws(), folder_ + "/m.mdf"));
  HealthyWrites();
  EXPECT_TRUE(SaidWriteFailed());
  EXPECT_EQ(FilesLeft(), std::vector<std::string>{});
}

}  // namespace
}  // namespace ravelin
