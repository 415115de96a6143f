// What every command shares: refusing while a job runs, creating outputs that may not land
// on the data source, reporting a write that failed part-way, and the reporter that hands
// an engine's lines and messages on to the Ui.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/reporter.h"
#include "output/output_file.h"
#include "ports/ui.h"

namespace ravelin {

class Workspace;

// Shows TextId::kJobRunning and returns true while a scan or analysis job runs: commands that
// read sectors, change the lists or change the source call it first.
bool RefuseWhileJobRuns(Workspace& ws);

// The files an operation of `ws` reads: the chosen source, the opened row file and content
// file. No output may replace one of them.
std::vector<std::string> OperationInputs(const Workspace& ws);

// Creates `path` for writing through a temporary name (OutputFile), unless it lies on the
// data source, is one of OperationInputs or `moreInputs` (say, the other output of the same
// save), is not a regular file, or `expectedBytes` do not fit. Shows TextId::kCannotCreate
// followed by the path and the reason, and returns null, when it cannot.
std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         std::uint64_t expectedBytes = 0,
                                         const std::vector<std::string>& moreInputs = {});

// "error,无法创建文件" + path + " (" + reason + ")".
std::string CannotCreateText(const std::string& path, const std::string& reason);

// Shows the message for a write that failed part-way (disk full, I/O error).
void ShowWriteFailed(Workspace& ws, const std::string& path);
// The same with the system's reason for `file`'s failure.
void ShowWriteFailed(Workspace& ws, const OutputFile& file);

// An engine's reports as the Ui shows them: log lines into `memo`, messages as message
// boxes, progress on the gauge and the status bar, Yield as "handle pending messages".
//
// Unreadable pages ("read disk error ...") are reported once per operation, not once per
// page: the first is shown as it comes; every later one is a line in `memo` with its page
// number, and when the reporter goes (the operation is over) one message box gives their
// count and the first page numbers. A disk with a thousand bad pages is then two boxes, not
// a thousand.
class UiReporter final : public Reporter {
 public:
  UiReporter(Ui& ui, Memo memo) : ui_(ui), memo_(memo) {}
  ~UiReporter() override;
  UiReporter(const UiReporter&) = delete;
  UiReporter& operator=(const UiReporter&) = delete;
  void Log(std::string_view line) override { ui_.AppendMemo(memo_, line); }
  void Message(std::string_view text, std::string_view caption, Severity severity) override;
  void UnreadablePage(std::int64_t page, std::string_view text, std::string_view caption) override;
  void Progress(int percent) override { ui_.SetProgress(percent); }
  void Position(std::int64_t done, std::int64_t total) override { ui_.SetPosition(done, total); }
  void Status(std::string_view text) override { ui_.SetStatus(text); }
  void Yield() override { ui_.ProcessMessages(); }

 private:
  Ui& ui_;
  Memo memo_;
  std::int64_t unreadable_ = 0;           // unreadable-page reports of this operation
  std::vector<std::int64_t> firstPages_;  // the numbers of the first few of them
};

}  // namespace ravelin
