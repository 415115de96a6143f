#include "commands/command_guards.h"

#include <cstring>

#include "common/messages.h"
#include "output/output_guard.h"
#include "workspace/workspace.h"

namespace ravelin {

bool RefuseWhileJobRuns(Workspace& ws) {
  if (!ws.JobRunning() && ws.ScanStopped().load()) return false;
  ws.ui().ShowMessage(Text(TextId::kJobRunning), kPromptCaption, MessageIcon::kWarning);
  return true;
}

std::vector<std::string> OperationInputs(const Workspace& ws) {
  std::vector<std::string> inputs;
  if (ws.source().SourceChosen && !ws.source().SourcePath.empty()) {
    inputs.push_back(ws.source().SourcePath);
  }
  if (ws.storedContent().IsOpen()) inputs.push_back(ws.storedContent().Path());
  if (!ws.rowFilePath().empty()) inputs.push_back(ws.rowFilePath());
  return inputs;
}

std::string CannotCreateText(const std::string& path, const std::string& reason) {
  return std::string(Text(TextId::kCannotCreate)) + path + " (" + reason + ")";
}

std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         std::uint64_t expectedBytes,
                                         const std::vector<std::string>& moreInputs) {
  if (const auto why = OutputOnSource(ws.source().SourcePath, path)) {
    ws.ui().ShowMessage(*why, kPromptCaption, MessageIcon::kError);
    return nullptr;
  }
  OutputRequest request;
  request.inputs = OperationInputs(ws);
  request.inputs.insert(request.inputs.end(), moreInputs.begin(), moreInputs.end());
  request.expectedBytes = expectedBytes;
  request.ops = ws.outputOps();
  std::string why;
  auto file = OutputFile::Create(path, request, &why);
  if (!file) ws.ui().ShowMessage(CannotCreateText(path, why), kPromptCaption, MessageIcon::kError);
  return file;
}

void ShowWriteFailed(Workspace& ws, const std::string& path) {
  ws.ui().ShowMessage("error,写入文件失败(write failed): " + path, kPromptCaption,
                      MessageIcon::kError);
}

void ShowWriteFailed(Workspace& ws, const OutputFile& file) {
  const int error = file.LastError();
  ws.ui().ShowMessage("error,写入文件失败(write failed): " + file.Path() +
                          (error != 0 ? std::string(" (") + std::strerror(error) + ")" : ""),
                      kPromptCaption, MessageIcon::kError);
}

namespace {

// How many page numbers the closing message box names; the memo has every one.
constexpr std::size_t kPagesNamed = 10;

}  // namespace

UiReporter::~UiReporter() {
  if (unreadable_ > 1) {
    std::string text = std::string(kReadDiskError) + " ×" + std::to_string(unreadable_) + ": " +
                       std::to_string(unreadable_) +
                       "个页面无法读取，已记录在日志中(pages could not be read; each is a line "
                       "of the log)";
    for (std::size_t i = 0; i < firstPages_.size(); ++i)
      text += (i == 0 ? ": " : ", ") + std::to_string(firstPages_[i]);
    if (!firstPages_.empty() && static_cast<std::int64_t>(firstPages_.size()) < unreadable_)
      text += ", …";
    ui_.ShowMessage(text, kPromptCaption, MessageIcon::kWarning);
  }
}

void UiReporter::UnreadablePage(std::int64_t page, std::string_view text,
                                std::string_view caption) {
  if (page >= 0 && firstPages_.size() < kPagesNamed) firstPages_.push_back(page);
  if (++unreadable_ == 1) {
    ui_.ShowMessage(text, caption, MessageIcon::kInformation);
    return;
  }
  ui_.AppendMemo(memo_, page < 0 ? std::string(text)
                                 : std::string(text) + " (page " + std::to_string(page) + ")");
}

void UiReporter::Message(std::string_view text, std::string_view caption, Severity severity) {
  if (text.starts_with(kReadDiskError) && ++unreadable_ > 1) {
    ui_.AppendMemo(memo_, text);
    return;
  }
  MessageIcon icon = MessageIcon::kInformation;
  if (severity == Severity::kWarning) icon = MessageIcon::kWarning;
  if (severity == Severity::kError) icon = MessageIcon::kError;
  ui_.ShowMessage(text, caption, icon);
}

}  // namespace ravelin
