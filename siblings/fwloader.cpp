// Stand-in for the firmware loader: it starts, shows what the tool handed it
// through SysCfg.ini (the card's address and whether the card was found in
// its recovery state), and does nothing else.
#include "core/syscfg.h"
#include "standin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The SysCfg.ini the tool uses, in its working folder.
  card::SysCfg cfg = card::SysCfg::ForTool();
  const bool recovery = cfg.read("LEDPARA", "Restore_En", "0", 10) == "1";
  return RunStandIn(app, QStringLiteral(u"固件升级"),
                    {{QStringLiteral(u"设备IP"), QString::fromStdString(cfg.remoteIp())},
                     {QStringLiteral(u"恢复模式"), recovery ? QStringLiteral(u"是") : QStringLiteral(u"否")}},
                    QStringLiteral(u"固件下载程序（替身）：只显示控制卡参数配置工具交给它的设置。"));
}
