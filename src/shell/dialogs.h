// The questions and dialogs the window puts to the person, behind one interface so that the
// window's tests can answer them from a script instead of waiting for a click.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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
};

// Message boxes and file dialogs of Qt.
class QtDialogs final : public Dialogs {
 public:
  void Message(QWidget* parent, std::string_view text, std::string_view caption,
               MessageIcon icon) override;
  bool AskYesNo(QWidget* parent, std::string_view text, std::string_view caption) override;
  std::optional<std::string> OpenFile(QWidget* parent, std::string_view title,
                                      std::string_view filter) override;
  std::optional<std::string> SaveFile(QWidget* parent, std::string_view title,
                                      std::string_view proposedName) override;
  std::optional<std::string> ChooseFolder(QWidget* parent, std::string_view title) override;
};

// "镜像文件(*.hdd;*.img)|*.hdd;*.img|所有文件(*.*)|*" in Qt's form:
// "镜像文件(*.hdd;*.img) (*.hdd *.img);;所有文件(*.*) (*)".
std::string QtFilterText(std::string_view filter);

}  // namespace ravelin::shell
