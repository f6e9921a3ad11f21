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
  // Spawn through a short-lived child that starts the program in its own
  // session and exits at once: the program outlives us and never becomes our
  // zombie.
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    pid_t grandchild;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    int rc = ::posix_spawn(&grandchild, path.c_str(), nullptr, nullptr, argv, environ);
    ::_exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform
