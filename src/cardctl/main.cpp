// cardctl: the window's card operations from a terminal, for installers who
// set up many signs. Results go to stdout, progress and messages to stderr;
// the exit status is 0 only when everything asked was done.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cardctl/commands.h"
#include "cardctl/options.h"
#include "cardctl/texts.h"
#include "cardctl/workdir.h"
#include "link/driver_binding.h"
#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/version.h"

using namespace card::cli;

int main(int argc, char** argv) {
  const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    std::cerr << cl.error << "\n";
    return kExitRefused;
  }
  if (cl.version) {
    std::cout << "cardctl " << platform::kToolVersion << "\n";
    return kExitOk;
  }
  if (cl.command.empty() || cl.command == "help" || cl.help) {
    std::string topic = cl.command == "help" ? (cl.positional.empty() ? "" : cl.positional[0]) : cl.command;
    if (!topic.empty() && !FindCommand(topic)) {
      std::cerr << platform::Format(Tr("未知命令 %s", "unknown command %s").c_str(), topic.c_str()) << "\n"
                << HelpText({});
      return kExitRefused;
    }
    (cl.command.empty() && !cl.help ? std::cerr : std::cout) << HelpText(topic);
    return cl.command.empty() && !cl.help ? kExitRefused : kExitOk;
  }

  // The working folder and its clean-up come before any other thread.
  std::string error;
  std::unique_ptr<WorkFolder> work = WorkFolder::Create(&error);
  if (!work) {
    std::cerr << Tr("无法建立临时工作目录：", "cannot make the working folder: ") << error << "\n";
    return kExitFailed;
  }
  InstallSignalCleanup(work.get());
  // What passes through the working folder is gone at the end: no need to sync it to disk.
  platform::SetScratchDirectory(work->path());

  auto driver = cl.has("--driver") ? card::DriverLibrary::Load(cl.get("--driver")) : card::DriverLibrary::LoadFromToolDir();
  if (!driver) {
    std::cerr << Tr("加载pcomm.dll失败", "could not load the communication driver") << "\n";
    return kExitFailed;
  }
  platform::ScaledClock clock(platform::ClockScaleFromEnvironment(1.0));
  platform::SystemAdapters adapters;
  ToolEnv env{std::cout, std::cerr, std::cin};
  env.interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
  env.links = [driver](int port) { return driver->CreateLink(port); };
  env.search = [driver] { return driver->CreateSearch(); };
  env.adapters = &adapters;
  env.clock = &clock;
  env.work = work.get();
  env.version = platform::kToolVersion;
  const int status = RunCommand(cl, env);
  std::cout.flush();
  return status;
}
