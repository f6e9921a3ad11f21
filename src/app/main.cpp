// CardSetup: one instance per user, the adapter choice when SysCfg.ini asks
// for it, the driver bound from subsys/, then the main window.
#include <QApplication>

#include "app/adapter_dialog.h"
#include "core/syscfg.h"
#include "app/main_window.h"
#include "link/driver_binding.h"
#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/i18n.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/text.h"
#include "ui/app_icon.h"
#include "ui/message_port.h"

namespace {

// "--lang en" (or "--lang=en") chooses the language for this run, above the
// per-user setting and the locale.
std::string LanguageArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--lang" && i + 1 < argc) return argv[i + 1];
    if (arg.rfind("--lang=", 0) == 0) return arg.substr(7);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  platform::LanguageSources languages = platform::LanguageSources::FromEnvironment();
  languages.explicitChoice = LanguageArgument(argc, argv);
  languages.userSetting = platform::ReadLanguageSetting();
  platform::UseLanguage(languages);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("CardSetup"));
  QApplication::setWindowIcon(ui::AppIcon());

  ui::MessagePort messages(nullptr, QStringLiteral("CardSetup"));
  // Only another running instance stops the start; a lock that cannot be
  // taken anywhere does not.
  platform::InstanceLock instance("MutexName");
  if (instance.heldElsewhere()) {
    messages.Message(platform::Tr("CardTool已经在运行！！！"), {}, card::Icon::Information);
    return 0;
  }

  card::SysCfg cfg = card::SysCfg::ForTool();
  if (cfg.showAdapterDialog()) {
    platform::SystemAdapters adapters;
    card::NetSelect select(adapters, cfg, messages);
    select.exec();
    if (select.cancelled()) return 0;
  }

  auto driver = card::DriverLibrary::LoadFromToolDir();
  if (!driver) {
    messages.Message(platform::Tr("加载pcomm.dll失败"), card::kTitleError, card::Icon::Error);
    return 0;
  }
  // The link configuration carries "server field:port field" of the still
  // empty panel; the driver does not read it back.
  const std::string linkText = platform::Format("%s:%d", "0.0.0.0", 0);
  card::WindowLinks links;
  links.search = driver->CreateSearch();
  links.command = driver->CreateLink(card::kCommandPort, linkText);
  links.file = driver->CreateLink(card::kFilePort, linkText);
  links.recovery = driver->CreateLink(card::kRecoveryPort, linkText);
  // The tool dialogs make their links from the library loaded here.
  links.makeLink = [driver, linkText](int port) { return driver->CreateLink(port, linkText); };

  // CARD_CLOCK_SCALE shortens every pause in proportion (demos against
  // virtual cards); a real installation runs at full time.
  platform::ScaledClock base(platform::ClockScaleFromEnvironment(1.0));
  platform::CancellableClock clock(base);
  platform::SystemProcesses processes;
  card::CCardSetupDlg window(std::move(links), cfg, clock, processes);
  window.show();
  window.Start();
  return app.exec();
}
