#include "catalogue/fragment_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <numeric>

#include "common/rounding.h"

namespace ravelin {
namespace {

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

}  // namespace

const std::string& RemarkText::Blank() {
  static const std::string blank = " ";
  return blank;
}

RemarkText& RemarkText::Set(std::string_view text) {
  if (text == " ") {
    text_.reset();
  } else {
    text_ = std::make_unique<const std::string>(text);
  }
  return *this;
}

RemarkText& RemarkText::operator=(const RemarkText& other) {
  if (this != &other)
    text_ = other.text_ ? std::make_unique<const std::string>(*other.text_) : nullptr;
  return *this;
}

std::string FragmentRow::Text() const {
  std::string text;
  text.reserve(64 + Remark.size());
  for (const std::string& field :
       {std::to_string(No), std::to_string(StartSector), std::to_string(EndSector),
        std::to_string(SizeKB), std::to_string(StartPage), std::to_string(EndPage), Remark.str(),
        std::string(1, Shown)}) {
    text += field;
    text += '|';
  }
  return text;
}

std::int64_t FragmentRow::Pages() const { return RoundHalfEven(SizeKB, 8); }

void FragmentTable::Append(FragmentRow row) {
  rows_.push_back(std::move(row));
  chosen_.push_back(0);
  changes_.Appended();
}

void FragmentTable::RemoveLast() {
  if (rows_.empty()) return;
  rows_.pop_back();
  chosen_.pop_back();
  changes_.Truncated(rows_.size());
}

void FragmentTable::Clear() {
  rows_.clear();
  chosen_.clear();
  changes_.Reset();
}

void FragmentTable::Replace(std::vector<FragmentRow> rows) {
  rows_ = std::move(rows);
  chosen_.assign(rows_.size(), 0);
  changes_.Reset();
}

void FragmentTable::SetShown(std::size_t i, bool shown) {
  const char flag = shown ? 'Y' : 'N';
  if (rows_[i].Shown == flag) return;
  rows_[i].Shown = flag;
  changes_.Replaced(i);
}

FragmentTable::Snapshot FragmentTable::TakeSnapshot(RowChanges::Cursor& cursor) const {
  return TakeRowSnapshot(changes_, cursor, rows_);
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
  // Entry at[p] goes to position p: moved in place, cycle by cycle, marking each position
  // done as at[p] = p.
  byValue = {};
  position = {};
  for (std::size_t p = 0; p < n; ++p) {
    if (at[p] == p) continue;
    const FragmentIndexEntry first = entries[p];
    std::size_t q = p;
    while (at[q] != p) {
      const std::size_t from = at[q];
      entries[q] = entries[from];
      at[q] = static_cast<std::uint32_t>(q);
      q = from;
    }
    entries[q] = first;
    at[q] = static_cast<std::uint32_t>(q);
  }
}

std::string FileSizeText(std::int32_t filePages) {
  // MB = pages x 16 / 2048 = pages / 128; GB = MB / 1024.
  const std::int64_t pages = filePages;
  if (pages < 1000 * 128) return TwoDecimals(RoundedHundredths(pages, 128)) + " MB";
  return TwoDecimals(RoundedHundredths(pages, 128 * 1024)) + " GB";
}

}  // namespace ravelin
