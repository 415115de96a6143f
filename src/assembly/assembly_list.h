// The Assembly list of tab IV: the fragments chosen to make up the file being rebuilt,
// one row per table row whose FragmentChosen entry is 1. Sorted by first page id it is the
// order in which the MDF is laid out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assembly/assembly_rows.h"
#include "catalogue/fragment_table.h"
#include "ports/report_list.h"

namespace ravelin {

// Rebuilds `list` from the chosen rows of `table`, in table order (not page order): the
// caption is the row's 1-based position in the list as built, then SizeKB, StartPage,
// EndPage, Remark, StartSector, EndSector; image 1 for a fragment that starts at page 0.
// Drops any sort, tick or selection the list had.
void FillAssemblyList(const FragmentTable& table, ReportList& list);

// The same list as a run without a window keeps it: per item the table row it shows and its
// position as built, 8 bytes instead of seven text cells. Items are made when asked for and
// equal FillAssemblyList's, sorted the way ReportList::Sort sorts them; the one remark a
// program sets (the search's name and size on the first row) is kept beside.
class AssemblyOrder {
 public:
  void Fill(const FragmentTable& table);
  std::size_t Count() const { return entries_.size(); }
  void Sort(std::size_t column, const FragmentTable& table);
  ReportRow Item(std::size_t i, const FragmentTable& table) const;
  // The table row item `i` shows.
  std::int32_t TableRow(std::size_t i) const { return entries_[i].row; }
  void SetRemark(std::size_t i, std::string remark);
  std::vector<AssemblyRow> Rows(const FragmentTable& table) const;

 private:
  struct Entry {
    std::int32_t row = 0;       // in the table
    std::int32_t position = 0;  // in the list as built: the caption is position + 1
  };
  std::string Cell(const Entry& entry, std::size_t column, const FragmentTable& table) const;
  // Puts the entries in `order` (entry numbers).
  void Reorder(const std::vector<std::uint32_t>& order);

  std::vector<Entry> entries_;
  std::int32_t remarkRow_ = -1;  // the table row whose remark cell was set, or -1
  std::string remark_;
};

}  // namespace ravelin
