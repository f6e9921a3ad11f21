#include "platform/instance.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

InstanceLock::InstanceLock(const std::string& name, const std::string& dir) {
  std::string where = dir;
  if (where.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    where = (runtime && *runtime) ? runtime : "/tmp";
  }
  std::string path = where + "/" + name + "-" + std::to_string(::getuid()) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // flock is released by the kernel when the process ends, however it ends.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
