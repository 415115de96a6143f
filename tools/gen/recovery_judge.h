// Holds a rebuilt database file to its original, page by page, with the original's own PFS
// pages as the word on which pages are in use: the measure both the accuracy benchmark and
// the end-to-end tests on real files apply.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "gen/manifest.h"
#include "gen/page_source.h"

namespace ravelin::gen {

struct RecoveryJudgement {
  bool written = false;        // a rebuilt file was there to judge
  bool sizeRight = false;      // as many pages as the original
  bool identical = false;      // byte for byte the original
  std::int64_t allocated = 0;  // pages the original's PFS pages mark allocated
  std::int64_t allocatedRight = 0;
  // Allocated pages no recovery can give back (lost, partial, unreadable) that came back as
  // zero pages, as they should.
  std::int64_t lostZero = 0;
  std::int64_t lostNotZero = 0;
  // Pages that differ from the original but equal another file's page of the same id (the
  // other version of the database, or another database).
  std::int64_t otherFilePages = 0;
  // Free pages written with bytes that are neither zeros nor the original's.
  std::int64_t foreignFreePages = 0;
  // Pages that differ from the original (zero pages where the original's page is free
  // aside), and of those the ones the page account does not name.
  std::int64_t wrongPages = 0;
  std::int64_t wrongUnnamed = 0;
  std::vector<std::int64_t> wrongSample;  // the first few wrong pages

  // Every allocated page right, lost pages zero, the size right.
  bool Sound() const {
    return written && sizeRight && allocatedRight + lostZero == allocated && lostNotZero == 0;
  }
};

// Judges the file at `rebuiltPath` against `original`. `unrecoverable`: the original's pages
// that no recovery can give back; `named`: the pages the page account names as not verified;
// `others`: files whose pages, when they turn up in place of the original's, count as taken
// from another file.
RecoveryJudgement JudgeRecovery(const PageSource& original, const std::string& rebuiltPath,
                                const std::vector<PageRange>& unrecoverable,
                                const std::set<std::int64_t>& named,
                                const std::vector<const PageSource*>& others);

}  // namespace ravelin::gen
