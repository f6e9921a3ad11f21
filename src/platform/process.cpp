#include "platform/process.h"

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>
#include <thread>

#include "platform/files.h"

extern char** environ;

namespace platform {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string BaseName(std::string path) {
  // "(deleted)" marks an executable replaced on disk while it runs.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  std::size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The executable's name of process pid: the target of /proc/pid/exe, or, when
// that is not readable, the first word of its command line.
std::string ProcessName(const std::string& pid) {
  char buf[PATH_MAX];
  std::string dir = "/proc/" + pid;
  ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n > 0) return BaseName(std::string(buf, static_cast<std::size_t>(n)));
  std::string cmdline;
  if (ReadWholeFile(dir + "/cmdline", &cmdline, 4096) && !cmdline.empty())
    return BaseName(cmdline.substr(0, cmdline.find('\0')));
  return {};
}

}  // namespace

bool SystemProcesses::IsRunning(std::string_view executableName) {
  if (executableName.empty()) return false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  std::string self = std::to_string(::getpid());
  while (dirent* e = ::readdir(proc)) {
    std::string pid = e->d_name;
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    if (EqualNoCase(ProcessName(pid), executableName)) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

bool SystemProcesses::Start(const std::string& path) {
  // Spawned directly (no fork of this threaded process) in a session of its
  // own, so it outlives us; a detached thread reaps it so it never lingers
  // as our zombie.
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) return false;
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace platform
