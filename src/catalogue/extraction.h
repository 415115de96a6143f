// Copying fragments into files: one combined file laid out by page number (zero pages in the
// gaps, the left-page repair where one fragment ends exactly where the next begins) or one
// ".hex" file of raw pages per fragment, named after its start sector.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/fragment_source.h"
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
};

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
