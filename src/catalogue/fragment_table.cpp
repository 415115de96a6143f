#include "catalogue/fragment_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <numeric>

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
  // The selection sort places the values in ascending order. While it places the entries of
  // one value, the lowest position holding that value is always the one chosen, so an entry
  // at the position being filled is never pushed aside if it has that value: the entries of
  // a value go out in the order of the positions they hold when their value's turn comes.
  // Those positions differ from the row order because each exchange moved the entry that
  // stood at the filled position to where the chosen one came from. So: replay the
  // exchanges, group by group, keeping where every entry stands.
  const std::size_t n = entries.size();
  if (n < 2) return;
  // Entries by value, as (StartPage, row) packed into one key: a plain sort of integers.
  std::vector<std::uint64_t> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto biased = static_cast<std::uint32_t>(entries[i].StartPage) ^ 0x80000000u;
    keys[i] = (static_cast<std::uint64_t>(biased) << 32) | i;
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::uint32_t> byValue(n);
  for (std::size_t i = 0; i < n; ++i) byValue[i] = static_cast<std::uint32_t>(keys[i]);
  keys = {};
  std::vector<std::uint32_t> position(n);  // entry -> where it stands now
  std::vector<std::uint32_t> at(n);        // position -> entry standing there
  std::iota(position.begin(), position.end(), 0u);
  std::iota(at.begin(), at.end(), 0u);
  std::size_t next = 0;  // the position being filled
  for (std::size_t g = 0; g < n;) {
    std::size_t end = g + 1;
    while (end < n && entries[byValue[end]].StartPage == entries[byValue[g]].StartPage) ++end;
    if (end - g > 1) {
      std::sort(byValue.begin() + static_cast<std::ptrdiff_t>(g),
                byValue.begin() + static_cast<std::ptrdiff_t>(end),
                [&](std::uint32_t a, std::uint32_t b) { return position[a] < position[b]; });
    }
    for (; g < end; ++g, ++next) {
      const std::uint32_t chosen = byValue[g];
      const std::uint32_t from = position[chosen];
      const std::uint32_t displaced = at[next];
      at[next] = chosen;
      position[chosen] = static_cast<std::uint32_t>(next);
      at[from] = displaced;
      position[displaced] = from;
    }
  }
  std::vector<FragmentIndexEntry> ordered;
  ordered.reserve(n);
  for (std::size_t p = 0; p < n; ++p) ordered.push_back(entries[at[p]]);
  entries = std::move(ordered);
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
