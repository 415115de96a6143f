#include "catalogue/update_info.h"

#include <array>
#include <cstdio>

#include "catalogue/command_guards.h"
#include "catalogue/fragment_reader.h"
#include "catalogue/list_commands.h"
#include "common/text.h"
#include "scan/page_format.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string LsnText(ByteView page) {
  char text[24];
  std::snprintf(text, sizeof text, "%08X%08X%04X",
                static_cast<unsigned>(Load32(page, page_header::kLsn)),
                static_cast<unsigned>(Load32(page, page_header::kLsn + 4)),
                static_cast<unsigned>(Load16(page, page_header::kLsn + 8)));
  return text;
}

void N18Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  UpdateInformation(ws);
}

bool UpdateInformation(Workspace& ws) {
  Ui& ui = ws.ui();
  std::array<std::uint8_t, kPageSize> page;
  for (std::size_t i = 0; i < ws.ListView2.Count(); ++i) {
    ReportRow& row = ws.ListView2.Row(i);
    if (ParseInteger<std::int64_t>(row.Cell(list_column::kStartPage)) != 0) continue;
    const auto sector = ParseInteger<std::uint64_t>(row.Cell(list_column::kStartSector));
    if (!sector || !ReadFragmentPage(ws, *sector, 0, page)) {
      ui.Changed(Change::kFragmentList);
      ui.ShowMessage("read disk error");
      return false;
    }
    if (row.cells.size() <= list_column::kRemark) row.cells.resize(list_column::kRemark + 1);
    row.cells[list_column::kRemark] =
        Trimmed(row.cells[list_column::kRemark]) + " " + LsnText(page);
  }
  ui.Changed(Change::kFragmentList);
  ui.ShowMessage("处理完毕");
  return true;
}

}  // namespace ravelin
