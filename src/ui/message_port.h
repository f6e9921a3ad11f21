// Message boxes for the operations, shown by the UI thread whichever thread
// asks; the asking worker waits until the user has closed the box.
#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>

#include "core/ports.h"

namespace ui {

class MessagePort : public card::UserPort {
 public:
  // parent: the window the boxes belong to; appTitle: the title of boxes
  // that ask for the application's own title.
  MessagePort(QWidget* parent, QString appTitle);
  void Message(const std::string& text, const std::string& title, card::Icon icon) override;
  bool Ask(const std::string& text, const std::string& title) override;
  std::optional<int> Choose(const std::string& text, const std::string& title, const std::vector<std::string>& items,
                            int initial) override;
  // Once the window closes, messages are no longer shown.
  void setClosing() { closing_ = true; }

 private:
  QPointer<QWidget> parent_;
  QString appTitle_;
  std::atomic<bool> closing_{false};
};

}  // namespace ui
