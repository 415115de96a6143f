// `ravelin recover` beyond the images: the names it gives, bad usage, the recovery from a
// saved scan, and `analyse --search --check --out` giving the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "cli/recovery.h"
#include "common/messages.h"
#include "gen/database_generator.h"
#include "gen/image_raw.h"
#include "support/image_fixtures.h"

namespace ravelin::cli {
namespace {

TEST(RecoveredFileNameTest, TakesTheLastPartInLowerCaseAndNeverAnExistingName) {
  test::ScratchDir dir;
  const std::string folder = dir.File("");
  std::ofstream(dir.File("taken.mdf")) << "x";
  std::set<std::string> taken;
  struct Case {
    const char* physical;
    const char* expected;
  };
  for (const Case& c : {Case{"C:\\DATA\\Shop.MDF", "Shop.mdf"},
                        Case{"D:\\x\\Shop.mdf", "Shop-2.mdf"}, Case{"Shop.mdf", "Shop-3.mdf"},
                        Case{"c:\\taken.mdf", "taken-2.mdf"}, Case{"", "noname.mdf"},
                        Case{"c:\\dir\\..", "noname-2.mdf"}, Case{"c:\\a/b.mdf", "b.mdf"}}) {
    EXPECT_EQ(RecoveredFileName(c.physical, folder, taken), c.expected) << c.physical;
  }
}

class RecoverCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gen::DatabaseSpec design;
    design.pageCount = 600;
    design.seed = 5;
    design.generation = 1;
    database_ = std::make_unique<gen::DatabaseGenerator>(design);
    gen::RawImageOptions o;
    o.seed = 5;
    o.fragments = 6;
    ASSERT_TRUE(gen::BuildRawImage(*database_, {}, o, image_, manifest_).ok());
  }
  RecoverOptions Options(const std::string& out) {
    RecoverOptions o;
    o.scan.source.source = image_;
    o.scan.source.diskImage = true;
    o.scan.sectorsPerCluster = 8;
    o.scan.progress = ScanOptions::ProgressStyle::kNone;
    o.outDir = dir_.File(out);
    return o;
  }
  std::string Original() {
    const std::string path = dir_.File("original.mdf");
    std::ofstream file(path, std::ios::binary);
    std::array<std::uint8_t, kPageSize> page{};
    for (std::int64_t p = 0; p < database_->PageCount(); ++p) {
      database_->ReadPage(p, page);
      file.write(reinterpret_cast<const char*>(page.data()), kPageSize);
    }
    return path;
  }

  test::ScratchDir dir_;
  std::string image_ = dir_.File("disk.img");
  gen::Manifest manifest_;
  std::unique_ptr<gen::DatabaseGenerator> database_;
  CliEnv env_;
  std::ostringstream out_, err_;
};

TEST_F(RecoverCommandTest, BadUsageIsExitTwoAndWritesNothing) {
  RecoverOptions none = Options("a");
  none.scan.source.source.clear();
  EXPECT_EQ(RunRecover(none, env_, out_, err_), 2);
  RecoverOptions rowsOnly = none;
  rowsOnly.rows = dir_.File("x.rows");
  EXPECT_EQ(RunRecover(rowsOnly, env_, out_, err_), 2);
  RecoverOptions missing = Options("b");
  missing.scan.source.source = dir_.File("no-such.img");
  EXPECT_EQ(RunRecover(missing, env_, out_, err_), 2);
  RecoverOptions fileTen = Options("c");
  fileTen.file = 10;
  EXPECT_EQ(RunRecover(fileTen, env_, out_, err_), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("c"))) << "the folder it made is gone again";
}

// The folder is made when missing; one that cannot be made or is no folder stops the run
// before the scan, with the option named.
TEST_F(RecoverCommandTest, OutDirThatCannotHoldTheFilesIsBadUsage) {
  std::ofstream(dir_.File("plain")) << "x";
  for (const std::string& outDir : {dir_.File("plain"), dir_.File("plain/sub"), std::string()}) {
    RecoverOptions o = Options("");
    o.outDir = outDir;
    out_.str("");
    err_.str("");
    EXPECT_EQ(RunRecover(o, env_, out_, err_), kExitBadUsage) << outDir;
    EXPECT_NE(err_.str().find("--out-dir: "), std::string::npos) << err_.str();
    EXPECT_TRUE(out_.str().empty()) << out_.str();
  }
}

