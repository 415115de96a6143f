#include "assembly/mdf_writer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "catalogue/left_page_repair.h"
#include "catalogue/stored_content.h"
#include "common/rounding.h"

namespace ravelin {
namespace {

constexpr char kReadDiskError[] = "read disk error";
constexpr char kLeadInReadError[] = "read disk error ,leftpage";

// Pages read in one request: large reads are what keeps the writer near the disk's speed.
constexpr std::int64_t kChunkPages = 256;  // 2 MiB

using Page = std::array<std::uint8_t, kPageSize>;

// A zero-filled, page-aligned block of bytes.
class AlignedChunk {
 public:
  explicit AlignedChunk(std::size_t size)
      : data_(static_cast<std::uint8_t*>(std::aligned_alloc(4096, size))), size_(size) {
    if (!data_) throw std::bad_alloc();
    std::fill(begin(), end(), std::uint8_t{0});
  }
  std::uint8_t* data() { return data_.get(); }
  std::uint8_t* begin() { return data_.get(); }
  std::uint8_t* end() { return data_.get() + size_; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> data_;
  std::size_t size_;
};

// Reads the row's pages [first, first + count) into `chunk` (zero-filled first). A request
// that fails is retried page by page, so exactly the pages that cannot be read end up as
// zero pages, each reported, as a page-by-page writer would.
std::int64_t ReadChunk(const AssemblyRow& row, std::int64_t first, std::int64_t count,
                       FragmentSource& source, AlignedChunk& chunk, Reporter& reporter) {
  const auto bytes = static_cast<std::size_t>(count) * kPageSize;
  std::fill(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(bytes), std::uint8_t{0});
  const auto sectors =
      static_cast<std::int32_t>(count * static_cast<std::int64_t>(kSectorsPerPage));
  if (source.ReadSectors(row.startSector, first * static_cast<std::int64_t>(kSectorsPerPage),
                         sectors, MutableBytes(chunk.data(), bytes))) {
    return 0;
  }
  std::int64_t unread = 0;
  for (std::int64_t k = 0; k < count; ++k) {
    MutablePage page(chunk.data() + static_cast<std::size_t>(k) * kPageSize, kPageSize);
    if (!source.ReadPage(row.startSector, first + k, page)) {
      std::fill(page.begin(), page.end(), std::uint8_t{0});
      reporter.Message(kReadDiskError);
      ++unread;
    }
  }
  return unread;
}

}  // namespace

std::uint64_t MdfSizeBytes(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount) {
  std::uint64_t pages = 0;
  for (std::size_t s = 0; s < rows.size(); ++s) {
    if (s > 0 && rows[s - 1].endPage < rows[s].startPage)
      pages += static_cast<std::uint64_t>(rows[s].startPage - rows[s - 1].endPage);
    pages += static_cast<std::uint64_t>(std::max<std::int64_t>(rows[s].Pages(), 0));
  }
  if (!rows.empty() && rows.back().endPage < filePageCount)
    pages += static_cast<std::uint64_t>(filePageCount - rows.back().endPage);
  return pages * kPageSize;
}

MdfWriteResult WriteMdf(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount,
                        std::int32_t sectorsPerCluster, FragmentSource& source, OutputFile& out,
                        Reporter& reporter) {
  MdfWriteResult result;
  // The block's last 7680 bytes receive the 15 sectors before a row; it keeps its bytes from
  // one repair to the next, so a block that cannot be read leaves the previous one in place.
  std::array<std::uint8_t, kLeadInBytes> block{};
  Page previous{};
  // Whether the file's last page is the previous row's last page: only then may a repair
  // rewrite it. A row of no pages leaves another row's page, or a gap's zero page, there.
  bool previousAtEnd = false;
  // Page-aligned: the kernel copies out of its cache much faster into an aligned buffer.
  AlignedChunk chunk(static_cast<std::size_t>(kChunkPages) * kPageSize);
  const auto count = static_cast<std::int64_t>(rows.size());
  for (std::int64_t s = 0; s < count; ++s) {
    const AssemblyRow& row = rows[static_cast<std::size_t>(s)];
    if (count > 1) reporter.Progress(static_cast<int>(RoundHalfEven(s * 100, count - 1)));
    reporter.Yield();
    if (s > 0) {
      const AssemblyRow& before = rows[static_cast<std::size_t>(s - 1)];
      if (before.endPage < row.startPage) {
        const auto gap = static_cast<std::uint64_t>(row.startPage - before.endPage);
        if (!out.AppendZeros(gap * kPageSize)) return result;
        result.pages += static_cast<std::int64_t>(gap);
        previousAtEnd = false;
      }
      if (LeftPageRepairApplies(sectorsPerCluster) && before.endPage == row.startPage &&
          previousAtEnd) {
        if (!source.ReadSectors(row.startSector, -static_cast<std::int64_t>(kLeadInSectors),
                                static_cast<std::int32_t>(kLeadInSectors), block)) {
          reporter.Message(kLeadInReadError);
        }
        if (LeftPageRepair(previous, block, sectorsPerCluster) > 0) {
          if (!out.OverwriteTail(previous)) return result;
          ++result.repairedPages;
        }
      }
    }
    const std::int64_t pages = row.Pages();
    for (std::int64_t first = 0; first < pages; first += kChunkPages) {
      const std::int64_t n = std::min(kChunkPages, pages - first);
      result.unreadPages += ReadChunk(row, first, n, source, chunk, reporter);
      const auto bytes = static_cast<std::size_t>(n) * kPageSize;
      if (!out.Append(ByteView(chunk.data(), bytes))) return result;
      result.pages += n;
      std::copy(chunk.begin() + static_cast<std::ptrdiff_t>(bytes - kPageSize),
                chunk.begin() + static_cast<std::ptrdiff_t>(bytes), previous.begin());
      previousAtEnd = true;
    }
  }
  if (!rows.empty() && rows.back().endPage < filePageCount) {
    const auto tail = static_cast<std::uint64_t>(filePageCount - rows.back().endPage);
    if (!out.AppendZeros(tail * kPageSize)) return result;
    result.pages += static_cast<std::int64_t>(tail);
  }
  result.written = true;
  return result;
}

}  // namespace ravelin
