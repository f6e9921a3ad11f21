#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 36));
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
    // A 4 x 4 grid of LEDs, the diagonal lit red, the rest dim.
    const double cell = size / 4.0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        p.setBrush(x == y || x + y == 3 ? QColor(235, 40, 40) : QColor(90, 30, 30));
        p.drawEllipse(QRectF(x * cell + cell * 0.18, y * cell + cell * 0.18, cell * 0.64, cell * 0.64));
      }
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace ui
