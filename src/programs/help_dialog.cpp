#include "programs/help_dialog.h"
#include "ui/text.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace card {

const std::vector<HelpTopic>& Help::topics() {
  static const std::vector<HelpTopic> kTopics = {
      {TR_NOOP("如何恢复出厂设置"), "restore_factory.html"}, {TR_NOOP("如何修改IP地址"), "change_ip.html"},
      {TR_NOOP("如何识别目标显示板"), "identify_panel.html"}, {TR_NOOP("如何对设备固件升级"), "firmware_upgrade.html"},
      {TR_NOOP("如何修改字体库"), "font_library.html"},      {TR_NOOP("如何做二次开发"), "secondary_development.html"},
      {TR_NOOP("如何导出控制卡数据"), "export_data.html"},    {TR_NOOP("如何做数采仪对接"), "data_logger.html"},
      {TR_NOOP("如何做485传感器采集"), "rs485_sensor.html"},
  };
  return kTopics;
}

Help::Help(QString helpDir, UserPort& user, QWidget* parent, Opener opener)
    : QDialog(parent), helpDir_(std::move(helpDir)), user_(user), opener_(std::move(opener)) {
  if (!opener_) opener_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  setWindowTitle(ui::T("帮助"));
  auto* grid = new QGridLayout;
  const auto& all = topics();
  for (std::size_t i = 0; i < all.size(); ++i) {
    auto* button = new QPushButton(ui::T(all[i].button));
    button->setMinimumSize(200, 56);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, topic = all[i]] { Open(topic); });
    grid->addWidget(button, static_cast<int>(i / 3), static_cast<int>(i % 3));
  }
  const ui::OkCancel buttons = ui::OkCancelRow();
  connect(buttons.ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons.row);
}

void Help::Open(const HelpTopic& topic) {
  const QString path = pagePath(topic);
  if (!QFileInfo::exists(path)) {
    user_.Message(ui::T("找不到帮助页面：\n%1\n请重新安装本软件。").arg(path).toStdString(), kTitleError,
                  Icon::Error);
    return;
  }
  // Without a browser (or any handler for pages) the user still learns
  // where the page lies and can open it by hand.
  if (!opener_(QUrl::fromLocalFile(path)))
    user_.Message(ui::T("无法打开帮助页面，请用浏览器打开：\n%1").arg(path).toStdString(), kTitleNotice,
                  Icon::Information);
}

}  // namespace card
