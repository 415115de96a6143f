#include <QHeaderView>

#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

QTableView* MakeReportView(QWidget* parent, const char* name, QRect geometry) {
  auto* view = Place(new QTableView(parent), name, geometry);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setSortingEnabled(false);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  QHeaderView* rows = view->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
  QHeaderView* columns = view->horizontalHeader();
  columns->setSectionsClickable(true);
  columns->setHighlightSections(false);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  columns->setStretchLastSection(false);
  // Hidden columns keep their values in the rows; the view must not hand them room.
  columns->setMinimumSectionSize(0);
  return view;
}

}  // namespace ravelin::shell
