#include "gen/recovery_judge.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "gen/pfs_reader.h"

namespace ravelin::gen {
namespace {

bool AllZero(const std::uint8_t* bytes) {
  return std::all_of(bytes, bytes + kPageSize, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

RecoveryJudgement JudgeRecovery(const PageSource& original, const std::string& rebuiltPath,
                                const std::vector<PageRange>& unrecoverable,
                                const std::set<std::int64_t>& named,
                                const std::vector<const PageSource*>& others) {
  RecoveryJudgement j;
  std::ifstream in(rebuiltPath, std::ios::binary);
  if (!in) return j;
  j.written = true;
  const std::vector<std::uint8_t> rebuilt((std::istreambuf_iterator<char>(in)), {});
  const std::int64_t pages = original.PageCount();
  j.sizeRight = rebuilt.size() == static_cast<std::size_t>(pages) * kPageSize;
  const auto rebuiltPages = static_cast<std::int64_t>(rebuilt.size() / kPageSize);

  std::vector<bool> lost(static_cast<std::size_t>(pages), false);
  for (const PageRange& r : unrecoverable)
    for (std::int64_t p = r.firstPage; p < r.firstPage + r.pageCount && p < pages; ++p)
      lost[static_cast<std::size_t>(p)] = true;

  const PfsReader pfs(original);
  std::array<std::uint8_t, kPageSize> page{}, other{};
  static const std::array<std::uint8_t, kPageSize> kZeros{};
  bool identical = j.sizeRight;
  for (std::int64_t p = 0; p < pages; ++p) {
    original.ReadPage(p, page);
    const std::uint8_t* at =
        p < rebuiltPages ? rebuilt.data() + static_cast<std::size_t>(p) * kPageSize : kZeros.data();
    const bool same = std::equal(page.begin(), page.end(), at);
    const bool zero = AllZero(at);
    // Page 0 is always in use; a page that no PFS page describes counts as in use.
    const bool allocated = p == 0 || !pfs.Free(p);
    identical = identical && same;
    if (allocated) {
      ++j.allocated;
      if (same) {
        ++j.allocatedRight;
      } else if (lost[static_cast<std::size_t>(p)]) {
        ++(zero ? j.lostZero : j.lostNotZero);
      }
    }
    if (same || (zero && !allocated)) continue;
    ++j.wrongPages;
    if (!named.count(p)) ++j.wrongUnnamed;
    if (j.wrongSample.size() < 12) j.wrongSample.push_back(p);
    if (!allocated && !zero) ++j.foreignFreePages;
    for (const PageSource* o : others) {
      if (o == nullptr || p >= o->PageCount()) continue;
      o->ReadPage(p, other);
      if (std::equal(other.begin(), other.end(), at)) {
        ++j.otherFilePages;
        break;
      }
    }
  }
  j.identical = identical;
  return j;
}

}  // namespace ravelin::gen
