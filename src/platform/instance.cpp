#include "platform/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

// A folder the lock may live in: a real directory (no symlink) of our own
// that nobody else can write to.
bool OwnFolder(const std::string& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::vector<std::string> InstanceLock::DefaultPlaces(const std::string& name) {
  std::vector<std::string> places;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) places.emplace_back(runtime);
  if (const char* home = std::getenv("HOME"); home && *home) places.push_back(std::string(home) + "/.cache");
  std::string tmp = "/tmp/" + name + "-" + std::to_string(::geteuid());
  ::mkdir(tmp.c_str(), 0700);
  places.push_back(tmp);
  return places;
}

InstanceLock::InstanceLock(const std::string& name) : InstanceLock(name, DefaultPlaces(name)) {}

InstanceLock::InstanceLock(const std::string& name, const std::vector<std::string>& places) {
  for (const std::string& dir : places) {
    if (!OwnFolder(dir)) continue;
    const std::string path = dir + "/" + name + ".lock";
    // O_NOFOLLOW: a link planted at the lock's name is not followed.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) continue;
    // flock is released by the kernel when the process ends, however it ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      state_ = State::Acquired;
      return;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    if (held) {
      state_ = State::HeldElsewhere;
      return;
    }
  }
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
