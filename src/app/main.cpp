// CardSetup: one instance per user, the working folder made ready, the
// adapter choice when SysCfg.ini asks for it, the driver bound from subsys/,
// then the main window.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/adapter_dialog.h"
#include "core/syscfg.h"
#include "app/main_window.h"
#include "link/driver_binding.h"
#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/tooldir.h"
#include "platform/version.h"
#include "platform/workdir.h"
#include "ui/app_icon.h"
#include "ui/message_port.h"

namespace {

std::string WorkingFolderProblemText(const platform::WorkingFolder& folder) {
  using P = platform::WorkingFolderProblem;
  switch (folder.problem) {
    case P::None: break;
    case P::NoHome: return "找不到用户主目录，无法建立工作文件夹";
    case P::CannotCreate: return "无法创建工作文件夹：" + folder.problemPath;
    case P::NotWritable: return "工作文件夹不可写：" + folder.problemPath;
    case P::CannotCopy: return "无法把默认设置复制到工作文件夹：" + folder.problemPath;
  }
  return {};
}

constexpr const char* kUsage =
    "用法：cardsetup [选项]\n"
    "控制卡参数配置工具：搜索局域网中的LED控制卡，读取并修改其参数。\n"
    "\n"
    "  --version         显示版本号\n"
    "  --working-folder  显示工作文件夹（SysCfg.ini、节目文件所在处），需要时创建它\n"
    "  --help            显示本帮助\n";

// The few options that need no window; Qt's own options pass through to
// QApplication. Returns the exit status, or -1 to go on and start the window.
int HandleOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("cardsetup %s\n", platform::kToolVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--working-folder") == 0) {
      const platform::WorkingFolder& folder = platform::TheWorkingFolder();
      if (!folder.ready()) {
        std::fprintf(stderr, "%s\n", WorkingFolderProblemText(folder).c_str());
        return 1;
      }
      std::printf("%s\n", folder.path.c_str());
      return 0;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = HandleOptions(argc, argv); status >= 0) return status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("CardSetup"));
  QApplication::setWindowIcon(ui::AppIcon());

  ui::MessagePort messages(nullptr, QStringLiteral("CardSetup"));
  // Only another running instance stops the start; a lock that cannot be
  // taken anywhere does not.
  platform::InstanceLock instance("MutexName");
  if (instance.heldElsewhere()) {
    messages.Message("CardTool已经在运行！！！", {}, card::Icon::Information);
    return 0;
  }

  // An installed copy keeps SysCfg.ini and the working files in the user's
  // own folder, made from the installed defaults at the first start.
  if (const platform::WorkingFolder& folder = platform::TheWorkingFolder(); !folder.ready()) {
    messages.Message(WorkingFolderProblemText(folder), card::kTitleError, card::Icon::Error);
    return 1;
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
    messages.Message("加载pcomm.dll失败", card::kTitleError, card::Icon::Error);
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
  window.setSiblingProgramDir(platform::SubsysPath(""));
  window.show();
  window.Start();
  return app.exec();
}
