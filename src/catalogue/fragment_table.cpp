#include "catalogue/fragment_table.h"

#include <array>
#include <cstdio>
#include <limits>

#include "common/bytes.h"
#include "common/text.h"
#include "scan/page_format.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

// Fragments of at most this many pages that start at page 0 are too short to hold page 32,
// the page with the file's physical name.
constexpr std::int32_t kShortHeaderPages = 32;
constexpr std::uint64_t kNamePageSector = 32 * kSectorsPerPage;

// value / 100 written with two decimals; `hundredths` is already rounded.
std::string TwoDecimals(std::int64_t hundredths) {
  const bool negative = hundredths < 0;
  const std::uint64_t v =
      negative ? -static_cast<std::uint64_t>(hundredths) : static_cast<std::uint64_t>(hundredths);
  char text[32];
  std::snprintf(text, sizeof text, "%s%llu.%02llu", negative ? "-" : "",
                static_cast<unsigned long long>(v / 100), static_cast<unsigned long long>(v % 100));
  return text;
}

// numerator / denominator x 100, rounded half away from zero, in exact integer arithmetic.
std::int64_t RoundedHundredths(std::int64_t numerator, std::int64_t denominator) {
  const std::int64_t scaled = numerator * 100;
  const std::int64_t q = scaled / denominator;
  const std::int64_t r = scaled % denominator;
  if (2 * (r < 0 ? -r : r) >= denominator) return scaled < 0 ? q - 1 : q + 1;
  return q;
}

bool ReadPage(Workspace& ws, std::uint64_t sector, std::array<std::uint8_t, kPageSize>& page) {
  if (!ws.reader.ReadSectors(static_cast<std::int32_t>(kSectorsPerPage), page, sector)) {
    ws.ui().ShowMessage("read disk error");
    return false;
  }
  RestoreTornBits(page);
  return true;
}

// The file size from page 0 at `startSector`; 0 (reported in Memo1) when page 0 holds none.
// nullopt when the page cannot be read.
std::optional<std::int32_t> ReadFileSize(Workspace& ws, std::uint64_t startSector) {
  std::array<std::uint8_t, kPageSize> page{};
  if (!ReadPage(ws, startSector, page)) return std::nullopt;
  std::int32_t size = 0;
  if (GetFileSizeFromHeader(page, size) != 0) {
    ws.ui().AppendMemo(Memo::kMemo1, "get fileinfo1 error");
    size = 0;
  }
  return size;
}

ReportRow ListItem(const FragmentRow& row, std::size_t position) {
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

}  // namespace

std::string FragmentRow::Text() const {
  std::string text;
  text.reserve(64 + Remark.size());
  for (const std::string& field :
       {std::to_string(No), std::to_string(StartSector), std::to_string(EndSector),
        std::to_string(SizeKB), std::to_string(StartPage), std::to_string(EndPage), Remark,
        std::string(1, Shown)}) {
    text += field;
    text += '|';
  }
  return text;
}

std::int64_t FragmentRow::Pages() const {
  // Round half to even: SizeKB / 8 with the remainder 4 going to the even neighbour.
  const std::int64_t q = SizeKB / 8;
  const std::int64_t r = SizeKB % 8;
  if (r > 4 || (r == 4 && (q & 1))) return q + 1;
  if (r < -4 || (r == -4 && (q & 1))) return q - 1;
  return q;
}

void FragmentTable::Append(FragmentRow row) {
  rows_.push_back(std::move(row));
  chosen_.push_back(0);
}

void FragmentTable::RemoveLast() {
  if (rows_.empty()) return;
  rows_.pop_back();
  chosen_.pop_back();
}

void FragmentTable::Clear() {
  rows_.clear();
  chosen_.clear();
}

void FragmentTable::Replace(std::vector<FragmentRow> rows) {
  rows_ = std::move(rows);
  chosen_.assign(rows_.size(), 0);
}

void FragmentTable::BuildFragmentIndex() {
  index_.clear();
  index_.reserve(rows_.size());
  for (std::size_t i = 0; i < rows_.size(); ++i)
    index_.push_back({static_cast<std::int32_t>(i), rows_[i].StartPage, rows_[i].EndPage});
  SelectionOrder(index_);
}

