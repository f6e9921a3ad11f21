#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

using platform::WriteFileMakingDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(WriteFileMakingDirs, CreatesMissingDirectoriesWithEitherSeparator) {
  TempDir dir;
  std::string path = dir.path() + "\\subsys\\ledsys/CMD2\\cmd.txt";
  ASSERT_EQ(WriteFileMakingDirs(path, "abc", 3), 1);
  EXPECT_EQ(ReadFile(dir.path() + "/subsys/ledsys/CMD2/cmd.txt"), "abc");
  // Replacing the file, and a length of 0 leaving an empty file.
  ASSERT_EQ(WriteFileMakingDirs(dir.path() + "/subsys/ledsys/CMD2/cmd.txt", "x", 0), 1);
  EXPECT_EQ(ReadFile(dir.path() + "/subsys/ledsys/CMD2/cmd.txt"), "");
}

TEST(WriteFileMakingDirs, FailsWhereADirectoryCannotBeMadeOrTheFileWritten) {
  TempDir dir;
  WriteFile(dir.file("blocker"), "I am a file");
  EXPECT_EQ(WriteFileMakingDirs(dir.file("blocker/sub/x.bin"), "a", 1), 0);
  EXPECT_EQ(WriteFileMakingDirs(dir.path() + "/", "a", 1), 0);
  std::filesystem::create_directory(dir.file("adir"));
  EXPECT_EQ(WriteFileMakingDirs(dir.file("adir"), "a", 1), 0);
  EXPECT_EQ(ReadFile(dir.file("blocker")), "I am a file");
}

TEST(WriteFileMakingDirs, WritesAtomicallyAndKeepsTheMode) {
  TempDir dir;
  std::string path = dir.file("dump.bin");
  WriteFile(path, "old");
  ::chmod(path.c_str(), 0600);
  std::string data(100000, '\x5a');
  ASSERT_EQ(WriteFileMakingDirs(path, data.data(), data.size()), 1);
  EXPECT_EQ(ReadFile(path), data);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(WriteFileMakingDirs, ClearsTemporariesThatAKilledWriteLeftBehind) {
  TempDir dir;
  std::string path = dir.file("SysCfg.ini");
  const std::string stale = path + ".tmpAbC123", fresh = path + ".tmpXyZ789", other = dir.file("other.tmpAbC123");
  for (const auto& f : {stale, fresh, other}) WriteFile(f, "half");
  // The stale one is two minutes old; the fresh one may be a write under way.
  auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2);
  std::filesystem::last_write_time(stale, old);
  std::filesystem::last_write_time(other, old);
  ASSERT_EQ(WriteFileMakingDirs(path, "x", 1), 1);
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(fresh));
  EXPECT_TRUE(std::filesystem::exists(other)) << "another file's temporaries are not ours";
}

TEST(WriteFileMakingDirs, PlainFileNameInTheCurrentDirectory) {
  TempDir dir;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(WriteFileMakingDirs("plain.txt", "hi", 2), 1);
  EXPECT_EQ(WriteFileMakingDirs("./dot.txt", "hi", 2), 1);
  std::filesystem::current_path(old);
  EXPECT_EQ(ReadFile(dir.file("plain.txt")), "hi");
  EXPECT_EQ(ReadFile(dir.file("dot.txt")), "hi");
}

TEST(WriteFileAtomic, WritesThroughASymbolicLinkWhichStaysALink) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("real"));
  WriteFile(dir.file("real/sign.snap"), "old");
  std::filesystem::create_symlink("real/sign.snap", dir.file("relative"));
  std::filesystem::create_symlink(dir.file("relative"), dir.file("chain"));
  ASSERT_TRUE(platform::WriteFileAtomic(dir.file("chain"), "new", 3));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("chain")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("relative")));
  EXPECT_EQ(ReadFile(dir.file("real/sign.snap")), "new");
  // A link to a file not there yet makes the file where the link points.
  std::filesystem::create_symlink(dir.file("real/later.snap"), dir.file("dangling"));
  ASSERT_TRUE(platform::WriteFileAtomic(dir.file("dangling"), "made", 4));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling")));
  EXPECT_EQ(ReadFile(dir.file("real/later.snap")), "made");
}
