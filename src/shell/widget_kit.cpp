#include "shell/widget_kit.h"

#include "shell/pending_updates.h"

namespace ravelin::shell {

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, bool readOnly, QRect geometry) {
  auto* memo = Place(new QPlainTextEdit(parent), name, geometry);
  memo->setReadOnly(readOnly);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setMaximumBlockCount(static_cast<int>(kMemoLineLimit));
  return memo;
}

QLabel* MakePanel(QWidget* parent, const char* name, std::string_view caption, QRect geometry) {
  QLabel* panel = MakeLabel(parent, name, caption, geometry);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, QColor(214, 226, 206));
  palette.setColor(QPalette::WindowText, QColor(20, 40, 20));
  panel->setPalette(palette);
  return panel;
}

}  // namespace ravelin::shell