void SelectionOrder(std::vector<FragmentIndexEntry>& entries) {
  const std::size_t n = entries.size();
  if (n < 2) return;
  // Leaves hold (StartPage, position); an inner node the smaller of its children, the lower
  // position winning ties, which is the entry a left-to-right scan finds first.
  std::size_t size = 1;
  while (size < n) size <<= 1;
  constexpr std::int64_t kGone = std::numeric_limits<std::int64_t>::max();
  auto key = [](std::int32_t startPage, std::size_t pos) {
    return (static_cast<std::int64_t>(startPage) << 32) | static_cast<std::int64_t>(pos);
  };
  std::vector<std::int64_t> tree(2 * size, kGone);
  for (std::size_t i = 0; i < n; ++i) tree[size + i] = key(entries[i].StartPage, i);
  for (std::size_t i = size - 1; i > 0; --i) tree[i] = std::min(tree[2 * i], tree[2 * i + 1]);
  auto update = [&](std::size_t pos, std::int64_t value) {
    std::size_t i = size + pos;
    tree[i] = value;
    for (i >>= 1; i > 0; i >>= 1) tree[i] = std::min(tree[2 * i], tree[2 * i + 1]);
  };
  for (std::size_t i = 0; i + 1 < n; ++i) {
    // Positions below i are already gone from the tree, so the root is the minimum of i..n-1.
    const std::size_t j = static_cast<std::size_t>(tree[1] & 0xFFFFFFFF);
    if (j != i) {
      std::swap(entries[i], entries[j]);
      update(j, key(entries[j].StartPage, j));
    }
    update(i, kGone);
  }
}

std::string FileSizeText(std::int32_t filePages) {
  // MB = pages x 16 / 2048 = pages / 128; GB = MB / 1024.
  const std::int64_t pages = filePages;
  if (pages < 1000 * 128) return TwoDecimals(RoundedHundredths(pages, 128)) + " MB";
  return TwoDecimals(RoundedHundredths(pages, 128 * 1024)) + " GB";
}

bool AddFragment(Workspace& ws, std::int32_t no, std::int32_t pages, std::int32_t startPage,
                 std::uint64_t startSector, const std::optional<std::string>& inheritedRemark) {
  const Tab1Controls& tab1 = ws.controls.tab1;
  if (tab1.CheckBox1) {
    // The scan refuses to start with a limit that is not a number, so none is applied here.
    const auto limit = ParseInteger(tab1.edtmaxpageid);
    if (limit && startPage >= *limit) return false;
  }

  std::string remark = " ";
  if (startPage == 0 && pages <= kShortHeaderPages) {
    const auto size = ReadFileSize(ws, startSector);
    if (!size) return false;
    remark = "无效文件头,size:" + std::to_string(static_cast<std::int64_t>(*size) * 8) + "KB";
  } else if (startPage == 0) {
    if (inheritedRemark && inheritedRemark->find("无效文件头") == std::string::npos) {
      remark = *inheritedRemark;
    } else {
      const auto size = ReadFileSize(ws, startSector);
      if (!size) return false;
      std::array<std::uint8_t, kPageSize> page{};
      if (!ReadPage(ws, startSector + kNamePageSector, page)) return false;
      std::string name;
      if (GetFileNameFromPage(page, name) != 0) {
        ws.ui().AppendMemo(Memo::kMemo1, "get fileinfo2 error");
        name = "none";
      }
      remark = name + "(" + FileSizeText(*size) + ")";
    }
  }

  FragmentRow row;
  row.No = no;
  row.StartSector = startSector;
  row.EndSector = startSector + kSectorsPerPage * static_cast<std::uint64_t>(pages);
  row.SizeKB = 8 * static_cast<std::int64_t>(pages);
  row.StartPage = startPage;
  row.EndPage = startPage + pages;
  row.Remark = std::move(remark);
  ws.fragments.Append(std::move(row));
  ws.ListView2.Append(
      ListItem(ws.fragments.Row(ws.fragments.Count() - 1), ws.fragments.Count() - 1));
  ws.ui().Changed(Change::kFragmentList);
  return true;
}

void FillFragmentList(Workspace& ws) {
  ws.ListView2.Clear();
  const auto& rows = ws.fragments.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].Shown == 'N') continue;
    ws.ListView2.Append(ListItem(rows[i], i));
  }
  ws.ui().Changed(Change::kFragmentList);
}

}  // namespace ravelin
