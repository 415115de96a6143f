// How an engine tells what happened without knowing who listens: log lines for the memo of
// the tab that runs it, message boxes, the gauge and the status bar. The commands hand
// engines a reporter that forwards to the Ui in the order the engine reports; tests hand
// them one that records.
#pragma once

#include <cstdint>
#include <string_view>

namespace ravelin {

inline constexpr std::string_view kPromptCaption = "提示";
inline constexpr std::string_view kReadDiskError = "read disk error";

enum class Severity { kInformation, kWarning, kError };

class Reporter {
 public:
  virtual ~Reporter() = default;

  // A line of the operation's log (the memo of its tab).
  virtual void Log(std::string_view line) = 0;
  // A message box with an OK button.
  virtual void Message(std::string_view text, std::string_view caption = kPromptCaption,
                       Severity severity = Severity::kInformation) = 0;
  // A page of the database file that could not be read, reported with `text` (the operation's
  // own words, "read disk error"). `page` is its number in the file, or -1 when the operation
  // does not know it. Unless a listener says otherwise it is one more message box.
  virtual void UnreadablePage(std::int64_t /*page*/, std::string_view text = kReadDiskError,
                              std::string_view caption = kPromptCaption) {
    Message(text, caption);
  }
  // The gauge, 0..100.
  virtual void Progress(int /*percent*/) {}
  // How far the work has come in its own units (sectors of a scan, pages of a write) out of
  // `total`: for displays that show more than a percentage.
  virtual void Position(std::int64_t /*done*/, std::int64_t /*total*/) {}
  virtual void Status(std::string_view /*text*/) {}
  // Long work on the window's thread lets the window handle pending messages here.
  virtual void Yield() {}
};

// Drops everything.
class NullReporter final : public Reporter {
 public:
  void Log(std::string_view) override {}
  void Message(std::string_view, std::string_view, Severity) override {}
};

}  // namespace ravelin
