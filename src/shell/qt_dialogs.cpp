#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "shell/dialogs.h"
#include "shell/qstring_utf8.h"
#include "shell/successor_dialog.h"

namespace ravelin::shell {

std::string QtFilterText(std::string_view filter) {
  // Pairs of "description|patterns", patterns separated by ';'.
  const QStringList parts = Q(filter).split('|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    entries << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return entries.join(";;").toStdString();
}

QtDialogs::QtDialogs() = default;
QtDialogs::~QtDialogs() = default;

void QtDialogs::AskSuccessor(QWidget* parent, SuccessorChoice& dialog) {
  if (!successor_ || successorState_ != &dialog) {
    successor_ = std::make_unique<Tfrmuserchoose>(
        dialog, [this, &dialog] { if (save_) save_(dialog); }, parent);
    successorState_ = &dialog;
  }
  successor_->Ask();
}

void QtDialogs::Message(QWidget* parent, std::string_view text, std::string_view caption,
                        MessageIcon icon) {
  QMessageBox::Icon qtIcon = QMessageBox::Information;
  if (icon == MessageIcon::kWarning) qtIcon = QMessageBox::Warning;
  if (icon == MessageIcon::kError) qtIcon = QMessageBox::Critical;
  if (icon == MessageIcon::kQuestion) qtIcon = QMessageBox::Question;
  QMessageBox box(qtIcon, Q(caption), Q(text), QMessageBox::Ok, parent);
  box.exec();
}

bool QtDialogs::AskYesNo(QWidget* parent, std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
  box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
  box.exec();
  return box.clickedButton() == yes;
}

namespace {

std::optional<std::string> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace

std::optional<std::string> QtDialogs::OpenFile(QWidget* parent, std::string_view title,
                                               std::string_view filter) {
  return Chosen(QFileDialog::getOpenFileName(parent, Q(title), QString(),
                                             filter.empty() ? QString() : Q(QtFilterText(filter))));
}

std::optional<std::string> QtDialogs::SaveFile(QWidget* parent, std::string_view title,
                                               std::string_view proposedName) {
  // The dialog asks before an existing file is replaced: a scan-info or MDF file chosen by
  // a slip of the mouse would otherwise be lost without a word.
  return Chosen(QFileDialog::getSaveFileName(parent, Q(title), Q(proposedName)));
}

std::optional<std::string> QtDialogs::ChooseFolder(QWidget* parent, std::string_view title) {
  return Chosen(
      QFileDialog::getExistingDirectory(parent, Q(title), QString(), QFileDialog::ShowDirsOnly));
}

}  // namespace ravelin::shell
