#include "catalogue/command_guards.h"

namespace ravelin {

std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         const std::string& createFailed) {
  if (const auto why = OutputOnSource(ws.source, path)) {
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

}  // namespace ravelin
