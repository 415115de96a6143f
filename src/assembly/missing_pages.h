// The missing-page check of tab IV: walks the Assembly list sorted by first page and reports
// every PFS page and every page the file's PFS pages mark allocated that falls into a gap
// between consecutive rows, or after the last row up to the file's page count. It reads the
// list and the allocation states only, no sectors.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "assembly/assembly_rows.h"
#include "common/reporter.h"
#include "page/allocation_page.h"

namespace ravelin {

enum class CheckOutcome {
  kNotChecked,  // empty list, or its first row does not begin at page 0: nothing reported
  kOverlap,     // a row begins before the previous one ends ("error" shown, check stopped)
  kDone,        // every gap reported, "检测完毕" logged
};

// The pages the check found missing, in the order it reports them.
struct MissingPages {
  std::vector<std::int64_t> pfs;        // PFS pages ("缺少重要的PFS页面")
  std::vector<std::int64_t> allocated;  // pages the PFS pages mark allocated ("缺少页面")
};

// `allocated(n)` tells whether page n is allocated according to the file's PFS pages; it is
// asked only for pages below `knownPages` (pages past the page map count as not allocated).
// Lines: "缺少重要的PFS页面" + n, "缺少页面" + n, then "检测完毕". `found`, when given,
// receives the same pages as numbers.
CheckOutcome CheckMissingPages(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount,
                               std::int64_t knownPages,
                               const std::function<bool(std::int64_t)>& allocated,
                               Reporter& reporter, MissingPages* found = nullptr);

}  // namespace ravelin
