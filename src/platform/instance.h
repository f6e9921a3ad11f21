// Single-instance guard: the first process to take the named lock keeps it
// until it exits; a second one is told that the tool already runs.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
 public:
  // dir: where the lock file lives (default: the user's runtime directory).
  explicit InstanceLock(const std::string& name, const std::string& dir = {});
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when this process holds the lock.
  bool acquired() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
