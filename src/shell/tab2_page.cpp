// Tab II: list II, its filter and automatic ticking, and the scan-info buttons.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab2Page BuildTab2(QWidget* parent) {
  Tab2Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet2");
  QWidget* s = t.sheet;
  t.ListView2 = MakeReportView(s, "ListView2");
  t.ListView2->setContextMenuPolicy(Qt::CustomContextMenu);

  t.filterGroup = Place(new QGroupBox(Q("开始页面号范围"), s), "grpfilter");
  QGroupBox* f = t.filterGroup;
  auto* filter = new QGridLayout(f);
  t.rb3 = MakeRadio(f, "rb3", "全部显示");
  filter->addWidget(t.rb3, 0, 0);
  t.rb1 = MakeRadio(f, "rb1", "开始页面号范围");
  filter->addWidget(t.rb1, 1, 0);
  filter->addWidget(MakeLabel(f, "lblfrom", ">="), 1, 1);
  t.Edit1 = MakeEdit(f, "Edit1", "edtbeginid");
  filter->addWidget(t.Edit1, 1, 2);
  filter->addWidget(MakeLabel(f, "lblto", "<"), 1, 3);
  t.edtendid = MakeEdit(f, "edtendid", "edtendid");
  filter->addWidget(t.edtendid, 1, 4);
  t.rb2 = MakeRadio(f, "rb2", "含如ID的碎片");
  filter->addWidget(t.rb2, 2, 0);
  t.edtpgid = MakeEdit(f, "edtpgid", "edtpgid");
  filter->addWidget(t.edtpgid, 2, 2);
  t.edtfilter = MakeButton(f, "edtfilter", "过滤");
  filter->addWidget(t.edtfilter, 2, 4);
  filter->setColumnStretch(2, 1);
  filter->setColumnStretch(4, 1);

  t.tickGroup = Place(new QGroupBox(Q("自动下勾选选项"), s), "grpautotick");
  QGroupBox* a = t.tickGroup;
  auto* tick = new QGridLayout(a);
  tick->addWidget(MakeLabel(a, "lbllen", "往下范围"), 0, 0);
  t.edtlen = MakeEdit(a, "edtlen", "5");
  tick->addWidget(t.edtlen, 0, 1);
  tick->addWidget(MakeLabel(a, "lblpagelen", "页码范围"), 1, 0);
  t.edtpagelen = MakeEdit(a, "edtpagelen", "128");
  tick->addWidget(t.edtpagelen, 1, 1);
  t.Button8 = MakeButton(a, "Button8", "自动勾选");
  tick->addWidget(t.Button8, 2, 1);

  t.btnsave = MakeButton(s, "btnsave", "保存此次扫描信息(SAVE)");
  t.Button3 = MakeButton(s, "Button3", "打开扫描信息文件(OPEN)");
  for (QPushButton* b : {t.btnsave, t.Button3})
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  auto* files = new QVBoxLayout;
  files->addWidget(t.btnsave);
  files->addWidget(t.Button3);

  auto* below = new QHBoxLayout;
  below->addWidget(t.filterGroup, 2);
  below->addWidget(t.tickGroup, 1);
  below->addLayout(files, 1);
  auto* page = new QVBoxLayout(s);
  page->setContentsMargins(4, 4, 4, 4);
  page->addWidget(t.ListView2, 1);
  page->addLayout(below);
  return t;
}

}  // namespace ravelin::shell
