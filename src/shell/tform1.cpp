// FormCreate and the window's make-up: pages, gauge, status bar, menus, list columns.
#include "shell/tform1.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>

#include "commands/datasource_menu.h"
#include "commands/scan_commands.h"
#include "shell/about_window.h"
#include "shell/pictures.h"
#include "shell/qt_ui.h"
#include "shell/widget_kit.h"
#include "workspace/workspace.h"

namespace ravelin::shell {
namespace {

// Column widths of list II and the Assembly list; the sector columns travel hidden.
constexpr int kFragmentColumnWidths[] = {76, 110, 110, 110, 574, 0, 0};
// The database-file list shows only "序号" and "文件名".
constexpr int kFileColumnWidths[] = {70, 430, 0, 0, 0, 0, 0};

void SetColumns(QTableView* view, const int (&widths)[7]) {
  for (int c = 0; c < 7; ++c) {
    view->setColumnWidth(c, widths[c]);
    view->setColumnHidden(c, widths[c] == 0);
  }
}

QFont TabFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(14);
  return font;
}

QFont Tab4Font() {
  QFont font;
  font.setFamilies({QStringLiteral("仿宋_GB2312"), QStringLiteral("FangSong"),
                    QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(14);
  return font;
}

}  // namespace

TForm1::TForm1(Workspace& ws, QtUi& ui, const DiscoveryEnv& discovery) : ws_(ws), ui_(ui) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Ravelin Recover for SQLSERVER"));
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  BuildMenus();
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  setCentralWidget(client);

  stat1_ = new QLabel(this);
  stat1_->setObjectName(QStringLiteral("stat1"));
  stat1_->setFixedWidth(200);
  statusBar()->setObjectName(QStringLiteral("statusbar"));
  statusBar()->addWidget(stat1_);

  // 1. The pages, tab I active.
  pageControl_ = Place(new QTabWidget(client), "PageControl1");
  pageControl_->setFont(TabFont());
  tab1_ = BuildTab1(pageControl_);
  tab2_ = BuildTab2(pageControl_);
  tab3_ = BuildTab3(pageControl_);
  tab4_ = BuildTab4(pageControl_);
  tab4_.sheet->setFont(Tab4Font());
  pageControl_->addTab(tab1_.sheet, QStringLiteral("  Ⅰ  选择数据源(DATA SOURCE)     "));
  pageControl_->addTab(tab2_.sheet, QStringLiteral("  Ⅱ  碎片列表(FRAGMENT LIST )        "));
  pageControl_->addTab(tab3_.sheet, QStringLiteral("  Ⅲ  分析碎片(FILTER)       "));
  pageControl_->addTab(tab4_.sheet, QStringLiteral("   Ⅳ  组合MDF(CREATE MDF)     "));
  pageControl_->setCurrentIndex(0);

  g1_ = Place(new QProgressBar(client), "g1");
  g1_->setRange(0, 100);
  g1_->setValue(0);
  button7_ = MakeButton(client, "Button7", "业务联系专业恢复(ABOUT)");
  // The pages take what the window gives; the gauge and Button7 keep one row below them.
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(g1_, 1);
  bottom->addWidget(button7_);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(pageControl_, 1);
  layout->addLayout(bottom);

  // 3. List columns, PopupMenu1 on list II; chkauto and Button1 shown.
  LayOutLists();
  BuildPopupMenu1();
  pm1_ = new QMenu(this);
  pm1_->setObjectName(QStringLiteral("pm1"));

  ui_.Attach(this, [this](PendingUpdates::Batch batch) { Draw(std::move(batch)); });
  ui_.SetYieldHook([this] {
    if (inCommand_ && !yielded_) {
      yielded_ = true;
      UpdateEnabled();
    }
  });
  jobWatch_.setInterval(100);
  connect(&jobWatch_, &QTimer::timeout, this, &TForm1::JobTick);

  ConnectTab1();
  ConnectTab2();
  ConnectTab34();
  BindControls();

  // 4.-6. CurrentFileId from Edit2 (the Workspace did it), memos cleared, the data-source
  // menu's disks and partitions.
  tab1_.Memo1->clear();
  tab3_.Memo2->clear();
  ListDataSources(ws_, discovery);
  ui_.DrawNow();
  ShowControls();
  UpdateEnabled();

  // The form's size to begin with; the layouts let it shrink to 800×600 and grow.
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

TForm1::~TForm1() {
  // Nothing may draw into a window that is gone; a job still running asks no one.
  ui_.Shutdown();
  ws_.ScanStopped().store(true);
}

void TForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* n1 = bar->addMenu(QStringLiteral("操作(OPERATION)"));
  n1->setObjectName(QStringLiteral("N1"));
  n1->menuAction()->setObjectName(QStringLiteral("N1"));
  n2_ = n1->addAction(QStringLiteral("开始扫描(SCAN)"));
  n2_->setObjectName(QStringLiteral("N2"));
  QAction* n3 = n1->addAction(QStringLiteral("停止扫描(STOP)"));
  n3->setObjectName(QStringLiteral("N3"));
  n1->addSeparator()->setObjectName(QStringLiteral("N4"));
  // "退出": no action is attached, as on the form.
  n1->addAction(QStringLiteral("退出"))->setObjectName(QStringLiteral("N5"));
  QAction* n6 = bar->addAction(QStringLiteral("关于(ABOUT)"));
  n6->setObjectName(QStringLiteral("N6"));

  connect(n2_, &QAction::triggered, this, [this] { Run([this] { N2Click(ws_); }); });
  connect(n3, &QAction::triggered, this, [this] { N3Click(ws_); });
  connect(n6, &QAction::triggered, this, [this] { ShowAbout(); });
}

void TForm1::LayOutLists() {
  const std::vector<QIcon> images = ListImages();
  list2Model_ = std::make_unique<ReportListModel>(ws_, ws_.ListView2());
  list3Model_ = std::make_unique<ReportListModel>(ws_, ws_.ListView3());
  // Column 2 of the Assembly list is "起始页面号".
  list4Model_ = std::make_unique<ReportListModel>(
      ws_, ws_.ListView4(),
      QStringList{QStringLiteral("序号"), QStringLiteral("碎片大小(KB)"),
                  QStringLiteral("起始页面号"), QStringLiteral("结束页面号"),
                  QStringLiteral("备注"), QStringLiteral("开始扇区"), QStringLiteral("结束扇区")});
  const std::pair<ReportListModel*, QTableView*> lists[] = {{list2Model_.get(), tab2_.ListView2},
                                                            {list3Model_.get(), tab3_.ListView3},
                                                            {list4Model_.get(), tab4_.ListView4}};
  for (const auto& [model, view] : lists) {
    model->SetImages(images);
    view->setModel(model);
    view->setIconSize(QSize(16, 16));
  }
  SetColumns(tab2_.ListView2, kFragmentColumnWidths);
  SetColumns(tab3_.ListView3, kFileColumnWidths);
  SetColumns(tab4_.ListView4, kFragmentColumnWidths);
  tab3_.ListView3->horizontalHeader()->setSectionsClickable(false);
  // A file's name is shown whole with its "(… MB)": the column grows to its longest name,
  // and the list scrolls sideways when the list is narrower.
  tab3_.ListView3->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  tab3_.chkauto->show();
  tab3_.Button1->show();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  QTabBar* tabs = pageControl_->tabBar();
  QFont font = TabFont();
  for (int pixels = font.pixelSize(); pixels >= 9; --pixels) {
    font.setPixelSize(pixels);
    tabs->setFont(font);
    if (tabs->sizeHint().width() <= centralWidget()->width() - 12) break;
  }
}

QWidget* TForm1::ShowAbout() {
  QWidget* about = MakeAboutWindow(this);
  about->show();
  return about;
}

void TForm1::Label7Click() {
  const bool pictureShown = !tab1_.img1->isHidden();
  tab1_.img1->setHidden(pictureShown);
  tab1_.lbl1->setHidden(!pictureShown);
}

}  // namespace ravelin::shell
