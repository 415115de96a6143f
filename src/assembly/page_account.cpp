#include "assembly/page_account.h"

#include <algorithm>
#include <array>
#include <utility>

#include "page/allocation_page.h"
#include "page/page_format.h"
#include "page/page_structure.h"

namespace ravelin {
namespace {

int ProtectionNibble(PageView page) { return page[5] & 0x0F; }

// PFS bits only a page SQL Server wrote carries: an IAM page, ghost records, a heap or text
// page that is not empty.
constexpr std::uint8_t kPfsWrittenBits = kPfsIam | 0x08 | 0x07;

// Pages SQL Server writes when it creates a data file: the file header, the first PFS, GAM
// and SGAM pages, and the boot page.
bool AlwaysWritten(std::int64_t n) {
  return n == 0 || n == 2 || n == 3 || n == 9 || IsPfsPageId(n);
}

}  // namespace

const char* VerdictName(PageVerdict verdict) {
  switch (verdict) {
    case PageVerdict::kProtection:
      return "verified_by_protection";
    case PageVerdict::kStructure:
      return "verified_by_structure";
    case PageVerdict::kRepaired:
      return "repaired";
    case PageVerdict::kUncertain:
      return "uncertain";
    case PageVerdict::kUnverifiable:
      return "unverifiable";
    case PageVerdict::kDamaged:
      return "damaged";
    case PageVerdict::kMissingAllocated:
      return "missing_allocated_zero_page";
    case PageVerdict::kZeroFree:
      return "free_zero_page";
    case PageVerdict::kAllocatedZero:
      return "allocated_zero_page";
    case PageVerdict::kFreeNotPage:
      return "free_not_a_data_page";
    case PageVerdict::kVersionUncertain:
      return "version_uncertain";
  }
  return "?";
}

bool IsProblemVerdict(PageVerdict verdict) {
  return verdict == PageVerdict::kDamaged || verdict == PageVerdict::kMissingAllocated ||
         verdict == PageVerdict::kUnverifiable || verdict == PageVerdict::kUncertain ||
         verdict == PageVerdict::kVersionUncertain;
}

const char* FileStatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kComplete:
      return "complete";
    case FileStatus::kIncomplete:
      return "incomplete";
    case FileStatus::kDoubtful:
      return "doubtful";
  }
  return "?";
}

std::string StatusLine(const FileAssessment& a) {
  std::string line = std::string(FileStatusName(a.status)) + " (" + std::to_string(a.inUse) +
                     " pages in use: " + std::to_string(a.sound) + " sound, " +
                     std::to_string(a.missing) + " missing, " + std::to_string(a.doubtful) +
                     " doubtful";
  if (a.allocatedZero > 0)
    line += ", " + std::to_string(a.allocatedZero) + " allocated and all zero";
  if (a.pagesShort > 0) line += "; " + std::to_string(a.pagesShort) + " pages short of its header";
  return line + ")";
}

FileAssessment PageAccount::Assess() const {
  FileAssessment a;
  for (std::size_t n = 0; n < verdicts.size(); ++n) {
    const PageVerdict v = verdicts[n];
    // A page the PFS pages call free may hold anything: stale rows are not a fault.
    if (v == PageVerdict::kZeroFree || v == PageVerdict::kFreeNotPage || allocated[n] == 0)
      continue;
    ++a.inUse;
    switch (v) {
      case PageVerdict::kProtection:
      case PageVerdict::kStructure:
      case PageVerdict::kRepaired:
        ++a.sound;
        break;
      case PageVerdict::kAllocatedZero:
        ++a.allocatedZero;
        break;
      case PageVerdict::kMissingAllocated:
        ++a.missing;
        break;
      default:
        ++a.doubtful;
    }
  }
  if (headerPageCount > pageCount) a.pagesShort = headerPageCount - pageCount;
  if (a.doubtful > 0)
    a.status = FileStatus::kDoubtful;
  else if (a.missing > 0 || a.pagesShort > 0)
    a.status = FileStatus::kIncomplete;
  return a;
}

bool PageAccount::AllAllocatedVerified() const { return Assess().status == FileStatus::kComplete; }

