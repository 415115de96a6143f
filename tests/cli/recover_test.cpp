// `ravelin recover` beyond the images: the names it gives, bad usage, the recovery from a
// saved scan, and `analyse --search --check --out` giving the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "catalogue/page_facts.h"
#include "cli/commands.h"
#include "cli/recovery.h"
#include "commands/scan_info_commands.h"
#include "common/messages.h"
#include "datasource/device.h"
#include "datasource/fault_device.h"
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

// Each file's status comes from its page account, and exit 0 means every file is complete:
// a lost fragment, a damaged page and an unreadable sector each give exit 1 and say so.
TEST_F(RecoverCommandTest, StatusAndExitCodeFollowThePageAccount) {
  struct Case {
    const char* name;
    int lostExtents;
    int unreadableSectors;
    bool damagePage;
    const char* status;
    int exitCode;
  };
  for (const Case& c : {Case{"whole", 0, 0, false, "complete", kExitOk},
                        Case{"lost fragment", 1, 0, false, "incomplete", kExitFailed},
                        Case{"damaged page", 0, 0, true, "doubtful", kExitFailed},
                        Case{"unreadable sectors", 0, 6, false, "incomplete", kExitFailed}}) {
    SCOPED_TRACE(c.name);
    gen::RawImageOptions o;
    o.seed = 7;  // its unreadable sectors spare the header fragment's first page
    o.fragments = 6;
    o.lostExtents = c.lostExtents;
    o.unreadableSectors = c.unreadableSectors;
    const std::string image = dir_.File(std::string(c.name) + ".img");
    gen::Manifest manifest;
    ASSERT_TRUE(gen::BuildRawImage(*database_, {}, o, image, manifest).ok());
    if (c.damagePage) {
      // One byte in the middle of the boot page (page 9, always in use): its checksum fails.
      for (const gen::ManifestFragment& f : manifest.FragmentsOf(0)) {
        if (f.firstPage != 0) continue;
        ASSERT_GT(f.pageCount, 9);
        std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>((f.startSector + 9 * 16) * 512 + 4000));
        file.put('\x5A');
      }
    }
    CliEnv env;
    const std::set<std::uint64_t> bad(manifest.unreadableSectors.begin(),
                                      manifest.unreadableSectors.end());
    env.opener = [bad](const std::string& path) {
      OpenResult opened = OpenSystemDevice(path);
      if (opened.device && !bad.empty())
        opened.device = std::make_unique<FaultyDevice>(std::move(opened.device), bad);
      return opened;
    };
    RecoverOptions ro = Options(std::string("out-") + c.name);
    ro.scan.source.source = image;
    ro.json = dir_.File(std::string(c.name) + ".json");
    out_.str("");
    EXPECT_EQ(RunRecover(ro, env, out_, err_), c.exitCode) << out_.str();
    ASSERT_TRUE(std::filesystem::exists(ro.json)) << out_.str() << err_.str();
    const nlohmann::json report = nlohmann::json::parse(std::ifstream(ro.json));
    ASSERT_EQ(report["files"].size(), 1u);
    EXPECT_EQ(report["files"][0]["status"], c.status) << out_.str();
    EXPECT_EQ(report["status_counts"][c.status], 1);
    EXPECT_NE(out_.str().find(std::string("  status: ") + c.status), std::string::npos);
    EXPECT_NE(out_.str().find(std::string("1 ") + c.status), std::string::npos) << out_.str();
  }
}

