// Printing a fragment list (list II, the Assembly list) on the command line: tab-separated
// text under the list's captions, or JSON with one object per row.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ports/report_list.h"
#include "workspace/workspace.h"

namespace ravelin::cli {

// One row of a fragment list as JSON: position, size_kb, start_page, end_page, remark (the
// text) with name, size_text and lsn split from it by SplitRemark (null when absent), start_sector,
// end_sector, image.
nlohmann::json FragmentRowJson(const ReportRow& row);

// Tab-separated: the captions are Chinese and the memo free text, so a reader splits on
// tabs rather than counting columns of characters.
void PrintList(const ReportList& list, std::ostream& out);
// The same for a list whose items are made when asked for.
void PrintList(const std::vector<std::string>& captions, std::size_t count,
               const std::function<ReportRow(std::size_t)>& item, std::ostream& out);

// List II of `ws`: text, or a JSON document {"count": rows shown, "total": rows in the
// fragment table, "fragments": [FragmentRowJson, …]}, with "stopped" when given. `foundIn`,
// when given, holds where each table row was found (by its 序号), each JSON row's
// "found_in".
void PrintFragmentList(const Workspace& ws, std::ostream& out, bool json,
                       std::optional<bool> stopped = std::nullopt,
                       const std::vector<std::string>* foundIn = nullptr);

}  // namespace ravelin::cli
