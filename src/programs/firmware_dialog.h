// The administrator password of "固件升级": a small form with a masked field.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

namespace card {

class PSW : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMaxTyped = 259;

  explicit PSW(QWidget* parent = nullptr);
  // What was typed when "确定" closed the dialog; empty after "取消" or the
  // close box.
  const std::string& typed() const { return typed_; }

 protected:
  void done(int result) override;

 private:
  QLineEdit* field_;
  std::string typed_;
};

}  // namespace card
