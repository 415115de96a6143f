// Tab IV: the Assembly list, the check, search and create buttons and their log.
#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab4Page BuildTab4(QWidget* parent) {
  Tab4Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet4", QRect(0, 0, kPageWidth, kPageHeight));
  QWidget* s = t.sheet;
  t.ListView4 = MakeReportView(s, "ListView4", QRect(4, 4, 988, 324));
  t.Button5 = MakeButton(s, "Button5", "检查遗漏页(CHECK)", QRect(4, 336, 240, 40));
  t.Button5->setEnabled(false);
  t.Button6 = MakeButton(s, "Button6", "查找遗漏碎片(SEARCH MORE)", QRect(256, 336, 280, 40));
  t.Button2 = MakeButton(s, "Button2", "组合MDF(CREATE MDF)", QRect(548, 336, 240, 40));
  t.Button2->setEnabled(false);
  t.Memo3 = MakeMemo(s, "Memo3", QRect(4, 384, 988, 124), true);
  return t;
}

}  // namespace ravelin::shell
