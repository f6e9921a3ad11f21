#include "platform/codec.h"

#include <gtest/gtest.h>

#include <random>

using platform::GbkToUtf8;
using platform::Utf8ToGbk;

TEST(Codec, ChineseTextRoundTrips) {
  const std::string utf8 = "连接设备失败";
  std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk, "\xC1\xAC\xBD\xD3\xC9\xE8\xB1\xB8\xCA\xA7\xB0\xDC");
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(GbkToUtf8("set ld 2\n"), "set ld 2\n");
}

TEST(Codec, InvalidInputBecomesQuestionMarks) {
  // A lead byte cut off at the end, and bytes that are no GBK at all.
  EXPECT_EQ(GbkToUtf8("ab\xC1"), "ab?");
  EXPECT_EQ(GbkToUtf8("\xFF" "a"), "?a");
  // Characters GBK cannot carry.
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");
  // Broken UTF-8.
  EXPECT_EQ(Utf8ToGbk("\xE8\xBF"), "??");
}

TEST(Codec, RandomBytesNeverCrashOrGrowWithoutBound) {
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    std::string in(rng() % 64, '\0');
    for (char& c : in) c = static_cast<char>(rng());
    std::string out = GbkToUtf8(in);
    EXPECT_LE(out.size(), in.size() * 3 + 3);
    std::string back = Utf8ToGbk(in);
    EXPECT_LE(back.size(), in.size() * 2 + 2);
  }
}
