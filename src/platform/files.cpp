#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace platform {

bool ReadWholeFile(const std::string& path, std::string* out, std::size_t maxBytes) {
  out->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buf[65536];
  while (out->size() < maxBytes) {
    std::size_t want = std::min(sizeof buf, maxBytes - out->size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool IsWritableFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & S_IWUSR) != 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

std::string gScratch;

bool IsScratch(const std::string& path) {
  return !gScratch.empty() && path.size() > gScratch.size() && path.compare(0, gScratch.size(), gScratch) == 0 &&
         path[gScratch.size()] == '/';
}

constexpr const char* kTempSuffix = ".tmp";
// A temporary file this old was left by a write that was killed mid-way; a
// younger one may belong to a write still under way in another process.
constexpr std::time_t kStaleTempSeconds = 60;

void RemoveStaleTemporaries(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  const std::string dir = cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
  const std::string prefix = (cut == std::string::npos ? path : path.substr(cut + 1)) + kTempSuffix;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const std::time_t now = std::time(nullptr);
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    // mkstemp's six characters follow the prefix.
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string full = dir + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        now - st.st_mtime > kStaleTempSeconds)
      ::unlink(full.c_str());
  }
  ::closedir(d);
}

// The file a path names once its symbolic links are followed: a write goes
// to that file and the links stay links. A path that is no link is itself.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return path;
    target.resize(static_cast<std::size_t>(n));
    const std::size_t cut = path.rfind('/');
    path = target[0] == '/' || cut == std::string::npos ? target : path.substr(0, cut + 1) + target;
  }
  return path;
}

}  // namespace

void SetScratchDirectory(const std::string& dir) {
  gScratch = dir;
  while (gScratch.size() > 1 && gScratch.back() == '/') gScratch.pop_back();
}

bool WriteFileAtomic(const std::string& linkOrPath, const void* data, std::size_t length) {
  const std::string path = FollowLinks(linkOrPath);
  if (path.empty() || path.back() == '/') return false;
  RemoveStaleTemporaries(path);
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
  }
  std::string tmpl = path + kTempSuffix + "XXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  std::size_t left = length;
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fchmod(fd, mode) != 0) ok = false;
  // On disk before it replaces the old file: a power cut leaves the old
  // content or the new one, never an empty file.
  if (ok && !IsScratch(path) && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmpl.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmpl.c_str());
  return ok;
}

int WriteFileMakingDirs(const std::string& path, const void* data, std::size_t length) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  std::size_t cut = p.rfind('/');
  if (cut != std::string::npos) {
    std::string dir = p.substr(0, cut);
    if (!dir.empty() && dir != "." && dir != ".." && !DirectoryExists(dir)) {
      for (std::size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        std::string prefix = dir.substr(0, at);
        if (!DirectoryExists(prefix) && ::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
          return 0;
      }
      if (!DirectoryExists(dir) && ::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return 0;
    }
  }
  return WriteFileAtomic(p, data, length) ? 1 : 0;
}

}  // namespace platform
