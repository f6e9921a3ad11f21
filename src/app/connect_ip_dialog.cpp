#include "app/connect_ip_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ipv4_edit.h"
#include "ui/text.h"

namespace card {

Connect_IP::Connect_IP(SysCfg cfg, QWidget* parent) : QDialog(parent), cfg_(std::move(cfg)) {
  setWindowTitle(ui::T("查看设备"));
  address_ = new ui::Ipv4Edit;
  // The address used last time; "Error" (no address yet) leaves it empty.
  address_->setAddress(QString::fromStdString(cfg_.remoteIp()));
  auto* form = new QFormLayout;
  auto* label = new QLabel(ui::T("设备IP"));
  label->setBuddy(address_);
  form->addRow(label, address_);
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(ui::T("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(ui::T("取消"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &Connect_IP::Confirm);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  setMinimumWidth(320);
}

void Connect_IP::Confirm() {
  result_ = address_->address();
  cfg_.setRemoteIp(result_.toStdString());
  accept();
}

}  // namespace card
