// Starts cardsim as a child process, waits for its "ready" line, and stops
// it again. The child dies with its parent, so a crashed test leaves no
// virtual cards behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace harness {

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // False with a message when it does not start or is not ready in time.
  bool Start(const std::string& path, const std::vector<std::string>& args, int readyTimeoutMs, std::string* error);
  // SIGTERM, then SIGKILL if it has not ended within 3 s. Returns its exit status.
  int Stop();
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

}  // namespace harness
