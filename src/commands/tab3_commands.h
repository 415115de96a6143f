// Tab III: the database files found (the header fragments), and the analysis of one of them
// ("分析该碎片(FILTER)"), run as the "anlys" job in automatic mode and on the window's thread
// in manual mode, where it asks through the successor choice dialog.
#pragma once

#include "commands/session.h"
#include "workspace/jobs.h"

namespace ravelin {

class Workspace;

// The window's tab control: records the active page; tab III rebuilds its list each time it
// becomes the active page.
void PageControl1Change(Workspace& ws, int activePage);

// Rebuilds the tab III list from the header fragments of the table; with a saved scan's
// content open, the name of every file of more than 32 pages is read from its stored pages.
void ListHeaderFragments(Workspace& ws);

// A click in the tab III list: the current row becomes the one selected row.
void ListView3Click(Workspace& ws);

// What an analysis works on, taken from the controls when it is started: the selected row
// of the tab III list (none: none) and chkauto.
AnalysisRequest ReadAnalysisRequest(const Workspace& ws);

// The body of the "anlys" job: disables Button1 and chkauto, analyses the header fragment,
// rebuilds the Assembly list when the search went through, and enables both again. Manual
// mode runs it on the caller's thread.
JobResult AnalyseFile(Workspace& ws, const AnalysisRequest& request);

// "分析该碎片(FILTER)": refused while a scan runs ("尚未扫描结束") or another job runs; makes
// tab IV and then tab III the active page, starts a new successor dialog, and runs the
// analysis of the selected row: as the "anlys" job when chkauto is checked, else here.
void Button1Click(Workspace& ws);

}  // namespace ravelin
