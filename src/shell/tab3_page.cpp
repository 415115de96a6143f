// Tab III: the database files found, the analysis button and its log.
#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab3Page BuildTab3(QWidget* parent) {
  Tab3Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet3", QRect(0, 0, kPageWidth, kPageHeight));
  QWidget* s = t.sheet;
  t.ListView3 = MakeReportView(s, "ListView3", QRect(4, 4, 520, 504));
  t.Button1 = MakeButton(s, "Button1", "分析该碎片(FILTER)", QRect(536, 4, 220, 36));
  t.chkauto = MakeCheck(s, "chkauto", "自动模式", QRect(772, 8, 140, 28));
  t.chkauto->setChecked(true);
  t.Memo2 = MakeMemo(s, "Memo2", QRect(536, 48, 456, 460), false);
  return t;
}

}  // namespace ravelin::shell
