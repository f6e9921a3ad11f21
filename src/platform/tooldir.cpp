#include "platform/tooldir.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string ToolDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<std::size_t>(n));
  std::size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
}

std::string InstallDirOf(const std::string& toolDir) {
  constexpr std::string_view kSubsys = "/subsys/";
  if (toolDir.size() > kSubsys.size() && toolDir.ends_with(kSubsys))
    return toolDir.substr(0, toolDir.size() - kSubsys.size() + 1);
  return toolDir;
}

std::string InstallDir() { return InstallDirOf(ToolDir()); }

std::string SubsysPath(std::string_view name) {
  return InstallDir() + "subsys/" + std::string(name);
}

std::string ExecutableFileName(std::string_view base) { return std::string(base); }

std::string DriverFileName() { return "pcomm.so"; }

}  // namespace platform
