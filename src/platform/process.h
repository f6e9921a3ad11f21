// Running sibling programs: is one running (by executable name, compared
// without regard to case), and start one detached, without waiting for it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class ProcessPort {
 public:
  virtual ~ProcessPort() = default;
  virtual bool IsRunning(std::string_view executableName) = 0;
  // Starts the program at path ("open"); false when it could not be started.
  virtual bool Start(const std::string& path) = 0;
};

// The operating system's process table (/proc) and a detached start.
class SystemProcesses : public ProcessPort {
 public:
  bool IsRunning(std::string_view executableName) override;
  bool Start(const std::string& path) override;
};

}  // namespace platform
