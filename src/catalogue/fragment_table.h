// The Fragment table: one row per fragment found, the page-order index over the rows, and
// the per-row choice flag of the Assembly list.
//
// A row's text form is what scan-info files store:
//   No|StartSector|EndSector|SizeKB|StartPage|EndPage|Remark|Shown|
// Rows are kept structured and give exactly that text on demand.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/row_changes.h"

namespace ravelin {

// Page ids are signed 32-bit: no database file reaches page 2^31.
inline constexpr std::int64_t kPageIdLimit = std::int64_t{1} << 31;

// A row's remark: nearly every row holds " ", and only header fragments something else,
// so the remark is a pointer, null for " ", and costs 8 bytes in a row. It reads as the
// std::string it holds and takes any string.
class RemarkText {
 public:
  RemarkText() = default;
  RemarkText(std::string_view text) { Set(text); }    // NOLINT(google-explicit-constructor)
  RemarkText(const std::string& text) { Set(text); }  // NOLINT(google-explicit-constructor)
  RemarkText(const char* text) { Set(text); }         // NOLINT(google-explicit-constructor)
  RemarkText(const RemarkText& other) { *this = other; }
  RemarkText(RemarkText&&) noexcept = default;
  RemarkText& operator=(const RemarkText& other);
  RemarkText& operator=(RemarkText&&) noexcept = default;
  RemarkText& operator=(std::string_view text) { return Set(text); }
  RemarkText& operator=(const std::string& text) { return Set(text); }
  RemarkText& operator=(const char* text) { return Set(text); }

  const std::string& str() const { return text_ ? *text_ : Blank(); }
  operator const std::string&() const { return str(); }  // NOLINT(google-explicit-constructor)
  std::size_t size() const { return str().size(); }

  friend bool operator==(const RemarkText& a, const RemarkText& b) { return a.str() == b.str(); }
  friend bool operator==(const RemarkText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const RemarkText& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const RemarkText& a, const char* b) { return a.str() == b; }
  friend std::ostream& operator<<(std::ostream& out, const RemarkText& r) { return out << r.str(); }

 private:
  static const std::string& Blank();
  RemarkText& Set(std::string_view text);

  std::unique_ptr<const std::string> text_;  // null: " "
};

// Laid out widest first: 56 bytes a row.
struct FragmentRow {
  std::uint64_t StartSector = 0;
  std::uint64_t EndSector = 0;  // one past the last sector
  std::int64_t SizeKB = 0;      // 8 x pages
  // One past the last page. 64 bits: a fragment ending with page 2^31 - 1, the largest page
  // id, ends at 2^31.
  std::int64_t EndPage = 0;
  RemarkText Remark;
  std::int32_t No = 0;
  std::int32_t StartPage = 0;
  char Shown = 'Y';  // 'N' hides the row from list II

  std::string Text() const;
  // The page count readers use: SizeKB / 8 taken to the nearest integer, halves to even.
  std::int64_t Pages() const;
};

// One entry of the page-order index.
struct FragmentIndexEntry {
  std::int32_t Row = 0;
  std::int32_t StartPage = 0;
  std::int64_t EndPage = 0;
};

// The rows, the index and the choice flags. Not locked: while a job fills the table it is
// its only writer, and other threads read it through TakeSnapshot under the lock the owner
// (the Workspace) holds around every change.
class FragmentTable {
 public:
  std::size_t Count() const { return rows_.size(); }
  bool Empty() const { return rows_.empty(); }
  const FragmentRow& Row(std::size_t i) const { return rows_[i]; }
  const std::vector<FragmentRow>& Rows() const { return rows_; }

  void Append(FragmentRow row);
  void RemoveLast();
  void Clear();
  // Replaces every row at once (opening a scan-info file); the index must be rebuilt.
  void Replace(std::vector<FragmentRow> rows);
  // Shows or hides a row in list II (its Shown flag).
  void SetShown(std::size_t i, bool shown);

  // The rows added since a reader's last look and the rows changed in place, or every row
  // after a change to the whole table.
  using Snapshot = RowSnapshot<FragmentRow>;
  Snapshot TakeSnapshot(RowChanges::Cursor& cursor) const;

  // FragmentIndex and FragmentCount: valid as of the last BuildFragmentIndex.
  const std::vector<FragmentIndexEntry>& FragmentIndex() const { return index_; }
  std::int32_t FragmentCount() const { return static_cast<std::int32_t>(index_.size()); }
  void BuildFragmentIndex();

  // FragmentChosen: per row, 1 when the fragment belongs to the Assembly list.
  std::vector<std::int32_t>& FragmentChosen() { return chosen_; }
  const std::vector<std::int32_t>& FragmentChosen() const { return chosen_; }

 private:
  std::vector<FragmentRow> rows_;
  std::vector<FragmentIndexEntry> index_;
  std::vector<std::int32_t> chosen_;
  RowChanges changes_;
};

// The order a selection sort by StartPage leaves the entries in: at each position the first
// entry with the smallest StartPage among the rest is exchanged into place. Equal StartPages
// therefore do not keep their row order (5,3,5,3 in rows 0..3 gives rows 1,3,2,0). Computed
// in O(n log n) by replaying the exchanges one value at a time.
void SelectionOrder(std::vector<FragmentIndexEntry>& entries);

// The size of a database file of `filePages` pages as header remarks show it: "x.xx MB" below
// 1000 MB, else "x.xx GB".
std::string FileSizeText(std::int32_t filePages);

}  // namespace ravelin
