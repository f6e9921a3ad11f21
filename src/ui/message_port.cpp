#include "ui/message_port.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/ui_thread.h"

namespace ui {

void MessagePort::Message(const std::string& text, const std::string& title, card::Icon icon) {
  if (closing_) return;
  QObject* target = parent_ ? static_cast<QObject*>(parent_.data()) : qApp;
  RunOnObjectThread(target, [&] {
    if (closing_) return;
    QMessageBox box(parent_);
    box.setWindowTitle(title.empty() ? appTitle_ : QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    switch (icon) {
      case card::Icon::Error: box.setIcon(QMessageBox::Critical); break;
      case card::Icon::Warning: box.setIcon(QMessageBox::Warning); break;
      case card::Icon::Information: box.setIcon(QMessageBox::Information); break;
      case card::Icon::None: break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral(u"确定"));
    box.exec();
  });
}

}  // namespace ui
