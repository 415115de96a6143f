// The questions and dialogs the window puts to the person, behind one interface so that the
// window's tests can answer them from a script instead of waiting for a click.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ports/successor_choice.h"
#include "ports/ui.h"

class QWidget;

namespace ravelin::shell {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Message(QWidget* parent, std::string_view text, std::string_view caption,
                       MessageIcon icon) = 0;
  virtual bool AskYesNo(QWidget* parent, std::string_view text, std::string_view caption) = 0;
  virtual std::optional<std::string> OpenFile(QWidget* parent, std::string_view title,
                                              std::string_view filter) = 0;
  virtual std::optional<std::string> SaveFile(QWidget* parent, std::string_view title,
                                              std::string_view proposedName) = 0;
  virtual std::optional<std::string> ChooseFolder(QWidget* parent, std::string_view title) = 0;
  // Shows the successor question and returns once it is answered or the dialog is closed.
  virtual void AskSuccessor(QWidget* parent, SuccessorChoice& dialog) = 0;
};

class Tfrmuserchoose;

// Message boxes and file dialogs of Qt, and the successor choice window.
class QtDialogs final : public Dialogs {
 public:
  QtDialogs();
  ~QtDialogs() override;
  void Message(QWidget* parent, std::string_view text, std::string_view caption,
               MessageIcon icon) override;
  bool AskYesNo(QWidget* parent, std::string_view text, std::string_view caption) override;
  std::optional<std::string> OpenFile(QWidget* parent, std::string_view title,
                                      std::string_view filter) override;
  std::optional<std::string> SaveFile(QWidget* parent, std::string_view title,
                                      std::string_view proposedName) override;
  std::optional<std::string> ChooseFolder(QWidget* parent, std::string_view title) override;
  void AskSuccessor(QWidget* parent, SuccessorChoice& dialog) override;

  // What the dialog's "把勾选的碎片保存为文件" does with the dialog's state.
  void SetSaveCandidates(std::function<void(SuccessorChoice&)> save) { save_ = std::move(save); }

 private:
  std::function<void(SuccessorChoice&)> save_;
  // One window per dialog state: an analysis asks all its questions in the same window.
  std::unique_ptr<Tfrmuserchoose> successor_;
  const SuccessorChoice* successorState_ = nullptr;
};

// "镜像文件(*.hdd;*.img)|*.hdd;*.img|所有文件(*.*)|*" in Qt's form:
// "镜像文件(*.hdd;*.img) (*.hdd *.img);;所有文件(*.*) (*)".
std::string QtFilterText(std::string_view filter);

}  // namespace ravelin::shell
