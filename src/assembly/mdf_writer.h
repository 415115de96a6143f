// The MDF writer: lays the rows of the sorted Assembly list out as a database file in which
// page n lies at byte n × 8192. Each row's pages are copied as read; the gaps between rows
// and the pages after the last row up to the file's page count are zero pages; a page that
// cannot be read is written as a zero page ("read disk error"). Where clusters are smaller
// than a page and one row ends exactly where the next begins, the last page of the first is
// retried with its tail taken from just before the second (the left-page repair).
//
// The writer owns the order: it lays the rows out by first page whatever order they come in,
// and refuses (writes nothing, reports "error") rows that overlap, end before they begin, or
// begin before page 0, since each would put pages where they do not belong. A last row that
// ends beyond the page count is written in full.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "assembly/assembly_rows.h"
#include "assembly/page_account.h"
#include "catalogue/fragment_source.h"
#include "common/reporter.h"
#include "output/output_file.h"

namespace ravelin {

// What the writer did to one page beyond copying it: a left-page repair that mended it, or
// one that found several versions and kept it as read.
struct MdfPageNote {
  std::int64_t page = 0;
  bool uncertain = false;  // false: repaired
  std::string line;        // the memo line, when the note changed what a plain repair did
};

// A row the writer will not lay out.
struct RowConflict {
  enum class Kind {
    kOverlap,        // begins before `previous` (the row before it in page order) ends
    kInverted,       // ends before it begins
    kBeforePageZero  // begins before page 0
  };
  Kind kind = Kind::kOverlap;
  AssemblyRow row;
  AssemblyRow previous;  // kOverlap only
};

// The rows in page order (by first page; rows that begin on the same page keep their order)
// and what keeps them from being laid out as one file.
struct PlacedRows {
  std::vector<AssemblyRow> rows;
  std::vector<RowConflict> conflicts;
};
PlacedRows PlaceRows(std::vector<AssemblyRow> rows);

// Pages [first, end) of the file.
struct PageRun {
  std::int64_t first = 0;
  std::int64_t end = 0;
  bool operator==(const PageRun&) const = default;
};

struct MdfWriteResult {
  bool written = false;                // false: the output could not be written
  std::vector<RowConflict> conflicts;  // not empty: the rows were refused, nothing written
  std::int64_t pages = 0;              // pages appended (zero pages included)
  std::int64_t unreadPages = 0;        // pages written as zero pages because their read failed
  std::int64_t repairedPages = 0;      // last pages a left-page repair changed
  std::int64_t uncertainPages = 0;     // split pages kept as read: versions the tests could not
                                       // choose between
  std::int32_t clusterSectors = 0;     // the cluster size the repairs worked with
  // Pages the file's PFS pages mark free whose bytes, as read, were not a page of this file
  // at that place that holds: written as zero pages.
  std::int64_t zeroedFreePages = 0;
  // Pages a chosen row held as other bytes, taken from a row the chain passed over.
  std::int64_t passedOverPages = 0;
  std::vector<MdfPageNote> notes;  // in page order
  // Pages written as zero pages for want of the page: before the first row, between rows,
  // after the last row up to the page count, and pages that could not be read. In page order.
  std::vector<PageRun> zeroFilled;
  std::vector<std::int64_t> versionUncertain;  // MdfWriteOptions::versionUncertain
};

// Where the writer's pages go, in order from page 0: appended, or the last page appended
// replaced once a left-page repair has mended it.
class MdfSink {
 public:
  virtual ~MdfSink() = default;
  virtual bool Append(ByteView pages) = 0;            // whole pages
  virtual bool AppendZeros(std::uint64_t bytes) = 0;  // whole zero pages
  virtual bool OverwriteTail(PageView page) = 0;      // the last page appended
};

// The file on the output road.
class FileSink final : public MdfSink {
 public:
  explicit FileSink(OutputFile& out) : out_(out) {}
  bool Append(ByteView pages) override { return out_.Append(pages); }
  bool AppendZeros(std::uint64_t bytes) override { return out_.AppendZeros(bytes); }
  bool OverwriteTail(PageView page) override { return out_.OverwriteTail(page); }

