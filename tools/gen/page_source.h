// A database file as a sequence of 8192-byte pages, produced on demand so that files of
// millions of pages are never held in memory. The generator's synthetic files and the real
// SQL Server samples both present themselves this way to the disk-image writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/bytes.h"

namespace ravelin::gen {

class PageSource {
 public:
  virtual ~PageSource() = default;
  virtual std::int64_t PageCount() const = 0;
  // Writes page n (0 <= n < PageCount()) into out. Deterministic: the same n gives the same
  // bytes every time.
  virtual void ReadPage(std::int64_t n, MutablePage out) const = 0;
  // A short name for manifests and messages ("shop", "checksum-2005.mdf").
  virtual std::string Name() const = 0;
};

// Another source's pages under another name (two generations of one generated database
// would otherwise share theirs). `base` must outlive it.
class RenamedSource : public PageSource {
 public:
  RenamedSource(const PageSource& base, std::string name) : base_(base), name_(std::move(name)) {}
  std::int64_t PageCount() const override { return base_.PageCount(); }
  void ReadPage(std::int64_t n, MutablePage out) const override { base_.ReadPage(n, out); }
  std::string Name() const override { return name_; }

 private:
  const PageSource& base_;
  std::string name_;
};

// The file id a source's pages carry (that of its first page with content; 0 if none).
std::uint16_t FileIdOf(const PageSource& source);
// Page 0's m_lsn as SQL Server prints it: "VVVVVVVV:OOOOOOOO:SSSS" in hex.
std::string HeaderLsnText(const PageSource& source);

}  // namespace ravelin::gen
