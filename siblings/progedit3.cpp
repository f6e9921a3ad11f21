// Stand-in for the synchronised-display program: it starts and shows the
// card address the tool handed it through SysCfg.ini.
#include <QApplication>
#include <QTimer>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>

#include "core/syscfg.h"
#include "platform/tooldir.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  card::SysCfg cfg(platform::ToolDir() + "SysCfg.ini");

  QWidget window;
  window.setWindowTitle(QStringLiteral(u"同步显示"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"设备IP"), new QLabel(QString::fromStdString(cfg.remoteIp())));
  auto* note = new QLabel(QStringLiteral(u"同步显示程序（替身）：只显示控制卡参数配置工具交给它的设置。"));
  auto* close = new QPushButton(QStringLiteral(u"关闭"));
  QObject::connect(close, &QPushButton::clicked, &window, &QWidget::close);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(close);
  window.resize(360, 140);
  window.show();
  // CARD_SHOT=<png>: render the window, save it and end (screenshots).
  if (const char* shot = std::getenv("CARD_SHOT"))
    QTimer::singleShot(100, &window, [&window, shot] { QApplication::exit(window.grab().save(shot) ? 0 : 1); });
  return app.exec();
}
