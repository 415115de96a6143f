// A database file's own account of which pages are in use, read from its PFS pages through
// the page source (the generator's files and real ones alike). The placement of decoys that
// must fall on free page ids relies on the file's word, not on the generator's truth, so it
// works the same for a real .mdf.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gen/page_source.h"

namespace ravelin::gen {

class PfsReader {
 public:
  // `source` must outlive the reader.
  explicit PfsReader(const PageSource& source) : source_(source), page_(kPageSize) {}

  // The PFS byte of page n, or nothing when n is outside the file or the page that should
  // describe it is not a PFS page of this file.
  std::optional<std::uint8_t> Byte(std::int64_t n) const;
  // The PFS byte exists and has no allocated bit (0x40).
  bool Free(std::int64_t n) const;

 private:
  const PageSource& source_;
  mutable std::vector<std::uint8_t> page_;
  mutable std::int64_t cached_ = -1;
  mutable bool cachedValid_ = false;
  mutable std::size_t cachedRow_ = 0;
};

}  // namespace ravelin::gen
