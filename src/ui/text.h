// Small things every window shares: texts between the core's UTF-8 strings
// and Qt, a label that names its field for assistive technology, and the
// "确定" / "取消" row.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include <string>

#include "platform/i18n.h"

namespace ui {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
// A text of the windows in the chosen language (the source is the Chinese).
inline QString T(const char* source) { return QString::fromUtf8(platform::Tr(source)); }
// The same under a context (see platform::TrC).
inline QString TC(const char* context, const char* source) {
  return QString::fromUtf8(platform::TrC(context, source));
}
inline std::string S(const QString& s) { return s.toStdString(); }

// A label in front of its field; the buddy makes the field known to screen
// readers and GUI automation under the label's text.
inline QLabel* BuddyLabel(const QString& text, QWidget* field) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  return label;
}

// The "确定" / "取消" pair at the foot of a dialog, right-aligned, "确定"
// the default button. The dialog connects them.
struct OkCancel {
  QPushButton* ok;
  QPushButton* cancel;
  QHBoxLayout* row;
};
inline OkCancel OkCancelRow() {
  OkCancel b{new QPushButton(T("确定")), new QPushButton(T("取消")), new QHBoxLayout};
  b.ok->setDefault(true);
  b.cancel->setAutoDefault(false);
  b.row->addStretch(1);
  b.row->addWidget(b.ok);
  b.row->addWidget(b.cancel);
  return b;
}

}  // namespace ui
