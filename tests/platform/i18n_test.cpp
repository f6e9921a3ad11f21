#include "platform/i18n.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

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

TEST(Catalogue, AContextGivesItsOwnTranslationElseTheTextsOwn) {
  platform::LanguageSources s;
  s.explicitChoice = "en";
  ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), "en");
  // "打开" switches a feature on in a list, and opens on a file dialog.
  EXPECT_STREQ(platform::Tr("打开"), "On");
  EXPECT_STREQ(platform::TrC("file dialog", "打开"), "Open");
  EXPECT_EQ(platform::TrC("file dialog", std::string("打开")), "Open");
  EXPECT_STREQ(platform::TrC("file dialog", "确定"), "OK");        // no entry under the context
  EXPECT_STREQ(platform::TrC("file dialog", "不在目录中"), "不在目录中");
  s.explicitChoice = "zh";
  ASSERT_EQ(platform::UseLanguage(s, CARD_LOCALE_DIR), "zh");
  EXPECT_STREQ(platform::TrC("file dialog", "打开"), "打开");
}

TEST(Catalogue, TheChoicesAreTheSourceAndEveryWholeCatalogueUnderItsOwnName) {
  EXPECT_EQ(platform::AvailableLanguages(CARD_LOCALE_DIR).size(), 2u);
  EXPECT_EQ(platform::AvailableLanguages(CARD_LOCALE_DIR).back().name, "English");

  testing_support::TempDir dir;
  const std::string de = MoFile({{"", "Content-Type: text/plain; charset=UTF-8\n"},
                                 {"language name\x04中文", "Deutsch"}, {"确定", "OK"}});
  const std::string nameless = MoFile({{"确定", "OK"}});
  ASSERT_EQ(platform::WriteFileMakingDirs(dir.file("de/LC_MESSAGES/cardsetup.mo"), de.data(), de.size()), 1);
  ASSERT_EQ(platform::WriteFileMakingDirs(dir.file("fr/LC_MESSAGES/cardsetup.mo"), nameless.data(), nameless.size()), 1);
  ASSERT_EQ(platform::WriteFileMakingDirs(dir.file("xx/LC_MESSAGES/cardsetup.mo"), "damaged", 7), 1);
  ASSERT_EQ(platform::WriteFileMakingDirs(dir.file("yy/README"), "no catalogue", 12), 1);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& l : platform::AvailableLanguages(dir.path())) got.emplace_back(l.code, l.name);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{{"zh", "中文"}, {"de", "Deutsch"}, {"fr", "fr"}}));
  // No locale folder at all: the source language alone.
  EXPECT_EQ(platform::AvailableLanguages(dir.file("none")).size(), 1u);
}

TEST(Catalogue, TheSettingIsTheUsersOwnFile) {
  testing_support::TempDir dir;
  const char* before = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = before ? before : "";
  ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(platform::UserSettingsPath(), dir.file("cardsetup/settings.ini"));
  EXPECT_EQ(platform::ReadLanguageSetting(), "");
  ASSERT_TRUE(platform::WriteLanguageSetting("en"));
  EXPECT_EQ(platform::ReadLanguageSetting(), "en");
  ASSERT_TRUE(platform::WriteLanguageSetting(""));  // back to the system's language
  EXPECT_EQ(platform::ReadLanguageSetting(), "");
  // A folder that cannot be made: the setting is not saved, and says so.
  ASSERT_EQ(platform::WriteFileMakingDirs(dir.file("file"), "x", 1), 1);
  ::setenv("XDG_CONFIG_HOME", dir.file("file").c_str(), 1);
  EXPECT_FALSE(platform::WriteLanguageSetting("en"));
  if (before)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
