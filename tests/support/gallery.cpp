#include "support/gallery.h"

#include <QApplication>
#include <QTableWidget>
#include <QTimer>

#include "app/adapter_dialog.h"
#include "app/connect_ip_dialog.h"
#include "app/main_window.h"
#include "modbus/master_table_dialog.h"
#include "modbus/monitor_dialog.h"
#include "modbus/register_view_dialog.h"
#include "params/advanced_dialog.h"
#include "params/panel_driver_dialog.h"
#include "platform/adapters.h"
#include "platform/text.h"
#include "programs/firmware_dialog.h"
#include "programs/help_dialog.h"
#include "programs/program_slots.h"
#include "storage/flash_save_dialog.h"
#include "storage/script_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "ui/file_port.h"
#include "ui/message_port.h"
#include "ui/text.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace testing_support {
namespace {

class Adapters : public platform::AdapterSource {
 public:
  bool List(std::vector<platform::Adapter>* out) override {
    *out = {{"Intel(R) Ethernet Connection I219-LM", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {"192.168.1.5"}},
            {"Realtek USB GbE Family Controller", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F}, {"10.0.0.7"}}};
    return true;
  }
};

using Look = std::function<void(const QString& name, QWidget& window)>;

}  // namespace

struct Gallery::Parts {
  TempDir dir;
  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  FakeUser user{&clock};
  FakeFiles files;
  FakeProcesses processes;
  std::unique_ptr<card::CCardSetupDlg> window;

  std::unique_ptr<FakeChannel> Link() { return std::make_unique<FakeChannel>(&clock); }
  card::ToolEnv Env() {
    card::ToolEnv env = window->toolEnv();
    env.user = &user;
    env.files = &files;
    return env;
  }
};

