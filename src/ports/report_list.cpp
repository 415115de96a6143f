#include "ports/report_list.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <optional>

#include "common/text.h"

namespace ravelin {
namespace {

const std::string kEmpty;

template <typename T>
T ParseOrZero(const std::string& text) {
  return ParseInteger<T>(text).value_or(0);
}

}  // namespace

const std::string& ReportRow::Cell(std::size_t column) const {
  return column < cells.size() ? cells[column] : kEmpty;
}

std::string PictureText(const std::string& cell) {
  const std::int64_t value = ParseOrZero<std::int64_t>(cell);
  const std::uint64_t magnitude =
      value < 0 ? -static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char text[32];
  std::snprintf(text, sizeof text, "%s%012llu", value < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude));
  return text;
}

ReportList::ReportList(std::vector<std::string> captions, std::vector<ColumnKind> kinds)
    : captions_(std::move(captions)), kinds_(std::move(kinds)) {
  kinds_.resize(captions_.size(), ColumnKind::kText);
}

void ReportList::Clear() {
  rows_.clear();
  current_ = -1;
  changes_.Reset();
}

void ReportList::Append(ReportRow row) {
  rows_.push_back(std::move(row));
  changes_.Appended();
}

void ReportList::RemoveLast() {
  if (rows_.empty()) return;
  rows_.pop_back();
  changes_.Truncated(rows_.size());
  if (current_ >= static_cast<std::ptrdiff_t>(rows_.size())) current_ = -1;
}

ReportList::Snapshot ReportList::TakeSnapshot(RowChanges::Cursor& cursor) const {
  return TakeRowSnapshot(changes_, cursor, rows_);
}

void ReportList::SetCurrent(std::ptrdiff_t row) {
  current_ = (row >= 0 && row < static_cast<std::ptrdiff_t>(rows_.size())) ? row : -1;
}

void ReportList::CheckAll(bool checked) {
  for (auto& row : rows_) row.checked = checked;
  changes_.Reset();
}

void ReportList::InvertChecks() {
  for (auto& row : rows_) row.checked = !row.checked;
  changes_.Reset();
}

std::vector<std::size_t> ReportList::CheckedRows() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].checked) out.push_back(i);
  return out;
}

std::vector<std::size_t> ReportList::SelectedRows() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].selected) out.push_back(i);
  return out;
}

namespace {

// The compare rule's order for numeric cells without writing each out with the picture:
// the picture text of v >= 0 is twelve digits, so such cells order as their values; a
// negative one is "-" and twelve digits, which sorts before every digit and, among the
// negatives, by magnitude. Nothing when a value has more than twelve digits (its text
// would be longer and order differently).
template <typename ValueOf>
std::optional<std::vector<std::uint64_t>> PictureKeys(std::size_t n, const ValueOf& valueOf) {
  constexpr std::uint64_t kTwelveDigits = 1'000'000'000'000;
  constexpr std::uint64_t kNonNegative = std::uint64_t{1} << 63;
  std::vector<std::uint64_t> keys(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t v = valueOf(i);
    const std::uint64_t magnitude =
        v < 0 ? -static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    if (magnitude >= kTwelveDigits) return std::nullopt;
    keys[i] = v < 0 ? magnitude : kNonNegative | magnitude;
  }
  return keys;
}

// Rows in the order of their keys, rows of equal keys in their order.
std::vector<std::uint32_t> KeyOrder(const std::vector<std::uint64_t>& keys) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) keyed[i] = {keys[i], static_cast<std::uint32_t>(i)};
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::uint32_t> order(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) order[i] = keyed[i].second;
  return order;
}

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

}  // namespace

std::vector<std::uint32_t> SortOrder(std::size_t n, ColumnKind kind, const CellOf& cell) {
  // Keys are computed once per row; (key, row) pairs sort without comparing rows again, and
  // the row number in the pair keeps rows with equal keys in their order.
  std::vector<std::uint32_t> order(n);
  std::string scratch;
  std::optional<std::vector<std::uint64_t>> numbers;
  if (kind == ColumnKind::kSector) {
    numbers.emplace(n);
    for (std::size_t i = 0; i < n; ++i)
      (*numbers)[i] = ParseOrZero<std::uint64_t>(cell(i, scratch));
  } else if (kind == ColumnKind::kNumber) {
    numbers =
        PictureKeys(n, [&](std::size_t i) { return ParseOrZero<std::int64_t>(cell(i, scratch)); });
  }
  if (numbers) {
    order = KeyOrder(*numbers);
  } else {
    std::vector<std::string> keys(n);
    for (std::size_t i = 0; i < n; ++i)
      keys[i] =
          kind == ColumnKind::kNumber ? PictureText(cell(i, scratch)) : Folded(cell(i, scratch));
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t x, std::uint32_t y) { return keys[x] < keys[y]; });
  }
  return order;
}

std::vector<std::uint32_t> NumberSortOrder(const std::vector<std::int64_t>& values) {
  if (auto keys = PictureKeys(values.size(), [&](std::size_t i) { return values[i]; }))
    return KeyOrder(*keys);
  return SortOrder(values.size(), ColumnKind::kNumber,
                   [&](std::size_t i, std::string& scratch) -> const std::string& {
                     scratch = std::to_string(values[i]);
                     return scratch;
                   });
}

ColumnKind ReportList::Kind(std::size_t column) const {
  return column < kinds_.size() ? kinds_[column] : ColumnKind::kText;
}

void ReportList::Sort(std::size_t column) {
  if (rows_.size() < 2) return;
  const std::size_t n = rows_.size();
  auto order = std::make_shared<std::vector<std::uint32_t>>(SortOrder(
      n, Kind(column),
      [&](std::size_t i, std::string&) -> const std::string& { return rows_[i].Cell(column); }));
  std::vector<ReportRow> sorted;
  sorted.reserve(n);
  std::ptrdiff_t newCurrent = -1;
  for (std::size_t i = 0; i < n; ++i) {
    if (static_cast<std::ptrdiff_t>((*order)[i]) == current_)
      newCurrent = static_cast<std::ptrdiff_t>(i);
    sorted.push_back(std::move(rows_[(*order)[i]]));
  }
  rows_ = std::move(sorted);
  current_ = newCurrent;
  changes_.Permuted(std::move(order));
}

}  // namespace ravelin
