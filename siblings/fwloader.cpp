// Stand-in for the firmware loader: it starts, shows what the tool handed it
// through SysCfg.ini (the card's address and whether the card was found in
// its recovery state), and does nothing else.
#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "core/syscfg.h"
#include "platform/ini.h"
#include "platform/tooldir.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The loader lives in subsys/, next to SysCfg.ini.
  card::SysCfg cfg(platform::ToolDir() + "SysCfg.ini");
  const QString address = QString::fromStdString(cfg.remoteIp());
  const bool recovery = cfg.read("LEDPARA", "Restore_En", "0", 10) == "1";

  QWidget window;
  window.setWindowTitle(QStringLiteral(u"固件升级"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"设备IP"), new QLabel(address));
  form->addRow(QStringLiteral(u"恢复模式"), new QLabel(recovery ? QStringLiteral(u"是") : QStringLiteral(u"否")));
  auto* note = new QLabel(QStringLiteral(u"固件下载程序（替身）：只显示控制卡参数配置工具交给它的设置。"));
  auto* close = new QPushButton(QStringLiteral(u"关闭"));
  QObject::connect(close, &QPushButton::clicked, &window, &QWidget::close);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(close);
  window.resize(360, 160);
  window.show();
  return app.exec();
}
