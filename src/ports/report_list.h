// A report-style list as the window shows it: rows of text cells (the caption and its
// sub-items), a tick, an image index, a current row and a selection. List II, the
// database-file list, the Assembly list and the successor dialog's lists are all ReportLists;
// the operations of tabs II to IV read their numbers back from these cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/row_changes.h"

namespace ravelin {

struct ReportRow {
  std::vector<std::string> cells;  // cells[0] is the caption
  bool checked = false;
  int imageIndex = 0;
  bool selected = false;
  // The Fragment table row the item shows (list II, the Assembly list); -1 for none. The
  // operations take a fragment's numbers from the table through it, not from the cells.
  std::int64_t tableRow = -1;

  const std::string& Cell(std::size_t column) const;
};

// How a column compares when the list is sorted.
enum class ColumnKind {
  kNumber,  // a 32-bit number written with the picture "000000000000", compared as text
  kSector,  // a 64-bit sector number, compared as a number
  kText,    // text, compared without regard to case
};

class ReportList {
 public:
  ReportList(std::vector<std::string> captions, std::vector<ColumnKind> kinds);

  const std::vector<std::string>& Captions() const { return captions_; }
  std::size_t ColumnCount() const { return captions_.size(); }
  ColumnKind Kind(std::size_t column) const;

  std::size_t Count() const { return rows_.size(); }
  bool Empty() const { return rows_.empty(); }
  const ReportRow& Row(std::size_t i) const { return rows_[i]; }
  // The row to change in place; a snapshot reader is told that it changed.
  ReportRow& Edit(std::size_t i) {
    changes_.Replaced(i);
    return rows_[i];
  }
  const std::vector<ReportRow>& Rows() const { return rows_; }

  void Clear();
  void Append(ReportRow row);
  void RemoveLast();
  void Reserve(std::size_t n) { rows_.reserve(n); }

  // The focused row (-1 for none). Kept on the same row across a sort.
  std::ptrdiff_t Current() const { return current_; }
  void SetCurrent(std::ptrdiff_t row);

  void CheckAll(bool checked);
  void InvertChecks();
  std::vector<std::size_t> CheckedRows() const;
  std::vector<std::size_t> SelectedRows() const;

  // Sorts ascending by `column` with the lists' compare rule. Rows that compare equal keep
  // their order.
  void Sort(std::size_t column);

  // What a reader on another thread copies: the rows that changed since its last look
  // (`cursor`), or all of them after a change to the whole list. The owner of the list takes
  // the same lock around this as around its changes.
  using Snapshot = RowSnapshot<ReportRow>;
  Snapshot TakeSnapshot(RowChanges::Cursor& cursor) const;

 private:
  std::vector<std::string> captions_;
  std::vector<ColumnKind> kinds_;
  std::vector<ReportRow> rows_;
  std::ptrdiff_t current_ = -1;
  RowChanges changes_;
};

// The text of row i's cell in the column being sorted: a reference to the cell, or to
// `scratch` filled with it by a list that makes its cells when asked.
using CellOf = std::function<const std::string&(std::size_t i, std::string& scratch)>;

// The order ReportList::Sort puts `n` rows in by a column of `kind`: the row numbers, rows
// that compare equal in their order.
std::vector<std::uint32_t> SortOrder(std::size_t n, ColumnKind kind, const CellOf& cell);
// The order SortOrder gives a numeric column whose cells are these values written out,
// without writing them out.
std::vector<std::uint32_t> NumberSortOrder(const std::vector<std::int64_t>& values);

// The compare rule's text for a numeric cell: the value as a 32-bit integer written with the
// picture "000000000000" (a minus sign in front of negative values). A cell that is not a
// number counts as 0.
std::string PictureText(const std::string& cell);

}  // namespace ravelin
