// ravelin-gui: the desktop window of Ravelin Recover.
#include <QApplication>
#include <QFont>

#include "commands/successor_dialog.h"
#include "output/temp_registry.h"
#include "shell/dialogs.h"
#include "shell/qt_ui.h"
#include "shell/tform1.h"
#include "workspace/workspace.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A window killed or interrupted while it writes leaves no half-written ".part" file.
  ravelin::RemoveTemporaryOutputsOnSignal();
  QApplication::setApplicationName(QStringLiteral("Ravelin Scan"));
  QApplication::setApplicationDisplayName(QStringLiteral("Ravelin Scan"));
  QApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("ravelin-gui"));
  // The form's "MS Sans Serif", with a font that has the Chinese captions' glyphs.
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(12);
  QApplication::setFont(font);

  // The Ui outlives the Workspace, which outlives the window: a job still running when the
  // window goes is stopped and joined by the Workspace, and its last calls reach a Ui that
  // no longer draws.
  ravelin::shell::QtDialogs dialogs;
  ravelin::shell::QtUi ui(dialogs);
  ravelin::Workspace ws(ui);
  // The successor dialog's "把勾选的碎片保存为文件".
  dialogs.SetSaveCandidates(
      [&ws](ravelin::SuccessorChoice& dialog) { ravelin::Button1Click(ws, dialog); });
  ravelin::shell::TForm1 form(ws, ui);
  form.show();
  return QApplication::exec();
}
