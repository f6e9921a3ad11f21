// "查看设备": opening a card by its address, for cards that do not answer the
// broadcast search.
#pragma once

#include <QDialog>

#include "core/syscfg.h"

namespace ui {
class Ipv4Edit;
}

namespace card {

class Connect_IP : public QDialog {
  Q_OBJECT
 public:
  explicit Connect_IP(SysCfg cfg, QWidget* parent = nullptr);
  // The address taken when "确定" was pressed; empty until then.
  QString result() const { return result_; }
  ui::Ipv4Edit* addressField() const { return address_; }

 private:
  void Confirm();

  SysCfg cfg_;
  ui::Ipv4Edit* address_;
  QString result_;
};

}  // namespace card
