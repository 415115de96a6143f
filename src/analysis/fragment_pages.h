// Reading a fragment's pages in order, in large requests. The rules of the page map look at
// one page at a time and may stop at any page; reading them one 16-sector request each would
// make the analysis as slow as the disk's per-request cost. FragmentPages reads ahead in
// blocks that grow from 16 pages to kMaxBlockPages (4 MiB), so a fragment rejected at its
// first page costs little more than that page, and a long one is read at the disk's speed.
//
// What the caller sees is exactly what page-by-page reading gives: when a block's request
// fails, each of its pages is read alone when the caller reaches it, so the page whose read
// fails, and nothing before it, is the one reported.
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/fragment_source.h"
#include "common/bytes.h"

namespace ravelin {

inline constexpr std::int32_t kFirstBlockPages = 16;
inline constexpr std::int32_t kMaxBlockPages = 512;

// The geometry of one fragment as the page map reads it: its page count, the page id of its
// first page and its first sector.
struct FragmentGeometry {
  std::int64_t pages = 0;
  std::int64_t startPage = 0;
  std::uint64_t startSector = 0;
};

class FragmentPages {
 public:
  // `buffer` is the caller's scratch space, reused across fragments; it grows to hold one
  // block.
  FragmentPages(FragmentSource& source, const FragmentGeometry& fragment,
                std::vector<std::uint8_t>& buffer);

  // Page k of the fragment (0 <= k < pages, k not below the last page asked for), zero-filled
  // where the source ended; writable, so that the caller can restore torn bits in place. Null
  // when it cannot be read.
  std::uint8_t* Page(std::int64_t k);

 private:
  FragmentSource& source_;
  FragmentGeometry fragment_;
  std::vector<std::uint8_t>& buffer_;
  std::int64_t blockFirst_ = 0;  // first page held in the buffer
  std::int32_t blockPages_ = 0;  // pages held (0: nothing read yet)
  bool blockRead_ = false;       // false: the block's request failed, pages are read alone
  std::int32_t nextBlockPages_ = kFirstBlockPages;
};

}  // namespace ravelin
