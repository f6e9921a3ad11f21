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

TEST(EditText, EveryByteStringShowsAsATextThatTypesBackToIt) {
  using platform::BytesToEditText;
  using platform::EditTextToBytes;
  // GBK characters as themselves, other bytes as \xNN, the backslash doubled.
  EXPECT_EQ(BytesToEditText("a=\xFF\xFE\x81 x"), "a=\\xFF\\xFE\\x81 x");
  EXPECT_EQ(BytesToEditText("\xD6\xD0\\n\t"), "中\\\\n\\x09");
  EXPECT_EQ(BytesToEditText(std::string("\0" "B", 2)), "\\x00B");
  // A lead byte at the end has no partner.
  EXPECT_EQ(BytesToEditText("x\xD6"), "x\\xD6");
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 48, '\0');
    // Mostly GBK-range bytes and backslashes, where the hard cases are.
    for (char& c : bytes) {
      const unsigned r = rng() % 8;
      c = static_cast<char>(r == 0 ? '\\' : r < 5 ? 0x81 + rng() % 0x7E : rng());
    }
    const std::string text = BytesToEditText(bytes);
    platform::EditTextError why = platform::EditTextError::BadEscape;
    auto back = EditTextToBytes(text, &why);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, bytes) << text;
    EXPECT_EQ(why, platform::EditTextError::None);
  }
}

TEST(EditText, TypedTextBecomesGbkAndWhatCannotBeStoredIsNamed) {
  using platform::EditTextError;
  using platform::EditTextToBytes;
  EXPECT_EQ(EditTextToBytes("中\\xd0\\X41\\\\"), std::string("\xD6\xD0\xD0" "A\\"));
  EXPECT_EQ(EditTextToBytes(""), std::string());
  EditTextError why = EditTextError::None;
  EXPECT_FALSE(EditTextToBytes("a\\xG1", &why));
  EXPECT_EQ(why, EditTextError::BadEscape);
  EXPECT_FALSE(EditTextToBytes("a\\x4", &why)) << "one hex digit";
  EXPECT_EQ(why, EditTextError::BadEscape);
  EXPECT_FALSE(EditTextToBytes("end\\", &why));
  EXPECT_EQ(why, EditTextError::BadEscape);
  // A character GBK cannot carry, before and after an escape.
  EXPECT_FALSE(EditTextToBytes("\xF0\x9F\x98\x80\\x41", &why));
  EXPECT_EQ(why, EditTextError::NotGbk);
  EXPECT_FALSE(EditTextToBytes("\\x41\xF0\x9F\x98\x80", &why));
  EXPECT_EQ(why, EditTextError::NotGbk);
}
