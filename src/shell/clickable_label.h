// A label that answers a click, as `Label7` ("使  用  说 明") does.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace ravelin::shell {

class ClickableLabel final : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
      emit clicked();
    QLabel::mouseReleaseEvent(event);
  }
};

}  // namespace ravelin::shell
