#include "app/adapter_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/text.h"
#include "ui/text.h"

namespace card {

NetSelect::NetSelect(platform::AdapterSource& adapters, SysCfg cfg, UserPort& user, QWidget* parent)
    : QDialog(parent), cfg_(std::move(cfg)), user_(user) {
  setWindowTitle(ui::T("网卡选择"));
  list_ = new QTableWidget(0, 4);
  list_->setAccessibleName(ui::T("网卡选择"));
  list_->setHorizontalHeaderLabels(
      {ui::T("序号"), ui::T("网卡适配器"), ui::T("IP地址"), ui::T("Mac地址")});
  const int widths[] = {60, 230, 180, 280};
  for (int c = 0; c < 4; ++c) list_->setColumnWidth(c, widths[c]);
  list_->verticalHeader()->hide();
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  std::vector<platform::Adapter> table;
  if (adapters.List(&table)) {
    int number = 1;
    for (const platform::Adapter& a : table) {
      int row = list_->rowCount();
      list_->insertRow(row);
      const auto& m = a.mac;
      // Of several addresses, the last one stays in the column.
      QString address = a.ipv4.empty() ? QStringLiteral("0.0.0.0") : QString::fromStdString(a.ipv4.back());
      QString texts[] = {QString::fromStdString(platform::Format(" %d", number++)),
                         QString::fromStdString(a.description), address,
                         QString::fromStdString(platform::Format("%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2],
                                                                 m[3], m[4], m[5]))};
      for (int c = 0; c < 4; ++c) list_->setItem(row, c, new QTableWidgetItem(texts[c]));
    }
  }
  connect(list_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OnDoubleClick(row); });

  dontShow_ = new QCheckBox(ui::T("不再显示, 使用已选择的网卡"));
  auto* ok = new QPushButton(ui::T("确定"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &NetSelect::OnOk);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(dontShow_);
  bottom->addStretch(1);
  bottom->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(bottom);
  resize(800, 320);
}

void NetSelect::Choose(const QString& address) {
  cfg_.setServerIp(address.toStdString());
  if (dontShow_->isChecked()) cfg_.hideAdapterDialogFromNowOn();
  cancelled_ = false;
  accept();
}

void NetSelect::OnDoubleClick(int row) {
  QTableWidgetItem* item = list_->item(row, 2);
  if (!item) return;
  if (item->text() == QStringLiteral("0.0.0.0")) {
    user_.Message(platform::Tr("无效网卡，请确认网卡连接正常"));
    cancelled_ = true;
    return;
  }
  Choose(item->text());
}

void NetSelect::OnOk() {
  const auto rows = list_->selectionModel()->selectedRows();
  if (rows.isEmpty()) {
    user_.Message(platform::Tr("请选择一个网卡！"));
    return;
  }
  // This path stores "0.0.0.0" too.
  Choose(list_->item(rows.first().row(), 2)->text());
}

void NetSelect::reject() {
  cancelled_ = true;
  QDialog::reject();
}

}  // namespace card
