// The tool's icon, drawn rather than shipped: a small sign of lit LEDs. The
// window's pixmaps, the installed PNG sizes and the installed SVG are one
// drawing.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace ui {

QIcon AppIcon();
// The drawing at size x size pixels, on a transparent background.
QImage AppIconImage(int size);
// The same drawing as an SVG document of 64 x 64 units.
QByteArray AppIconSvg();

}  // namespace ui
