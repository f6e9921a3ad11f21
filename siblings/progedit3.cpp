// Stand-in for the synchronised-display program: it starts and shows the
// card address the tool handed it through SysCfg.ini.
#include "core/syscfg.h"
#include "standin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  card::SysCfg cfg = card::SysCfg::ForTool();
  return RunStandIn(app, QStringLiteral(u"同步显示"),
                    {{QStringLiteral(u"设备IP"), QString::fromStdString(cfg.remoteIp())}},
                    QStringLiteral(u"同步显示程序（替身）：只显示控制卡参数配置工具交给它的设置。"));
}
