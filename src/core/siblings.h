// The sibling programs in subsys/ (program editors, firmware loader): started
// when not already running, never waited for.
#pragma once

#include <string>

#include "platform/process.h"

namespace card {

enum class SiblingStart { Started, AlreadyRunning, Failed };

class Siblings {
 public:
  // subsysDir ends with a separator.
  Siblings(platform::ProcessPort& processes, std::string subsysDir)
      : processes_(processes), subsysDir_(std::move(subsysDir)) {}

  // program without its extension ("fwloader"); the executable name of the
  // platform is added.
  SiblingStart StartIfNotRunning(const std::string& program);
  bool IsRunning(const std::string& program);
  const std::string& subsysDir() const { return subsysDir_; }

 private:
  platform::ProcessPort& processes_;
  std::string subsysDir_;
};

// What the user is told when a sibling program cannot be started.
std::string SiblingStartFailedText(const std::string& program);

}  // namespace card
