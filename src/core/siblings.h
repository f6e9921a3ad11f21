// The sibling programs in subsys/ (program editors, firmware loader): started
// when not already running, never waited for.
#pragma once

#include <string>

#include "platform/process.h"

namespace card {

enum class SiblingStart { Started, AlreadyRunning, Failed };

class Siblings {
 public:
  // subsysDir: the working folder the siblings share with the tool
  // (SysCfg.ini, ledsys/); programDir: where their executables are, the
  // same folder unless the installation keeps the working files elsewhere.
  // Both end with a separator.
  Siblings(platform::ProcessPort& processes, std::string subsysDir, std::string programDir = {})
      : processes_(processes),
        subsysDir_(std::move(subsysDir)),
        programDir_(programDir.empty() ? subsysDir_ : std::move(programDir)) {}

  // program without its extension ("fwloader"); the executable name of the
  // platform is added.
  SiblingStart StartIfNotRunning(const std::string& program);
  bool IsRunning(const std::string& program);
  const std::string& subsysDir() const { return subsysDir_; }
  const std::string& programDir() const { return programDir_; }
  // Set before any operation runs (the window does it at start-up).
  void setProgramDir(std::string dir) { programDir_ = std::move(dir); }

 private:
  platform::ProcessPort& processes_;
  std::string subsysDir_;
  std::string programDir_;
};

// What the user is told when a sibling program cannot be started.
std::string SiblingStartFailedText(const std::string& program);

}  // namespace card
