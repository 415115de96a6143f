#include "commands/command_guards.h"

#include "output/output_guard.h"
#include "workspace/workspace.h"

namespace ravelin {

bool RefuseWhileJobRuns(Workspace& ws) {
  if (!ws.JobRunning() && ws.ScanStopped.load()) return false;
  ws.ui().ShowMessage(kJobRunningMessage, kPromptCaption, MessageIcon::kWarning);
  return true;
}

std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         const std::string& createFailed) {
  if (const auto why = OutputOnSource(ws.source.SourcePath, path)) {
    ws.ui().ShowMessage(*why, kPromptCaption, MessageIcon::kError);
    return nullptr;
  }
  auto file = OutputFile::Create(path);
  if (!file) ws.ui().ShowMessage(createFailed, kPromptCaption, MessageIcon::kError);
  return file;
}

void ShowWriteFailed(Workspace& ws, const std::string& path) {
  ws.ui().ShowMessage("error,写入文件失败(write failed): " + path, kPromptCaption,
                      MessageIcon::kError);
}

void UiReporter::Message(std::string_view text, std::string_view caption, Severity severity) {
  MessageIcon icon = MessageIcon::kInformation;
  if (severity == Severity::kWarning) icon = MessageIcon::kWarning;
  if (severity == Severity::kError) icon = MessageIcon::kError;
  ui_.ShowMessage(text, caption, icon);
}

}  // namespace ravelin
