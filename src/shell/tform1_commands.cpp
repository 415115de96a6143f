// Which command each control of TForm1 calls. Every handler is the commands layer's; the
// window only reads the person's choice (a row, a column, a menu entry) and passes it on.
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>

#include "commands/datasource_menu.h"
#include "commands/popup_menu1.h"
#include "commands/scan_commands.h"
#include "commands/scan_info_commands.h"
#include "commands/tab2_commands.h"
#include "shell/qstring_utf8.h"
#include "shell/qt_ui.h"
#include "shell/tab34_handlers.h"
#include "shell/tform1.h"
#include "workspace/workspace.h"

namespace ravelin::shell {

void TForm1::Run(const std::function<void()>& command) {
  // A command that lets the window handle messages could otherwise be started again from
  // inside itself.
  if (inCommand_) return;
  inCommand_ = true;
  yielded_ = false;
  try {
    command();
  } catch (const std::exception& e) {
    // The core reports its own failures; this is a fault of the program, said plainly.
    QMessageBox::critical(this, QStringLiteral("提示"), QString::fromUtf8(e.what()));
  }
  inCommand_ = false;
  yielded_ = false;
  ui_.DrawNow();
  ShowControls();
  UpdateEnabled();
  WatchJob();
  if (closeRequested_ && !Busy()) close();
}

void TForm1::ConnectTab1() {
  const Tab1Page& t = tab1_;
  connect(t.btnscan, &QPushButton::clicked, this, [this] { Run([this] { btnscanClick(ws_); }); });
  // STOP only sets a flag: it is never refused and never waits.
  connect(t.btnstop, &QPushButton::clicked, this, [this] { btnstopClick(ws_); });
  connect(t.edtDataStr, &QLineEdit::customContextMenuRequested, this, [this](const QPoint& at) {
    BuildDataSourceMenu();
    pm1_->popup(tab1_.edtDataStr->mapToGlobal(at));
  });
  connect(t.CheckBox1, &QCheckBox::clicked, this, [this](bool checked) {
    ws_.controls().tab1.CheckBox1 = checked;
    Run([this] { CheckBox1Click(ws_); });
  });
  connect(t.Label7, &ClickableLabel::clicked, this, &TForm1::Label7Click);
  connect(button7_, &QPushButton::clicked, this, [this] { ShowAbout(); });
}

void TForm1::BuildDataSourceMenu() {
  pm1_->clear();
  QAction* n7 = pm1_->addAction(QStringLiteral("打开镜像文件"));
  n7->setObjectName(QStringLiteral("N7"));
  connect(n7, &QAction::triggered, this, [this] { Run([this] { N7Click(ws_); }); });
  // The partitions of the whole-disk image chosen last, as partitions of a disk are.
  for (const PartitionEntry& partition : ws_.ImagePartitionCaptions()) {
    QAction* entry = pm1_->addAction(Q(partition.caption));
    entry->setObjectName(QStringLiteral("imagePartition%1").arg(partition.number));
    const std::string image = ws_.ImagePartitionsOf();
    const int number = partition.number;
    connect(entry, &QAction::triggered, this, [this, image, number] {
      Run([this, image, number] { ChooseImagePartition(ws_, image, number); });
    });
  }
  pm1_->addSeparator()->setObjectName(QStringLiteral("N8"));
  // Every disk and partition is offered, readable or not: choosing one the person may not
  // read says how to get access.
  for (const DiskEntry& disk : ws_.DiskCaptions()) {
    QAction* entry = pm1_->addAction(Q(disk.caption));
    entry->setObjectName(QStringLiteral("disk%1").arg(disk.number));
    connect(entry, &QAction::triggered, this,
            [this, disk] { Run([this, disk] { PhysicalDiskClick(ws_, disk); }); });
  }
  pm1_->addSeparator();
  for (const PartitionEntry& partition : ws_.PartitionCaptions()) {
    QAction* entry = pm1_->addAction(Q(partition.caption));
    entry->setObjectName(QStringLiteral("partition%1").arg(partition.number));
    connect(entry, &QAction::triggered, this,
            [this, partition] { Run([this, partition] { PartitionClick(ws_, partition); }); });
  }
  // The choice changes the source a job reads.
  for (QAction* action : pm1_->actions()) action->setEnabled(!Busy());
}

void TForm1::BuildPopupMenu1() {
  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
  auto add = [this](const char* name, const char* caption, void (*handler)(Workspace&)) {
    QAction* action = popupMenu1_->addAction(QString::fromUtf8(caption));
    action->setObjectName(QString::fromLatin1(name));
    if (handler != nullptr)
      connect(action, &QAction::triggered, this,
              [this, handler] { Run([this, handler] { handler(ws_); }); });
    return action;
  };
  add("N9", "提取勾选碎片到文件", &N9Click);
  add("N10", "全部选择", &N10Click);
  add("N14", "全部取消选择", &N14Click);
  add("N15", "反向选择", &N15Click);
  add("N11", "碎片过滤", nullptr);  // no action is attached, as on the form
  add("N12", "统计勾选的碎片信息", &N12Click);
  add("N13", "复制此碎片的开始扇区号到剪贴板", &N13Click);
  add("N16", "把选择的碎片加入组合", &N16Click);
  add("N17", "取勾选碎片的文件名", &OnN17Click);
  add("N18", "取更新信息", &N18Click);
}

void TForm1::SetCurrentRow(const ReportList& list, int row) {
  // The row a job may be appending behind: the current row is set under the table lock.
  MutexLock lock(ws_.tableLock);
  ws_.LockedList(list).SetCurrent(row);
}

void TForm1::ConnectTab2() {
  const Tab2Page& t = tab2_;
  QTableView* view = t.ListView2;
  connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            SetCurrentRow(ws_.ListView2(), current.isValid() ? current.row() : -1);
          });
  connect(view, &QTableView::clicked, this, [this] {
    if (!Busy()) Run([this] { ListView2Click(ws_); });
  });
  connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    Run([this, column] { ListView2ColumnClick(ws_, static_cast<std::size_t>(column)); });
  });
  connect(view, &QTableView::customContextMenuRequested, this, [this, view](const QPoint& at) {
    // A right click makes the row under the pointer current, as a click would.
    if (const QModelIndex row = view->indexAt(at); row.isValid()) view->setCurrentIndex(row);
    popupMenu1_->popup(view->viewport()->mapToGlobal(at));
  });
  list2Model_->SetTickHandler([this](std::size_t row, bool checked) {
    // The person's tick goes to the core's list; never while a job writes to it.
    if (Busy() || row >= ws_.ListView2().Count()) return false;
    MutexLock lock(ws_.tableLock);
    ws_.LockedList(ws_.ListView2()).Edit(row).checked = checked;
    return true;
  });

  connect(t.edtfilter, &QPushButton::clicked, this,
          [this] { Run([this] { edtfilterClick(ws_); }); });
  connect(t.Button8, &QPushButton::clicked, this, [this] { Run([this] { Button8Click(ws_); }); });
  connect(t.btnsave, &QPushButton::clicked, this, [this] { Run([this] { btnsaveClick(ws_); }); });
  connect(t.Button3, &QPushButton::clicked, this, [this] { Run([this] { Button3Click(ws_); }); });
}

