#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

using platform::ParseLeadingInt;
using platform::ReadIniKey;
using platform::WriteIniKey;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Ini, MissingFileSectionOrKeyGiveTheDefault) {
  TempDir dir;
  std::string path = dir.file("SysCfg.ini");
  EXPECT_EQ(ReadIniKey(path, "ServerIP", "ServerIP", "Error", 260), "Error");
  WriteFile(path, "[Other]\nServerIP=1.2.3.4\n[ServerIP]\nPort=5\n");
  EXPECT_EQ(ReadIniKey(path, "Missing", "ServerIP", "Error", 260), "Error");
  EXPECT_EQ(ReadIniKey(path, "ServerIP", "ServerIP", "Error", 260), "Error");
  EXPECT_EQ(ReadIniKey(path, "serverip", "PORT", "x", 260), "5");
}

TEST(Ini, NamesMatchWithoutCaseAndValuesAreTrimmedAndCut) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  WriteFile(path, "; comment\r\n [LedPara] \r\n  Width =  128  \r\nHEIGHT=64\r\n");
  EXPECT_EQ(ReadIniKey(path, "LEDPARA", "width", "", 260), "128");
  EXPECT_EQ(ReadIniKey(path, "ledpara", "Height", "", 260), "64");
  // Capacity counts the terminator, as the Windows call does.
  EXPECT_EQ(ReadIniKey(path, "LEDPARA", "WIDTH", "", 3), "12");
  EXPECT_EQ(ReadIniKey(path, "LEDPARA", "WIDTH", "", 1), "");
  EXPECT_EQ(ReadIniKey(path, "LEDPARA", "WIDTH", "", 0), "");
  EXPECT_EQ(ReadIniKey(path, "LEDPARA", "nothing", "Error", 4), "Err");
}

TEST(Ini, WriteReplacesTheValueAndKeepsEveryOtherLine) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  const std::string before =
      "; made by hand\r\n[Unknown]\r\nfoo = bar\r\n\r\n[RemotIP]\r\nRemotIP=10.0.0.1\r\nextra=1\r\n\r\n[Tail]\r\nx=y";
  WriteFile(path, before);
  ASSERT_TRUE(WriteIniKey(path, "remotip", "REMOTIP", "192.168.1.20"));
  EXPECT_EQ(ReadFile(path),
            "; made by hand\r\n[Unknown]\r\nfoo = bar\r\n\r\n[RemotIP]\r\nRemotIP=192.168.1.20\r\nextra=1\r\n\r\n[Tail]\r\nx=y");
}

TEST(Ini, WriteAddsKeySectionAndFile) {
  TempDir dir;
  std::string path = dir.file("new.ini");
  ASSERT_TRUE(WriteIniKey(path, "LEDPARA", "WIDTH", "64"));
  EXPECT_EQ(ReadFile(path), "[LEDPARA]\nWIDTH=64\n");
  // A new key goes to the end of its section, before the blank separator line.
  WriteFile(path, "[LEDPARA]\nWIDTH=64\n\n[NetSyc]\nSyc_Update=1\n");
  ASSERT_TRUE(WriteIniKey(path, "LEDPARA", "HEIGHT", "32"));
  EXPECT_EQ(ReadFile(path), "[LEDPARA]\nWIDTH=64\nHEIGHT=32\n\n[NetSyc]\nSyc_Update=1\n");
  // A file whose last line has no line end gets one before a new section.
  WriteFile(path, "[A]\nk=v");
  ASSERT_TRUE(WriteIniKey(path, "B", "k2", "v2"));
  EXPECT_EQ(ReadFile(path), "[A]\nk=v\n[B]\nk2=v2\n");
  EXPECT_EQ(ReadIniKey(path, "B", "k2", "", 260), "v2");
  EXPECT_EQ(ReadIniKey(path, "A", "k", "", 260), "v");
}

TEST(Ini, AValueIsOneLine) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  ASSERT_TRUE(WriteIniKey(path, "S", "k", "first\r\n[Injected]\r\nk=2"));
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", 260), "first");
  EXPECT_EQ(ReadIniKey(path, "Injected", "k", "none", 260), "none");
}

TEST(Ini, GarbageNulBytesAndLinesWithoutEqualsAreSurvived) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  std::string garbage = "\xff\xfe[S\x01]\n";
  garbage += std::string("no equals here\n[S]\nnoequals\nk=v\0tail\n", 37);
  garbage += std::string("\0\0\0=\0\n", 6);
  garbage += "[unterminated\nz=1\n";
  WriteFile(path, garbage);
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", 260), "v");  // a NUL ends the value
  EXPECT_EQ(ReadIniKey(path, "S", "noequals", "d", 260), "d");
  EXPECT_EQ(ReadIniKey(path, "unterminated", "z", "", 260), "1");
  ASSERT_TRUE(WriteIniKey(path, "S", "k", "w"));
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", 260), "w");
  // The unrelated garbage is still there byte for byte.
  std::string after = ReadFile(path);
  EXPECT_NE(after.find("\xff\xfe[S\x01]\nno equals here\n"), std::string::npos);
  EXPECT_NE(after.find(std::string("\0\0\0=\0\n", 6)), std::string::npos);
}

TEST(Ini, HugeValuesAreCutToCapacity) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  std::string big(1 << 20, 'x');
  ASSERT_TRUE(WriteIniKey(path, "S", "k", big));
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", 260), std::string(259, 'x'));
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", big.size() + 1), big);
}

TEST(Ini, ReadOnlyFileOrMissingDirectoryRefuseTheWrite) {
  TempDir dir;
  std::string path = dir.file("ro.ini");
  WriteFile(path, "[S]\nk=old\n");
  ::chmod(path.c_str(), 0444);
  EXPECT_FALSE(WriteIniKey(path, "S", "k", "new"));
  EXPECT_EQ(ReadIniKey(path, "S", "k", "", 260), "old");
  EXPECT_FALSE(WriteIniKey(dir.file("no/such/dir.ini"), "S", "k", "v"));
  // No temporary files are left behind by the failed writes.
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(Ini, WritesFromManyThreadsLoseNothing) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i)
        WriteIniKey(path, "T" + std::to_string(t), "k" + std::to_string(i), std::to_string(i));
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t)
    for (int i = 0; i < 20; ++i)
      ASSERT_EQ(ReadIniKey(path, "T" + std::to_string(t), "k" + std::to_string(i), "lost", 260),
                std::to_string(i));
}

TEST(Ini, ParseLeadingIntIsADecimalPrefix) {
  EXPECT_EQ(ParseLeadingInt("12abc"), 12);
  EXPECT_EQ(ParseLeadingInt("abc"), 0);
  EXPECT_EQ(ParseLeadingInt(""), 0);
  EXPECT_EQ(ParseLeadingInt("  \t-42x"), -42);
  EXPECT_EQ(ParseLeadingInt("+7"), 7);
  EXPECT_EQ(ParseLeadingInt("- 7"), 0);
  EXPECT_EQ(ParseLeadingInt("0x1F"), 0);
  EXPECT_EQ(ParseLeadingInt("99999999999999999999"), 2147483647);
  EXPECT_EQ(ParseLeadingInt("-99999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(ParseLeadingInt("70000"), 70000);
}
