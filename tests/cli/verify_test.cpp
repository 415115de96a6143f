// `ravelin verify` on the SQL Server files and on copies damaged on purpose.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "cli/commands.h"
#include "page/allocation_page.h"
#include "page/page_format.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"

namespace ravelin::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Verified {
  int exitCode = -1;
  nlohmann::json doc;  // null unless the command wrote JSON
  std::string text, err;
};

Verified Verify(const std::string& path) {
  Verified v;
  std::ostringstream out, err, text, textErr;
  v.exitCode = RunCli({"ravelin", "verify", path, "--json"}, CliEnv{}, out, err);
  if (!out.str().empty()) v.doc = nlohmann::json::parse(out.str());
  v.err = err.str();
  EXPECT_EQ(RunCli({"ravelin", "verify", path}, CliEnv{}, text, textErr), v.exitCode) << path;
  v.text = text.str();
  return v;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes::iterator PageAt(Bytes& b, std::int64_t n) {
  return b.begin() + static_cast<std::ptrdiff_t>(n * kPageSize);
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// Pages of the first PFS interval whose PFS byte says free / allocated.
std::vector<std::int64_t> PagesWhere(const test::RealFile& file, bool allocated) {
  std::vector<std::int64_t> pages;
  test::Page pfs = file.Copy(1);
  RestoreTornBits(pfs);
  const auto bytes = ReadPfsBytes(pfs);
  if (!bytes) return pages;
  for (std::size_t j = 0; j < bytes->bytes.size(); ++j) {
    const auto n = bytes->firstPage + static_cast<std::int64_t>(j);
    if (n < file.PageCount() && ((bytes->bytes[j] & kPfsAllocated) != 0) == allocated)
      pages.push_back(n);
  }
  return pages;
}

// Every file SQL Server wrote passes as it is: allocated pages it never wrote are all zero,
// torn-page files and files with stale bytes on free pages included.
TEST(VerifyCommandTest, EveryGenuineFilePasses) {
  const std::filesystem::path dir = std::filesystem::path(test::RealFilePath("")).parent_path();
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    GTEST_SKIP() << "sample database files not available: " << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".mdf") continue;
    ++files;
    const Verified v = Verify(entry.path().string());
    EXPECT_EQ(v.exitCode, kExitOk) << entry.path() << "\n" << v.text << v.err;
    EXPECT_EQ(v.doc["status"], "complete") << entry.path();
    EXPECT_EQ(v.doc["problem_pages"].size(), 0u) << entry.path();
    EXPECT_EQ(v.doc["counts"]["damaged"], 0) << entry.path();
    EXPECT_EQ(v.doc["sound_pages"].get<std::int64_t>() +
                  v.doc["counts"]["allocated_zero_page"].get<std::int64_t>(),
              v.doc["pages_in_use"].get<std::int64_t>())
        << entry.path();
    EXPECT_NE(v.text.find("OK: complete"), std::string::npos) << entry.path();
  }
  EXPECT_GT(files, 0);
}

struct Damage {
  const char* name;
  std::function<void(Bytes&)> apply;
  int exitCode;
  const char* status;
  std::vector<std::pair<std::int64_t, const char*>> problems;  // (page, verdict)
  std::vector<std::pair<const char*, std::int64_t>> counts;    // verdicts counted
};

