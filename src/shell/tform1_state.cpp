// TForm1 and the Workspace's state: the controls bound both ways, what the Ui queued drawn,
// the commands disabled while a job runs, and closing while one does.
#include <QCloseEvent>
#include <QHeaderView>

#include "commands/scan_commands.h"
#include "shell/qstring_utf8.h"
#include "shell/qt_ui.h"
#include "shell/tform1.h"
#include "workspace/workspace.h"

namespace ravelin::shell {
namespace {

// What the person types goes into the control state at once, as a form's edit holds it.
void BindEdit(QObject* owner, QLineEdit* edit, std::string& text) {
  QObject::connect(edit, &QLineEdit::textEdited, owner,
                   [&text](const QString& value) { text = U(value); });
}

void ShowText(QLineEdit* edit, const std::string& text) {
  const QString value = Q(text);
  if (edit->text() != value) edit->setText(value);  // keeps the cursor when nothing changed
}

void ShowPosition(QProgressBar* gauge, std::int64_t done, std::int64_t total) {
  gauge->setFormat(total > 0 ? QStringLiteral("%p%  (%1 / %2)").arg(done).arg(total)
                             : QStringLiteral("%p%"));
}

}  // namespace

void TForm1::BindControls() {
  Controls& c = ws_.controls();
  BindEdit(this, tab1_.edtbegin, c.tab1.edtbegin);
  BindEdit(this, tab1_.edtend, c.tab1.edtend);
  BindEdit(this, tab1_.edtsecs, c.tab1.edtsecs);
  BindEdit(this, tab1_.Edit2, c.tab1.Edit2);
  BindEdit(this, tab1_.edtmaxpageid, c.tab1.edtmaxpageid);
  connect(tab1_.chkfreespace, &QCheckBox::clicked, this,
          [this](bool checked) { ws_.controls().tab1.chkfreespace = checked; });

  BindEdit(this, tab2_.Edit1, c.tab2.Edit1);
  BindEdit(this, tab2_.edtendid, c.tab2.edtendid);
  BindEdit(this, tab2_.edtpgid, c.tab2.edtpgid);
  BindEdit(this, tab2_.edtlen, c.tab2.edtlen);
  BindEdit(this, tab2_.edtpagelen, c.tab2.edtpagelen);
  auto radio = [this](QRadioButton* button, bool Tab2Controls::*flag) {
    connect(button, &QRadioButton::toggled, this,
            [this, flag](bool on) { ws_.controls().tab2.*flag = on; });
  };
  radio(tab2_.rb1, &Tab2Controls::rb1);
  radio(tab2_.rb2, &Tab2Controls::rb2);
  radio(tab2_.rb3, &Tab2Controls::rb3);

  connect(tab3_.chkauto, &QCheckBox::clicked, this,
          [this](bool checked) { ws_.controls().tab3.chkauto = checked; });
}

void TForm1::ShowControls() {
  const Controls& c = ws_.controls();
  const Tab1Controls& t1 = c.tab1;
  ShowText(tab1_.edtDataStr, t1.edtDataStr);
  tab1_.edtDataStr->setCursorPosition(0);
  ShowText(tab1_.edtbegin, t1.edtbegin);
  ShowText(tab1_.edtend, t1.edtend);
  ShowText(tab1_.edtsecs, t1.edtsecs);
  ShowText(tab1_.Edit2, t1.Edit2);
  ShowText(tab1_.edtmaxpageid, t1.edtmaxpageid);
  tab1_.chkfreespace->setChecked(t1.chkfreespace);
  tab1_.CheckBox1->setChecked(t1.CheckBox1);
  tab1_.label5->setText(Q(t1.label5));

  const Tab2Controls& t2 = c.tab2;
  ShowText(tab2_.Edit1, t2.Edit1);
  ShowText(tab2_.edtendid, t2.edtendid);
  ShowText(tab2_.edtpgid, t2.edtpgid);
  ShowText(tab2_.edtlen, t2.edtlen);
  ShowText(tab2_.edtpagelen, t2.edtpagelen);
  // Radio buttons of one group: set the one that is on last, so turning it on turns the
  // others off only where the state says so.
  tab2_.rb1->setChecked(t2.rb1);
  tab2_.rb2->setChecked(t2.rb2);
  tab2_.rb3->setChecked(t2.rb3);

  tab3_.chkauto->setChecked(c.tab3.chkauto);

  if (c.PageControl1 != pageControl_->currentIndex() && c.PageControl1 >= 0 &&
      c.PageControl1 < pageControl_->count()) {
    settingTab_ = true;
    pageControl_->setCurrentIndex(c.PageControl1);
    settingTab_ = false;
  }
}

bool TForm1::Busy() const { return ws_.JobRunning() || (inCommand_ && yielded_); }

void TForm1::UpdateEnabled() {
  const Controls& c = ws_.controls();
  const bool busy = Busy();
  const bool idle = !busy;

  // Tab I and the menu: a scan reads the source and fills the lists; STOP always works.
  tab1_.btnscan->setEnabled(c.tab1.btnscanEnabled && idle);
  n2_->setEnabled(idle);
  const bool options = c.tab1.optionsEnabled && idle;
  for (QWidget* w : {static_cast<QWidget*>(tab1_.edtbegin), static_cast<QWidget*>(tab1_.edtend),
                     static_cast<QWidget*>(tab1_.edtsecs), static_cast<QWidget*>(tab1_.Edit2),
                     static_cast<QWidget*>(tab1_.CheckBox1)})
    w->setEnabled(options);
  tab1_.edtmaxpageid->setEnabled(options && c.tab1.edtmaxpageidEnabled);
  tab1_.chkfreespace->setEnabled(c.tab1.chkfreespaceEnabled && idle);

  // Tab II: everything that reads sectors or changes list II.
  for (QWidget* w : {static_cast<QWidget*>(tab2_.edtfilter), static_cast<QWidget*>(tab2_.Button8),
                     static_cast<QWidget*>(tab2_.btnsave), static_cast<QWidget*>(tab2_.Button3)})
    w->setEnabled(idle);
  tab2_.ListView2->horizontalHeader()->setSectionsClickable(idle);
  for (QAction* action : popupMenu1_->actions()) action->setEnabled(idle);

  // Tabs III and IV: their own flags, and nothing while a job runs.
  tab3_.Button1->setEnabled(c.tab3.Button1Enabled && idle);
  tab3_.chkauto->setEnabled(c.tab3.chkautoEnabled && idle);
  tab4_.Button5->setEnabled(c.tab4.Button5Enabled && idle);
  tab4_.Button6->setEnabled(c.tab4.Button6Enabled && idle);
  tab4_.Button2->setEnabled(c.tab4.Button2Enabled && idle);
  tab4_.ListView4->horizontalHeader()->setSectionsClickable(idle);
  wasBusy_ = busy;
}

void TForm1::RefreshList(ReportListModel& model, QTableView* view, const ReportList& list) {
  model.Refresh();
  // After a rebuild or a sort the view lost its current row: take the list's.
  if (!view->currentIndex().isValid() && !Busy()) {
    std::ptrdiff_t current;
    {
      MutexLock lock(ws_.tableLock);
      current = list.Current();
    }
    if (current >= 0 && current < model.rowCount()) {
      view->setCurrentIndex(model.index(static_cast<int>(current), 0));
      view->scrollTo(view->currentIndex());
    }
  }
}

void TForm1::Draw(PendingUpdates::Batch batch) {
  QPlainTextEdit* memos[] = {tab1_.Memo1, tab3_.Memo2, tab4_.Memo3};
  // Lines that follow each other into one memo go in as one block of text: a failing disk
  // logs thousands of lines between two draws, and one append per line would stall.
  QString lines;
  QPlainTextEdit* linesMemo = nullptr;
  auto flush = [&] {
    if (linesMemo != nullptr) linesMemo->appendPlainText(lines);
    lines.clear();
    linesMemo = nullptr;
  };
  for (PendingUpdates::MemoOp& op : batch.memoOps) {
    QPlainTextEdit* memo = memos[static_cast<int>(op.memo)];
    if (memo != linesMemo || op.clear) flush();
    if (op.clear) {
      memo->clear();
      continue;
    }
    if (linesMemo != nullptr) lines += QLatin1Char('\n');
    lines += Q(op.line);
    linesMemo = memo;
  }
  flush();
  if (batch.progress) g1_->setValue(std::clamp(*batch.progress, 0, 100));
  if (batch.position) ShowPosition(g1_, batch.position->first, batch.position->second);
  if (batch.status) stat1_->setText(Q(*batch.status));
  if (batch.Has(Change::kFragmentList)) RefreshList(*list2Model_, tab2_.ListView2, ws_.ListView2());
  if (batch.Has(Change::kFileList)) RefreshList(*list3Model_, tab3_.ListView3, ws_.ListView3());
  if (batch.Has(Change::kAssemblyList)) RefreshList(*list4Model_, tab4_.ListView4, ws_.ListView4());
  if (batch.Has(Change::kDataSource) || batch.Has(Change::kControls)) {
    ShowControls();
    UpdateEnabled();
  }
}

void TForm1::WatchJob() {
  if (ws_.JobRunning() && !jobWatch_.isActive()) {
    UpdateEnabled();
    jobWatch_.start();
  }
}

void TForm1::JobTick() {
  if (ws_.JobRunning()) {
    if (!wasBusy_) UpdateEnabled();
    return;
  }
  jobWatch_.stop();
  ui_.DrawNow();
  // The lists as the job left them, even if its last notice is still on its way.
  RefreshList(*list2Model_, tab2_.ListView2, ws_.ListView2());
  RefreshList(*list3Model_, tab3_.ListView3, ws_.ListView3());
  RefreshList(*list4Model_, tab4_.ListView4, ws_.ListView4());
  ShowControls();
  UpdateEnabled();
  if (closeRequested_) close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    // The job reads the tables the window's Workspace owns: stop it and let it finish
    // first. The window keeps answering meanwhile; nothing more is asked of the person.
    closeRequested_ = true;
    ws_.ScanStopped().store(true);
    ui_.Shutdown();
    stat1_->setText(QStringLiteral("正在停止任务…(stopping)"));
    setEnabled(false);
    WatchJob();
    event->ignore();
    return;
  }
  // FormClose: the Workspace frees the tables when it goes.
  ui_.Shutdown();
  ws_.ScanStopped().store(true);
  event->accept();
}

}  // namespace ravelin::shell