TEST_F(RecoverCommandTest, SavedScanAndAnalyseGiveTheSameFileAsTheWholeRecovery) {
  RecoverOptions live = Options("live");
  live.stats = true;
  ASSERT_EQ(RunRecover(live, env_, out_, err_), 0) << err_.str();
  // Every reader's bytes are counted: the scan alone reads the whole image once.
  unsigned long long read = 0, wrote = 0;
  const std::string stats = err_.str().substr(err_.str().find("stats: read "));
  ASSERT_EQ(std::sscanf(stats.c_str(), "stats: read %llu bytes from the source in all, wrote %llu",
                        &read, &wrote),
            2)
      << err_.str();
  EXPECT_GE(read, std::filesystem::file_size(image_));
  EXPECT_EQ(wrote, static_cast<unsigned long long>(database_->PageCount()) * kPageSize);
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

// The steps after the scan decide from what it kept of the pages: the whole recovery reads
// the image once and the rebuilt file's pages once more. A saved scan with its side file reads
// no more than that; without it, or with the side file of another save, the pages are read
// again and every result stays the same.
TEST_F(RecoverCommandTest, ReadsTheImageOnceAndTheFileOnceLiveOrSaved) {
  auto recover = [&](RecoverOptions o, const std::string& name) {
    o.stats = true;
    o.json = dir_.File(name + ".json");
    err_.str("");
    EXPECT_EQ(RunRecover(o, env_, out_, err_), 0) << err_.str();
    unsigned long long read = 0, wrote = 0;
    const std::size_t at = err_.str().find("stats: read ");
    EXPECT_NE(at, std::string::npos) << err_.str();
    if (at != std::string::npos) {
      EXPECT_EQ(
          std::sscanf(err_.str().c_str() + at,
                      "stats: read %llu bytes from the source in all, wrote %llu", &read, &wrote),
          2);
    }
    nlohmann::json doc = nlohmann::json::parse(std::ifstream(o.json));
    for (nlohmann::json& file : doc["files"]) {
      file.erase("seconds");
      file.erase("output");
    }
    doc.erase("out_dir");
    doc.erase("source");
    return std::pair(static_cast<std::uint64_t>(read), doc);
  };
  const std::uint64_t fileBytes = static_cast<std::uint64_t>(database_->PageCount()) * kPageSize;
  auto [liveRead, live] = recover(Options("live"), "live");
  EXPECT_LE(liveRead, std::filesystem::file_size(image_) + fileBytes * 105 / 100);
  const std::string original = Original();
  EXPECT_TRUE(test::FilesEqual(dir_.File("live/shop.mdf"), original));

  ScanOptions scan;
  scan.source = Options("").scan.source;
  scan.sectorsPerCluster = 8;
  scan.progress = ScanOptions::ProgressStyle::kNone;
  auto save = [&](const std::string& name) {
    scan.rows = dir_.File(name + ".rows");
    scan.content = dir_.File(name + ".content");
    std::ostringstream ignored;
    EXPECT_EQ(RunScan(scan, env_, ignored, ignored), 0);
    EXPECT_TRUE(std::filesystem::exists(FactsFilePath(scan.content)));
    RecoverOptions o = Options(name);
    o.scan.source.source.clear();
    o.rows = scan.rows;
    o.content = scan.content;
    return o;
  };
  const RecoverOptions saved = save("saved");
  auto [savedRead, fromSaved] = recover(saved, "saved");
  EXPECT_LE(savedRead, liveRead);
  // The content file's stamp is read too: its first and last 64 KiB.
  EXPECT_LE(savedRead, fileBytes * 105 / 100 + 2 * kStampSampleBytes);
  EXPECT_TRUE(test::FilesEqual(dir_.File("saved/shop.mdf"), original));

  // The side file of another save of the same scan: another content key, so not this one's.
  RecoverOptions other = save("other");
  other.outDir = dir_.File("stale");
  std::filesystem::copy_file(FactsFilePath(saved.content), FactsFilePath(other.content),
                             std::filesystem::copy_options::overwrite_existing);
  const auto [staleRead, fromStale] = recover(other, "stale");
  std::filesystem::remove(FactsFilePath(saved.content));
  RecoverOptions without = saved;
  without.outDir = dir_.File("without");
  const auto [plainRead, fromPlain] = recover(without, "without");
  for (const auto& [read, doc, name] :
       {std::tuple(staleRead, fromStale, "stale"), std::tuple(plainRead, fromPlain, "without")}) {
    SCOPED_TRACE(name);
    EXPECT_GT(read, savedRead + fileBytes) << "the analysis reads the pages again";
    EXPECT_EQ(doc, fromSaved);
    EXPECT_TRUE(test::FilesEqual(dir_.File(std::string(name) + "/shop.mdf"), original));
  }
  // The same steps from the saved scan as live; only the name cell differs, with the size
  // read from the stored page 0.
  for (nlohmann::json* doc : {&fromSaved, &live})
    for (nlohmann::json& file : (*doc)["files"]) file.erase("identification");
  EXPECT_EQ(fromSaved["files"], live["files"]);
}

}  // namespace
}  // namespace ravelin::cli
