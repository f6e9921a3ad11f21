// "网卡选择": on a PC with several network adapters, the user picks the one
// the broadcast search leaves through; its address becomes "ServerIP".
#pragma once

#include <QDialog>

#include "core/ports.h"
#include "core/syscfg.h"
#include "platform/adapters.h"

class QCheckBox;
class QTableWidget;

namespace card {

class NetSelect : public QDialog {
  Q_OBJECT
 public:
  NetSelect(platform::AdapterSource& adapters, SysCfg cfg, UserPort& user, QWidget* parent = nullptr);
  // Set when the dialog was closed without choosing an adapter.
  bool cancelled() const { return cancelled_; }
  QTableWidget* list() const { return list_; }
  QCheckBox* dontShowAgain() const { return dontShow_; }

 protected:
  void reject() override;

 private:
  void OnDoubleClick(int row);
  void OnOk();
  void Choose(const QString& address);

  SysCfg cfg_;
  UserPort& user_;
  QTableWidget* list_;
  QCheckBox* dontShow_;
  bool cancelled_ = false;
};

}  // namespace card
