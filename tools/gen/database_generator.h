// Synthetic SQL Server primary data files, produced page by page from a seed.
//
// A DatabaseGenerator describes one file at one update generation. Page n is computed on
// demand (a few microseconds, no I/O); the generator keeps O(objects) state, so files of
// millions of pages cost no memory. The same DatabaseSpec always yields the same bytes.
//
// What the file holds, as SQL Server writes it: the file header (page 0), PFS pages (1 and
// every 8088), GAM/SGAM/DCM/BCM per 511232-page interval, the boot page (9), the sysfiles page
// (32) with the logical and physical names, and objects (heaps, clustered tables with their
// index levels, nonclustered indexes, text) with IAM chains, linked data and index pages,
// free pages that are zero or hold stale rows, and page protection (checksum, torn-page bits
// or none, with a few unprotected pages even in a protected file).
//
// Generation g+1 of a seed is generation g plus one update step: a deterministic subset of
// pages rewritten (newer LSNs) and one object grown or shrunk, and page 0's LSN grows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/allocation_layout.h"
#include "gen/allocation_pages.h"
#include "gen/page_model.h"
#include "gen/page_source.h"
#include "gen/page_writer.h"

namespace ravelin::gen {

struct DatabaseSpec {
  std::string logicalName = "shop";  // UTF-8; at most 128 characters are stored
  // UTF-8; at most 260 characters are stored. Should end in ".mdf": the log file's row on page
  // 32 takes this path with "_log.ldf" in place of the extension.
  std::string physicalPath = R"(C:\Program Files\Microsoft SQL Server\MSSQL\DATA\shop.mdf)";
  std::int64_t pageCount = 2000;  // clamped to [kMinPageCount, kMaxPageCount]
  std::uint16_t fileId = 1;
  PageVerify verify = PageVerify::kChecksum;
  std::uint64_t seed = 1;
  int generation = 0;           // clamped to [0, kMaxGenerations]
  int tables = 0;               // user tables; 0 = by file size (1 for 40 pages, 16 for 2M)
  double fillRatio = 0.75;      // share of the file the objects fill at generation 0
  int unprotectedPerMille = 5;  // object pages written without protection in a protected file
};

// The ground truth about one page, for comparing an analysis with what the file holds.
struct PageInfo {
  std::uint8_t type = 0;        // m_type as written; 0 for an all-zero page
  std::int32_t objId = 0;       // m_objId as written; 0 for an all-zero page
  std::int32_t ownerObjId = 0;  // allocated pages: owning object (99: allocation pages); else 0
  std::int32_t claimedBy = 0;   // object whose IAM page lists the page (single page or
                                // extent); 0 when none does. May be set on a free page:
                                // the unused tail of an object's last extent
  bool allocated = false;       // the PFS byte has 0x40
  bool iam = false;             // the PFS byte has 0x10
  bool zero = false;            // all 8192 bytes are zero
  PageVerify protection = PageVerify::kNone;  // as written (kNone for a zero page)
  int generation = 0;                         // generation that last wrote the page
};

// One allocation unit of the file: an object's heap, index or text pages.
struct ObjectInfo {
  std::int32_t objId;
  std::uint16_t indexId;
  UnitKind kind;
  std::int64_t pages;  // allocated pages at this generation
  std::vector<std::int64_t> iamPages;
};

class DatabaseGenerator : public PageSource {
 public:
  explicit DatabaseGenerator(DatabaseSpec design);
  // The page model refers to the layout it owns alongside: not copyable.
  DatabaseGenerator(const DatabaseGenerator&) = delete;
  DatabaseGenerator& operator=(const DatabaseGenerator&) = delete;

  std::int64_t PageCount() const override { return layout_.PageCount(); }
  // Pages outside [0, PageCount()) come back as zeros.
  void ReadPage(std::int64_t n, MutablePage out) const override;
  std::string Name() const override { return spec_.logicalName; }

  PageInfo Truth(std::int64_t n) const;
  // The design as used: page count and generation after clamping.
  const DatabaseSpec& Design() const { return spec_; }
  std::vector<ObjectInfo> Objects() const;
  Lsn FileHeaderLsn() const { return model_.CheckpointLsn(); }
  const AllocationLayout& Layout() const { return layout_; }

 private:
  void RenderUnitPage(std::int64_t n, const PageRole& role, int generation, MutablePage page) const;
  void RenderStalePage(std::int64_t n, const StaleInfo& stale, MutablePage page) const;

  DatabaseSpec spec_;
  AllocationLayout layout_;
  PageModel model_;
  FileNames names_;
};

}  // namespace ravelin::gen
