// Small things every window shares: texts between the core's UTF-8 strings
// and Qt, and a label that names its field for assistive technology.
#pragma once

#include <QLabel>
#include <QString>

#include <string>

namespace ui {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// A label in front of its field; the buddy makes the field known to screen
// readers and GUI automation under the label's text.
inline QLabel* BuddyLabel(const QString& text, QWidget* field) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  return label;
}

}  // namespace ui