void TForm1::ConnectTab34() {
  connect(pageControl_, &QTabWidget::currentChanged, this, [this](int index) {
    ws_.controls().PageControl1 = index;
    if (settingTab_) return;  // the program's own tab changes do not count as the person's
    Run([this, index] { OnPageControl1Change(ws_, index); });
  });

  QTableView* list3 = tab3_.ListView3;
  connect(list3->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            SetCurrentRow(ws_.ListView3(), current.isValid() ? current.row() : -1);
          });
  connect(list3, &QTableView::clicked, this, [this] { Run([this] { OnListView3Click(ws_); }); });
  connect(tab3_.Button1, &QPushButton::clicked, this,
          [this] { Run([this] { OnButton1Click(ws_); }); });

  QTableView* list4 = tab4_.ListView4;
  connect(list4->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            SetCurrentRow(ws_.ListView4(), current.isValid() ? current.row() : -1);
          });
  connect(list4, &QTableView::clicked, this, [this] { Run([this] { OnListView4Click(ws_); }); });
  connect(list4->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    Run([this, column] { OnListView4ColumnClick(ws_, static_cast<std::size_t>(column)); });
  });
  connect(tab4_.Button5, &QPushButton::clicked, this,
          [this] { Run([this] { OnButton5Click(ws_); }); });
  connect(tab4_.Button6, &QPushButton::clicked, this,
          [this] { Run([this] { OnButton6Click(ws_); }); });
  connect(tab4_.Button2, &QPushButton::clicked, this,
          [this] { Run([this] { OnButton2Click(ws_); }); });
}

}  // namespace ravelin::shell
