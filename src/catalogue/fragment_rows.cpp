#include "catalogue/fragment_rows.h"

#include <array>

#include "page/page_format.h"

namespace ravelin {
namespace {

constexpr std::uint64_t kNamePageSector = 32 * kSectorsPerPage;

// Page `pageNumber` of a file, at `sector`.
bool ReadPage(SectorReader& reader, std::uint64_t sector, std::int64_t pageNumber,
              std::array<std::uint8_t, kPageSize>& page, Reporter& reporter) {
  if (!reader.ReadSectors(static_cast<std::int32_t>(kSectorsPerPage), page, sector)) {
    reporter.UnreadablePage(pageNumber);
    return false;
  }
  RestoreTornBits(page);
  return true;
}

// The file size from page 0 at `startSector`; 0 (logged) when page 0 holds none. Nothing
// when the page cannot be read.
std::optional<std::int32_t> ReadFileSize(SectorReader& reader, std::uint64_t startSector,
                                         Reporter& reporter) {
  std::array<std::uint8_t, kPageSize> page{};
  if (!ReadPage(reader, startSector, 0, page, reporter)) return std::nullopt;
  std::int32_t size = 0;
  if (GetFileSizeFromHeader(page, size) != 0) {
    reporter.Log("get fileinfo1 error");
    size = 0;
  }
  return size;
}

}  // namespace

std::optional<FragmentRow> MakeFragmentRow(std::int32_t no, std::int64_t pages,
                                           std::int32_t startPage, std::uint64_t startSector,
                                           const std::optional<std::string>& inheritedRemark,
                                           SectorReader& reader, Reporter& reporter) {
  std::string remark = " ";
  if (startPage == 0 && pages <= kShortHeaderPages) {
    const auto size = ReadFileSize(reader, startSector, reporter);
    if (!size) return std::nullopt;
    remark = "无效文件头,size:" + std::to_string(static_cast<std::int64_t>(*size) * 8) + "KB";
  } else if (startPage == 0) {
    if (inheritedRemark && inheritedRemark->find("无效文件头") == std::string::npos) {
      remark = *inheritedRemark;
    } else {
      const auto size = ReadFileSize(reader, startSector, reporter);
      if (!size) return std::nullopt;
      std::array<std::uint8_t, kPageSize> page{};
      if (!ReadPage(reader, startSector + kNamePageSector, 32, page, reporter)) return std::nullopt;
      std::string name;
      if (GetFileNameFromPage(page, name) != 0) {
        reporter.Log("get fileinfo2 error");
        name = "none";
      }
      remark = name + "(" + FileSizeText(*size) + ")";
    }
  }

  FragmentRow row;
  row.No = no;
  row.StartSector = startSector;
  row.EndSector = startSector + kSectorsPerPage * static_cast<std::uint64_t>(pages);
  row.SizeKB = 8 * pages;
  row.StartPage = startPage;
  row.EndPage = static_cast<std::int64_t>(startPage) + pages;
  row.Remark = std::move(remark);
  return row;
}

ReportList MakeFragmentListView() {
  return ReportList(
      {"序号", "碎片大小(KB)", "开始页面号", "结束页面号", "备注", "开始扇区", "结束扇区"},
      {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
       ColumnKind::kText, ColumnKind::kSector, ColumnKind::kSector});
}

ReportRow FragmentListItem(const FragmentRow& row, std::size_t position) {
  ReportRow item;
  item.cells = {std::to_string(position + 1),
                std::to_string(row.SizeKB),
                std::to_string(row.StartPage),
                std::to_string(row.EndPage),
                row.Remark,
                std::to_string(row.StartSector),
                std::to_string(row.EndSector)};
  item.imageIndex = row.StartPage == 0 ? 1 : 0;
  return item;
}

void FillFragmentList(const FragmentTable& table, ReportList& list) {
  list.Clear();
  const auto& rows = table.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].Shown == 'N') continue;
    ReportRow item = FragmentListItem(rows[i], i);
    item.tableRow = static_cast<std::int64_t>(i);
    list.Append(std::move(item));
  }
}

}  // namespace ravelin
