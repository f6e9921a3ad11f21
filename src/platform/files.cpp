#include "platform/files.h"

#include <cerrno>
#include <cstdio>
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

bool WriteFileAtomic(const std::string& path, const void* data, std::size_t length) {
  if (path.empty() || path.back() == '/') return false;
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
  }
  std::string tmpl = path + ".tmpXXXXXX";
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
