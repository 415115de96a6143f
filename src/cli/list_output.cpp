#include "cli/list_output.h"

#include "catalogue/fragment_rows.h"
#include "cli/glosses.h"
#include "commands/workspace_fragments.h"
#include "common/text.h"

namespace ravelin::cli {

namespace {

nlohmann::json OrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

}  // namespace

nlohmann::json FragmentRowJson(const ReportRow& row) {
  auto number = [&](std::size_t c) { return ParseInteger<std::int64_t>(row.Cell(c)).value_or(0); };
  auto sector = [&](std::size_t c) { return ParseInteger<std::uint64_t>(row.Cell(c)).value_or(0); };
  const RemarkFields remark = SplitRemark(row.Cell(4));
  return {{"position", number(0)},       {"size_kb", number(1)},
          {"start_page", number(2)},     {"end_page", number(3)},
          {"remark", row.Cell(4)},       {"remark_message", MessageJson(row.Cell(4))},
          {"name", OrNull(remark.name)}, {"size_text", OrNull(remark.sizeText)},
          {"lsn", OrNull(remark.lsn)},   {"start_sector", sector(5)},
          {"end_sector", sector(6)},     {"image", row.imageIndex}};
}

namespace {

void PrintCaptions(const std::vector<std::string>& captions, std::ostream& out) {
  for (std::size_t c = 0; c < captions.size(); ++c)
    out << (c ? "\t" : "") << GlossedCaption(captions[c]);
  out << '\n';
}

void PrintItem(const ReportRow& row, std::size_t columns, std::ostream& out) {
  for (std::size_t c = 0; c < columns; ++c) out << (c ? "\t" : "") << row.Cell(c);
  out << '\n';
}

}  // namespace

void PrintList(const ReportList& list, std::ostream& out) {
  PrintCaptions(list.Captions(), out);
  for (const ReportRow& row : list.Rows()) PrintItem(row, list.ColumnCount(), out);
}

void PrintList(const std::vector<std::string>& captions, std::size_t count,
               const std::function<ReportRow(std::size_t)>& item, std::ostream& out) {
  PrintCaptions(captions, out);
  for (std::size_t i = 0; i < count; ++i) PrintItem(item(i), captions.size(), out);
}

void PrintFragmentList(const Workspace& ws, std::ostream& out, bool json,
                       std::optional<bool> stopped, const std::vector<std::string>* foundIn) {
  if (!json) {
    PrintCaptions(ws.ListView2().Captions(), out);
    ForEachFragmentListItem(
        ws, [&](const ReportRow& row) { PrintItem(row, ws.ListView2().ColumnCount(), out); });
    return;
  }
  nlohmann::json rows = nlohmann::json::array();
  ForEachFragmentListItem(ws, [&](const ReportRow& row) {
    nlohmann::json item = FragmentRowJson(row);
    if (foundIn != nullptr) {
      const auto n = item["position"].get<std::int64_t>();
      item["found_in"] = n >= 1 && n <= static_cast<std::int64_t>(foundIn->size())
                             ? nlohmann::json((*foundIn)[static_cast<std::size_t>(n - 1)])
                             : nlohmann::json(nullptr);
    }
    rows.push_back(std::move(item));
  });
  nlohmann::json doc = {{"count", FragmentListCount(ws)}, {"total", ws.fragments().Count()}};
  if (stopped) doc["stopped"] = *stopped;
  doc["fragments"] = std::move(rows);
  out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace ravelin::cli
