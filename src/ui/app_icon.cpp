#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QString>

#include <vector>

namespace ui {
namespace {

struct Shape {
  bool led;  // an ellipse; otherwise the board, a rounded rectangle
  QRectF box;
  QColor color;
};

constexpr double kSvgSize = 64;

// A dark board with a 4 x 4 grid of LEDs, the two diagonals lit red, the
// rest dim.
std::vector<Shape> Shapes(double size) {
  std::vector<Shape> shapes{{false, QRectF(0, 0, size, size), QColor(30, 30, 36)}};
  const double cell = size / 4.0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      shapes.push_back({true, QRectF(x * cell + cell * 0.18, y * cell + cell * 0.18, cell * 0.64, cell * 0.64),
                        x == y || x + y == 3 ? QColor(235, 40, 40) : QColor(90, 30, 30)});
  return shapes;
}

double Radius(double size) { return size / 8.0; }

}  // namespace

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  for (const Shape& s : Shapes(size)) {
    p.setBrush(s.color);
    if (s.led) p.drawEllipse(s.box);
    else p.drawRoundedRect(s.box, Radius(size), Radius(size));
  }
  return image;
}

QByteArray AppIconSvg() {
  QString svg = QStringLiteral(
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                    .arg(kSvgSize);
  for (const Shape& s : Shapes(kSvgSize)) {
    if (s.led)
      svg += QStringLiteral("  <ellipse cx=\"%1\" cy=\"%2\" rx=\"%3\" ry=\"%4\" fill=\"%5\"/>\n")
                 .arg(s.box.center().x())
                 .arg(s.box.center().y())
                 .arg(s.box.width() / 2)
                 .arg(s.box.height() / 2)
                 .arg(s.color.name());
    else
      svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n")
                 .arg(s.box.x())
                 .arg(s.box.y())
                 .arg(s.box.width())
                 .arg(s.box.height())
                 .arg(Radius(kSvgSize))
                 .arg(s.color.name());
  }
  svg += QStringLiteral("</svg>\n");
  return svg.toUtf8();
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  return icon;
}

}  // namespace ui
