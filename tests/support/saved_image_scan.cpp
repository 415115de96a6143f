#include "support/saved_image_scan.h"

#include "commands/scan_info_commands.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin::test {

::testing::AssertionResult SaveImageScan(const std::string& image, std::uint64_t sectors,
                                         std::int16_t sectorsPerCluster,
                                         const std::vector<ScanRow>& rows,
                                         const std::string& rowsPath,
                                         const std::optional<std::string>& contentPath) {
  ScriptedUi ui;
  Workspace ws(ui);
  ws.source().SourceChosen = true;
  ws.source().SourcePath = image;
  ws.source().SectorLimit = sectors;
  ws.source().SectorsPerCluster = sectorsPerCluster;
  for (const ScanRow& r : rows) {
    FragmentRow row;
    row.No = static_cast<std::int32_t>(ws.fragments().Count()) + 1;
    row.StartSector = r.startSector;
    row.EndSector = r.startSector + 16 * static_cast<std::uint64_t>(r.pages);
    row.SizeKB = 8 * r.pages;
    row.StartPage = r.startPage;
    row.EndPage = r.startPage + r.pages;
    row.Remark = r.remark;
    test::EditFragments(ws).Append(row);
  }
  if (!SaveScanInfo(ws, rowsPath, contentPath))
    return ::testing::AssertionFailure() << "the scan of " << image << " was not saved";
  return ::testing::AssertionSuccess();
}

}  // namespace ravelin::test
