#include "ui/message_port.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/text.h"
#include "ui/ui_thread.h"

namespace ui {

MessagePort::MessagePort(QWidget* parent, QString appTitle) : parent_(parent), appTitle_(std::move(appTitle)) {
  // Built on the UI thread: the queue its workers will use is made here.
  PrepareUiQueue();
}

namespace {

QMessageBox::Icon BoxIcon(card::Icon icon) {
  switch (icon) {
    case card::Icon::Error: return QMessageBox::Critical;
    case card::Icon::Warning: return QMessageBox::Warning;
    case card::Icon::Information: return QMessageBox::Information;
    case card::Icon::Question: return QMessageBox::Question;
    case card::Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void MessagePort::Message(const std::string& text, const std::string& title, card::Icon icon) {
  if (closing_) return;
  QObject* target = parent_ ? static_cast<QObject*>(parent_.data()) : qApp;
  RunOnObjectThread(target, [&] {
    if (closing_) return;
    QMessageBox box(BoxIcon(icon), title.empty() ? appTitle_ : Q(platform::Tr(title)), Q(platform::Tr(text)),
                    QMessageBox::Ok, parent_);
    box.button(QMessageBox::Ok)->setText(T("确定"));
    box.exec();
  });
}

bool MessagePort::Ask(const std::string& text, const std::string& title) {
  if (closing_) return false;
  QObject* target = parent_ ? static_cast<QObject*>(parent_.data()) : qApp;
  bool yes = false;
  RunOnObjectThread(target, [&] {
    if (closing_) return;
    QMessageBox box(QMessageBox::Question, title.empty() ? appTitle_ : Q(platform::Tr(title)),
                    Q(platform::Tr(text)), QMessageBox::Yes | QMessageBox::No, parent_);
    box.button(QMessageBox::Yes)->setText(T("是"));
    box.button(QMessageBox::No)->setText(T("否"));
    box.setDefaultButton(QMessageBox::No);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

std::optional<int> MessagePort::Choose(const std::string& text, const std::string& title,
                                       const std::vector<std::string>& items, int initial) {
  if (closing_ || items.empty()) return std::nullopt;
  QObject* target = parent_ ? static_cast<QObject*>(parent_.data()) : qApp;
  std::optional<int> chosen;
  RunOnObjectThread(target, [&] {
    if (closing_) return;
    QStringList list;
    for (const auto& item : items) list << Q(platform::Tr(item));
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(title.empty() ? appTitle_ : Q(platform::Tr(title)));
    dialog.setLabelText(Q(platform::Tr(text)));
    dialog.setComboBoxItems(list);
    dialog.setComboBoxEditable(false);
    dialog.setTextValue(list.value(initial));
    dialog.setOkButtonText(T("确定"));
    dialog.setCancelButtonText(T("取消"));
    if (dialog.exec() == QDialog::Accepted) {
      const auto at = list.indexOf(dialog.textValue());
      if (at >= 0) chosen = static_cast<int>(at);
    }
  });
  return chosen;
}

}  // namespace ui
