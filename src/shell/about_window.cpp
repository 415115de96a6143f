#include "shell/about_window.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ravelin::shell {

QWidget* MakeAboutWindow(QWidget* parent) {
  auto* about = new QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint);
  about->setObjectName(QStringLiteral("frmabout"));
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->setWindowTitle(QStringLiteral("关于"));

  auto* group = new QGroupBox(QStringLiteral("程序作者"), about);
  group->setObjectName(QStringLiteral("grpauthor"));
  auto* lines = new QLabel(group);
  lines->setObjectName(QStringLiteral("lblcontact"));
  lines->setText(QStringLiteral("Ravelin Recover for SQLSERVER (Ravelin Scan) %1\n\n"
                                "从磁盘、分区或镜像文件中找回被删除的 SQL Server 数据文件(.mdf)。\n"
                                "Ravelin Recover 项目组\n\n"
                                "问题与建议：请在本项目的问题跟踪中提交，\n"
                                "并附上扫描信息(Memo)中的出错行。\n"
                                "数据很重要时，请先为磁盘做一份镜像，再从镜像恢复。")
                     .arg(QStringLiteral(RAVELIN_VERSION)));
  lines->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(lines);

  auto* ok = new QPushButton(QStringLiteral("确定"), about);
  ok->setObjectName(QStringLiteral("btnaboutok"));
  QObject::connect(ok, &QPushButton::clicked, about, &QWidget::close);
  auto* layout = new QVBoxLayout(about);
  layout->addWidget(group);
  layout->addWidget(ok, 0, Qt::AlignRight);
  about->setFixedSize(about->sizeHint());
  return about;
}

}  // namespace ravelin::shell
