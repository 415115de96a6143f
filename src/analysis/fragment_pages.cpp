#include "analysis/fragment_pages.h"

#include <algorithm>

namespace ravelin {

FragmentPages::FragmentPages(FragmentSource& source, const FragmentGeometry& fragment,
                             std::vector<std::uint8_t>& buffer)
    : source_(source), fragment_(fragment), buffer_(buffer) {}

std::uint8_t* FragmentPages::Page(std::int64_t k) {
  if (k < 0 || k >= fragment_.pages) return nullptr;
  if (blockPages_ == 0 || k >= blockFirst_ + blockPages_) {
    blockFirst_ = k;
    blockPages_ =
        static_cast<std::int32_t>(std::min<std::int64_t>(nextBlockPages_, fragment_.pages - k));
    nextBlockPages_ = std::min(nextBlockPages_ * 2, kMaxBlockPages);
    const std::size_t bytes = static_cast<std::size_t>(blockPages_) * kPageSize;
    if (buffer_.size() < bytes) buffer_.resize(bytes);
    blockRead_ = source_.ReadPages(fragment_.startSector, blockFirst_, blockPages_,
                                   MutableBytes(buffer_.data(), bytes));
  }
  std::uint8_t* page = buffer_.data() + static_cast<std::size_t>(k - blockFirst_) * kPageSize;
  if (blockRead_) return page;
  // The block's request failed somewhere: this page alone, as a page-by-page reader reads it.
  return source_.ReadPage(fragment_.startSector, k, MutablePage(page, kPageSize)) ? page : nullptr;
}

}  // namespace ravelin
