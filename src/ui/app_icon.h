// The tool's icon, drawn rather than shipped: a small sign of lit LEDs.
#pragma once

#include <QIcon>

namespace ui {

QIcon AppIcon();

}  // namespace ui
