#include "programs/firmware_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace card {

PSW::PSW(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"管理员（密码是826）"));
  field_ = new QLineEdit;
  field_->setEchoMode(QLineEdit::Password);
  field_->setMaxLength(kMaxTyped);
  auto* label = new QLabel(QStringLiteral(u"请输入管理员密码："));
  label->setBuddy(field_);
  auto* ok = new QPushButton(QStringLiteral(u"确定"));
  auto* cancel = new QPushButton(QStringLiteral(u"取消"));
  ok->setDefault(true);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(field_);
  layout->addLayout(buttons);
  setMinimumWidth(320);
}

void PSW::done(int result) {
  typed_ = result == QDialog::Accepted ? field_->text().toStdString() : std::string();
  QDialog::done(result);
}

}  // namespace card
