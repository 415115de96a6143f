// `ravelin verify` on the SQL Server files and on copies damaged on purpose.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "support/image_fixtures.h"
#include "support/real_files.h"

namespace ravelin::cli {
namespace {

struct Damage {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  int exitCode;
  std::vector<std::pair<std::int64_t, const char*>> problems;  // (page, verdict)
};

TEST(VerifyCommandTest, AccountsForEveryPageAndFailsOnDamagedAllocatedPages) {
  RAVELIN_LOAD_REAL_OR_SKIP(real, "checksum-2014.mdf");
  auto page = [](std::vector<std::uint8_t>& b, std::int64_t n) {
    return b.begin() + static_cast<std::ptrdiff_t>(n * kPageSize);
  };
  const std::vector<Damage> damages = {
      {"as SQL Server wrote it", [](auto&) {}, kExitOk, {}},
      {"one byte changed in a checksum page",
       [&](auto& b) { page(b, 20)[3000] ^= 0x40; },
       kExitFailed,
       {{20, "damaged"}}},
      {"an allocated page zeroed: all zero, not a fault by itself",
       [&](auto& b) { std::fill(page(b, 20), page(b, 21), 0); },
       kExitOk,
       {}},
      {"two pages swapped",
       [&](auto& b) { std::swap_ranges(page(b, 20), page(b, 21), page(b, 30)); },
       kExitFailed,
       {{20, "damaged"}, {30, "damaged"}}},
      {"cut short", [&](auto& b) { b.resize(100 * kPageSize); }, kExitFailed, {}},
  };
  test::ScratchDir dir;
  for (const Damage& d : damages) {
    std::vector<std::uint8_t> bytes = real.Bytes();
    d.apply(bytes);
    const std::string path = dir.File("copy.mdf");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"ravelin", "verify", path, "--json"}, CliEnv{}, out, err), d.exitCode)
        << d.name << err.str();
    const auto doc = nlohmann::json::parse(out.str());
    std::vector<std::pair<std::int64_t, std::string>> problems;
    for (const auto& p : doc["problem_pages"]) problems.emplace_back(p["page"], p["verdict"]);
    std::vector<std::pair<std::int64_t, std::string>> expected(d.problems.begin(),
                                                               d.problems.end());
    EXPECT_EQ(problems, expected) << d.name;
    EXPECT_EQ(doc["all_allocated_pages_verified"], d.exitCode == kExitOk) << d.name;
  }
}

TEST(VerifyCommandTest, InputThatIsNoDataFileIsBadUsage) {
  test::ScratchDir dir;
  std::ofstream(dir.File("tiny")) << "abc";
  for (const std::string& path :
       {dir.File("tiny"), dir.File("missing"), std::string("/dev/null")}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"ravelin", "verify", path}, CliEnv{}, out, err), kExitBadSource) << path;
    EXPECT_FALSE(err.str().empty()) << path;
  }
}

}  // namespace
}  // namespace ravelin::cli
