// The Ui port: everything the core needs from a person or a screen. The Qt window, the
// command line and the tests' scripted double each implement it. Texts are UTF-8.
//
// Calls may come from the worker thread while a job runs; an implementation that owns
// widgets marshals them to its own thread (queued for memo, progress and list updates,
// blocking for questions).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/reporter.h"
#include "ports/successor_choice.h"

namespace ravelin {

enum class MessageIcon { kInformation, kWarning, kError, kQuestion };

// The three memos: scan information (tab I), analysis (tab III), assembly (tab IV).
enum class Memo { kMemo1, kMemo2, kMemo3 };

// What changed in the Workspace, so a window can redraw only that.
enum class Change {
  kDataSource,    // the Data source record and the tab I controls
  kFragmentList,  // list II (ListView2)
  kFileList,      // the database-file list of tab III (ListView3)
  kAssemblyList,  // the Assembly list of tab IV (ListView4)
  kControls,      // enabled flags and texts of other controls
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A message box with an OK button.
  virtual void ShowMessage(std::string_view text, std::string_view caption = kPromptCaption,
                           MessageIcon icon = MessageIcon::kInformation) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption = kPromptCaption) = 0;

  virtual void AppendMemo(Memo memo, std::string_view line) = 0;
  virtual void ClearMemo(Memo memo) = 0;

  virtual void SetProgress(int percent) = 0;          // the gauge g1, 0..100
  virtual void SetStatus(std::string_view text) = 0;  // the status bar stat1
  // How far a job has come in its own units (sectors of a scan), for displays that show
  // more than the gauge's percent (the command line's throughput and time left).
  virtual void SetPosition(std::int64_t /*done*/, std::int64_t /*total*/) {}

  // File dialogs: the chosen path, or nothing when the person cancelled.
  virtual std::optional<std::string> OpenFileDialog(std::string_view title,
                                                    std::string_view filter) = 0;
  virtual std::optional<std::string> SaveFileDialog(std::string_view title,
                                                    std::string_view proposedName) = 0;
  virtual std::optional<std::string> ChooseFolder(std::string_view title) = 0;

  // Lets the window handle pending messages during long work on its own thread.
  virtual void ProcessMessages() = 0;

  virtual void SetClipboardText(std::string_view text) = 0;

  // The successor choice dialog (Tfrmuserchoose) for one question of a manual analysis:
  // shows `dialog` (ListView1, the fragment chained last; ListView2, the candidates) and
  // returns once the person has answered. Its buttons, clicks and close box act on `dialog`
  // through the dialog's handlers (commands/successor_dialog.h): "确定" leaves ChoiceResult 0
  // and ChosenIndex, "取消" or closing the window 1. Asked on the thread the analysis runs on;
  // no lock is held meanwhile.
  virtual void AskSuccessor(SuccessorChoice& dialog) = 0;

  virtual void Changed(Change what) = 0;
};

}  // namespace ravelin
