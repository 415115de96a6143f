#include "catalogue/extraction.h"

#include <array>

#include "catalogue/left_page_repair.h"
#include "catalogue/list_operations.h"
#include "catalogue/stored_content.h"
#include "common/rounding.h"
#include "common/text.h"
#include "page/page_format.h"

namespace ravelin {

std::vector<ExtractRow> TickedRows(const ReportList& list) {
  std::vector<ExtractRow> rows;
  for (const std::size_t i : list.CheckedRows()) {
    const ReportRow& cells = list.Row(i);
    ExtractRow row;
    row.sizeKB = ParseInteger<std::int64_t>(cells.Cell(list_column::kSizeKB)).value_or(0);
    row.startPage = ParseInteger<std::int32_t>(cells.Cell(list_column::kStartPage)).value_or(0);
    row.endPage = ParseInteger<std::int64_t>(cells.Cell(list_column::kEndPage)).value_or(0);
    row.startSector =
        ParseInteger<std::uint64_t>(cells.Cell(list_column::kStartSector)).value_or(0);
    row.number = ParseInteger<std::int64_t>(cells.Cell(list_column::kPosition)).value_or(-1);
    rows.push_back(row);
  }
  return rows;
}

std::optional<std::int32_t> FirstOutOfOrder(const std::vector<ExtractRow>& rows) {
  for (std::size_t i = 1; i < rows.size(); ++i)
    if (rows[i].startPage < rows[i - 1].endPage) return rows[i].startPage;
  return std::nullopt;
}

CombinedPlan PlanCombined(const std::vector<ExtractRow>& rows,
                          std::optional<std::int64_t> filePages) {
  CombinedPlan plan;
  auto refuse = [&plan](const ExtractRow& row, std::string why) {
    plan.badRow = row;
    plan.why = std::move(why);
    return plan;
  };
  bool wrote = false;
  std::int64_t previousEnd = 0;
  for (const ExtractRow& row : rows) {
    const std::int64_t pages = RoundHalfEven(row.sizeKB, 8);
    if (row.startPage < 0 || row.endPage < row.startPage || pages < 0) {
      return refuse(row, "页号无效(the page range is negative or inverted)");
    }
    if (row.endPage > kPageIdLimit || row.startPage + pages > kPageIdLimit) {
      return refuse(row, "页号超出2^31(pages reach beyond page 2147483647)");
    }
    if (wrote && previousEnd < row.startPage) {
      if (filePages && row.startPage > *filePages) {
        return refuse(row, "页号超出文件大小(the row starts beyond the file's " +
                               std::to_string(*filePages) + " pages given by page 0)");
      }
      plan.pages += static_cast<std::uint64_t>(row.startPage - previousEnd);
    }
    plan.pages += static_cast<std::uint64_t>(pages);
    if (plan.pages >= static_cast<std::uint64_t>(kPageIdLimit)) {
      return refuse(row, "组合文件超过2^31页(the combined file would exceed 2^31 pages)");
    }
    wrote = true;
    previousEnd = row.endPage;
  }
  return plan;
}

std::optional<std::int64_t> FileSizeFromHeaderRow(const std::vector<ExtractRow>& rows,
                                                  FragmentSource& source) {
  std::array<std::uint8_t, kPageSize> page;
  for (const ExtractRow& row : rows) {
    if (row.startPage != 0 || row.sizeKB < 8) continue;
    if (!source.ReadPage(row.startSector, 0, page)) continue;
    std::int32_t size = 0;
    if (GetFileSizeFromHeader(page, size) == 0 && size > 0) return size;
  }
  return std::nullopt;
}

ExtractStatus WriteFragmentPages(const ExtractRow& row, FragmentSource& source, OutputFile& out) {
  std::array<std::uint8_t, kPageSize> page;
  const std::int64_t pages = RoundHalfEven(row.sizeKB, 8);
  for (std::int64_t k = 0; k < pages; ++k) {
    if (!source.ReadPage(row.startSector, k, page)) return ExtractStatus::kReadFailed;
    if (!out.Append(page)) return ExtractStatus::kWriteFailed;
  }
  return ExtractStatus::kDone;
}

ExtractStatus WriteCombined(const std::vector<ExtractRow>& rows, FragmentSource& source,
                            std::int32_t sectorsPerCluster, OutputFile& out, Reporter& reporter) {
  std::array<std::uint8_t, kPageSize> page;
  std::array<std::uint8_t, kPageSize> previous;
  std::array<std::uint8_t, kLeadInBytes> leadIn;
  // The last page of the row before, when that row appended one: the page a repair edits
  // is the last page of the file, and only then is it the previous row's last page.
  bool havePrevious = false;
  bool wrote = false;
  std::int64_t previousEnd = 0;
  std::vector<std::uint64_t> starts;
  for (const ExtractRow& row : rows)
    if (RoundHalfEven(row.sizeKB, 8) > 0) starts.push_back(row.startSector);
  const std::int32_t cluster = RepairClusterSectors(sectorsPerCluster, starts);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    reporter.Yield();
    if (rows.size() > 1) reporter.Progress(static_cast<int>(100 * i / (rows.size() - 1)));
    const ExtractRow& row = rows[i];
    if (wrote && previousEnd < row.startPage) {
      if (!out.AppendZeros(static_cast<std::uint64_t>(row.startPage - previousEnd) * kPageSize))
        return ExtractStatus::kWriteFailed;
    } else if (wrote && previousEnd == row.startPage && havePrevious &&
               LeftPageRepairApplies(sectorsPerCluster)) {
      if (!source.ReadSectors(row.startSector, -static_cast<std::int64_t>(kLeadInSectors),
                              static_cast<std::int32_t>(kLeadInSectors), leadIn))
        return ExtractStatus::kReadFailed;
      if (RepairLeftPage(previous, leadIn, cluster, sectorsPerCluster == 1).outcome ==
              LeftPageOutcome::kRepaired &&
          !out.OverwriteTail(previous))
        return ExtractStatus::kWriteFailed;
    }
    havePrevious = false;
    const std::int64_t pages = RoundHalfEven(row.sizeKB, 8);
    for (std::int64_t k = 0; k < pages; ++k) {
      if (!source.ReadPage(row.startSector, k, page)) return ExtractStatus::kReadFailed;
      if (!out.Append(page)) return ExtractStatus::kWriteFailed;
      previous = page;
      havePrevious = true;
    }
    wrote = true;
    previousEnd = row.endPage;
  }
  return ExtractStatus::kDone;
}

}  // namespace ravelin
