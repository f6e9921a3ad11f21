// Screenshots of the windows under test, for the developer to look at: with
// CARD_SHOTS_DIR set, the widget is grabbed into that folder (never into the
// repository).
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <cstdlib>

namespace ui {

inline void MaybeShoot(QWidget* widget, const char* name) {
  const char* dir = std::getenv("CARD_SHOTS_DIR");
  if (!dir || !*dir) return;
  if (!widget->isVisible()) widget->show();
  QCoreApplication::processEvents();
  QDir().mkpath(QString::fromLocal8Bit(dir));
  widget->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name)));
}

}  // namespace ui
