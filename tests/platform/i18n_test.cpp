#include "platform/i18n.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace {

// A compiled catalogue laid out by hand: magic, revision, count, the two
// string tables, no hash table, then the strings with their NULs.
std::string MoFile(const std::vector<std::pair<std::string, std::string>>& entries, bool bigEndian = false) {
  std::string out;
  auto word = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 24 - 8 * i : 8 * i;
      out.push_back(static_cast<char>((v >> shift) & 0xff));
    }
  };
  const std::uint32_t n = static_cast<std::uint32_t>(entries.size());
  const std::uint32_t originals = 28, translations = originals + 8 * n;
  std::uint32_t at = translations + 8 * n;
  word(0x950412de);
  word(0);
  word(n);
  word(originals);
  word(translations);
  word(0);
  word(at);
  std::string strings;
  std::vector<std::uint32_t> table;
  for (int pass = 0; pass < 2; ++pass)
    for (const auto& e : entries) {
      const std::string& s = pass == 0 ? e.first : e.second;
      table.push_back(static_cast<std::uint32_t>(s.size()));
      table.push_back(at + static_cast<std::uint32_t>(strings.size()));
      strings += s;
      strings.push_back('\0');
    }
  for (std::uint32_t v : table) word(v);
  return out + strings;
}

TEST(Catalogue, ReadsEitherByteOrderAndRefusesDamagedFiles) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"确定", "OK"},
      {"已发送 %d/%d 项", "Sent %d/%d settings"},
      {"未翻译", ""},
      {"上下文\x04打开", "Open"},
      {std::string("一个文件\0%d 个文件", 23), std::string("one file\0%d files", 17)}};
  for (bool big : {false, true}) {
    platform::Catalogue c;
    ASSERT_TRUE(c.Load(MoFile(entries, big))) << big;
    ASSERT_NE(c.Find("确定"), nullptr);
    EXPECT_EQ(*c.Find("确定"), "OK");
    EXPECT_EQ(*c.Find("已发送 %d/%d 项"), "Sent %d/%d settings");
    EXPECT_EQ(c.Find("未翻译"), nullptr);  // an empty translation shows the source
    EXPECT_EQ(c.Find(""), nullptr);       // the header is no text of the tool
    EXPECT_EQ(*c.Find("上下文\x04打开"), "Open");
    EXPECT_EQ(*c.Find("一个文件"), "one file");
  }
  const std::string good = MoFile(entries);
  platform::Catalogue c;
  // Every cut of the file is refused, and a string running past the end too.
  for (std::size_t cut = 0; cut < good.size(); ++cut) EXPECT_FALSE(c.Load(good.substr(0, cut))) << cut;
  std::string unterminated = good;
  unterminated.back() = 'x';
  EXPECT_FALSE(c.Load(unterminated));
  std::string badMagic = good;
  badMagic[0] = 0;
  EXPECT_FALSE(c.Load(badMagic));
  EXPECT_EQ(c.size(), 0u);
}

TEST(Catalogue, TheLanguageFollowsTheStrongestSourceThatHasACatalogue) {
  const std::set<std::string> have = {"en", "de_CH"};
  auto choose = [&](platform::LanguageSources s) {
    return platform::ChooseLanguage(s, [&](const std::string& l) { return have.count(l) > 0; });
  };
  platform::LanguageSources s;
  EXPECT_EQ(choose(s), "zh");  // nothing set: the source language
  s.lang = "en_US.UTF-8";
  EXPECT_EQ(choose(s), "en");
  s.lcMessages = "fr_FR.UTF-8";  // LC_MESSAGES before LANG; French has no catalogue
  EXPECT_EQ(choose(s), "zh");
  s.lcAll = "C";  // LC_ALL=C names no language: Chinese, not LC_MESSAGES
  EXPECT_EQ(choose(s), "zh");
  s.lcAll = "de_CH.UTF-8@euro";
  EXPECT_EQ(choose(s), "de_CH");
  s.language = "fr:zh_CN:en";  // the first of the list that the tool has
  EXPECT_EQ(choose(s), "zh");
  s.language = "fr::en_GB";
  EXPECT_EQ(choose(s), "en");
  s.userSetting = "zh";
  EXPECT_EQ(choose(s), "zh");
  s.explicitChoice = "en";  // --lang beats the setting
  EXPECT_EQ(choose(s), "en");
  s.explicitChoice = "xx";  // a choice without a catalogue falls through
  EXPECT_EQ(choose(s), "zh");
}

TEST(Catalogue, TheBuiltCatalogueTranslatesAndChineseStaysTheSource) {
  platform::LanguageSources s;
  s.explicitChoice = "en";
  ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), "en");
  EXPECT_STREQ(platform::Tr("确定"), "OK");
  EXPECT_STREQ(platform::Tr("不在目录中的文字"), "不在目录中的文字");
  s.explicitChoice = "zh";
  EXPECT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), "zh");
  EXPECT_STREQ(platform::Tr("确定"), "确定");
}

}  // namespace
