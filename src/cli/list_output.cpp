#include "cli/list_output.h"

#include "common/text.h"

namespace ravelin::cli {

nlohmann::json FragmentRowJson(const ReportRow& row) {
  auto number = [&](std::size_t c) { return ParseInteger<std::int64_t>(row.Cell(c)).value_or(0); };
  auto sector = [&](std::size_t c) { return ParseInteger<std::uint64_t>(row.Cell(c)).value_or(0); };
  return {{"Position", number(0)},  {"SizeKB", number(1)},    {"StartPage", number(2)},
          {"EndPage", number(3)},   {"Remark", row.Cell(4)},  {"StartSector", sector(5)},
          {"EndSector", sector(6)}, {"Image", row.imageIndex}};
}

void PrintList(const ReportList& list, std::ostream& out) {
  const auto& captions = list.Captions();
  for (std::size_t c = 0; c < captions.size(); ++c) out << (c ? "\t" : "") << captions[c];
  out << '\n';
  for (const ReportRow& row : list.Rows()) {
    for (std::size_t c = 0; c < captions.size(); ++c) out << (c ? "\t" : "") << row.Cell(c);
    out << '\n';
  }
}

void PrintFragmentList(const Workspace& ws, std::ostream& out, bool json) {
  if (!json) {
    PrintList(ws.ListView2, out);
    return;
  }
  nlohmann::json rows = nlohmann::json::array();
  for (const ReportRow& row : ws.ListView2.Rows()) rows.push_back(FragmentRowJson(row));
  const nlohmann::json doc = {{"count", ws.ListView2.Count()},
                              {"total", ws.fragments.Count()},
                              {"fragments", std::move(rows)}};
  out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace ravelin::cli
