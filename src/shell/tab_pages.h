// The four tab pages of TForm1 and the controls on each, made with their component names.
// The pages hold no behaviour: TForm1 connects their signals to the commands.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "shell/clickable_label.h"

namespace ravelin::shell {

struct Tab1Page {
  QWidget* sheet = nullptr;  // TabSheet1
  QGroupBox* grp1 = nullptr;
  QLineEdit* edtDataStr = nullptr;
  QPushButton* btnscan = nullptr;
  QPushButton* btnstop = nullptr;
  QLabel* pnl1 = nullptr;
  QLabel* pnl2 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLineEdit* edtbegin = nullptr;
  QLineEdit* edtend = nullptr;
  QLineEdit* edtsecs = nullptr;
  QLabel* label5 = nullptr;
  QCheckBox* chkfreespace = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QLineEdit* edtmaxpageid = nullptr;
  QLineEdit* Edit2 = nullptr;
  ClickableLabel* Label7 = nullptr;
  QLabel* img1 = nullptr;
  QLabel* lbl1 = nullptr;
};

struct Tab2Page {
  QWidget* sheet = nullptr;  // TabSheet2
  QTableView* ListView2 = nullptr;
  QGroupBox* filterGroup = nullptr;  // "开始页面号范围"
  QRadioButton* rb3 = nullptr;
  QRadioButton* rb1 = nullptr;
  QRadioButton* rb2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* edtendid = nullptr;
  QLineEdit* edtpgid = nullptr;
  QPushButton* edtfilter = nullptr;
  QGroupBox* tickGroup = nullptr;  // "自动下勾选选项"
  QLineEdit* edtlen = nullptr;
  QLineEdit* edtpagelen = nullptr;
  QPushButton* Button8 = nullptr;
  QPushButton* btnsave = nullptr;
  QPushButton* Button3 = nullptr;
};

struct Tab3Page {
  QWidget* sheet = nullptr;  // TabSheet3
  QTableView* ListView3 = nullptr;
  QPushButton* Button1 = nullptr;
  QCheckBox* chkauto = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
};

struct Tab4Page {
  QWidget* sheet = nullptr;  // TabSheet4
  QTableView* ListView4 = nullptr;
  QPushButton* Button5 = nullptr;
  QPushButton* Button6 = nullptr;
  QPushButton* Button2 = nullptr;
  QPlainTextEdit* Memo3 = nullptr;
};

Tab1Page BuildTab1(QWidget* parent);
Tab2Page BuildTab2(QWidget* parent);
Tab3Page BuildTab3(QWidget* parent);
Tab4Page BuildTab4(QWidget* parent);

// A report list: whole rows selected, no grid, fixed row height (a million rows scroll
// without measuring each), no sorting of its own (the core sorts).
QTableView* MakeReportView(QWidget* parent, const char* name, QRect geometry = {});

}  // namespace ravelin::shell
