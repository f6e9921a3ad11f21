// cardctl's working folder: made private in TMPDIR and gone at the end; a
// folder whose cardctl died is removed by the next one, one whose cardctl
// still runs is not; the removal never follows a link out of the folder.
#include "cardctl/workdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// TMPDIR points at dir for as long as it lives.
struct TmpDir {
  explicit TmpDir(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpDir() {
    if (old_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", old_.c_str(), 1);
  }
  std::string old_;
};

std::vector<std::string> Folders(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("cardctl-", 0) == 0) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A child makes a working folder and a file in it, says where, then either
// dies at once (as kill -9 would leave it) or waits to be killed.
pid_t Child(int pipeWrite, bool stay) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  std::string error;
  auto work = card::cli::WorkFolder::Create(&error);
  if (!work) ::_exit(1);
  testing_support::WriteFile(work->Sub("ledsys") + "/cmd.txt", "a program");
  const std::string path = work->path() + "\n";
  if (::write(pipeWrite, path.data(), path.size()) < 0) ::_exit(2);
  if (stay) ::pause();
  ::_exit(0);
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

TEST(WorkFolder, IsPrivateInTmpdirAndGoneAtTheEnd) {
  testing_support::TempDir dir;
  TmpDir tmp(dir.path());
  std::string path;
  {
    std::string error;
    auto work = card::cli::WorkFolder::Create(&error);
    ASSERT_TRUE(work) << error;
    path = work->path();
    EXPECT_EQ(path.rfind(dir.path() + "/cardctl-", 0), 0u) << path;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    testing_support::WriteFile(work->Sub("a") + "/b.txt", "x");
    ASSERT_TRUE(fs::exists(path + "/a/b.txt"));
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(Folders(dir.path()).empty());
}

TEST(WorkFolder, AFolderWhoseCardctlDiedGoesAtTheNextStartOneStillRunningStays) {
  testing_support::TempDir dir;
  TmpDir tmp(dir.path());
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  // The running one first: a start cleans up what a dead one left.
  const pid_t alive = Child(fds[1], true);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid <= 0) return;
      int status = 0;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
  } reaper{alive};
  const std::string aliveFolder = ReadLine(fds[0]);
  const pid_t dead = Child(fds[1], false);
  const std::string deadFolder = ReadLine(fds[0]);
  int status = 0;
  ::waitpid(dead, &status, 0);
  ASSERT_TRUE(fs::exists(deadFolder + "/ledsys/cmd.txt")) << "left as a killed cardctl leaves it";

  // Without a lock (a folder of an earlier cardctl): only once it is a minute old.
  const std::string old = dir.file("cardctl-oldone"), young = dir.file("cardctl-young1");
  fs::create_directories(old + "/x");
  fs::create_directories(young);
  struct timeval times[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
  ASSERT_EQ(::utimes(old.c_str(), times), 0);
  // A link with our name is not a folder of ours, nor followed.
  testing_support::TempDir outside;
  testing_support::WriteFile(outside.file("keep.txt"), "keep");
  fs::create_directory_symlink(outside.path(), dir.file("cardctl-link00"));

  EXPECT_EQ(card::cli::RemoveStaleWorkFolders(dir.path()), 2);
  EXPECT_FALSE(fs::exists(deadFolder));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(aliveFolder + "/ledsys/cmd.txt"));
  EXPECT_TRUE(fs::exists(young));
  EXPECT_TRUE(fs::exists(outside.file("keep.txt")));

  ::kill(alive, SIGKILL);
  ::waitpid(alive, &status, 0);
  reaper.pid = -1;
  std::string error;
  auto next = card::cli::WorkFolder::Create(&error);
  ASSERT_TRUE(next) << error;
  EXPECT_FALSE(fs::exists(aliveFolder)) << "its cardctl is gone now";
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(WorkFolder, RemoveTreeTakesEverythingBelowButNeverFollowsALink) {
  testing_support::TempDir dir, outside;
  testing_support::WriteFile(outside.file("keep.txt"), "keep");
  const std::string root = dir.file("tree");
  fs::create_directories(root + "/a/b/c");
  for (int i = 0; i < 300; ++i) testing_support::WriteFile(root + "/a/b/file" + std::to_string(i) + ".txt", "x");
  fs::create_directory_symlink(outside.path(), root + "/a/link");
  fs::create_symlink(outside.file("keep.txt"), root + "/file-link");
  EXPECT_TRUE(card::cli::RemoveTree(root.c_str()));
  EXPECT_FALSE(fs::exists(root));
  EXPECT_TRUE(fs::exists(outside.file("keep.txt")));
  EXPECT_TRUE(card::cli::RemoveTree((root + "-never-was").c_str())) << "nothing to remove is no failure";
}