 private:
  OutputFile& out_;
};

// Takes the page account of the pages that pass, and hands them on to `next`; with no
// `next` they go nowhere, which is how CHECK accounts the file CREATE MDF would write. The
// last page is accounted only once the next one comes, since a repair may still replace it.
class AccountingSink final : public MdfSink {
 public:
  explicit AccountingSink(MdfSink* next = nullptr) : next_(next) {}
  bool Append(ByteView pages) override;
  bool AppendZeros(std::uint64_t bytes) override;
  bool OverwriteTail(PageView page) override;
  // The account of every page that passed, with the writer's notes on its repairs.
  PageAccount Finish(const MdfWriteResult& result);

 private:
  void TakePending();
  MdfSink* next_;
  PageAccounter accounter_;
  std::vector<std::uint8_t> pending_;  // the last page, not yet accounted
};

struct MdfWriteOptions {
  // Whether the file's own PFS pages say page n is free. With it, a split page followed by
  // free pages no row holds (a zero page has no header, so the scan cannot see it) is
  // repaired from the sectors before those pages, and a free page is written as read only
  // when it is this file's page n and holds (KeepsFreePage); else it is a zero page.
  std::function<bool(std::int64_t)> knownFree;
  std::uint16_t fileId = 0;  // of the file's pages (0: not checked)
  // Pages whose rows another copy of the database left (the analysis's and the search's
  // version guard), ascending: named version uncertain in the page account.
  std::vector<std::int64_t> versionUncertain;
  // Rows the chain passed over inside chosen rows (PassedOverRows). A page of a chosen row
  // whose bytes are not this file's page at that place (a row merged across a gap of other
  // data) is taken from the one such row that holds the file's page there and holds.
  std::vector<AssemblyRow> passedOver;
};

// Whether page n, read from a row, is written as read rather than as a zero page: always
// for a page the PFS pages do not call free; for a free page only when it carries page id n
// (and the file id) and its protection or structure holds. Bytes of a free page are nothing
// the file needs, and bytes that are not this page's (noise in a row, a split page no repair
// could decide, another file's page) would be foreign bytes in the file.
bool KeepsFreePage(PageView page, std::int64_t n, const MdfWriteOptions& options);

// Appends the file to `sink`. `filePageCount` is the page count from the file header page;
// the repair applies when `sectorsPerCluster` is 1 to 15. Reports "read disk error" per page
// that cannot be read and "read disk error ,leftpage" per repair block that cannot be read;
// the gauge runs from 0 to 100 over the rows, and the window may handle messages between
// rows (Yield). With one sector per cluster, the repairs take the cluster size from the
// rows' start sectors (LearnClusterSectors). Where a repair decides otherwise than the plain
// first-passing trial, or cannot decide, a line says so ("修复页面…", "页面…不确定…").
MdfWriteResult WriteMdf(std::vector<AssemblyRow> rows, std::int64_t filePageCount,
                        std::int32_t sectorsPerCluster, FragmentSource& source, MdfSink& sink,
                        Reporter& reporter, const MdfWriteOptions& options = {});

// One entry per page of the file for the page account: kRepaired / kUncertain where a note
// says so, kVersionUncertain for the pages another copy's rows gave, kMissingAllocated for the
// pages the writer zero-filled, kZeroFree (no note)
// elsewhere.
std::vector<PageVerdict> WriterNotes(const MdfWriteResult& result, std::int64_t pageCount);

// The bytes WriteMdf appends for `rows`, as a count: what the output needs on the disk.
std::uint64_t MdfSizeBytes(const std::vector<AssemblyRow>& rows, std::int64_t filePageCount);

}  // namespace ravelin