Gallery::Gallery() : p_(std::make_unique<Parts>()) {
  card::WindowLinks links;
  auto record = CardRecord("192.168.1.20");
  auto search = p_->Link();
  auto command = p_->Link();
  search->setDatagrams(true);
  auto* s = search.get();
  auto* c = command.get();
  s->onSend([s, record](const std::string& line) {
    if (line == "query all_in_strut \n") s->queueReply(Bytes(record));
  });
  c->onSend([c, record](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") c->queueReply(Bytes(record));
  });
  links.search = std::move(search);
  links.command = std::move(command);
  links.file = p_->Link();
  links.recovery = p_->Link();
  card::SysCfg cfg(p_->dir.file("SysCfg.ini"));
  cfg.setServerIp("192.168.1.5");
  p_->window = std::make_unique<card::CCardSetupDlg>(std::move(links), cfg, p_->cancellable, p_->processes, &p_->user);
  p_->window->show();
  p_->window->Start();
  while (p_->window->workers().running() > 0 || p_->window->busy())
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  // Open the card, as a double click on its row does.
  if (auto* list = p_->window->findChild<QTableWidget*>()) emit list->cellDoubleClicked(0, 2);
  while (p_->window->workers().running() > 0 || p_->window->busy())
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

Gallery::~Gallery() = default;

card::CCardSetupDlg& Gallery::main() { return *p_->window; }

void Gallery::Walk(const Look& look, const QString& prefix) {
  auto wanted = [&](const char* name) { return QString::fromLatin1(name).startsWith(prefix); };
  auto visit = [&](const char* name, QWidget& w) {
    if (!wanted(name)) return;
    w.show();
    QApplication::processEvents();
    look(QString::fromLatin1(name), w);
    w.hide();
  };
  // A modal box is visited from inside its own event loop, then dismissed.
  auto visitModal = [&](const char* name, const std::function<void()>& open) {
    if (!wanted(name)) return;
    QTimer::singleShot(0, [&] {
      QApplication::processEvents();
      if (QWidget* box = QApplication::activeModalWidget()) {
        look(QString::fromLatin1(name), *box);
        if (auto* d = qobject_cast<QDialog*>(box)) d->reject();
      }
    });
    open();
  };
  card::CCardSetupDlg& main = *p_->window;
  const card::DeviceStatusRecord record = main.state().record();

  visit("main_window", main);
  {
    Adapters adapters;
    card::NetSelect d(adapters, card::SysCfg(p_->dir.file("SysCfg.ini")), p_->user, &main);
    visit("adapter", d);
  }
  {
    card::Connect_IP d(card::SysCfg(p_->dir.file("SysCfg.ini")), &main);
    visit("connect_ip", d);
  }
  {
    card::DeviceStatusRecord copy = record;
    card::MoreSetting d(p_->Env(), copy, p_->Link(), &main);
    visit("advanced", d);
  }
  {
    card::DeviceStatusRecord copy = record;
    card::CELL_PARA driver(p_->Env(), copy, p_->Link(), &main);
    visit("panel_driver", driver);
    // The recognition wizard's windows, over the panel driver dialog.
    card::HScan_Regon screen(&driver);
    screen.setQuestion(ui::T(card::kAskFullyLit));
    visit("wizard_screen_question", screen);
    card::Continue_line line(&driver);
    line.setQuestion(ui::Q(platform::Format(platform::Tr(card::kAskPointsInLine), 5)));
    visit("wizard_point_line", line);
    card::Regonize_DHS points(&driver);
    visit("wizard_point_count", points);
    card::Regonize_DZSU square(&driver);
    square.setQuestion(ui::T(card::kAskSquare));
    visit("wizard_square", square);
    card::CCountdownDlg countdown(&driver);
    countdown.Start(8);
    countdown.Update(5, 38);
    visit("wizard_countdown", countdown);
  }
  {
    card::PSW d(&main);
    visit("password", d);
  }
  {
    card::Help d(QStringLiteral("/nonexistent/"), p_->user, &main, [](const QUrl&) { return true; });
    visit("help", d);
  }
  {
    card::DeviceStatusRecord copy = record;
    card::modbus::MasterTableDialog d(p_->Env(), p_->Link(), copy, &main);
    d.WaitForOperation();
    visit("modbus_master_table", d);
    card::modbus::AddRequestDialog add(&p_->user, &d);
    visit("modbus_add_request", add);
  }
  {
    card::modbus::RegisterViewDialog d(p_->Env(), p_->Link(), &main);
    d.WaitForOperation();
    visit("modbus_register_view", d);
    card::modbus::SingleWriteDialog single(0, &p_->user, &d);
    visit("modbus_single_write", single);
  }
  {
    card::modbus::MonitorDialog d(p_->Env(), p_->Link(), &main);
    visit("modbus_monitor", d);
  }
  {
    card::FlashSave d(p_->Env(), p_->Link(), &main);
    d.WaitForOperation();
    visit("flash_save", d);
  }
  {
    card::Script_Edit d(p_->Env(), p_->Link(), 39, &main);
    d.WaitForOperation();
    visit("script", d);
  }
  // The message port's boxes and the file dialogs, as the operations meet them.
  ui::MessagePort port(&main, QStringLiteral("CardSetup"));
  visitModal("message_error", [&] { port.Message(card::kMsgNotConnected, card::kTitleError, card::Icon::Error); });
  visitModal("message_question", [&] { port.Ask(card::kMsgFormatQuestion, card::kTitleNotice); });
  visitModal("message_choice", [&] {
    port.Choose(card::kAskPointCount, card::kTitleNotice, {"1-- 正", "2-- 负"}, 0);
  });
  ui::FileDialogs files(&main);
  visitModal("file_open", [&] { files.OpenFile({"打开", "Bin Files (*.txt);;All Files (*.*)", p_->dir.path(), {}}); });
  visitModal("file_save", [&] { files.SaveFile({"另存文件", "Bin Files (*.txt);;All Files (*)", p_->dir.path(), "cmd.txt"}); });
}

}  // namespace testing_support
