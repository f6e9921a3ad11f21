// The command line: each command takes its own options and no other; the
// cards it is given come out once each, in one spelling; a settings file is
// JSON or INI with settable names only; operation messages read in English
// with their values; the man page and the completion know every option.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "cardctl/fields.h"
#include "cardctl/options.h"
#include "cardctl/settings_file.h"
#include "cardctl/targets.h"
#include "cardctl/texts.h"
#include "params/discovery.h"
#include "programs/program_slots.h"
#include "support/temp_dir.h"

namespace cli = card::cli;

namespace {

cli::CommandLine Parse(std::vector<std::string> args) { return cli::ParseCommandLine(args); }

struct English {
  English() { cli::SetEnglish(true); }
  ~English() { cli::SetEnglish(false); }
};

cli::Targets Expand(const std::vector<std::string>& args, const std::map<std::string, std::string>& files = {}) {
  return cli::ExpandTargets(args, [&](const std::string& path, std::string* text) {
    auto it = files.find(path);
    if (it == files.end()) return false;
    *text = it->second;
    return true;
  });
}

}  // namespace

TEST(CommandLine, EachCommandTakesItsOwnOptionsAndTheGlobalOnesOnly) {
  for (const cli::CommandDef& c : cli::Commands()) {
    for (const cli::OptionDef& o : cli::Options()) {
      std::vector<std::string> args = {c.name, o.name};
      if (!o.value.empty()) args.push_back(o.choices.empty() ? (o.name == "--jobs" ? "4" : "x") : o.choices[0]);
      const auto& global = cli::GlobalOptions();
      const bool own = std::find(c.options.begin(), c.options.end(), o.name) != c.options.end() ||
                       std::find(global.begin(), global.end(), o.name) != global.end();
      EXPECT_EQ(Parse(args).error.empty(), own) << c.name << " " << o.name << ": " << Parse(args).error;
    }
  }
  // The fault: set took --dry-run and ignored it, sending everything.
  EXPECT_TRUE(Parse({"set", "1.2.3.4", "brightness=1", "--dry-run"}).error.empty());
  EXPECT_FALSE(Parse({"show", "1.2.3.4", "--dry-run"}).error.empty());
  EXPECT_FALSE(Parse({"backup", "1.2.3.4", "f", "--yes"}).error.empty());

  const auto clone = Parse({"--lang", "en", "clone", "f.snap", "--jobs=8", "1.2.3.4", "--programs", "replace", "--json"});
  EXPECT_TRUE(clone.error.empty()) << clone.error;
  EXPECT_EQ(clone.command, "clone");
  EXPECT_EQ(clone.positional, (std::vector<std::string>{"f.snap", "1.2.3.4"}));
  EXPECT_EQ(clone.get("--jobs"), "8");
  EXPECT_EQ(clone.get("--programs"), "replace");
  EXPECT_TRUE(clone.has("--json"));
  cli::SetEnglish(false);

  for (std::vector<std::string> bad : {std::vector<std::string>{"clone", "f", "a", "--jobs", "0"},
                                       {"clone", "f", "a", "--jobs", "257"},
                                       {"clone", "f", "a", "--jobs"},
                                       {"clone", "f", "a", "--jobs", "x"},
                                       {"restore", "f", "a", "--programs", "all"},
                                       {"restore", "f", "a", "--yes=1"},
                                       {"search", "--lang", "fr"},
                                       {"search", "-x"},
                                       {"frobnicate"},
                                       {"set", "a", "--json", "--json=1"}})
    EXPECT_FALSE(Parse(bad).error.empty()) << bad[0] << " " << bad.back();
  // After "--" a value that looks like an option is an argument.
  EXPECT_EQ(Parse({"set", "a", "--", "--dry-run"}).positional.back(), "--dry-run");
  EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(CommandLine, CardsComeOutOnceEachInOneSpellingFromAddressesRangesAndFiles) {
  auto t = Expand({"192.168.1.20-22", "@cards.txt", "10.0.0.255-10.0.1.1"},
                  {{"cards.txt", "# signs at the gate\n192.168.2.5 , 192.168.2.7-8\n\n  192.168.3.1  # spare\n"}});
  ASSERT_TRUE(t.error.empty()) << t.error;
  EXPECT_EQ(t.addresses, (std::vector<std::string>{"192.168.1.20", "192.168.1.21", "192.168.1.22", "192.168.2.5",
                                                   "192.168.2.7", "192.168.2.8", "192.168.3.1", "10.0.0.255",
                                                   "10.0.1.0", "10.0.1.1"}));
  EXPECT_EQ(Expand({"-"}, {{"-", "127.0.0.011\n"}}).addresses, (std::vector<std::string>{"127.0.0.11"}));

  // The same card twice, in whatever form, is refused: two jobs would write one card at once.
  for (std::vector<std::string> twice : {std::vector<std::string>{"10.0.0.1", "10.0.0.1"},
                                         {"10.0.0.1", "10.0.0.001"},
                                         {"10.0.0.1-5", "10.0.0.3"},
                                         {"10.0.0.2", "@list"}}) {
    auto r = Expand(twice, {{"list", "10.0.0.2\n"}});
    EXPECT_TRUE(r.addresses.empty());
    EXPECT_NE(r.error.find("10.0.0."), std::string::npos) << r.error;
  }
  for (std::vector<std::string> bad : {std::vector<std::string>{"10.0.0"},
                                       {"10.0.0.1.2"},
                                       {"10.0.0.256"},
                                       {"10.0.0.9-3"},
                                       {"10.0.0.1-"},
                                       {"10.0.0.1-999"},
                                       {"0.0.0.0-255.255.255.255"},
                                       {"@missing"},
                                       {"host.example"}})
    EXPECT_FALSE(Expand(bad).error.empty()) << bad[0];
  EXPECT_TRUE(Expand({"10.0.0.0-10.0.15.255"}).error.empty()) << "4096 cards are allowed";
  EXPECT_FALSE(Expand({"10.0.0.0-10.0.16.0"}).error.empty()) << "4097 are not";
}

TEST(CommandLine, ASettingsFileIsJsonOrIniOfSettableNamesEachOnce) {
  auto json = cli::ParseSettingsFile(R"({"brightness": 25, "auto_ip": false, "scan": "1/8", "display_target": 6})");
  ASSERT_TRUE(json.error.empty()) << json.error;
  EXPECT_EQ(json.values, (std::vector<std::pair<std::string, std::string>>{
                             {"brightness", "25"}, {"auto_ip", "否"}, {"scan", "1/8"}, {"display_target", "6"}}));
  // As show prints it: the comments after two blanks go, a position right after '=' stays.
  auto ini = cli::ParseSettingsFile("# site A\n[panel]\nbrightness = 25    # 亮度 (panel)\nscan = #3\n; note\nmodbus_address = \"1-0x 1\"\n");
  ASSERT_TRUE(ini.error.empty()) << ini.error;
  EXPECT_EQ(ini.values, (std::vector<std::pair<std::string, std::string>>{
                            {"brightness", "25"}, {"scan", "#3"}, {"modbus_address", "1-0x 1"}}));
  for (const char* bad : {R"({"brightness": 25, "brightness": 26})", R"({"nonsense": 1})", R"({"mac": "x"})",
                          R"({"brightness": true})", R"({"brightness": {"x": 1}})", R"([1, 2])", "{broken",
                          "brightness = 1\nbrightness = 2\n", "address = 1.2.3.4\n", "just words\n", "", "# only\n"})
    EXPECT_FALSE(cli::ParseSettingsFile(bad).error.empty()) << bad;
}

TEST(CommandLine, OperationMessagesReadInEnglishWithTheirValues) {
  EXPECT_EQ(cli::TrOperation(card::kMsgConnectFailed), card::kMsgConnectFailed) << "Chinese unless asked";
  English en;
  EXPECT_EQ(cli::TrOperation(card::kMsgConnectFailed), "could not connect to the card");
  EXPECT_EQ(cli::TrOperation("节目3的文件不存在，请先编辑节目或打开文件！"), "the file of program 3 does not exist");
  EXPECT_EQ(cli::TrOperation("成功删除节目12"), "program 12 deleted");
  EXPECT_EQ(cli::TrOperation("第07行超过127字节，请缩短后再下载"), "line 07 is longer than 127 bytes");
  // A known text inside a longer one is carried over translated.
  EXPECT_EQ(cli::TrOperation("连接设备失败\n第3行的请求没有发出，上传已停止。"),
            "could not connect to the card\nrequest 3 was not sent; the upload stopped.");
  EXPECT_EQ(cli::TrOperation("something new"), "something new");
}

TEST(CommandLine, TheManPageAndTheCompletionKnowEveryCommandOptionAndSetting) {
  const std::string man = cli::ManPage("6.2");
  const std::string completion = cli::BashCompletion();
  auto roff = [](std::string s) {
    std::string out;
    for (char c : s) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  for (const cli::CommandDef& c : cli::Commands()) {
    EXPECT_NE(man.find(".B " + c.name), std::string::npos) << c.name;
    EXPECT_NE(completion.find("    " + c.name + ") opts=\""), std::string::npos) << c.name;
  }
  for (const cli::OptionDef& o : cli::Options()) {
    EXPECT_NE(man.find(roff(o.name)), std::string::npos) << o.name;
    EXPECT_NE(completion.find(o.name), std::string::npos) << o.name;
  }
  for (const cli::Field& f : cli::Fields()) EXPECT_NE(man.find(".B " + roff(f.name)), std::string::npos) << f.name;
  // The completion is a script bash accepts.
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.file("cardctl"), completion);
  EXPECT_EQ(std::system(("bash -n " + dir.file("cardctl")).c_str()), 0);
}
