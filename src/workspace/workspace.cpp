#include "workspace/workspace.h"

#include "common/text.h"
#include "scan/scan_engine.h"

namespace ravelin {

ReportList MakeFragmentListView() {
  return ReportList(
      {"序号", "碎片大小(KB)", "开始页面号", "结束页面号", "备注", "开始扇区", "结束扇区"},
      {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
       ColumnKind::kText, ColumnKind::kSector, ColumnKind::kSector});
}

Workspace::Workspace(Ui& ui, DeviceOpener opener)
    : reader(source, opener),
      ListView2(MakeFragmentListView()),
      ListView3(
          {"序号", "文件名", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
          {ColumnKind::kNumber, ColumnKind::kText, ColumnKind::kNumber, ColumnKind::kNumber,
           ColumnKind::kNumber, ColumnKind::kSector, ColumnKind::kSector}),
      ListView4(MakeFragmentListView()),
      opener_(std::move(opener)),
      ui_(ui) {
  ReadCurrentFileId();
  jobs.Register("scan", ScanDataSource);
}

Workspace::~Workspace() {
  ScanStopped.store(true);
  jobs.JoinAll();
}

bool Workspace::ReadCurrentFileId() {
  const auto value = ParseInteger(controls.tab1.Edit2);
  if (!value) return false;
  CurrentFileId = static_cast<std::uint16_t>(*value);
  return true;
}

bool RefuseWhileJobRuns(Workspace& ws) {
  if (!ws.JobRunning() && ws.ScanStopped.load()) return false;
  ws.ui().ShowMessage(kJobRunningMessage, kPromptCaption, MessageIcon::kWarning);
  return true;
}

std::string NotAnIntegerMessage(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}

}  // namespace ravelin
