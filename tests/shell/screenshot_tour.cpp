// shell_screenshots IMAGE OUTDIR: opens the window on the display it is given, chooses IMAGE
// as a whole-disk image, scans it, and writes a PNG of each tab, the pop-up menus, the
// successor choice dialog and the about window, as a person would see them.
// scripts/screenshots runs it under Xvfb with the xcb platform.
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <iostream>

#include "commands/successor_dialog.h"
#include "scripted_dialogs.h"
#include "shell/qt_ui.h"
#include "shell/successor_dialog.h"
#include "shell/tform1.h"
#include "workspace/workspace.h"

namespace {

using ravelin::shell::TForm1;

void Settle(int ms = 300) { QTest::qWait(ms); }

// What the screen shows inside `frame`: menus and dialogs are windows of their own.
bool Shoot(const QRect& frame, const QString& path) {
  Settle();
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(),
                                                                    frame.width(), frame.height());
  const bool ok = shot.save(path);
  std::cout << (ok ? "wrote " : "could not write ") << path.toStdString() << '\n';
  return ok;
}

bool ShootWidget(QWidget* w, const QString& path) {
  Settle();
  return Shoot(w->frameGeometry(), path);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: shell_screenshots IMAGE OUTDIR\n";
    return 2;
  }
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(12);
  QApplication::setFont(font);
  const std::string image = argv[1];
  const QString out = QString::fromLocal8Bit(argv[2]) + '/';

  ravelin::shell::test::ScriptedDialogs dialogs;
  dialogs.paths = {image};
  dialogs.yesNo = {false};  // a whole-disk image
  ravelin::shell::QtUi ui(dialogs);
  ravelin::Workspace ws(ui);
  TForm1 form(ws, ui);
  form.move(20, 20);
  form.show();
  Settle(500);

  bool ok = true;
  form.BuildDataSourceMenu();
  form.pm1()->popup(form.tab1().edtDataStr->mapToGlobal(QPoint(40, 20)));
  ok &= Shoot(form.frameGeometry().united(form.pm1()->geometry()), out + "menu-datasource.png");
  form.pm1()->actions().first()->trigger();
  form.pm1()->hide();

  QTest::mouseClick(form.tab1().btnscan, Qt::LeftButton);
  if (!QTest::qWaitFor([&] { return !ws.JobRunning() && !form.WatchingJob(); }, 600000)) {
    std::cerr << "the scan did not end\n";
    return 1;
  }
  ok &= ShootWidget(&form, out + "tab1.png");
  emit form.tab1().Label7->clicked();
  ok &= ShootWidget(&form, out + "tab1-usage.png");
  emit form.tab1().Label7->clicked();

  form.PageControl1()->setCurrentIndex(1);
  QTableView* list2 = form.tab2().ListView2;
  if (list2->model()->rowCount() > 1) {
    list2->setCurrentIndex(list2->model()->index(1, 0));
    list2->model()->setData(list2->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  }
  ok &= ShootWidget(&form, out + "tab2.png");
  form.PopupMenu1()->popup(list2->viewport()->mapToGlobal(QPoint(200, 60)));
  ok &= Shoot(form.frameGeometry().united(form.PopupMenu1()->geometry()), out + "menu-list2.png");
  form.PopupMenu1()->hide();

  // Tab III: the first database file analysed in automatic mode.
  const auto waitForJob = [&] {
    return QTest::qWaitFor([&] { return !ws.JobRunning() && !form.WatchingJob(); }, 600000);
  };
  form.PageControl1()->setCurrentIndex(2);
  QTableView* list3 = form.tab3().ListView3;
  if (list3->model()->rowCount() > 0) {
    list3->setCurrentIndex(list3->model()->index(0, 1));
    emit list3->clicked(list3->model()->index(0, 1));
    QTest::mouseClick(form.tab3().Button1, Qt::LeftButton);
    ok &= waitForJob();
  }
  form.PageControl1()->setCurrentIndex(2);
  ok &= ShootWidget(&form, out + "tab3.png");

  // Tab IV: sorted by start page, searched, checked.
  form.PageControl1()->setCurrentIndex(3);
  const ravelin::shell::Tab4Page& t4 = form.tab4();
  emit t4.ListView4->horizontalHeader()->sectionClicked(2);
  QTest::mouseClick(t4.Button6, Qt::LeftButton);
  ok &= waitForJob();
  QTest::mouseClick(t4.Button5, Qt::LeftButton);
  ok &= waitForJob();
  ok &= ShootWidget(&form, out + "tab4.png");

  // The successor choice over the first fragments the scan found.
  ravelin::SuccessorChoice choice;
  std::vector<std::int32_t> group;
  for (std::int32_t p = 1; p < ws.fragments().FragmentCount() && group.size() < 3; ++p)
    group.push_back(p);
  if (!ws.fragments().Empty()) ravelin::FillSuccessorDialog(choice, ws.fragments(), group, 0);
  ravelin::shell::Tfrmuserchoose dialog(
      choice, [] {}, &form);
  dialog.Refresh();
  dialog.move(140, 120);
  dialog.show();
  ok &= ShootWidget(&dialog, out + "successor-dialog.png");
  dialog.hide();

  // Every tab of the smallest window the layouts are made for.
  form.resize(ravelin::shell::kMinimumWidth, ravelin::shell::kMinimumHeight);
  for (int page = 0; page < form.PageControl1()->count(); ++page) {
    form.PageControl1()->setCurrentIndex(page);
    ok &= ShootWidget(&form, out + QStringLiteral("tab%1-800x600.png").arg(page + 1));
  }

  QWidget* about = form.ShowAbout();
  about->move(300, 200);
  ok &= ShootWidget(about, out + "about.png");
  about->close();
  return ok ? 0 : 1;
}
