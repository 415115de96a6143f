#include "shell/successor_dialog.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>

#include "commands/successor_dialog.h"
#include "common/messages.h"
#include "shell/pictures.h"
#include "shell/tab_pages.h"
#include "shell/widget_kit.h"

namespace ravelin::shell {

Tfrmuserchoose::Tfrmuserchoose(SuccessorChoice& choice, std::function<void()> saveChecked,
                               QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      choice_(choice) {
  setObjectName(QStringLiteral("frmuserchoose"));
  setWindowTitle(QString::fromUtf8(Text(TextId::kSuccessorDialogCaption)));
  setFixedSize(734, 450);

  auto* group = Place(new QGroupBox(QString::fromUtf8(Text(TextId::kSuccessorGroupCaption)), this),
                      "grp1", QRect(6, 4, 722, 440));
  listView1_ = MakeReportView(group, "ListView1", QRect(10, 26, 702, 58));
  listView2_ = MakeReportView(group, "ListView2", QRect(10, 92, 702, 290));
  const std::vector<QIcon> images = ListImages();
  model1_ = std::make_unique<ReportListModel>(choice_.ListView1);
  model2_ = std::make_unique<ReportListModel>(choice_.ListView2);
  model1_->SetImages(images);
  model2_->SetImages(images);
  model2_->SetTickHandler([this](std::size_t row, bool checked) {
    if (row >= choice_.ListView2.Count()) return false;
    choice_.ListView2.Edit(row).checked = checked;
    return true;
  });
  listView1_->setModel(model1_.get());
  listView2_->setModel(model2_.get());
  for (QTableView* view : {listView1_, listView2_}) {
    view->horizontalHeader()->setSectionsClickable(false);
    view->setColumnWidth(0, 120);
    for (int c = 1; c < 6; ++c) view->setColumnWidth(c, 112);
  }

  btnok_ = MakeButton(group, "btnok", Text(TextId::kSuccessorOkCaption), QRect(10, 394, 120, 34));
  btncancel_ = MakeButton(group, "btncancel", Text(TextId::kSuccessorCancelCaption),
                          QRect(142, 394, 120, 34));
  button1_ =
      MakeButton(group, "Button1", Text(TextId::kSaveCandidatesCaption), QRect(452, 394, 260, 34));

  connect(listView2_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            choice_.ListView2.SetCurrent(current.isValid() ? current.row() : -1);
          });
  // Both lists answer a click the same way: ListView2's current row is the choice.
  for (QTableView* view : {listView1_, listView2_}) {
    connect(view, &QTableView::clicked, this, [this] {
      ravelin::ListView2Click(choice_);
      model2_->Refresh();
    });
  }
  connect(btnok_, &QPushButton::clicked, this, [this] {
    btnokClick(choice_);
    Answered();
  });
  connect(btncancel_, &QPushButton::clicked, this, [this] {
    btncancelClick(choice_);
    Answered();
  });
  connect(button1_, &QPushButton::clicked, this, std::move(saveChecked));
}

void Tfrmuserchoose::Refresh() {
  model1_->Refresh();
  model2_->Refresh();
}

void Tfrmuserchoose::Answered() { hide(); }

void Tfrmuserchoose::closeEvent(QCloseEvent* event) {
  FormClose(choice_);
  event->accept();
}

void Tfrmuserchoose::Ask() {
  Refresh();
  show();
  raise();
  // The analysis that asks runs on this thread: it waits by handling messages.
  QEventLoop loop;
  while (choice_.ChoiceResult == kChoiceWaiting && isVisible())
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  FormClose(choice_);  // hidden some other way counts as giving up
}

}  // namespace ravelin::shell
