// Tab IV: the Assembly list (clicks, header clicks), the missing-page check (CHECK), the
// search for missing fragments (SEARCH MORE) and the MDF writer (CREATE MDF).
#pragma once

#include <cstddef>
#include <string>

#include "assembly/missing_fragment_search.h"
#include "assembly/page_account.h"

namespace ravelin {

class Workspace;

// A click in the Assembly list marks the current row selected.
void ListView4Click(Workspace& ws);
// A header click: stores the sort column, enables Button2, Button5 and Button6 for column 2
// ("起始页面号") and disables them for any other, then sorts the list by that column.
void ListView4ColumnClick(Workspace& ws, std::size_t column);

// CHECK: the missing pages of the sorted Assembly list, in Memo3 ("检测完毕" closes them),
// then the summary of the page account of the file CREATE MDF would write from it.
void Button5Click(Workspace& ws);
// The missing pages alone, without the account (which reads every page of the file).
void CheckAssembly(Workspace& ws);

// SEARCH MORE: sweeps for missing fragments until one adds nothing, then sorts the list by
// column 2 and writes the file's name and size into the first row's memo cell (Memo3 holds
// the lines). Returns what the sweeps did.
SearchResult Button6Click(Workspace& ws);

// CREATE MDF: asks for the file (proposing the last part of DatabaseFileName) and writes it.
void Button2Click(Workspace& ws);
// The same without the dialog: writes the file at `path`. True when it was written whole
// ("组合完毕" in Memo3); then, when asked, *account holds its page account, taken while
// writing.
bool CreateMdf(Workspace& ws, const std::string& path, PageAccount* account = nullptr);

// The part of a database file's physical name after its last "\" (all of it without one):
// the name the save dialog proposes.
std::string MdfFileName(const std::string& databaseFileName);

}  // namespace ravelin