std::vector<std::string> PageAccount::SummaryLines() const {
  static constexpr const char* kText[kPageVerdictCount] = {
      "页面校验通过(verified by checksum or torn bits): ",
      "结构校验通过(verified by structure): ",
      "已修复(pages split across clusters, rejoined): ",
      "不确定(uncertain, kept as read): ",
      "无法校验(unverifiable): ",
      "已损坏(damaged): ",
      "缺少的已分配页面,以零页代替(missing allocated pages, written as zero pages): ",
      "空闲零页(free pages, zero): ",
      "已分配的零页(allocated, all zero: never written by SQL Server, or lost): ",
      "空闲页面,非数据页(free, not a data page): ",
      "版本不确定(version uncertain: from a fragment another copy of the database left): ",
  };
  std::vector<std::string> lines;
  if (headerPageCount > pageCount) {
    lines.push_back("文件比文件头所说的短(the file header gives " +
                    std::to_string(headerPageCount) + " pages, the file has " +
                    std::to_string(pageCount) + ")");
  }
  for (std::size_t v = 0; v < kPageVerdictCount; ++v)
    if (counts[v] > 0) lines.push_back(kText[v] + std::to_string(counts[v]));
  return lines;
}

void PageAccounter::MarkWritten(std::int64_t n) {
  const auto i = static_cast<std::size_t>(n);
  if (i >= written_.size()) written_.resize(i + 1, false);
  written_[i] = true;
}

std::uint8_t& PageAccounter::AllocatedAt(std::int64_t n) {
  const auto i = static_cast<std::size_t>(n);
  if (i >= account_.allocated.size()) account_.allocated.resize(i + 1, 0xFF);
  return account_.allocated[i];
}

// Page 0 gives the file id and size; a PFS page in its place gives the allocation of the
// pages it describes.
void PageAccounter::TakeAllocation(std::int64_t n, PageView page) {
  if (n == 0) {
    account_.fileId = Load16(page, page_header::kFileId);
    std::int32_t size = 0;
    if (GetFileSizeFromHeader(page, size) == 0 && size > 0) account_.headerPageCount = size;
    return;
  }
  if (page[page_header::kType] != kPageTypePfs) return;
  const auto pfs = ReadPfsBytes(page);
  if (!pfs) return;
  for (std::size_t j = 0; j < pfs->bytes.size(); ++j) {
    const std::int64_t t = pfs->firstPage + static_cast<std::int64_t>(j);
    if (t < 0) continue;
    AllocatedAt(t) = (pfs->bytes[j] & kPfsAllocated) ? 1 : 0;
    if ((pfs->bytes[j] & kPfsAllocated) && (pfs->bytes[j] & kPfsWrittenBits)) MarkWritten(t);
  }
}

void PageAccounter::Add(PageView page) {
  const std::int64_t p = Pages();
  PageVerdict verdict = PageVerdict::kZeroFree;  // judged in Finish
  if (!IsZeroPage(page)) {
    const int nibble = ProtectionNibble(page);
    const bool protectedPage = nibble == 1 || nibble == 2;
    // Torn bits alone pass a neighbouring page's sectors: see ProtectionHolds.
    const bool intact = protectedPage && ProtectionHolds(page);
    // The page as written, its torn bits put back; copied only when there are some.
    std::array<std::uint8_t, kPageSize> copy;
    PageView restored = page;
    if (HasTornBitsToRestore(page)) {
      std::copy(page.begin(), page.end(), copy.begin());
      RestoreTornBits(copy);
      restored = copy;
    }
    if (p == 0) TakeAllocation(p, restored);
    const bool inPlace =
        static_cast<std::int32_t>(Load32(restored, page_header::kPageNumber)) == p &&
        Load16(restored, page_header::kFileId) == account_.fileId;
    if (!inPlace || (protectedPage && !intact)) {
      verdict = PageVerdict::kDamaged;
    } else if (protectedPage) {
      verdict = PageVerdict::kProtection;
    } else {
      verdict =
          IsPageStructurallySound(restored) ? PageVerdict::kStructure : PageVerdict::kUnverifiable;
    }
    // Only a PFS page that holds is believed: a damaged one could call damaged pages free.
    const bool verified = verdict == PageVerdict::kProtection || verdict == PageVerdict::kStructure;
    if (verified && IsPfsPageId(p)) TakeAllocation(p, restored);
    // A page whose allocation no PFS page gives is taken to be in use.
    std::uint8_t& state = AllocatedAt(p);
    if (state == 0xFF) state = 1;
  }
  account_.verdicts.push_back(verdict);
}

