// Finding a window's controls by their text, as a person or GUI automation
// would (widget tests only).
#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

namespace testing_support {

inline QPushButton* FindButton(QWidget* window, const QString& text) {
  for (QPushButton* b : window->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

}  // namespace testing_support
