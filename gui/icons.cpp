#include "gui/icons.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "gui/maker.h"

namespace ortavia::ui {

QPixmap StepPixmap(bool ready, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(1.5, 1.5, size - 3.0, size - 3.0);
  if (ready) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(46, 160, 67));
    p.drawEllipse(r);
    QPainterPath tick;
    tick.moveTo(size * 0.28, size * 0.52);
    tick.lineTo(size * 0.44, size * 0.68);
    tick.lineTo(size * 0.74, size * 0.34);
    p.setPen(QPen(Qt::white, size * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
  } else {
    p.setPen(QPen(QColor(150, 150, 150), size * 0.1));
    p.setBrush(QColor(235, 235, 235));
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
  }
  return pm;
}

QIcon AppIcon() {
  QPixmap pm(64, 64);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 64, 64);
  g.setColorAt(0.0, QColor(30, 90, 160));
  g.setColorAt(1.0, QColor(20, 140, 110));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  p.setPen(QPen(Qt::white, 4));
  p.setBrush(Qt::NoBrush);
  // A footprint over a terrain line.
  p.drawPolygon(QPolygonF({QPointF(14, 20), QPointF(48, 14), QPointF(52, 44), QPointF(18, 50)}));
  return QIcon(pm);
}

QPixmap SplashPixmap(const QString& version) {
  QPixmap pm(520, 300);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 520, 300);
  g.setColorAt(0.0, QColor(18, 42, 74));
  g.setColorAt(1.0, QColor(16, 92, 84));
  p.fillRect(pm.rect(), g);
  p.setPen(QPen(QColor(255, 255, 255, 60), 1.5));
  for (int i = 0; i < 9; ++i) {
    const double y = 150 + i * 16;
    QPainterPath contour;
    contour.moveTo(0, y);
    contour.cubicTo(150, y - 40 + i * 3, 330, y + 30 - i * 2, 520, y - 10);
    p.drawPath(contour);
  }
  QFont title = p.font();
  title.setPointSize(34);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(36, 60, 460, 60), Qt::AlignLeft | Qt::AlignVCenter, kProductName);
  QFont sub = p.font();
  sub.setPointSize(12);
  sub.setBold(false);
  p.setFont(sub);
  p.drawText(QRect(38, 120, 460, 24), Qt::AlignLeft, QStringLiteral("Orthorectification of aerial images"));
  p.drawText(QRect(38, 250, 460, 24), Qt::AlignLeft,
             QStringLiteral("Ver. %1  -  %2").arg(version, kMakerName));
  return pm;
}

}  // namespace ortavia::ui
