#include "programs/firmware_dialog.h"
#include "ui/text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace card {

PSW::PSW(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ui::T("管理员（密码是826）"));
  field_ = new QLineEdit;
  field_->setEchoMode(QLineEdit::Password);
  field_->setMaxLength(kMaxTyped);
  auto* label = new QLabel(ui::T("请输入管理员密码："));
  label->setBuddy(field_);
  const ui::OkCancel buttons = ui::OkCancelRow();
  connect(buttons.ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(field_);
  layout->addLayout(buttons.row);
  setMinimumWidth(320);
}

void PSW::done(int result) {
  typed_ = result == QDialog::Accepted ? field_->text().toStdString() : std::string();
  QDialog::done(result);
}

}  // namespace card
