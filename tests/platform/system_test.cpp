// Single-instance lock, process walk and start, and the adapter table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "platform/adapters.h"
#include "platform/files.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/tooldir.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(InstanceLock, SecondHolderIsRefusedAndAnUnopenablePlaceIsSkipped) {
  TempDir dir;
  const std::string blocked = dir.file("blocked"), own = dir.file("own");
  ::mkdir(blocked.c_str(), 0700);
  ::mkdir(own.c_str(), 0700);
  // Another user's lock file, or a planted link, where ours would go.
  ASSERT_EQ(::symlink("/etc/passwd", (blocked + "/MutexName.lock").c_str()), 0);
  {
    platform::InstanceLock first("MutexName", {blocked, own});
    ASSERT_TRUE(first.acquired());
    EXPECT_TRUE(platform::FileExists(own + "/MutexName.lock"));
    platform::InstanceLock second("MutexName", {blocked, own});
    EXPECT_TRUE(second.heldElsewhere());
    platform::InstanceLock other("OtherName", {blocked, own});
    EXPECT_TRUE(other.acquired());
  }
  platform::InstanceLock again("MutexName", {blocked, own});
  EXPECT_TRUE(again.acquired());
  // Nowhere to put it: the tool starts all the same.
  platform::InstanceLock nowhere("MutexName", {blocked, dir.file("missing")});
  EXPECT_EQ(nowhere.state(), platform::InstanceLock::State::Unavailable);
  EXPECT_FALSE(nowhere.heldElsewhere());
}

TEST(Processes, FindsARunningProgramWhateverTheCaseOfItsName) {
  platform::SystemProcesses procs;
  std::string dir = platform::ToolDir();
  ASSERT_EQ(dir.back(), '/');
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  ASSERT_GT(n, 0);
  std::string self(buf, static_cast<std::size_t>(n));
  std::string name = self.substr(self.rfind('/') + 1);
  EXPECT_EQ(dir + name, self);
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  EXPECT_TRUE(procs.IsRunning(upper));
  EXPECT_TRUE(procs.IsRunning(name));
  EXPECT_FALSE(procs.IsRunning("no-such-program-x7"));
  EXPECT_FALSE(procs.IsRunning(""));
}

TEST(Processes, StartsAProgramWithoutWaitingForIt) {
  TempDir dir;
  std::string script = dir.file("sibling.sh");
  WriteFile(script, "#!/bin/sh\nsleep 2\necho started > \"$(dirname \"$0\")/out.txt\"\n");
  ::chmod(script.c_str(), 0755);
  platform::SystemProcesses procs;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(procs.Start(script));
  // Start returned while the program still sleeps: nothing is written yet.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
  EXPECT_FALSE(platform::FileExists(dir.file("out.txt")));
  // It runs on to its end on its own (bounded wait for its trace).
  for (int i = 0; i < 100 && !platform::FileExists(dir.file("out.txt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(dir.file("out.txt")), "started\n");
  EXPECT_FALSE(procs.Start(dir.file("missing-program")));
}

TEST(Adapters, LoopbackIsListedWithItsAddress) {
  platform::SystemAdapters source;
  std::vector<platform::Adapter> list;
  ASSERT_TRUE(source.List(&list));
  auto lo = std::find_if(list.begin(), list.end(), [](const auto& a) { return a.description == "lo"; });
  ASSERT_NE(lo, list.end());
  EXPECT_NE(std::find(lo->ipv4.begin(), lo->ipv4.end(), "127.0.0.1"), lo->ipv4.end());
  for (const auto& a : list) EXPECT_FALSE(a.ipv4.empty()) << a.description;
}
