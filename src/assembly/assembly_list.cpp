#include "assembly/assembly_list.h"

#include "catalogue/fragment_rows.h"

namespace ravelin {

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

}  // namespace ravelin
