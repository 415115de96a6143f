#include "catalogue/extraction.h"

#include <array>

#include "catalogue/command_guards.h"
#include "catalogue/fragment_reader.h"
#include "catalogue/left_page_repair.h"
#include "catalogue/list_commands.h"
#include "common/text.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr char kReadDiskError[] = "read disk error";

std::int64_t PagesOf(std::int64_t sizeKB) {
  FragmentRow row;
  row.SizeKB = sizeKB;
  return row.Pages();
}

void ShowProgress(Workspace& ws, std::size_t i, std::size_t n) {
  ws.ui().ProcessMessages();
  if (n > 1) ws.ui().SetProgress(static_cast<int>(100 * i / (n - 1)));
}

// Stops an extraction at a failed read: the file keeps the pages written so far.
int StopOnReadError(Workspace& ws, OutputFile& file) {
  ws.ui().ShowMessage(kReadDiskError);
  if (!file.Commit()) ShowWriteFailed(ws, file.Path());
  return 1;
}

}  // namespace

std::vector<ExtractRow> TickedRows(const Workspace& ws) {
  std::vector<ExtractRow> rows;
  for (const std::size_t i : ws.ListView2.CheckedRows()) {
    const ReportRow& cells = ws.ListView2.Row(i);
    ExtractRow row;
    row.sizeKB = ParseInteger<std::int64_t>(cells.Cell(list_column::kSizeKB)).value_or(0);
    row.startPage = ParseInteger<std::int32_t>(cells.Cell(list_column::kStartPage)).value_or(0);
    row.endPage = ParseInteger<std::int32_t>(cells.Cell(list_column::kEndPage)).value_or(0);
    row.startSector =
        ParseInteger<std::uint64_t>(cells.Cell(list_column::kStartSector)).value_or(0);
    rows.push_back(row);
  }
  return rows;
}

std::optional<std::int32_t> FirstOutOfOrder(const std::vector<ExtractRow>& rows) {
  for (std::size_t i = 1; i < rows.size(); ++i)
    if (rows[i].startPage < rows[i - 1].endPage) return rows[i].startPage;
  return std::nullopt;
}

int ExtractCombined(Workspace& ws, const std::vector<ExtractRow>& rows, const std::string& path) {
  auto file = CreateOutput(ws, path);
  if (!file) return 1;
  const std::int32_t spc = ws.source.SectorsPerCluster;
  std::array<std::uint8_t, kPageSize> page;
  std::array<std::uint8_t, kPageSize> previous;
  std::array<std::uint8_t, kLeadInBytes> leadIn;
  // The last page of the row before, when that row appended one: the page a repair edits
  // is the last page of the file, and only then is it the previous row's last page.
  bool havePrevious = false;
  bool wrote = false;
  std::int64_t previousEnd = 0;
  bool ok = true;
  for (std::size_t i = 0; i < rows.size() && ok; ++i) {
    ShowProgress(ws, i, rows.size());
    const ExtractRow& row = rows[i];
    if (wrote && previousEnd < row.startPage) {
      ok = file->AppendZeros(static_cast<std::uint64_t>(row.startPage - previousEnd) * kPageSize);
    } else if (wrote && previousEnd == row.startPage && havePrevious &&
               LeftPageRepairApplies(spc)) {
      if (!ReadFragmentSectors(ws, row.startSector, -static_cast<std::int64_t>(kLeadInSectors),
                               static_cast<std::int32_t>(kLeadInSectors), leadIn))
        return StopOnReadError(ws, *file);
      if (LeftPageRepair(previous, leadIn, spc) > 0) ok = file->OverwriteTail(previous);
    }
    havePrevious = false;
    const std::int64_t pages = PagesOf(row.sizeKB);
    for (std::int64_t k = 0; k < pages && ok; ++k) {
      if (!ReadFragmentPage(ws, row.startSector, k, page)) return StopOnReadError(ws, *file);
      ok = file->Append(page);
      previous = page;
      havePrevious = true;
    }
    wrote = true;
    previousEnd = row.endPage;
  }
  if (!ok || !file->Commit()) {
    ShowWriteFailed(ws, path);
    return 1;
  }
  return 0;
}

int ExtractFragmentFiles(Workspace& ws, const std::vector<ExtractRow>& rows,
                         const std::string& folder) {
  std::array<std::uint8_t, kPageSize> page;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ShowProgress(ws, i, rows.size());
    const ExtractRow& row = rows[i];
    const std::string name = folder + "/" + std::to_string(row.startSector) + ".hex";
    auto file = CreateOutput(ws, name, std::string(kCannotCreateMessage) + name);
    if (!file) return 1;
    bool ok = true;
    const std::int64_t pages = PagesOf(row.sizeKB);
    for (std::int64_t k = 0; k < pages && ok; ++k) {
      if (!ReadFragmentPage(ws, row.startSector, k, page)) return StopOnReadError(ws, *file);
      ok = file->Append(page);
    }
    if (!ok || !file->Commit()) {
      ShowWriteFailed(ws, name);
      return 1;
    }
  }
  return 0;
}

void N9Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  const bool combined = ui.AskYesNo(kFileTypeQuestion, kExtractCaption);
  // The cells are taken now: the window handles messages while the files are written.
  const std::vector<ExtractRow> rows = TickedRows(ws);
  if (combined) {
    if (ui.AskYesNo(kOrderCheckQuestion, kExtractCaption)) {
      if (const auto bad = FirstOutOfOrder(rows)) {
        ui.ShowMessage("error,pageid not connectted:" + std::to_string(*bad));
        return;
      }
    }
    const auto path = ui.SaveFileDialog("组合文件", "noname");
    if (!path) return;
    if (ExtractCombined(ws, rows, *path) == 0) ui.ShowMessage("保存完毕");
  } else {
    const auto folder = ui.ChooseFolder("保存目录");
    if (!folder) return;
    if (ExtractFragmentFiles(ws, rows, *folder) == 0) ui.ShowMessage("保存完毕");
  }
}

}  // namespace ravelin
