// The Fragment table: one row per fragment found, the page-order index over the rows, and
// the per-row choice flag of the Assembly list.
//
// A row's text form is what scan-info files store:
//   No|StartSector|EndSector|SizeKB|StartPage|EndPage|Remark|Shown|
// Rows are kept structured and give exactly that text on demand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravelin {

class Workspace;

struct FragmentRow {
  std::int32_t No = 0;
  std::uint64_t StartSector = 0;
  std::uint64_t EndSector = 0;  // one past the last sector
  std::int64_t SizeKB = 0;      // 8 x pages
  std::int32_t StartPage = 0;
  std::int32_t EndPage = 0;  // one past the last page
  std::string Remark = " ";
  char Shown = 'Y';  // 'N' hides the row from list II

  std::string Text() const;
  // The page count readers use: SizeKB / 8 taken to the nearest integer, halves to even.
  std::int64_t Pages() const;
};

// One entry of the page-order index.
struct FragmentIndexEntry {
  std::int32_t Row = 0;
  std::int32_t StartPage = 0;
  std::int32_t EndPage = 0;
};

class FragmentTable {
 public:
  std::size_t Count() const { return rows_.size(); }
  bool Empty() const { return rows_.empty(); }
  const FragmentRow& Row(std::size_t i) const { return rows_[i]; }
  FragmentRow& Row(std::size_t i) { return rows_[i]; }
  const std::vector<FragmentRow>& Rows() const { return rows_; }

  void Append(FragmentRow row);
  void RemoveLast();
  void Clear();
  // Replaces every row at once (opening a scan-info file); the index must be rebuilt.
  void Replace(std::vector<FragmentRow> rows);

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
};

// The order a selection sort by StartPage leaves the entries in: at each position the first
// entry with the smallest StartPage among the rest is exchanged into place. Equal StartPages
// therefore do not keep their row order (5,3,5,3 in rows 0..3 gives rows 1,3,2,0). Computed
// in O(n log n) by replaying the exchanges one value at a time.
void SelectionOrder(std::vector<FragmentIndexEntry>& entries);

// "无效文件头,size:" + KB + "KB" or name + "(" + size + " MB)" / " GB)" for a header fragment.
std::string FileSizeText(std::int32_t filePages);

// Appends one row and its list II item (unless the page-number limit of tab I excludes it).
// inheritedRemark: the Remark of a page-0 row that a merge replaces. Returns true when a row
// was added.
bool AddFragment(Workspace& ws, std::int32_t no, std::int32_t pages, std::int32_t startPage,
                 std::uint64_t startSector,
                 const std::optional<std::string>& inheritedRemark = std::nullopt);

// Rebuilds list II from the rows whose Shown is not "N", in FragmentList order.
void FillFragmentList(Workspace& ws);

}  // namespace ravelin
