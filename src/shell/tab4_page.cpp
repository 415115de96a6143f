// Tab IV: the Assembly list, the check, search and create buttons and their log.
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tab4Page BuildTab4(QWidget* parent) {
  Tab4Page t;
  t.sheet = Place(new QWidget(parent), "TabSheet4");
  QWidget* s = t.sheet;
  t.ListView4 = MakeReportView(s, "ListView4");
  t.Button5 = MakeButton(s, "Button5", "检查遗漏页(CHECK)");
  t.Button5->setEnabled(false);
  t.Button6 = MakeButton(s, "Button6", "查找遗漏碎片(SEARCH MORE)");
  t.Button2 = MakeButton(s, "Button2", "组合MDF(CREATE MDF)");
  t.Button2->setEnabled(false);
  t.Memo3 = MakeMemo(s, "Memo3", true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(t.Button5);
  buttons->addWidget(t.Button6);
  buttons->addWidget(t.Button2);
  buttons->addStretch(1);
  auto* page = new QVBoxLayout(s);
  page->setContentsMargins(4, 4, 4, 4);
  page->addWidget(t.ListView4, 5);
  page->addLayout(buttons);
  page->addWidget(t.Memo3, 2);
  return t;
}

}  // namespace ravelin::shell
