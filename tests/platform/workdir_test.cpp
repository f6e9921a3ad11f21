// The working folder: the build tree keeps its subsys/, an installed copy
// moves to the user's own folder, made from the installed defaults, and
// nothing is ever written inside the installation.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/files.h"
#include "platform/tooldir.h"
#include "platform/workdir.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

namespace fs = std::filesystem;

void MakeDir(const std::string& path) { fs::create_directories(path); }

// Every path below root with its size and mode, to see that nothing changed.
std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    out.insert(e.path().string() + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mode) + " " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec));
  }
  return out;
}

// An installation as a package lays it out: the driver in subsys/, the
// defaults beside it.
struct Installation {
  TempDir dir;
  std::string top = dir.path() + "/lib/cardsetup/";
  std::string home = dir.path() + "/home";
  std::string table = std::string(1350, '\x26');

  explicit Installation(bool packaged) {
    MakeDir(top + "subsys");
    WriteFile(top + "subsys/pcomm.so", "driver");
    MakeDir(home);
    if (packaged) {
      MakeDir(top + "defaults");
      WriteFile(top + "defaults/SysCfg.ini", "[IsShowMulNetCard]\nIsShowMulNetCard=1\n");
      WriteFile(top + "defaults/PlC1MEM.datr", table);
    }
  }
  platform::UserDirs user() const { return {"", home}; }
  std::string perUser() const { return home + "/.local/share/cardsetup/"; }
};

void ExpectSkeleton(const std::string& folder) {
  for (int n = 1; n <= 8; ++n)
    EXPECT_TRUE(platform::DirectoryExists(folder + "ledsys/CMD" + std::to_string(n))) << n;
  EXPECT_TRUE(platform::DirectoryExists(folder + "logs"));
  // The slots stay without working files: an upload must still find none
  // rather than send an empty program over the card's.
  EXPECT_FALSE(platform::FileExists(folder + "ledsys/CMD1/CMD.txt"));
}

TEST(WorkingFolder, BuildTreeKeepsItsOwnSubsysAndTouchesNothingElse) {
  Installation build(false);
  WriteFile(build.top + "subsys/SysCfg.ini", "[ServerIP]\nServerIP=127.0.0.1\n");
  const auto before = Tree(build.dir.path());

  platform::WorkingFolder f = platform::PrepareWorkingFolder(build.top, build.user());
  EXPECT_TRUE(f.ready());
  EXPECT_FALSE(f.perUser);
  EXPECT_EQ(f.path, build.top + "subsys/");
  EXPECT_EQ(Tree(build.dir.path()), before);
}

TEST(WorkingFolder, InstalledCopyIsSeededIntoTheUsersFolderEvenWhenItsOwnIsWritable) {
  // Root may write anywhere; the defaults/ folder still marks an installed
  // copy, so nothing lands inside it.
  Installation installed(true);
  const auto installTree = Tree(installed.top);

  platform::WorkingFolder f = platform::PrepareWorkingFolder(installed.top, installed.user());
  ASSERT_TRUE(f.ready());
  EXPECT_TRUE(f.perUser);
  EXPECT_EQ(f.path, installed.perUser());
  EXPECT_EQ(ReadFile(f.path + "SysCfg.ini"), "[IsShowMulNetCard]\nIsShowMulNetCard=1\n");
  EXPECT_EQ(ReadFile(f.path + "PlC1MEM.datr"), installed.table);
  ExpectSkeleton(f.path);
  EXPECT_FALSE(platform::FileExists(f.path + "pcomm.so"));
  EXPECT_EQ(Tree(installed.top), installTree);
}

TEST(WorkingFolder, ReadOnlyBuildTreeMovesToTheUsersFolderWithItsOwnFiles) {
  Installation build(false);
  const std::string subsys = build.top + "subsys/";
  WriteFile(subsys + "SysCfg.ini", "[ServerIP]\nServerIP=10.0.0.5\n");
  MakeDir(subsys + "ledsys/CMD3");
  WriteFile(subsys + "ledsys/CMD3/CMD.txt", "slot three\n");
  ASSERT_EQ(::chmod(subsys.c_str(), 0555), 0);
  const auto installTree = Tree(build.top);

  platform::WorkingFolder f = platform::PrepareWorkingFolder(build.top, build.user());
  ASSERT_TRUE(f.ready());
  EXPECT_TRUE(f.perUser);
  EXPECT_EQ(ReadFile(f.path + "SysCfg.ini"), "[ServerIP]\nServerIP=10.0.0.5\n");
  EXPECT_EQ(ReadFile(f.path + "ledsys/CMD3/CMD.txt"), "slot three\n");
  EXPECT_FALSE(platform::FileExists(f.path + "PlC1MEM.datr"));  // there was none to copy
  EXPECT_FALSE(platform::FileExists(f.path + "pcomm.so"));
  ExpectSkeleton(f.path);
  EXPECT_EQ(Tree(build.top), installTree);
}

