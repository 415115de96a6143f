// TForm1, the main window: four tab pages, the data-source group, the gauge, the status bar,
// the main menu and the two pop-up menus. It holds no recovery logic: each control's signal
// calls the commands layer, and the window redraws from the Workspace's lists and control
// states when the Ui tells it they changed.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <memory>

#include "datasource/discovery.h"
#include "shell/pending_updates.h"
#include "shell/report_list_model.h"
#include "shell/tab_pages.h"

namespace ravelin {
class Workspace;
}

namespace ravelin::shell {

class QtUi;

// The client area's size when the window opens, as the form was laid out.
inline constexpr int kClientWidth = 1014;
inline constexpr int kClientHeight = 615;
// The smallest window in which every control still shows whole.
inline constexpr int kMinimumWidth = 800;
inline constexpr int kMinimumHeight = 600;

class TForm1 final : public QMainWindow {
  Q_OBJECT

 public:
  // FormCreate. `discovery`: where the data-source menu finds disks and partitions.
  TForm1(Workspace& ws, QtUi& ui, const DiscoveryEnv& discovery = {});
  ~TForm1() override;

  Workspace& workspace() { return ws_; }
  QTabWidget* PageControl1() const { return pageControl_; }
  const Tab1Page& tab1() const { return tab1_; }
  const Tab2Page& tab2() const { return tab2_; }
  const Tab3Page& tab3() const { return tab3_; }
  const Tab4Page& tab4() const { return tab4_; }
  ReportListModel& list2Model() { return *list2Model_; }
  ReportListModel& list3Model() { return *list3Model_; }
  ReportListModel& list4Model() { return *list4Model_; }
  QProgressBar* g1() const { return g1_; }
  QLabel* stat1() const { return stat1_; }
  QMenu* pm1() const { return pm1_; }
  QMenu* PopupMenu1() const { return popupMenu1_; }

  // Fills pm1 from the Workspace's disk and partition entries (before it pops up).
  void BuildDataSourceMenu();
  // Opens a new about window (N6, Button7).
  QWidget* ShowAbout();
  // Label7Click: the usage text in place of the picture, or back.
  void Label7Click();

  // True while a job runs or a command of the window's own thread is under way: the
  // commands that read sectors or change the lists are disabled meanwhile.
  bool Busy() const;
  // A job is being watched until the window has seen it end.
  bool WatchingJob() const { return jobWatch_.isActive(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The tab captions keep to one row: their font shrinks when the window is too narrow.
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildMenus();
  void BuildPopupMenu1();
  void LayOutLists();
  void ConnectTab1();
  void ConnectTab2();
  void ConnectTab34();
  void BindControls();

  // Runs a command on the window's thread: one at a time; afterwards what it changed is
  // drawn and the controls follow the job state.
  void Run(const std::function<void()>& command);
  // Draws what the Ui queued.
  void Draw(PendingUpdates::Batch batch);
  // The control states of the Workspace into the widgets.
  void ShowControls();
  // Enabled flags from the control states and whether a job or command runs.
  void UpdateEnabled();
  // Watches a running job until it ends.
  void WatchJob();
  void JobTick();
  void RefreshList(ReportListModel& model, QTableView* view, const ReportList& list);
  void SetCurrentRow(const ReportList& list, int row);

  Workspace& ws_;
  QtUi& ui_;
  QTabWidget* pageControl_ = nullptr;
  Tab1Page tab1_;
  Tab2Page tab2_;
  Tab3Page tab3_;
  Tab4Page tab4_;
  QProgressBar* g1_ = nullptr;
  QPushButton* button7_ = nullptr;
  QLabel* stat1_ = nullptr;
  QMenu* pm1_ = nullptr;
  QMenu* popupMenu1_ = nullptr;
  QAction* n2_ = nullptr;
  std::unique_ptr<ReportListModel> list2Model_;
  std::unique_ptr<ReportListModel> list3Model_;
  std::unique_ptr<ReportListModel> list4Model_;
  QTimer jobWatch_;
  bool inCommand_ = false;
  bool yielded_ = false;         // the command under way lets the window handle messages
  bool closeRequested_ = false;  // closing waits for the command or job under way
  bool settingTab_ = false;      // PageControl1 changed by the program, not the person
  bool wasBusy_ = false;
};

}  // namespace ravelin::shell
