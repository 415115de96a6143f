// Printing a fragment list (list II, the Assembly list) on the command line: tab-separated
// text under the list's captions, or JSON with one object per row.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "ports/report_list.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// One row of a fragment list as JSON: Position, SizeKB, StartPage, EndPage, Remark,
// StartSector, EndSector, Image.
nlohmann::json FragmentRowJson(const ReportRow& row);

// Tab-separated: the captions are Chinese and the memo free text, so a reader splits on
// tabs rather than counting columns of characters.
void PrintList(const ReportList& list, std::ostream& out);

// List II of `ws`: text, or a JSON document {"count": rows shown, "total": rows in the
// fragment table, "fragments": [FragmentRowJson, …]}.
void PrintFragmentList(const Workspace& ws, std::ostream& out, bool json);

}  // namespace ravelin::cli
