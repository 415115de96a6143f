#include "ports/report_list.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "common/text.h"

namespace ravelin {
namespace {

const std::string kEmpty;

// ASCII letters compared without regard to case; every other byte as it is, so UTF-8 text
// orders by code point.
int CompareTextNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; };
    const int ca = fold(static_cast<unsigned char>(a[i]));
    const int cb = fold(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

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
  const RowChanges::Delta delta = changes_.Since(cursor, rows_.size());
  Snapshot snapshot;
  snapshot.reset = delta.reset;
  snapshot.count = delta.count;
  const std::size_t first = delta.reset ? 0 : delta.firstNew;
  snapshot.rows.reserve(delta.changed.size() + (rows_.size() - first));
  for (const std::size_t r : delta.changed) snapshot.rows.emplace_back(r, rows_[r]);
  for (std::size_t r = first; r < rows_.size(); ++r) snapshot.rows.emplace_back(r, rows_[r]);
  return snapshot;
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

void ReportList::Sort(std::size_t column) {
  if (rows_.size() < 2) return;
  // Keys are computed once per row: a million-row list sorts without re-parsing cells.
  std::vector<std::size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  const ColumnKind kind = column < kinds_.size() ? kinds_[column] : ColumnKind::kText;
  if (kind == ColumnKind::kSector) {
    std::vector<std::uint64_t> keys(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i)
      keys[i] = ParseOrZero<std::uint64_t>(rows_[i].Cell(column));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return keys[x] < keys[y]; });
  } else {
    std::vector<std::string> keys(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i)
      keys[i] =
          kind == ColumnKind::kNumber ? PictureText(rows_[i].Cell(column)) : rows_[i].Cell(column);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      return CompareTextNoCase(keys[x], keys[y]) < 0;
    });
  }
  std::vector<ReportRow> sorted;
  sorted.reserve(rows_.size());
  std::ptrdiff_t newCurrent = -1;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (static_cast<std::ptrdiff_t>(order[i]) == current_)
      newCurrent = static_cast<std::ptrdiff_t>(i);
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  current_ = newCurrent;
  changes_.Reset();
}

}  // namespace ravelin
