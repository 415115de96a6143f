// Tab III: the database files found, the analysis button and its log.
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab3Page BuildTab3(QWidget* parent) {
  Tab3Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet3");
  QWidget* s = t.sheet;
  t.ListView3 = MakeReportView(s, "ListView3");
  t.Button1 = MakeButton(s, "Button1", "分析该碎片(FILTER)");
  t.chkauto = MakeCheck(s, "chkauto", "自动模式");
  t.chkauto->setChecked(true);
  t.Memo2 = MakeMemo(s, "Memo2", false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(t.Button1);
  buttons->addWidget(t.chkauto);
  buttons->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addLayout(buttons);
  right->addWidget(t.Memo2, 1);
  auto* page = new QHBoxLayout(s);
  page->setContentsMargins(4, 4, 4, 4);
  page->addWidget(t.ListView3, 1);
  page->addLayout(right, 1);
  return t;
}

}  // namespace ravelin::shell
