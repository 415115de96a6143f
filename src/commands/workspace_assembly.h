// The Assembly list of tab IV as the Workspace holds it: rebuilt from FragmentChosen under
// the table lock, so that the window can take snapshots while a job rebuilds it. A Workspace
// that shows no lists keeps it as an AssemblyOrder; these calls serve both.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "assembly/assembly_rows.h"
#include "ports/report_list.h"

namespace ravelin {

class Workspace;

// Rebuilds the list from the chosen rows and tells the window.
void FillAssemblyList(Workspace& ws);
// The same, without telling the window (the search tells it when it is done).
void RebuildAssemblyList(Workspace& ws);

std::size_t AssemblyCount(const Workspace& ws);
// Item `i` as the window shows it, and the table row it shows.
ReportRow AssemblyItem(const Workspace& ws, std::size_t i);
// Sorts by `column` as a click on its heading does.
void SortAssemblyList(Workspace& ws, std::size_t column);
// Sets the remark cell of item `i`.
void SetAssemblyRemark(Workspace& ws, std::size_t i, const std::string& remark);
// The typed rows in the list's order.
std::vector<AssemblyRow> AssemblyListRows(const Workspace& ws);

}  // namespace ravelin
