// `ravelin files` and `ravelin analyse` on a saved scan of a small image holding the mini
// file's fragments, a look-alike of another database and a second copy of pages 40-80.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "analysis/analysis_fixture.h"
#include "catalogue/scan_text.h"
#include "cli/commands.h"
#include "cli/glosses.h"
#include "commands/tab3_commands.h"
#include "common/messages.h"
#include "support/cli_fixture.h"
#include "support/image_fixtures.h"
#include "support/saved_image_scan.h"

namespace ravelin::cli {
namespace {

const std::string kAnalysisFinishedLine{Text(TextId::kAnalysisFinished)};

using Lines = std::vector<std::string>;
constexpr char kName[] = "C:\\DATA\\shop.mdf";
constexpr char kRemark[] = "C:\\DATA\\shop.mdf(0.94 MB)";

class AnalyseCommandTest : public test::CliFixture {
 protected:
  struct Placed {
    std::int32_t first;
    std::int32_t end;
    std::uint64_t sector;
    std::int32_t obj = test::kMiniObj;
  };
  // Rows 1-6 of list II: the header [0,40) at 100 (page 0's LSN 2A/1F0/1), [40,80) at 1000,
  // another database's [40,80) at 2000, [80,120) at 3000, a second [40,80) at 5000, and a
  // short header [0,20) of zeros at 6000.
  void SetUp() override {
    const std::vector<Placed> placed = {
        {0, 40, 100}, {40, 80, 1000}, {40, 80, 2000, 777}, {80, 120, 3000}, {40, 80, 5000}};
    std::vector<std::uint8_t> image(6400 * kSectorSize, 0);
    for (const Placed& f : placed) {
      for (std::int32_t p = f.first; p < f.end; ++p) {
        test::Page page = test::MiniFilePage(p, f.obj);
        if (p == 0) {
          Store32(page, 40, 0x2A);
          Store32(page, 44, 0x1F0);
          Store16(page, 48, 1);
        }
        std::copy(page.begin(), page.end(),
                  image.begin() +
                      static_cast<std::ptrdiff_t>(
                          (f.sector + 16 * static_cast<std::uint64_t>(p - f.first)) * kSectorSize));
      }
    }
    std::ofstream(image_, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    std::vector<test::ScanRow> rows;
    for (const Placed& f : placed)
      rows.push_back({f.end - f.first, f.first, f.sector, f.first == 0 ? kRemark : " "});
    rows.push_back({20, 0, 6000, "无效文件头,size:0KB"});
    ASSERT_TRUE(test::SaveImageScan(image_, 6400, 16, rows, rows_, content_));
    ASSERT_TRUE(test::SaveImageScan(image_, 6400, 16, {{40, 80, 1000}}, headless_, std::nullopt));
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  std::string rows_ = dir_.File("scan.txt");
  std::string content_ = dir_.File("spcontent");
  std::string headless_ = dir_.File("headless.txt");
};

TEST_F(AnalyseCommandTest, FilesListsTheHeaderFragmentsWithTheirPageZeroLsn) {
  ASSERT_EQ(Run({"files", rows_, "--content", content_}), kExitOk) << err_.str();
  EXPECT_EQ(
      OutLines(),
      (Lines{"序号(number)\t文件名(file name)\t碎片大小(KB)(size)\t开始扇区(start sector)\tLSN",
             std::string("1\t") + kName + ":960KB\t320\t100\t0000002A000001F00001",
             "2\t无效文件头,size:0KB (the header fragment ends before page 32, where the name "
             "is)\t160\t6000\t00000000000000000000"}));

  // From the source itself the names are the scan's remarks.
  ASSERT_EQ(Run({"files", rows_, "--source", image_, "--disk-image", "--json"}), kExitOk)
      << err_.str();
  const auto doc = nlohmann::json::parse(out_.str());
  ASSERT_EQ(doc["count"], 2);
  EXPECT_EQ(doc["files"][0]["name"], kRemark);
  EXPECT_EQ(doc["files"][0]["start_sector"], 100);
  EXPECT_EQ(doc["files"][0]["size_kb"], 320);
  EXPECT_EQ(doc["files"][0]["lsn"], "0000002A000001F00001");
  EXPECT_EQ(doc["files"][1]["number"], 2);
  // A system text comes with its English beside it; a name is its own.
  EXPECT_EQ(doc["files"][0]["message"], nullptr);
  EXPECT_EQ(doc["files"][1]["message"],
            "the header fragment ends before page 32, where the name is");
}

TEST_F(AnalyseCommandTest, AnalysePrintsTheAssemblyListAndTheLog) {
  ASSERT_EQ(Run({"analyse", rows_, "--content", content_, "--file", "1"}), kExitOk) << err_.str();
  EXPECT_EQ(OutLines(), (Lines{"序号(number)\t碎片大小(KB)(size)\t开始页面号(first "
                               "page)\t结束页面号(end page)\t备注(remark)\t"
                               "开始扇区(start sector)\t结束扇区(end sector)",
                               std::string("1\t320\t0\t40\t") + kRemark + "\t100\t740",
                               "2\t320\t40\t80\t \t1000\t1640", "3\t320\t80\t120\t \t3000\t3640",
                               "", "找到碎片号1 (found fragment)", "找到碎片号3 (found fragment)",
                               WithGloss(kAnalysisFinishedLine)}));

  ASSERT_EQ(Run({"analyse", rows_, "--source", image_, "--disk-image", "--file", "1", "--json"}),
            kExitOk)
      << err_.str();
  const auto doc = nlohmann::json::parse(out_.str());
  EXPECT_TRUE(doc["completed"]);
  EXPECT_EQ(doc["file_page_count"], test::kMiniFilePages);
  EXPECT_EQ(doc["database_file_name"], kName);
  ASSERT_EQ(doc["fragments"].size(), 3u);
  EXPECT_EQ(doc["fragments"][1]["fragment"], 2);
  EXPECT_EQ(doc["fragments"][1]["start_sector"], 1000);
  EXPECT_EQ(doc["log"].back(), kAnalysisFinishedLine);
}

TEST_F(AnalyseCommandTest, ManualAnalysisAsksOnTheTerminal) {
  // The candidates at page 40 are fragments 5 and 2 (the other database's is rejected); an
  // answer that is no candidate's number is asked again, then the first is taken, though
  // the automatic choice would be the nearer second.
  std::istringstream answers("x\n1\n");
  env_.in = &answers;
  ASSERT_EQ(Run({"analyse", rows_, "--content", content_, "--file", "1", "--manual"}), kExitOk)
      << err_.str();
  EXPECT_NE(err_.str().find("指定接续碎片"), std::string::npos);
  EXPECT_NE(err_.str().find("[1] 序号 5"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("[2] 序号 2"), std::string::npos) << err_.str();
  const Lines lines = OutLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "3\t320\t40\t80\t \t5000\t5640");

  std::istringstream giveUp("q\n");
  env_.in = &giveUp;
  EXPECT_EQ(Run({"analyse", rows_, "--content", content_, "--file", "1", "--manual"}), kExitFailed);
  EXPECT_EQ(OutLines().back(), "用户终止 (stopped by the user)");
}

TEST_F(AnalyseCommandTest, BadUsageSaysWhyOnStderrAndExitsWithTwo) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{"analyse", rows_, "--content", content_, "--file", "3"}, "no database file 3"},
      {{"analyse", rows_, "--content", content_, "--file", "0"}, "no database file 0"},
      {{"files", headless_, "--source", image_, "--disk-image"}, "no database file in"},
      {{"analyse", headless_, "--source", image_, "--disk-image", "--file", "1"},
       "no database file in"},
      {{"files", rows_}, "exactly one"},
      {{"files", rows_, "--source", dir_.File("missing.img")}, "unknown source"},
      {{"files", dir_.File("missing.txt"), "--content", content_}, "cannot open"},
      {{"analyse", rows_, "--content", content_, "--file", "1", "--manual"}, "terminal"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), 2) << c.says;
    EXPECT_NE(err_.str().find(c.says), std::string::npos) << err_.str();
    EXPECT_TRUE(out_.str().empty()) << c.says;
  }
}

