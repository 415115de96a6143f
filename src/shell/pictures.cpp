#include "shell/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ravelin::shell {
namespace {

// A sheet with a folded corner and text lines; `header` marks page 0 with a band across the
// top, the file header.
QPixmap PageImage(int size, bool header) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 16.0;
  QPainterPath sheet;
  sheet.moveTo(2.5 * s, 0.5 * s);
  sheet.lineTo(10 * s, 0.5 * s);
  sheet.lineTo(13.5 * s, 4 * s);
  sheet.lineTo(13.5 * s, 15.5 * s);
  sheet.lineTo(2.5 * s, 15.5 * s);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(40, 40, 40), s));
  p.setBrush(QColor(252, 252, 246));
  p.drawPath(sheet);
  p.setBrush(QColor(205, 205, 196));
  p.drawPolygon(
      QPolygonF({QPointF(10 * s, 0.5 * s), QPointF(10 * s, 4 * s), QPointF(13.5 * s, 4 * s)}));
  if (header) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 40, 30));
    p.drawRect(QRectF(3.2 * s, 4.6 * s, 9.6 * s, 3.2 * s));
  }
  p.setPen(QPen(QColor(70, 90, 140), s));
  for (qreal y = header ? 9.5 : 5.5; y < 15; y += 2)
    p.drawLine(QPointF(4.5 * s, y * s), QPointF(11.5 * s, y * s));
  return pixmap;
}

}  // namespace

std::vector<QIcon> ListImages() {
  std::vector<QIcon> images;
  for (const bool header : {false, true}) {
    QIcon icon;
    for (const int size : {16, 32}) icon.addPixmap(PageImage(size, header));
    images.push_back(icon);
  }
  return images;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64}) icon.addPixmap(PageImage(size, true));
  return icon;
}

QPixmap RecoveryPicture(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(QColor(236, 242, 232));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal h = height;

  // The disk: a platter seen from above, with its spindle.
  const QPointF centre(h * 0.42, h * 0.5);
  const qreal r = h * 0.36;
  QRadialGradient platter(centre, r);
  platter.setColorAt(0, QColor(220, 222, 228));
  platter.setColorAt(1, QColor(130, 136, 150));
  p.setPen(QPen(QColor(60, 64, 72), 2));
  p.setBrush(platter);
  p.drawEllipse(centre, r, r);
  p.setPen(QPen(QColor(110, 114, 126), 1));
  p.setBrush(Qt::NoBrush);
  for (qreal k = 0.45; k < 1.0; k += 0.18) p.drawEllipse(centre, r * k, r * k);
  p.setBrush(QColor(60, 64, 72));
  p.drawEllipse(centre, r * 0.1, r * 0.1);

  // Fragments leaving the disk, in order, towards the rebuilt file.
  const QPixmap page = PageImage(32, false);
  const QPixmap first = PageImage(32, true);
  const qreal x0 = centre.x() + r + 14;
  const qreal x1 = width - h * 0.42;
  const int steps = 5;
  for (int i = 0; i < steps; ++i) {
    const qreal t = steps > 1 ? static_cast<qreal>(i) / (steps - 1) : 0;
    const qreal x = x0 + t * (x1 - x0 - 40);
    const qreal y = h * 0.5 - 16 + (i % 2 == 0 ? -18 : 18) * (1 - t);
    p.drawPixmap(QPointF(x, y), i == 0 ? first : page);
  }
  p.setPen(QPen(QColor(70, 120, 60), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(x0, h * 0.5 + 30), QPointF(x1 - 8, h * 0.5 + 30));
  p.drawLine(QPointF(x1 - 18, h * 0.5 + 22), QPointF(x1 - 8, h * 0.5 + 30));
  p.drawLine(QPointF(x1 - 18, h * 0.5 + 38), QPointF(x1 - 8, h * 0.5 + 30));

  // The rebuilt database file: a cylinder, as databases are drawn.
  const QRectF body(x1, h * 0.24, h * 0.34, h * 0.52);
  const qreal lid = body.width() * 0.32;
  QLinearGradient side(body.topLeft(), body.topRight());
  side.setColorAt(0, QColor(60, 130, 70));
  side.setColorAt(0.5, QColor(120, 200, 120));
  side.setColorAt(1, QColor(50, 110, 60));
  p.setPen(QPen(QColor(30, 70, 35), 2));
  p.setBrush(side);
  QPainterPath can;
  can.moveTo(body.left(), body.top() + lid / 2);
  can.lineTo(body.left(), body.bottom() - lid / 2);
  can.arcTo(QRectF(body.left(), body.bottom() - lid, body.width(), lid), 180, 180);
  can.lineTo(body.right(), body.top() + lid / 2);
  can.arcTo(QRectF(body.left(), body.top(), body.width(), lid), 0, -180);
  p.drawPath(can);
  p.setBrush(QColor(150, 215, 150));
  p.drawEllipse(QRectF(body.left(), body.top(), body.width(), lid));
  p.setPen(QColor(20, 50, 25));
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(static_cast<int>(h * 0.09));
  p.setFont(font);
  p.drawText(body.adjusted(0, lid, 0, 0), Qt::AlignCenter, QStringLiteral(".mdf"));
  return pixmap;
}

}  // namespace ravelin::shell
