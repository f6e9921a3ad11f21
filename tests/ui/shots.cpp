// Renders the windows off-screen to PNG files, for a person to look at:
//   ui_shots <folder> [prefix]   (QT_SCALE_FACTOR=1.5 for the 150 % rendering)
// With a prefix only the windows whose file name starts with it are drawn.
// Not a test: it checks nothing, it only draws.
#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "params/advanced_dialog.h"
#include "params/panel_driver_dialog.h"
#include "modbus/master_table_dialog.h"
#include "modbus/monitor_dialog.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "storage/script_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "wizard/wizard_window.h"

namespace {

QString onlyPrefix;

void Save(QWidget& w, const QString& folder, const QString& name) {
  if (!name.startsWith(onlyPrefix)) return;
  w.show();
  QApplication::processEvents();
  const QString path = folder + "/" + name + ".png";
  w.grab().save(path);
  std::printf("%s\n", path.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  onlyPrefix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  testing_support::TempDir dir;
  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  card::WindowLinks links;
  auto record = testing_support::CardRecord("192.168.1.20");
  auto search = std::make_unique<testing_support::FakeChannel>(&clock);
  auto command = std::make_unique<testing_support::FakeChannel>(&clock);
  search->setDatagrams(true);
  auto* s = search.get();
  auto* c = command.get();
  s->onSend([s, record](const std::string& line) {
    if (line == "query all_in_strut \n") s->queueReply(testing_support::Bytes(record));
  });
  c->onSend([c, record](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") c->queueReply(testing_support::Bytes(record));
  });
  links.search = std::move(search);
  links.command = std::move(command);
  links.file = std::make_unique<testing_support::FakeChannel>(&clock);
  links.recovery = std::make_unique<testing_support::FakeChannel>(&clock);
  card::SysCfg cfg(dir.file("SysCfg.ini"));
  cfg.setServerIp("192.168.1.5");
  card::CCardSetupDlg window(std::move(links), cfg, cancellable, processes, &user);
  window.show();
  window.Start();
  while (window.workers().running() > 0 || window.busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  Save(window, folder, "main_window");
  // The parameter dialogs over the opened card's record.
  card::CELL_PARA driver(window.toolEnv(), window.state().record(),
                         std::make_unique<testing_support::FakeChannel>(&clock), &window);
  Save(driver, folder, "panel_driver");
  card::MoreSetting advanced(window.toolEnv(), window.state().record(),
                             std::make_unique<testing_support::FakeChannel>(&clock), &window);
  Save(advanced, folder, "advanced");
  // The recognition wizard's windows over the panel driver dialog.
  card::HScan_Regon screen(&driver);
  screen.setQuestion(QString::fromUtf8(card::kAskFullyLit));
  Save(screen, folder, "wizard_screen_question");
  card::Continue_line line(&driver);
  line.setQuestion(QString::fromStdString(platform::Format(card::kAskPointsInLine, 5)));
  Save(line, folder, "wizard_point_line");
  card::Regonize_DHS points(&driver);
  Save(points, folder, "wizard_point_count");
  card::Regonize_DZSU square(&driver);
  square.setQuestion(QString::fromUtf8(card::kAskSquare));
  Save(square, folder, "wizard_square");
  card::CCountdownDlg countdown(&driver);
  countdown.Start(8);
  countdown.Update(5, 38);
  Save(countdown, folder, "wizard_countdown");
  // The request table with a row past the 20th and a code the card does not
  // take, and the monitor's frame view over a request, its reply and noise.
  {
    card::DeviceStatusRecord copy = window.state().record();
    card::modbus::MasterTableDialog table(window.toolEnv(), std::make_unique<testing_support::FakeChannel>(&clock),
                                          copy, &window);
    card::modbus::RequestRecord r;
    r.master = 1, r.slave = 1, r.address = 0, r.function = 3, r.count = 2, r.divisor = 1, r.multiplier = 1;
    table.AddRow(r);
    r.function = 5, r.count = 1;
    table.AddRow(r);
    r.function = 16, r.count = 200;
    table.AddRow(r);
    Save(table, folder, "modbus_table");
  }
  if (QString("monitor").startsWith(onlyPrefix)) {
    card::modbus::MonitorDialog monitor(window.toolEnv(), std::make_unique<testing_support::FakeChannel>(&clock),
                                        &window);
    monitor.typeList()->setCurrentIndex(card::modbus::kMonitorRtu);
    const std::int64_t at = clock.now();
    monitor.queue().Push({std::string("\x00\x01\x03\x00\x00\x00\x02\xC4", 8), at, card::modbus::kMonitorRtu});
    monitor.queue().Push({std::string("\x0B\x01\x03\x04\x03\xE8\x03\xF2\xFB\x36hello", 15), at + 40,
                          card::modbus::kMonitorRtu});
    monitor.Drain();
    Save(monitor, folder, "monitor");
  }
  // The script editor over a card whose script holds bytes that are no GBK.
  if (QString("script_edit").startsWith(onlyPrefix)) {
    auto scriptLink = std::make_unique<testing_support::FakeChannel>(&clock);
    std::string region = "if a=1\r\n  led 12t 0 0 " + platform::Utf8ToGbk("欢迎光临") + "\r\nname=\xFF\xFE\x81 x\r\n" +
                         "path=c:\\logs\r\nend\r\n";
    region.resize(4096, '\0');
    scriptLink->queueReply(region);
    card::Script_Edit script(window.toolEnv(), std::move(scriptLink), 39, &window);
    while (script.operationRunning()) QApplication::processEvents(QEventLoop::AllEvents, 20);
    Save(script, folder, "script_edit");
  }
  return 0;
}
