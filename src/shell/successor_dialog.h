// Tfrmuserchoose, the successor choice dialog's window: on top of the others, the fragment
// chained last above the ticked candidates, "确定", "取消" and "把勾选的碎片保存为文件".
// Closing it gives up. It shows the core's SuccessorChoice and calls the dialog's handlers
// (commands/successor_dialog.h).
#pragma once

#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "ports/successor_choice.h"
#include "shell/report_list_model.h"

namespace ravelin::shell {

class Tfrmuserchoose final : public QWidget {
  Q_OBJECT

 public:
  // `saveChecked`: what "把勾选的碎片保存为文件" does.
  Tfrmuserchoose(SuccessorChoice& choice, std::function<void()> saveChecked,
                 QWidget* parent = nullptr);

  // The lists as the state holds them now.
  void Refresh();
  // Shows the question without blocking the window and handles messages until the person
  // answers (ChoiceResult is then no longer waiting; hidden any other way counts as closed).
  void Ask();

  QTableView* ListView1() const { return listView1_; }
  QTableView* ListView2() const { return listView2_; }
  QPushButton* btnok() const { return btnok_; }
  QPushButton* btncancel() const { return btncancel_; }
  QPushButton* Button1() const { return button1_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Answered();

  SuccessorChoice& choice_;
  std::unique_ptr<ReportListModel> model1_;
  std::unique_ptr<ReportListModel> model2_;
  QTableView* listView1_ = nullptr;
  QTableView* listView2_ = nullptr;
  QPushButton* btnok_ = nullptr;
  QPushButton* btncancel_ = nullptr;
  QPushButton* button1_ = nullptr;
};

}  // namespace ravelin::shell