// What recover reports rests on the session's numbers, not on the wording of any text: with
// every fixed text replaced by a placeholder it reports the same files, pages and accounts.
TEST_F(RecoverCommandTest, ReportsTheSameWhateverTheFixedTextsSay) {
  auto report = [&](const std::string& name) {
    RecoverOptions o = Options(name);
    o.json = dir_.File(name + ".json");
    EXPECT_EQ(RunRecover(o, env_, out_, err_), 0) << err_.str();
    nlohmann::json doc = nlohmann::json::parse(std::ifstream(o.json));
    std::vector<std::string> logs;
    for (nlohmann::json& file : doc["files"]) {
      for (const auto& line : file["log"]) logs.push_back(line.get<std::string>());
      file.erase("log");
      file.erase("seconds");
      file.erase("output");
    }
    doc.erase("out_dir");
    return std::pair(doc, logs);
  };
  const auto [plain, plainLog] = report("plain");
  std::pair<nlohmann::json, std::vector<std::string>> swapped;
  {
    PlaceholderTexts placeholders;
    swapped = report("swapped");
  }
  EXPECT_EQ(swapped.first, plain);
  ASSERT_EQ(plain["files"].size(), 1u);
  EXPECT_GT(plain["files"][0]["page_count"].get<std::int64_t>(), 0);
  EXPECT_TRUE(plain["files"][0]["written"].get<bool>());
  // The texts were swapped: the log holds placeholders where it held the system's texts.
  const std::string finished{Text(TextId::kAnalysisFinished)};
  EXPECT_NE(std::find(plainLog.begin(), plainLog.end(), finished), plainLog.end());
  EXPECT_EQ(std::find(swapped.second.begin(), swapped.second.end(), finished),
            swapped.second.end());
  EXPECT_NE(std::find_if(swapped.second.begin(), swapped.second.end(),
                         [](const std::string& line) { return line.rfind("<text ", 0) == 0; }),
            swapped.second.end());
  EXPECT_TRUE(test::FilesEqual(dir_.File("swapped/shop.mdf"), dir_.File("plain/shop.mdf")));
}

TEST_F(RecoverCommandTest, SavedScanAndAnalyseGiveTheSameFileAsTheWholeRecovery) {
  ASSERT_EQ(RunRecover(Options("live"), env_, out_, err_), 0) << err_.str();
  const std::string rebuilt = dir_.File("live/shop.mdf");
  EXPECT_TRUE(test::FilesEqual(rebuilt, Original())) << out_.str();
  EXPECT_NE(out_.str().find("output: " + rebuilt), std::string::npos) << out_.str();

  ScanOptions scan;
  scan.source = Options("").scan.source;
  scan.sectorsPerCluster = 8;
  scan.rows = dir_.File("scan.rows");
  scan.content = dir_.File("scan.content");
  scan.progress = ScanOptions::ProgressStyle::kNone;
  std::ostringstream ignored;
  ASSERT_EQ(RunScan(scan, env_, ignored, ignored), 0);

  RecoverOptions saved = Options("saved");
  saved.scan.source.source.clear();
  saved.rows = scan.rows;
  saved.content = scan.content;
  saved.json = dir_.File("report.json");
  ASSERT_EQ(RunRecover(saved, env_, out_, err_), 0) << err_.str();
  EXPECT_TRUE(test::FilesEqual(dir_.File("saved/shop.mdf"), rebuilt));
  EXPECT_TRUE(std::filesystem::exists(saved.json));

  AnalyseOptions analyse;
  analyse.rows = scan.rows;
  analyse.content = scan.content;
  analyse.file = 1;
  analyse.search = analyse.check = true;
  analyse.out = dir_.File("analysed.mdf");
  std::ostringstream log;
  ASSERT_EQ(RunAnalyse(analyse, env_, log, err_), 0) << log.str() << err_.str();
  EXPECT_TRUE(test::FilesEqual(analyse.out, rebuilt));
  EXPECT_NE(log.str().find("检测完毕"), std::string::npos);
  EXPECT_NE(log.str().find("组合完毕"), std::string::npos);
}

}  // namespace
}  // namespace ravelin::cli