// A row whose SizeKB was raised by 2^54 wrapped the content size check around 2^64 and
// matched the real content file; analysing it then reported unreadable pages without end.
TEST_F(AnalyseCommandTest, RowFileWithAnInconsistentRowIsRefusedNamingItsLineEvenWithForce) {
  std::ifstream in(rows_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  auto rows = ParseRowFile(text.str(), &error);
  ASSERT_TRUE(rows) << error;
  (*rows)[1].SizeKB += std::int64_t{1} << 54;
  const std::string tampered = dir_.File("tampered.txt");
  std::ofstream(tampered, std::ios::binary) << *RowFileText(*rows);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"files", tampered, "--content", content_},
        {"analyse", tampered, "--content", content_, "--file", "1", "--force"},
        {"analyse", tampered, "--source", image_, "--disk-image", "--file", "1"}}) {
    EXPECT_EQ(Run(args), kExitBadUsage) << args[0];
    EXPECT_NE(err_.str().find("line 2 of the scan-info file): SizeKB"), std::string::npos)
        << err_.str();
    EXPECT_EQ(err_.str().find("read disk error"), std::string::npos);
  }

  // A row past the end of the source the pages would come from is refused the same way.
  (*rows)[1].SizeKB -= std::int64_t{1} << 54;
  (*rows)[4].StartSector += 6400;
  (*rows)[4].EndSector += 6400;
  std::ofstream(tampered, std::ios::binary | std::ios::trunc) << *RowFileText(*rows);
  EXPECT_EQ(Run({"files", tampered, "--source", image_, "--disk-image"}), kExitBadUsage);
  EXPECT_NE(err_.str().find("line 5 of the scan-info file): EndSector"), std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace ravelin::cli
