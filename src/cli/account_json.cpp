#include "cli/account_json.h"

#include <cstdint>

namespace ravelin::cli {

nlohmann::json AccountJson(const PageAccount& account) {
  const FileAssessment a = account.Assess();
  nlohmann::json counts = nlohmann::json::object();
  for (std::size_t v = 0; v < kPageVerdictCount; ++v)
    counts[VerdictName(static_cast<PageVerdict>(v))] = account.counts[v];
  nlohmann::json problems = nlohmann::json::array();
  nlohmann::json allocatedZero = nlohmann::json::array();
  for (std::size_t n = 0; n < account.verdicts.size(); ++n) {
    const PageVerdict v = account.verdicts[n];
    if (IsProblemVerdict(v)) problems.push_back({{"page", n}, {"verdict", VerdictName(v)}});
    if (v == PageVerdict::kAllocatedZero) allocatedZero.push_back(n);
  }
  return {{"status", FileStatusName(a.status)},
          {"all_allocated_pages_verified", a.status == FileStatus::kComplete},
          {"pages_in_use", a.inUse},
          {"sound_pages", a.sound},
          {"missing_pages", a.missing},
          {"doubtful_pages", a.doubtful},
          {"pages_short", a.pagesShort},
          {"summary", account.SummaryLines()},
          {"counts", std::move(counts)},
          {"problem_pages", std::move(problems)},
          {"allocated_zero_pages", std::move(allocatedZero)}};
}

}  // namespace ravelin::cli
