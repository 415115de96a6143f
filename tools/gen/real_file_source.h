// A database file on disk (one of the SQL Server samples, or any .mdf) presented as a page
// source. The file is read page by page with pread, never loaded whole.
#pragma once

#include <memory>
#include <string>

#include "gen/image_common.h"
#include "gen/page_source.h"

namespace ravelin::gen {

class RealFileSource : public PageSource {
 public:
  // Opens `path` read-only. Fails (kBadInput) when the file is missing, empty or not a whole
  // number of 8192-byte pages; `source` is then left empty.
  static Status Open(const std::string& path, std::unique_ptr<RealFileSource>& source);
  ~RealFileSource() override;
  RealFileSource(const RealFileSource&) = delete;
  RealFileSource& operator=(const RealFileSource&) = delete;

  std::int64_t PageCount() const override { return pageCount_; }
  // A page that cannot be read (the file shrank under us) comes back as zeros.
  void ReadPage(std::int64_t n, MutablePage out) const override;
  std::string Name() const override { return name_; }

 private:
  RealFileSource(int fd, std::int64_t pageCount, std::string name)
      : fd_(fd), pageCount_(pageCount), name_(std::move(name)) {}

  int fd_;
  std::int64_t pageCount_;
  std::string name_;
};

}  // namespace ravelin::gen