void PageAccounter::AddUnreadable() {
  unreadable_.push_back(Pages());
  account_.verdicts.push_back(PageVerdict::kDamaged);
}

void PageAccounter::AddZeros(std::int64_t count) {
  if (count <= 0) return;
  account_.verdicts.resize(account_.verdicts.size() + static_cast<std::size_t>(count),
                           PageVerdict::kZeroFree);
}

// Each page's verdict once every PFS page is known:
//   1. a zero page the writer put in place of a page it did not have, and a zero page SQL
//      Server must have written (an allocation page in its fixed place, the boot page, a
//      page whose PFS byte says it is an IAM page or holds rows), is missing unless the PFS
//      pages say free; any other zero page is an allocated zero page where they say
//      allocated, else a free zero page;
//   2. the writer's repairs and uncertain pages replace what the page alone says;
//   3. a page the PFS pages call free that does not hold in its place (a page that cannot
//      be read aside) is not a data page of the file.
PageAccount PageAccounter::Finish(const std::vector<PageVerdict>& writerNotes) {
  PageAccount account = std::move(account_);
  std::vector<std::int64_t> unreadable = std::move(unreadable_);
  std::vector<bool> written = std::move(written_);
  account_ = {};
  unreadable_ = {};
  written_ = {};
  account.pageCount = static_cast<std::int64_t>(account.verdicts.size());
  account.allocated.resize(account.verdicts.size(), 0xFF);
  auto nextUnreadable = unreadable.begin();
  for (std::size_t i = 0; i < account.verdicts.size(); ++i) {
    PageVerdict& verdict = account.verdicts[i];
    const std::uint8_t state = account.allocated[i];
    const PageVerdict note = i < writerNotes.size() ? writerNotes[i] : PageVerdict::kZeroFree;
    if (verdict == PageVerdict::kZeroFree) {
      const bool mustBeWritten =
          (i < written.size() && written[i]) || AlwaysWritten(static_cast<std::int64_t>(i));
      if (note == PageVerdict::kMissingAllocated || mustBeWritten)
        verdict = state == 0 ? PageVerdict::kZeroFree : PageVerdict::kMissingAllocated;
      else if (state == 1)
        verdict = PageVerdict::kAllocatedZero;
    } else {
      const bool verified =
          verdict == PageVerdict::kProtection || verdict == PageVerdict::kStructure;
      if (note == PageVerdict::kRepaired && verified) verdict = PageVerdict::kRepaired;
      if (note == PageVerdict::kUncertain) verdict = PageVerdict::kUncertain;
      const bool unread =
          nextUnreadable != unreadable.end() && *nextUnreadable == static_cast<std::int64_t>(i);
      if (unread) ++nextUnreadable;
      const bool holds = verified || verdict == PageVerdict::kRepaired;
      if (state == 0 && !holds && !unread) verdict = PageVerdict::kFreeNotPage;
      if (note == PageVerdict::kVersionUncertain && state != 0 && holds)
        verdict = PageVerdict::kVersionUncertain;
    }
    ++account.counts[static_cast<std::size_t>(verdict)];
  }
  return account;
}

PageAccount AccountPages(std::int64_t pageCount, const PageReaderFn& read,
                         const std::vector<PageVerdict>& writerNotes) {
  PageAccounter accounter;
  std::array<std::uint8_t, kPageSize> page{};
  for (std::int64_t p = 0; p < pageCount; ++p) {
    if (read(p, page))
      accounter.Add(page);
    else
      accounter.AddUnreadable();
  }
  return accounter.Finish(writerNotes);
}

}  // namespace ravelin
