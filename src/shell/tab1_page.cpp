// Tab I: the data source group, the scan information memo and the scan options.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/pictures.h"
#include "shell/tab_pages.h"
#include "shell/usage_text.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab1Page BuildTab1(QWidget* parent) {
  Tab1Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet1");
  QWidget* s = t.sheet;

  t.grp1 = Place(new QGroupBox(Q("  数据源(DATASOURCE)  "), s), "grp1");
  t.edtDataStr =
      MakeEdit(t.grp1, "edtDataStr", "......右键设置数据源(RIGHT CLICK TO CHOOSE DS )......");
  t.edtDataStr->setReadOnly(true);
  t.edtDataStr->setContextMenuPolicy(Qt::CustomContextMenu);
  t.btnscan = MakeButton(t.grp1, "btnscan", "开始扫描(SCAN)");
  t.btnstop = MakeButton(t.grp1, "btnstop", "停止扫描(STOP)");
  auto* source = new QHBoxLayout(t.grp1);
  source->addWidget(t.edtDataStr, 1);
  source->addWidget(t.btnscan);
  source->addWidget(t.btnstop);

  t.pnl1 = MakePanel(s, "pnl1", "  扫描图分区信息;  ");
  t.Memo1 = MakeMemo(s, "Memo1", false);
  auto* left = new QVBoxLayout;
  left->addWidget(t.pnl1);
  left->addWidget(t.Memo1, 1);

  t.pnl2 = MakePanel(s, "pnl2", "  扫描设置:(非专业人员建议不选择) OPTIONS  ");
  auto* options = new QGridLayout;
  options->addWidget(MakeLabel(s, "lblbegin", "开始扇区"), 0, 0);
  t.edtbegin = MakeEdit(s, "edtbegin", "");
  options->addWidget(t.edtbegin, 0, 1);
  options->addWidget(MakeLabel(s, "lblend", "结束扇区"), 1, 0);
  t.edtend = MakeEdit(s, "edtend", "");
  options->addWidget(t.edtend, 1, 1);
  options->addWidget(MakeLabel(s, "lblsecs", "每簇扇区数"), 2, 0);
  t.edtsecs = MakeEdit(s, "edtsecs", "");
  options->addWidget(t.edtsecs, 2, 1);
  t.label5 = MakeLabel(s, "label5", "");
  t.label5->setStyleSheet(QStringLiteral("color: rgb(0, 70, 160); font-weight: bold;"));
  options->addWidget(t.label5, 2, 2, 1, 2);
  t.chkfreespace = MakeCheck(s, "chkfreespace", "只扫描空闲簇(FREE SPACE ONLY)");
  t.chkfreespace->setChecked(true);
  options->addWidget(t.chkfreespace, 0, 2, 1, 2);
  t.CheckBox1 = MakeCheck(s, "CheckBox1", "开始页面号小于");
  options->addWidget(t.CheckBox1, 1, 2);
  t.edtmaxpageid = MakeEdit(s, "edtmaxpageid", "");
  t.edtmaxpageid->setEnabled(false);
  options->addWidget(t.edtmaxpageid, 1, 3);
  options->addWidget(MakeLabel(s, "lblfileid", "文件ID"), 3, 0);
  t.Edit2 = MakeEdit(s, "Edit2", "1");
  options->addWidget(t.Edit2, 3, 1);
  options->setColumnStretch(1, 1);
  options->setColumnStretch(3, 1);

  t.Label7 = Place(new ClickableLabel(Q("使  用  说 明"), s), "Label7");
  t.Label7->setCursor(Qt::PointingHandCursor);
  t.Label7->setStyleSheet(
      QStringLiteral("color: rgb(0, 60, 200); text-decoration: underline; font-weight: bold;"));

  // The picture and the usage text share one place; Label7 switches between them.
  t.img1 = MakeLabel(s, "img1", "");
  t.img1->setPixmap(RecoveryPicture(490, 228));
  t.img1->setScaledContents(true);
  t.img1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  t.lbl1 = MakeLabel(s, "lbl1", kUsageText);
  t.lbl1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  t.lbl1->setWordWrap(true);
  t.lbl1->setMargin(6);
  t.lbl1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  t.lbl1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  t.lbl1->hide();
  auto* picture = new QGridLayout;
  picture->addWidget(t.img1, 0, 0);
  picture->addWidget(t.lbl1, 0, 0);

  auto* right = new QVBoxLayout;
  right->addWidget(t.pnl2);
  right->addLayout(options);
  right->addWidget(t.Label7);
  right->addLayout(picture, 1);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);
  auto* page = new QVBoxLayout(s);
  page->setContentsMargins(6, 2, 6, 4);
  page->addWidget(t.grp1);
  page->addLayout(columns, 1);
  return t;
}

}  // namespace ravelin::shell
