#include "netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace harness {
namespace {

bool WriteProcFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

std::string BringLoopbackUp() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return std::string("socket: ") + std::strerror(errno);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  std::string error;
  if (::ioctl(s, SIOCGIFFLAGS, &ifr) != 0) {
    error = std::string("SIOCGIFFLAGS lo: ") + std::strerror(errno);
  } else {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
    if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0) error = std::string("SIOCSIFFLAGS lo: ") + std::strerror(errno);
  }
  ::close(s);
  return error;
}

}  // namespace

std::string EnterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) {
    int first = errno;
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
      return std::string("network namespaces are not allowed here (unshare: ") + std::strerror(first) + ", " +
             std::strerror(errno) + ")";
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
      return "cannot map the user into the new user namespace";
  }
  return BringLoopbackUp();
}

}  // namespace harness
