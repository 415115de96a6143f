#include "catalogue/fragment_rows.h"

#include <array>

#include "common/messages.h"
#include "common/text.h"
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
    remark = InvalidHeaderRemark(static_cast<std::int64_t>(*size) * 8);
  } else if (startPage == 0) {
    if (inheritedRemark && !SplitRemark(*inheritedRemark).invalidHeader) {
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

std::string InvalidHeaderRemark(std::int64_t sizeKB) {
  return std::string(Text(TextId::kInvalidHeader)) + std::to_string(sizeKB) + "KB";
}

RemarkFields SplitRemark(std::string_view remark) {
  RemarkFields fields;
  std::string text = Trim(remark);
  // The update information appends " " + 20 hexadecimal digits.
  constexpr std::size_t kLsnDigits = 20;
  auto isHex = [](std::string_view digits) {
    for (const char c : digits) {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
  };
  if (text.size() > kLsnDigits && text[text.size() - kLsnDigits - 1] == ' ' &&
      isHex(std::string_view(text).substr(text.size() - kLsnDigits))) {
    fields.lsn = text.substr(text.size() - kLsnDigits);
    text = Trim(text.substr(0, text.size() - kLsnDigits - 1));
  }
  const std::string_view invalid = Text(TextId::kInvalidHeader);
  if (text.rfind(invalid, 0) == 0) {
    fields.invalidHeader = true;
    fields.sizeText = text.substr(invalid.size());
  } else if (!text.empty() && text.back() == ')') {
    // The name may hold brackets of its own: the size text is the last bracketed part.
    const std::size_t open = text.rfind('(');
    if (open != std::string::npos && open > 0) {
      fields.name = text.substr(0, open);
      fields.sizeText = text.substr(open + 1, text.size() - open - 2);
    }
  }
  return fields;
}

ReportList MakeFragmentListView() {
  return ReportList(
      {"序号", "碎片大小(KB)", "开始页面号", "结束页面号", "备注", "开始扇区", "结束扇区"},
      {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
       ColumnKind::kText, ColumnKind::kSector, ColumnKind::kSector});
}

std::string FragmentListCell(const FragmentRow& row, std::size_t position, std::size_t column) {
  switch (column) {
    case 0:
      return std::to_string(position + 1);
    case 1:
      return std::to_string(row.SizeKB);
    case 2:
      return std::to_string(row.StartPage);
    case 3:
      return std::to_string(row.EndPage);
    case 4:
      return row.Remark;
    case 5:
      return std::to_string(row.StartSector);
    case 6:
      return std::to_string(row.EndSector);
    default:
      return {};
  }
}

ReportRow FragmentListItem(const FragmentRow& row, std::size_t position) {
  ReportRow item;
  item.cells.reserve(kFragmentListColumns);
  for (std::size_t c = 0; c < kFragmentListColumns; ++c)
    item.cells.push_back(FragmentListCell(row, position, c));
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
