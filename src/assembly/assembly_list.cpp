#include "assembly/assembly_list.h"

#include "catalogue/fragment_rows.h"

namespace ravelin {
namespace {

constexpr std::size_t kFirstPageColumn = 2;
constexpr std::size_t kRemarkColumn = 4;

}  // namespace

void FillAssemblyList(const FragmentTable& table, ReportList& list) {
  list.Clear();
  const auto& chosen = table.FragmentChosen();
  for (std::size_t i = 0; i < table.Count() && i < chosen.size(); ++i) {
    if (chosen[i] != 1) continue;
    ReportRow item = FragmentListItem(table.Row(i), list.Count());
    item.tableRow = static_cast<std::int64_t>(i);
    list.Append(std::move(item));
  }
}

void AssemblyOrder::Fill(const FragmentTable& table) {
  entries_.clear();
  remarkRow_ = -1;
  remark_.clear();
  const auto& chosen = table.FragmentChosen();
  for (std::size_t i = 0; i < table.Count() && i < chosen.size(); ++i) {
    if (chosen[i] != 1) continue;
    entries_.push_back({static_cast<std::int32_t>(i), static_cast<std::int32_t>(entries_.size())});
  }
  entries_.shrink_to_fit();
}

std::string AssemblyOrder::Cell(const Entry& entry, std::size_t column,
                                const FragmentTable& table) const {
  if (column == kRemarkColumn && entry.row == remarkRow_) return remark_;
  return FragmentListCell(table.Row(static_cast<std::size_t>(entry.row)),
                          static_cast<std::size_t>(entry.position), column);
}

void AssemblyOrder::Sort(std::size_t column, const FragmentTable& table) {
  if (entries_.size() < 2) return;
  const ColumnKind kind = MakeFragmentListView().Kind(column);
  // The first-page column, which every sweep of the search sorts by, from the rows' numbers.
  if (column == kFirstPageColumn && kind == ColumnKind::kNumber) {
    std::vector<std::int64_t> firstPages(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i)
      firstPages[i] = table.Row(static_cast<std::size_t>(entries_[i].row)).StartPage;
    Reorder(NumberSortOrder(firstPages));
    return;
  }
  Reorder(SortOrder(entries_.size(), kind,
                    [&](std::size_t i, std::string& scratch) -> const std::string& {
                      scratch = Cell(entries_[i], column, table);
                      return scratch;
                    }));
}

void AssemblyOrder::Reorder(const std::vector<std::uint32_t>& order) {
  std::vector<Entry> sorted;
  sorted.reserve(entries_.size());
  for (const std::uint32_t i : order) sorted.push_back(entries_[i]);
  entries_ = std::move(sorted);
}

ReportRow AssemblyOrder::Item(std::size_t i, const FragmentTable& table) const {
  const Entry& entry = entries_[i];
  ReportRow item = FragmentListItem(table.Row(static_cast<std::size_t>(entry.row)),
                                    static_cast<std::size_t>(entry.position));
  if (entry.row == remarkRow_) item.cells[kRemarkColumn] = remark_;
  item.tableRow = entry.row;
  return item;
}

void AssemblyOrder::SetRemark(std::size_t i, std::string remark) {
  remarkRow_ = entries_[i].row;
  remark_ = std::move(remark);
}

std::vector<AssemblyRow> AssemblyOrder::Rows(const FragmentTable& table) const {
  std::vector<AssemblyRow> rows;
  rows.reserve(entries_.size());
  for (const Entry& entry : entries_) {
    if (entry.row < 0 || static_cast<std::size_t>(entry.row) >= table.Count()) continue;
    rows.push_back(AssemblyRowOf(table.Row(static_cast<std::size_t>(entry.row))));
  }
  return rows;
}

}  // namespace ravelin
