// Tab II: list II, its filter and automatic ticking, and the scan-info buttons.
#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab2Page BuildTab2(QWidget* parent) {
  Tab2Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet2", QRect(0, 0, kPageWidth, kPageHeight));
  QWidget* s = t.sheet;
  t.ListView2 = MakeReportView(s, "ListView2", QRect(4, 4, 988, 376));
  t.ListView2->setContextMenuPolicy(Qt::CustomContextMenu);

  t.filterGroup =
      Place(new QGroupBox(Q("开始页面号范围"), s), "grpfilter", QRect(4, 386, 486, 122));
  QGroupBox* f = t.filterGroup;
  t.rb3 = MakeRadio(f, "rb3", "全部显示", QRect(10, 24, 150, 26));
  t.rb1 = MakeRadio(f, "rb1", "开始页面号范围", QRect(10, 56, 150, 26));
  MakeLabel(f, "lblfrom", ">=", QRect(164, 56, 24, 26));
  t.Edit1 = MakeEdit(f, "Edit1", "edtbeginid", QRect(188, 55, 110, 28));
  MakeLabel(f, "lblto", "<", QRect(306, 56, 16, 26));
  t.edtendid = MakeEdit(f, "edtendid", "edtendid", QRect(322, 55, 110, 28));
  t.rb2 = MakeRadio(f, "rb2", "含如ID的碎片", QRect(10, 88, 150, 26));
  t.edtpgid = MakeEdit(f, "edtpgid", "edtpgid", QRect(188, 87, 110, 28));
  t.edtfilter = MakeButton(f, "edtfilter", "过滤", QRect(322, 86, 110, 30));

  t.tickGroup =
      Place(new QGroupBox(Q("自动下勾选选项"), s), "grpautotick", QRect(498, 386, 236, 122));
  QGroupBox* a = t.tickGroup;
  MakeLabel(a, "lbllen", "往下范围", QRect(10, 24, 80, 26));
  t.edtlen = MakeEdit(a, "edtlen", "5", QRect(96, 23, 128, 28));
  MakeLabel(a, "lblpagelen", "页码范围", QRect(10, 56, 80, 26));
  t.edtpagelen = MakeEdit(a, "edtpagelen", "128", QRect(96, 55, 128, 28));
  t.Button8 = MakeButton(a, "Button8", "自动勾选", QRect(96, 86, 128, 30));

  t.btnsave = MakeButton(s, "btnsave", "保存此次扫描信息(SAVE)", QRect(744, 394, 246, 48));
  t.Button3 = MakeButton(s, "Button3", "打开扫描信息文件(OPEN)", QRect(744, 454, 246, 48));
  return t;
}

}  // namespace ravelin::shell
