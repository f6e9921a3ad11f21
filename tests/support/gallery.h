// Every window and dialog of the tool, built over fakes around a main window
// that has searched and opened a card: what the layout test checks and what
// ui_shots draws, one list for both.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace card {
class CCardSetupDlg;
}

namespace testing_support {

class Gallery {
 public:
  // The main window searches and opens a card while this is built.
  Gallery();
  ~Gallery();

  card::CCardSetupDlg& main();
  // Shows each window in turn (at the size the tool gives it), calls look
  // while it is on the screen, then closes it. Modal boxes (the message
  // port's, the file dialogs) are visited while they run. Only the windows
  // whose name starts with prefix are shown.
  void Walk(const std::function<void(const QString& name, QWidget& window)>& look, const QString& prefix = {});

 private:
  struct Parts;
  std::unique_ptr<Parts> p_;
};

}  // namespace testing_support
