#include "cardctl/workdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace card::cli {
namespace {

constexpr const char* kPrefix = "cardctl-";
constexpr const char* kLock = "lock";
// A folder without a lock this old is no folder being made.
constexpr std::time_t kUnlockedStaleSeconds = 60;

// What the signal paths remove: copied once, read without allocation.
char gFolder[4096] = {};
std::mutex gHold;

// Removes the entries of the open directory dirFd, then the directory name
// below parentFd. Only system calls: safe in a signal handler.
bool RemoveBelow(int parentFd, const char* name, int depth) {
  if (depth > 32) return false;
  const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ::unlinkat(parentFd, name, 0) == 0 || errno == ENOENT;
  bool ok = true;
  alignas(8) char buf[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      struct Entry {
        unsigned long long ino;
        long long off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
      };
      const Entry* e = reinterpret_cast<const Entry*>(buf + at);
      at += e->reclen;
      const char* child = e->name;
      if ((child[0] == '.' && child[1] == '\0') || (child[0] == '.' && child[1] == '.' && child[2] == '\0')) continue;
      if (e->type == DT_DIR) {
        ok = RemoveBelow(fd, child, depth + 1) && ok;
      } else if (::unlinkat(fd, child, 0) != 0 && errno != ENOENT) {
        // An unknown type may be a folder after all.
        ok = (errno == EISDIR && RemoveBelow(fd, child, depth + 1)) && ok;
      }
    }
  }
  ::close(fd);
  return (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) && ok;
}

const int kAsyncSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                             SIGXCPU, SIGXFSZ, SIGPOLL, SIGSTKFLT, SIGPWR};
const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

void OnFault(int sig) {
  if (gFolder[0]) RemoveTree(gFolder);
  // SA_RESETHAND put the default back: the fault ends the process as it would have.
  ::raise(sig);
}

}  // namespace

std::string TemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

bool RemoveTree(const char* path) {
  if (!path || !*path) return false;
  return RemoveBelow(AT_FDCWD, path, 0);
}

std::unique_ptr<WorkFolder> WorkFolder::Create(std::string* error) {
  const std::string dir = TemporaryDirectory();
  RemoveStaleWorkFolders(dir);
  std::string tmpl = dir + "/" + kPrefix + "XXXXXX";
  if (!::mkdtemp(tmpl.data())) {
    *error = dir + ": " + std::strerror(errno);
    return nullptr;
  }
  // The lock appears under its name only once it is held, so a cardctl
  // starting meanwhile never takes this folder for a stale one.
  const std::string fresh = tmpl + "/" + kLock + ".new", lock = tmpl + "/" + kLock;
  const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(fresh.c_str(), lock.c_str()) != 0) {
    *error = tmpl + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    RemoveTree(tmpl.c_str());
    return nullptr;
  }
  return std::unique_ptr<WorkFolder>(new WorkFolder(tmpl, fd));
}

WorkFolder::~WorkFolder() {
  std::lock_guard<std::mutex> hold(gHold);
  RemoveTree(path_.c_str());
  gFolder[0] = '\0';
  ::close(lockFd_);
}

std::string WorkFolder::Sub(const std::string& name) const {
  std::string p = path_ + "/" + name;
  ::mkdir(p.c_str(), 0700);
  return p;
}

int RemoveStaleWorkFolders(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int removed = 0;
  const std::time_t now = std::time(nullptr);
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(kPrefix, 0) != 0) continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    const int fd = ::open((path + "/" + kLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    bool stale = false;
    if (fd >= 0) {
      // Whoever made it holds this lock for as long as it runs.
      stale = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    } else {
      stale = errno == ENOENT && now - st.st_mtime > kUnlockedStaleSeconds;
    }
    if (stale && RemoveTree(path.c_str())) ++removed;
    if (fd >= 0) ::close(fd);
  }
  ::closedir(d);
  return removed;
}

void InstallSignalCleanup(const WorkFolder* folder) {
  if (folder && folder->path().size() < sizeof gFolder) std::strcpy(gFolder, folder->path().c_str());
  ::signal(SIGPIPE, SIG_IGN);

  struct sigaction fault {};
  fault.sa_handler = OnFault;
  fault.sa_flags = SA_RESETHAND;
  sigemptyset(&fault.sa_mask);
  for (int sig : kFaultSignals) ::sigaction(sig, &fault, nullptr);

  static sigset_t set;
  sigemptyset(&set);
  for (int sig : kAsyncSignals) sigaddset(&set, sig);
  // Every thread started from now on inherits the mask: only the one below takes them.
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([] {
    int sig = 0;
    while (::sigwait(&set, &sig) != 0) {
    }
    {
      std::lock_guard<std::mutex> hold(gHold);
      if (gFolder[0]) RemoveTree(gFolder);
      gFolder[0] = '\0';
    }
    // End the way the signal would have ended us.
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig);
  }).detach();
}

SignalHold::SignalHold() { gHold.lock(); }
SignalHold::~SignalHold() { gHold.unlock(); }

}  // namespace card::cli
