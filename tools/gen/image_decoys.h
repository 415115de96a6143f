// Page sources that stand for the look-alikes a disk holds besides the wanted file: a copy
// whose pages carry another file id (a secondary data file of the same database), and a stale
// copy (the same pages as they were earlier: lower LSNs, older row bytes). Each page is still
// protected the way the original was (checksum recomputed, torn bits left consistent), so the
// decoys pass the integrity test and only the header fields tell them apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "gen/page_protection.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct PagePatch {
  std::optional<std::uint16_t> fileId;  // rewrite m_fileId (and nothing else) when set
  // When non-zero: lower each page's LSN (VLF and block, as one number) by this much and
  // change one byte of every page with content, as an older state of the file would differ.
  std::uint32_t age = 0;
};

// The age of the older copy of a database the images hold beside the newer: log blocks its
// LSNs lie below.
inline constexpr std::uint32_t kOlderAge = 1000;

class PatchedPageSource : public PageSource {
 public:
  // `base` must outlive this source.
  PatchedPageSource(const PageSource& base, PagePatch patch, std::string name)
      : base_(base), patch_(patch), name_(std::move(name)) {}

  std::int64_t PageCount() const override { return base_.PageCount(); }
  void ReadPage(std::int64_t n, MutablePage out) const override;
  std::string Name() const override { return name_; }

 private:
  const PageSource& base_;
  PagePatch patch_;
  std::string name_;
};

// Recomputes the stored checksum of a checksum-protected page; other pages are unchanged.
void ReprotectPage(MutablePage page);

}  // namespace ravelin::gen