TEST(VerifyCommandTest, AccountsForEveryPageAndFailsOnlyOnPagesInUse) {
  for (const char* name : {"checksum-2014.mdf", "tornpage-2008r2.mdf"}) {
    RAVELIN_LOAD_REAL_OR_SKIP(real, name);
    const std::vector<std::int64_t> freePages = PagesWhere(real, false);
    const std::vector<std::int64_t> allocated = PagesWhere(real, true);
    ASSERT_GE(freePages.size(), 2u) << name;
    const std::int64_t freePage = freePages.front(), otherFree = freePages.back();
    // Two allocated data pages past the allocation pages, with bytes to lose.
    std::vector<std::int64_t> data;
    for (const std::int64_t n : allocated)
      if (n >= 16 && real.View(n)[page_header::kType] == kPageTypeData) data.push_back(n);
    ASSERT_GE(data.size(), 2u) << name;
    const std::int64_t used = data.front(), usedToo = data.back();
    std::int64_t iam = -1;
    for (const std::int64_t n : allocated)
      if (iam < 0 && n >= 16 && real.View(n)[page_header::kType] == kPageTypeIam) iam = n;
    ASSERT_GE(iam, 0) << name;
    const std::int64_t last = real.PageCount();
    const std::vector<Damage> damages = {
        {"as SQL Server wrote it", [](auto&) {}, kExitOk, "complete", {}, {{"damaged", 0}}},
        // The two low bits of a sector's last byte: its torn bits, or a word of the checksum.
        {"a sector of an allocated page torn",
         [&](auto& b) { PageAt(b, used)[3 * 512 + 511] ^= 0x03; },
         kExitFailed,
         "doubtful",
         {{used, "damaged"}},
         {{"damaged", 1}}},
        {"an allocated page zeroed: listed, not a fault by itself",
         [&](auto& b) { std::fill(PageAt(b, used), PageAt(b, used + 1), 0); },
         kExitOk,
         "complete",
         {},
         {{"allocated_zero_page", 1}}},
        {"the boot page and an IAM page zeroed: SQL Server always writes them",
         [&](auto& b) {
           std::fill(PageAt(b, 9), PageAt(b, 10), 0);
           std::fill(PageAt(b, iam), PageAt(b, iam + 1), 0);
         },
         kExitFailed,
         "incomplete",
         {{9, "missing_allocated_zero_page"}, {iam, "missing_allocated_zero_page"}},
         {{"allocated_zero_page", 0}}},
        {"two allocated pages swapped",
         [&](auto& b) {
           std::swap_ranges(PageAt(b, used), PageAt(b, used + 1), PageAt(b, usedToo));
         },
         kExitFailed,
         "doubtful",
         {{used, "damaged"}, {usedToo, "damaged"}},
         {}},
        {"residue on free pages: noise, and another page of the file",
         [&](auto& b) {
           const Bytes noise = Noise(kPageSize, 7);
           std::copy(noise.begin(), noise.end(), PageAt(b, freePage));
           std::copy(PageAt(b, used), PageAt(b, used + 1), PageAt(b, otherFree));
         },
         kExitOk,
         "complete",
         {},
         {{"free_not_a_data_page", 2}, {"damaged", 0}}},
        {"the PFS page damaged: nothing is taken to be free",
         [&](auto& b) {
           PageAt(b, 1)[3 * 512 + 511] ^= 0x03;
           const Bytes noise = Noise(kPageSize, 9);
           std::copy(noise.begin(), noise.end(), PageAt(b, freePage));
         },
         kExitFailed,
         "doubtful",
         {{1, "damaged"}, {freePage, "damaged"}},
         {{"free_not_a_data_page", 0}}},
        {"cut short",
         [&](auto& b) { b.resize(100 * kPageSize); },
         kExitFailed,
         "incomplete",
         {},
         {}},
        {"longer than its header says, by a zero page",
         [&](auto& b) { b.resize(static_cast<std::size_t>(last + 1) * kPageSize, 0); },
         kExitOk,
         "complete",
         {},
         {}},
    };
    test::ScratchDir dir;
    for (const Damage& d : damages) {
      Bytes bytes = real.Bytes();
      d.apply(bytes);
      const std::string path = dir.File("copy.mdf");
      WriteFile(path, bytes);
      const Verified v = Verify(path);
      const std::string what = std::string(name) + ": " + d.name;
      EXPECT_EQ(v.exitCode, d.exitCode) << what << "\n" << v.text << v.err;
      ASSERT_TRUE(v.doc.is_object()) << what;
      EXPECT_EQ(v.doc["status"], d.status) << what;
      std::vector<std::pair<std::int64_t, std::string>> problems;
      for (const auto& p : v.doc["problem_pages"]) problems.emplace_back(p["page"], p["verdict"]);
      const std::vector<std::pair<std::int64_t, std::string>> expected(d.problems.begin(),
                                                                       d.problems.end());
      EXPECT_EQ(problems, expected) << what;
      for (const auto& [verdict, count] : d.counts)
        EXPECT_EQ(v.doc["counts"][verdict], count) << what << ": " << verdict;
      EXPECT_EQ(v.doc["all_allocated_pages_verified"], d.exitCode == kExitOk) << what;
    }
  }
}

// Bytes that are no data file are said to be none, with no page list.
TEST(VerifyCommandTest, InputThatIsNoDataFileIsRefusedWithoutAPageList) {
  test::ScratchDir dir;
  std::ofstream(dir.File("tiny")) << "abc";
  WriteFile(dir.File("empty"), {});
  WriteFile(dir.File("random"), Noise(200 * kPageSize, 1));
  std::vector<std::string> paths = {dir.File("tiny"), dir.File("missing"), dir.File("empty"),
                                    dir.File("random"), std::string("/dev/null")};
  if (const auto real = test::LoadRealFile("checksum-2014.mdf")) {
    const std::vector<std::pair<const char*, std::function<void(Bytes&)>>> spoilt = {
        {"odd-size", [](Bytes& b) { b.resize(b.size() + 100, 0); }},
        {"no-header", [](Bytes& b) { std::fill(PageAt(b, 0), PageAt(b, 1), 0); }},
        {"no-pfs", [](Bytes& b) { std::fill(PageAt(b, 1), PageAt(b, 2), 0); }},
        {"header-only", [](Bytes& b) { b.resize(kPageSize); }},
    };
    for (const auto& [name, apply] : spoilt) {
      Bytes bytes = real->Bytes();
      apply(bytes);
      WriteFile(dir.File(name), bytes);
      paths.push_back(dir.File(name));
    }
  }
  for (const std::string& path : paths) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"ravelin", "verify", path}, CliEnv{}, out, err), kExitBadSource) << path;
    EXPECT_FALSE(err.str().empty()) << path;
    EXPECT_EQ(out.str().find("page "), std::string::npos) << path << out.str();
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"ravelin", "verify", dir.File("random")}, CliEnv{}, out, err), kExitBadSource);
  EXPECT_NE(err.str().find("not a data file"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace ravelin::cli
