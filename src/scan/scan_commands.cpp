#include "scan/scan_commands.h"

#include "scan/scan_engine.h"
#include "workspace/workspace.h"

namespace ravelin {

void btnscanClick(Workspace& ws) {
  if (!ws.ReadCurrentFileId()) {
    ws.ui().ShowMessage(NotAnIntegerMessage(ws.controls.tab1.Edit2), kPromptCaption,
                        MessageIcon::kError);
    return;
  }
  N2Click(ws);
}

void N2Click(Workspace& ws) {
  Ui& ui = ws.ui();
  if (!ws.source.SourceChosen) {
    ui.ShowMessage("请选择数据源！", kPromptCaption, MessageIcon::kWarning);
    return;
  }
  // Options that are not numbers are refused here, before any thread starts, instead of
  // ending the job silently and leaving it looking busy.
  std::string error;
  if (!ReadScanSettings(ws, &error)) {
    ui.ShowMessage(error, kPromptCaption, MessageIcon::kWarning);
    return;
  }
  ws.controls.tab1.btnscanEnabled = false;
  ui.Changed(Change::kControls);
  ws.ScanStopped.store(false);
  ws.jobs.SetJobName("scan");
  ws.jobs.StartThread(ws);
}

void btnstopClick(Workspace& ws) { N3Click(ws); }

void N3Click(Workspace& ws) { ws.ScanStopped.store(true); }

}  // namespace ravelin
