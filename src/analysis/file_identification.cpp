#include "analysis/file_identification.h"

#include <array>
#include <string>

#include "catalogue/list_operations.h"
#include "common/rounding.h"
#include "page/page_format.h"

namespace ravelin {
namespace {

using PageBuffer = std::array<std::uint8_t, kPageSize>;

// Page k of the fragment at `startSector`, torn bits restored; false when it cannot be read.
bool ReadRestored(FragmentSource& source, std::uint64_t startSector, std::int64_t k,
                  PageBuffer& page) {
  if (!source.ReadPage(startSector, k, page)) return false;
  RestoreTornBits(page);
  return true;
}

}  // namespace

ReportList MakeFileListView() {
  return ReportList(
      {"序号", "文件名", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
      {ColumnKind::kNumber, ColumnKind::kText, ColumnKind::kNumber, ColumnKind::kNumber,
       ColumnKind::kNumber, ColumnKind::kSector, ColumnKind::kSector});
}

bool IsHeaderFragment(const FragmentRow& row) { return row.StartPage <= 0 && row.Shown != 'N'; }

void FillHeaderFragments(const FragmentTable& table, ReportList& list) {
  list.Clear();
  for (const FragmentRow& row : table.Rows()) {
    if (!IsHeaderFragment(row)) continue;
    ReportRow item;
    item.cells = {std::to_string(list.Count() + 1), row.Remark,
                  std::to_string(row.SizeKB),       std::to_string(row.StartPage),
                  std::to_string(row.EndPage),      std::to_string(row.StartSector),
                  std::to_string(row.EndSector)};
    item.imageIndex = 1;  // the mark of a header fragment
    list.Append(std::move(item));
  }
}

std::vector<std::pair<std::size_t, std::string>> NameFilesFromContent(const ReportList& list,
                                                                      FragmentSource& source,
                                                                      Reporter& reporter) {
  std::vector<std::pair<std::size_t, std::string>> names;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const ReportRow& row = list.Row(i);
    if (RoundHalfEven(CellNumber(row, file_column::kSizeKB), 8) <= kNamePage) continue;
    const auto sector = static_cast<std::uint64_t>(CellNumber(row, file_column::kStartSector));
    PageBuffer page{};
    if (!ReadRestored(source, sector, 0, page)) {
      reporter.UnreadablePage(0, kReadDiskError, kMessCaption);
      continue;
    }
    std::int32_t size = 0;
    if (GetFileSizeFromHeader(page, size) != 0) {
      reporter.Message("get file size error", kMessCaption);
      continue;
    }
    if (!ReadRestored(source, sector, kNamePage, page)) {
      reporter.UnreadablePage(kNamePage);
      continue;
    }
    std::string name;
    if (GetFileNameFromPage(page, name) != 0) {
      reporter.Message("get file name error");
      continue;
    }
    names.emplace_back(i, name + ":" + std::to_string(static_cast<std::int64_t>(size) * 8) + "KB");
  }
  return names;
}

void ShowFileNameOfChecked(const ReportList& fragmentList, FragmentSource& source,
                           Reporter& reporter) {
  for (const std::size_t i : fragmentList.CheckedRows()) {
    const ReportRow& row = fragmentList.Row(i);
    const std::int64_t s = CellNumber(row, list_column::kStartPage);
    const std::int64_t e = CellNumber(row, list_column::kEndPage);
    if (s > kNamePage || e <= kNamePage) return;  // does not hold page 32: later rows unseen
    const auto sector = static_cast<std::uint64_t>(CellNumber(row, list_column::kStartSector));
    PageBuffer page{};
    if (!ReadRestored(source, sector, kNamePage - s, page)) {
      reporter.UnreadablePage(kNamePage);
      return;
    }
    std::string name;
    if (GetFileNameFromPage(page, name) != 0) name = "none";
    reporter.Message(name);
  }
}

}  // namespace ravelin
