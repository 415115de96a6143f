#include "assembly/missing_pages.h"

#include <algorithm>
#include <string>

#include "common/messages.h"
#include "common/rounding.h"

namespace ravelin {

CheckOutcome CheckMissingPages(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount,
                               std::int64_t knownPages,
                               const std::function<bool(std::int64_t)>& allocated,
                               Reporter& reporter, MissingPages* found) {
  MissingPages ignored;
  MissingPages& missing = found ? *found : ignored;
  if (rows.empty() || rows.front().startPage != 0) return CheckOutcome::kNotChecked;
  const std::int64_t p = filePageCount;
  // PFS pages to consider: P / 8088 to the nearest integer (halves to even), plus one when
  // P is not a multiple of 8088.
  const std::int64_t pfsPages = RoundHalfEven(p, kPagesPerPfs) + (p % kPagesPerPfs != 0 ? 1 : 0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::int64_t e = rows[i].endPage;
    const std::int64_t b = i + 1 < rows.size() ? rows[i + 1].startPage : p;
    if (b < e) {
      reporter.Message("error");
      return CheckOutcome::kOverlap;
    }
    if (b == e) continue;
    for (std::int64_t k = 0; k < pfsPages; ++k) {
      const std::int64_t n = k == 0 ? 1 : k * kPagesPerPfs;
      if (e <= n && n < b) {
        missing.pfs.push_back(n);
        reporter.Log(std::string(Text(TextId::kMissingPfsPage)) + std::to_string(n));
      }
    }
    for (std::int64_t n = std::max<std::int64_t>(e, 0); n < std::min(b, knownPages); ++n) {
      if (allocated(n)) {
        missing.allocated.push_back(n);
        reporter.Log(std::string(Text(TextId::kMissingPage)) + std::to_string(n));
      }
    }
  }
  reporter.Log(Text(TextId::kCheckDone));
  return CheckOutcome::kDone;
}

}  // namespace ravelin
