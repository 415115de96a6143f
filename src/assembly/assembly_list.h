// The Assembly list of tab IV: the fragments chosen to make up the file being rebuilt,
// one row per table row whose FragmentChosen entry is 1. Sorted by first page id it is the
// order in which the MDF is laid out.
#pragma once

#include "catalogue/fragment_table.h"
#include "ports/report_list.h"

namespace ravelin {

// Rebuilds `list` from the chosen rows of `table`, in table order (not page order): the
// caption is the row's 1-based position in the list as built, then SizeKB, StartPage,
// EndPage, Remark, StartSector, EndSector; image 1 for a fragment that starts at page 0.
// Drops any sort, tick or selection the list had.
void FillAssemblyList(const FragmentTable& table, ReportList& list);

}  // namespace ravelin