TEST(WorkingFolder, LaterStartsKeepTheUsersFilesAndOnlyFillWhatIsMissing) {
  Installation installed(true);
  const std::string folder = installed.perUser();
  ASSERT_TRUE(platform::PrepareWorkingFolder(installed.top, installed.user()).ready());

  WriteFile(folder + "SysCfg.ini", "[ServerIP]\nServerIP=192.168.1.5\n");
  fs::remove(folder + "PlC1MEM.datr");
  // The user's own lower-case slot folder is slot 3 (names match without
  // regard to case): no second CMD3 beside it.
  fs::remove(folder + "ledsys/CMD3");
  MakeDir(folder + "ledsys/cmd3");
  WriteFile(folder + "ledsys/cmd3/cmd.txt", "mine\n");

  platform::WorkingFolder f = platform::PrepareWorkingFolder(installed.top, installed.user());
  ASSERT_TRUE(f.ready());
  EXPECT_EQ(ReadFile(folder + "SysCfg.ini"), "[ServerIP]\nServerIP=192.168.1.5\n");
  EXPECT_EQ(ReadFile(folder + "PlC1MEM.datr"), installed.table);
  EXPECT_FALSE(fs::exists(folder + "ledsys/CMD3"));
  EXPECT_EQ(ReadFile(folder + "ledsys/cmd3/cmd.txt"), "mine\n");
  // No temporary file of the copies is left behind.
  for (const auto& e : fs::directory_iterator(folder))
    EXPECT_EQ(e.path().filename().string().find(".seed"), std::string::npos) << e.path();
}

TEST(WorkingFolder, FolderThatCannotBeMadeOrWrittenIsReported) {
  Installation installed(true);
  // ~/.local is a file: the folder cannot be made.
  WriteFile(installed.home + "/.local", "");
  platform::WorkingFolder f = platform::PrepareWorkingFolder(installed.top, installed.user());
  EXPECT_EQ(f.problem, platform::WorkingFolderProblem::CannotCreate);
  EXPECT_EQ(f.problemPath, installed.perUser());

  // A folder locked read-only is refused, for root as well.
  const std::string locked = installed.dir.path() + "/data";
  MakeDir(locked + "/cardsetup");
  ASSERT_EQ(::chmod((locked + "/cardsetup").c_str(), 0555), 0);
  f = platform::PrepareWorkingFolder(installed.top, {locked, installed.home});
  EXPECT_EQ(f.problem, platform::WorkingFolderProblem::NotWritable);
  EXPECT_EQ(f.problemPath, locked + "/cardsetup/");
  EXPECT_FALSE(platform::FileExists(locked + "/cardsetup/SysCfg.ini"));
}

TEST(WorkingFolder, UserFolderFollowsTheXdgRules) {
  EXPECT_EQ(platform::PerUserFolder({"/data/u", "/home/u"}), "/data/u/cardsetup/");
  // A relative XDG_DATA_HOME is ignored, as is an empty one.
  EXPECT_EQ(platform::PerUserFolder({"data", "/home/u"}), "/home/u/.local/share/cardsetup/");
  EXPECT_EQ(platform::PerUserFolder({"", "/home/u"}), "/home/u/.local/share/cardsetup/");
  // Without HOME the password database names the home.
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(platform::PerUserFolder({"", ""}), std::string(pw->pw_dir) + "/.local/share/cardsetup/");
  EXPECT_EQ(platform::PerUserFolder({"", "relative"}), std::string(pw->pw_dir) + "/.local/share/cardsetup/");

  // The sibling programs live in subsys/ and share the installation above it.
  EXPECT_EQ(platform::InstallDirOf("/usr/lib/cardsetup/subsys/"), "/usr/lib/cardsetup/");
  EXPECT_EQ(platform::InstallDirOf("/work/build/"), "/work/build/");
  EXPECT_EQ(platform::InstallDirOf("/work/subsystem/"), "/work/subsystem/");
}

}  // namespace
