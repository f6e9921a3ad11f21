#include "platform/workdir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/tooldir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderName = "cardsetup/";
constexpr std::array<const char*, 2> kDefaultFiles = {"SysCfg.ini", "PlC1MEM.datr"};
constexpr const char* kProgramTree = "ledsys";
constexpr int kProgramSlots = 8;

// Writable for this user, and not made read-only by its mode: a folder
// someone locked with chmod stays locked for root as well.
bool WritableFolder(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) != 0 &&
         ::access(dir.c_str(), W_OK) == 0;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The program files are found without regard to case (a read-back writes
// cmd.txt, an upload reads CMD.txt), so a cmd3/ the user already has is
// slot 3's folder and no second CMD3/ is made beside it: the name of the
// entry of dir that matches name, or name itself when there is none.
std::string EntryNoCase(const std::string& dir, const std::string& name) {
  std::error_code ec;
  std::string found;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (Lower(entry) == Lower(name) && (found.empty() || entry < found)) found = std::move(entry);
  }
  return found.empty() ? name : found;
}

bool MakeFolder(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return DirectoryExists(dir);
}

// Copies from to a new file to, whole, unless to already exists: written to
// a temporary name first and then linked into place, so a second process
// seeding at the same moment, or a kill half-way, never leaves half a file
// or replaces one.
bool CopyIfMissing(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return true;
  std::string bytes;
  if (!ReadWholeFile(from, &bytes)) return false;
  std::string tmp = to + ".seedXXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  if (ok && ::fchmod(fd, 0644) != 0) ok = false;
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::link(tmp.c_str(), to.c_str()) != 0 && errno != EEXIST) ok = false;
  ::unlink(tmp.c_str());
  return ok;
}

WorkingFolder Problem(WorkingFolder folder, WorkingFolderProblem problem, std::string path) {
  folder.problem = problem;
  folder.problemPath = std::move(path);
  return folder;
}

// The ledsys/ tree of the defaults: folders made, regular files copied where
// missing; links and anything else are left behind.
bool CopyTree(const std::string& from, const std::string& to, std::string* failed) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string target = to + fs::relative(it->path(), from, ec).string();
    if (ec) break;
    if (it->is_symlink(ec)) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(ec)) {
      if (!MakeFolder(target)) return *failed = target, false;
    } else if (it->is_regular_file(ec) && !CopyIfMissing(it->path().string(), target)) {
      return *failed = target, false;
    }
  }
  return true;
}

}  // namespace

UserDirs UserDirsFromEnvironment() {
  UserDirs dirs;
  if (const char* v = std::getenv("XDG_DATA_HOME")) dirs.xdgDataHome = v;
  if (const char* v = std::getenv("HOME")) dirs.home = v;
  return dirs;
}

std::string PerUserFolder(const UserDirs& dirs) {
  // Relative values are ignored, as the XDG base directory rules ask.
  if (!dirs.xdgDataHome.empty() && dirs.xdgDataHome[0] == '/') return dirs.xdgDataHome + "/" + kFolderName;
  std::string home = dirs.home;
  if (home.empty() || home[0] != '/') {
    home.clear();
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') home = pw->pw_dir;
  }
  if (home.empty()) return {};
  return home + "/.local/share/" + kFolderName;
}

WorkingFolder ChooseWorkingFolder(const std::string& installDir, const UserDirs& dirs) {
  WorkingFolder folder;
  const std::string subsys = installDir + "subsys/";
  if (!DirectoryExists(installDir + "defaults/") && WritableFolder(subsys)) {
    folder.path = subsys;
    return folder;
  }
  folder.perUser = true;
  folder.path = PerUserFolder(dirs);
  if (folder.path.empty()) folder.problem = WorkingFolderProblem::NoHome;
  return folder;
}

WorkingFolder PrepareWorkingFolder(const std::string& installDir, const UserDirs& dirs) {
  WorkingFolder folder = ChooseWorkingFolder(installDir, dirs);
  if (!folder.perUser || !folder.ready()) return folder;
  if (!MakeFolder(folder.path)) return Problem(folder, WorkingFolderProblem::CannotCreate, folder.path);
  if (!WritableFolder(folder.path)) return Problem(folder, WorkingFolderProblem::NotWritable, folder.path);

  const std::string defaults = installDir + "defaults/";
  const std::string source = DirectoryExists(defaults) ? defaults : installDir + "subsys/";
  for (const char* name : kDefaultFiles) {
    if (!FileExists(source + name)) continue;
    if (!CopyIfMissing(source + name, folder.path + name))
      return Problem(folder, WorkingFolderProblem::CannotCopy, folder.path + name);
  }
  const std::string programs = folder.path + EntryNoCase(folder.path, kProgramTree) + "/";
  if (!MakeFolder(programs)) return Problem(folder, WorkingFolderProblem::CannotCreate, programs);
  if (const std::string from = source + EntryNoCase(source, kProgramTree) + "/"; DirectoryExists(from)) {
    std::string failed;
    if (!CopyTree(from, programs, &failed)) return Problem(folder, WorkingFolderProblem::CannotCopy, failed);
  }
  for (int n = 1; n <= kProgramSlots; ++n) {
    const std::string slot = programs + EntryNoCase(programs, Format("CMD%d", n));
    if (!MakeFolder(slot)) return Problem(folder, WorkingFolderProblem::CannotCreate, slot);
  }
  if (!MakeFolder(folder.path + "logs")) return Problem(folder, WorkingFolderProblem::CannotCreate, folder.path + "logs");
  return folder;
}

const WorkingFolder& TheWorkingFolder() {
  static const WorkingFolder folder = PrepareWorkingFolder(InstallDir(), UserDirsFromEnvironment());
  return folder;
}

std::string WorkingDir() { return TheWorkingFolder().path; }

std::string UserFilesDir() {
  // Only decided here: the window made the folder ready when it started.
  const WorkingFolder folder = ChooseWorkingFolder(InstallDir(), UserDirsFromEnvironment());
  return folder.perUser && folder.ready() ? folder.path : ToolDir();
}

}  // namespace platform
