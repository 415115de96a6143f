// Tab I: the data source group, the scan information memo and the scan options.
#include "shell/pictures.h"
#include "shell/tab_pages.h"
#include "shell/usage_text.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab1Page BuildTab1(QWidget* parent) {
  Tab1Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet1", QRect(0, 0, kPageWidth, kPageHeight));
  QWidget* s = t.sheet;

  t.grp1 = Place(new QGroupBox(Q("  数据源(DATASOURCE)  "), s), "grp1", QRect(6, 2, 984, 66));
  t.edtDataStr =
      MakeEdit(t.grp1, "edtDataStr", "......右键设置数据源(RIGHT CLICK TO CHOOSE DS )......",
               QRect(12, 26, 620, 28));
  t.edtDataStr->setReadOnly(true);
  t.edtDataStr->setContextMenuPolicy(Qt::CustomContextMenu);
  t.btnscan = MakeButton(t.grp1, "btnscan", "开始扫描(SCAN)", QRect(646, 24, 160, 32));
  t.btnstop = MakeButton(t.grp1, "btnstop", "停止扫描(STOP)", QRect(814, 24, 160, 32));

  t.pnl1 = MakePanel(s, "pnl1", "  扫描图分区信息;  ", QRect(6, 76, 480, 26));
  t.Memo1 = MakeMemo(s, "Memo1", QRect(6, 104, 480, 404), false);

  constexpr int x = 500;
  t.pnl2 =
      MakePanel(s, "pnl2", "  扫描设置:(非专业人员建议不选择) OPTIONS  ", QRect(x, 76, 490, 26));
  MakeLabel(s, "lblbegin", "开始扇区", QRect(x + 8, 114, 90, 26));
  t.edtbegin = MakeEdit(s, "edtbegin", "", QRect(x + 100, 112, 150, 28));
  MakeLabel(s, "lblend", "结束扇区", QRect(x + 8, 148, 90, 26));
  t.edtend = MakeEdit(s, "edtend", "", QRect(x + 100, 146, 150, 28));
  MakeLabel(s, "lblsecs", "每簇扇区数", QRect(x + 8, 182, 90, 26));
  t.edtsecs = MakeEdit(s, "edtsecs", "", QRect(x + 100, 180, 150, 28));
  t.label5 = MakeLabel(s, "label5", "", QRect(x + 262, 182, 220, 26));
  t.label5->setStyleSheet(QStringLiteral("color: rgb(0, 70, 160); font-weight: bold;"));

  t.chkfreespace =
      MakeCheck(s, "chkfreespace", "只扫描空闲簇(FREE SPACE ONLY)", QRect(x + 262, 112, 226, 28));
  t.chkfreespace->setChecked(true);
  t.CheckBox1 = MakeCheck(s, "CheckBox1", "开始页面号小于", QRect(x + 262, 146, 128, 28));
  t.edtmaxpageid = MakeEdit(s, "edtmaxpageid", "", QRect(x + 392, 146, 92, 28));
  t.edtmaxpageid->setEnabled(false);
  MakeLabel(s, "lblfileid", "文件ID", QRect(x + 8, 216, 90, 26));
  t.Edit2 = MakeEdit(s, "Edit2", "1", QRect(x + 100, 214, 150, 28));

  t.Label7 = Place(new ClickableLabel(Q("使  用  说 明"), s), "Label7", QRect(x + 8, 252, 150, 24));
  t.Label7->setCursor(Qt::PointingHandCursor);
  t.Label7->setStyleSheet(
      QStringLiteral("color: rgb(0, 60, 200); text-decoration: underline; font-weight: bold;"));

  const QRect pictureArea(x, 280, 490, 228);
  t.img1 = MakeLabel(s, "img1", "", pictureArea);
  t.img1->setPixmap(RecoveryPicture(pictureArea.width(), pictureArea.height()));
  t.lbl1 = MakeLabel(s, "lbl1", kUsageText, pictureArea);
  t.lbl1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  t.lbl1->setWordWrap(true);
  t.lbl1->setMargin(6);
  t.lbl1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  t.lbl1->hide();
  return t;
}

}  // namespace ravelin::shell
