// Copying fragments into files: one combined file laid out by page number (zero pages in the
// gaps, the left-page repair where one fragment ends exactly where the next begins) or one
// ".hex" file of raw pages per fragment, named after its start sector.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/fragment_source.h"
#include "catalogue/fragment_table.h"
#include "common/reporter.h"
#include "output/output_file.h"
#include "ports/report_list.h"

namespace ravelin {

// A ticked row as read from its cells.
struct ExtractRow {
  std::int64_t sizeKB = 0;
  std::int32_t startPage = 0;
  std::int64_t endPage = 0;  // one past the last page
  std::uint64_t startSector = 0;
  std::int64_t number = -1;  // the row's 序号, to name it in messages; -1 when unknown
};

// What a combined extraction of some rows would write, worked out before anything is.
struct CombinedPlan {
  std::uint64_t pages = 0;  // pages of the combined file, gaps included
  // The first row whose numbers are garbage, and why in words; nothing when all are sane.
  std::optional<ExtractRow> badRow;
  std::string why;
};

// Lays out `rows` as WriteCombined does and refuses garbage before a byte is written: a
// row with a negative or inverted page range or one reaching page 2^31, and a row that
// starts beyond `filePages` (the file size read from page 0 of the file, when known) after
// a gap, which would make the combined file grow by zero pages as far as its start page.
CombinedPlan PlanCombined(const std::vector<ExtractRow>& rows,
                          std::optional<std::int64_t> filePages);

// The size in pages page 0 gives, read from the first of `rows` that starts at page 0 and
// whose page 0 says so; nothing when none does.
std::optional<std::int64_t> FileSizeFromHeaderRow(const std::vector<ExtractRow>& rows,
                                                  FragmentSource& source);

// The ticked rows of a fragment list in the order the list shows them.
std::vector<ExtractRow> TickedRows(const ReportList& list);

// The first page id of the first row that starts before the previous row ends, or nothing
// when the rows are in order. Rows are compared with the row before them only.
std::optional<std::int32_t> FirstOutOfOrder(const std::vector<ExtractRow>& rows);

enum class ExtractStatus {
  kDone,
  kReadFailed,   // a page or a repair block could not be read; what was written stays
  kWriteFailed,  // the output could not be written
};

// Appends the combined layout of `rows` to `out`, reading pages from `source`. The repair
// applies when sectorsPerCluster is 1 to 15. Progress as the rows go by, Yield between rows.
ExtractStatus WriteCombined(const std::vector<ExtractRow>& rows, FragmentSource& source,
                            std::int32_t sectorsPerCluster, OutputFile& out, Reporter& reporter);

// Appends the pages of one fragment to `out`.
ExtractStatus WriteFragmentPages(const ExtractRow& row, FragmentSource& source, OutputFile& out);

}  // namespace ravelin
