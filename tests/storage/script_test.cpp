// The script editor's core: the line split of the card's region and of
// files, the limits that refuse a program before anything is sent, and the
// exact lines of reading and writing.
#include "storage/script.h"

#include <gtest/gtest.h>

#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace {

using testing_support::FakeChannel;
using testing_support::ReadFile;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

constexpr const char* kCard = "192.168.1.20";
// "中" in GBK: two bytes.
constexpr const char* kZhong = "中";
constexpr const char* kZhongGbk = "\xD6\xD0";

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ScriptSplit, CardStopsAtTheEmptyLineFilesKeepItAndTheTailIsNoLine) {
  std::string region = std::string("a=1\r\nb=2\r\n\r\nc=3\r\n") + std::string(4096 - 17, '\0');
  auto card = card::SplitScriptLines(region, card::ScriptSource::Card);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->lines, (Lines{"a=1", "b=2"}));
  EXPECT_TRUE(card->endedAtEmptyLine);
  auto file = card::SplitScriptLines(region, card::ScriptSource::File);
  EXPECT_EQ(file->lines, (Lines{"a=1", "b=2", "", "c=3"}));

  EXPECT_EQ(card::SplitScriptLines("x\r\ny", card::ScriptSource::File)->lines, Lines{"x"});
  EXPECT_FALSE(card::SplitScriptLines("no line end", card::ScriptSource::File));
  EXPECT_FALSE(card::SplitScriptLines(std::string(4096, '\xFF'), card::ScriptSource::Card)) << "erased flash";
  // Padding ends the text: a CR LF after a zero byte is not looked at.
  EXPECT_FALSE(card::SplitScriptLines(std::string("x\0\r\n", 4), card::ScriptSource::Card));
  // A lone CR or LF belongs to its line; a region full to its last byte.
  std::string full = Repeat("ab\rc\nd\r\n", 512);
  ASSERT_EQ(full.size(), 4096u);
  auto f = card::SplitScriptLines(full, card::ScriptSource::Card);
  EXPECT_EQ(f->lines.size(), 512u);
  EXPECT_EQ(f->lines[511], "ab\rc\nd");
  EXPECT_FALSE(f->endedAtEmptyLine);
  // The card's region starting with its end.
  auto empty = card::SplitScriptLines("\r\nx\r\n", card::ScriptSource::Card);
  EXPECT_TRUE(empty->lines.empty());
  EXPECT_TRUE(empty->endedAtEmptyLine);
}

TEST(ScriptLimits, TheCardsLimitsAreCountedInGbkBytesAndRefuseWithTheRow) {
  // 63 Chinese characters and one letter: 127 GBK bytes (190 UTF-8 bytes).
  const std::string longest = Repeat(kZhong, 63) + "a";
  auto ok = card::ScriptForCard({"a=1", longest});
  EXPECT_EQ(ok.refusal, "");
  EXPECT_EQ(ok.gbkLines, (Lines{"a=1", Repeat(kZhongGbk, 63) + "a"}));
  EXPECT_EQ(card::ScriptForCard({"a=1", "b", Repeat(kZhong, 64)}).refusal, "第02行超过127字节，请缩短后再下载");
  EXPECT_EQ(card::ScriptForCard({"a", "", "b"}).refusal, "第01行是空行，控制卡读到空行就停止，请删除空行后再下载");
  EXPECT_EQ(card::ScriptForCard({"a", "\xF0\x9F\x98\x80"}).refusal, "第01行含有控制卡不能显示的字符，请修改后再下载");
  // 4096 bytes fit the region exactly, one more does not.
  Lines fits(32, std::string(126, 'x'));  // 32 * 128
  EXPECT_EQ(card::ScriptForCard(fits).refusal, "");
  fits.back() += "y";
  EXPECT_EQ(card::ScriptForCard(fits).refusal, "脚本程序超过4096字节，控制卡存不下，请删减后再下载");
  EXPECT_EQ(card::ScriptForCard(Lines(257, "a")).refusal, "脚本程序超过256行，请删减后再下载");
  EXPECT_EQ(card::ScriptForCard(Lines(256, "a")).refusal, "");

  EXPECT_EQ(card::ProgramRows({"a", "", "b", "", ""}), (Lines{"a", "", "b"}));
  EXPECT_TRUE(card::ProgramRows(Lines(256, "")).empty());
}

class ScriptOps : public ::testing::Test {
 protected:
  card::ScriptTools tools(int firmware = 39) { return {link, clock, user, kCard, firmware}; }
  Lines Rows(Lines program) {
    program.resize(256);
    return program;
  }
  platform::VirtualClock clock;
  FakeChannel link{&clock};
  testing_support::FakeUser user{&clock};
  testing_support::TempDir dir;
};

TEST_F(ScriptOps, WriteSendsTheShownProgramInOneLineOrNothing) {
  auto t = tools();
  EXPECT_EQ(card::WriteScript(t, Rows({"a=1", "b=2"})), card::ScriptWriteOutcome::Sent);
  EXPECT_EQ(link.sent(), Lines{"file program 0x6f0000 10  \na=1\r\nb=2\r\n"});
  EXPECT_EQ(clock.sleeps(), std::vector<int>{100});
  EXPECT_FALSE(link.connected());
  EXPECT_TRUE(user.shown().empty());

  // A line typed below the program is part of it; text is sent as GBK.
  link.clearEvents();
  Lines rows = Rows({"a=1", "b=2"});
  rows[2] = std::string("t=") + kZhong;
  EXPECT_EQ(card::WriteScript(t, rows), card::ScriptWriteOutcome::Sent);
  EXPECT_EQ(link.sent(), Lines{std::string("file program 0x6f0000 16  \na=1\r\nb=2\r\nt=") + kZhongGbk + "\r\n"});

  // Refused programs connect to nothing.
  link.clearEvents();
  rows[5] = "far below";
  EXPECT_EQ(card::WriteScript(t, rows), card::ScriptWriteOutcome::Refused);
  EXPECT_EQ(card::WriteScript(t, Rows({std::string(128, 'x')})), card::ScriptWriteOutcome::Refused);
  EXPECT_EQ(link.connectCount(), 0);
  EXPECT_EQ(user.texts().size(), 2u);
  EXPECT_EQ(user.texts()[0], "第03行是空行，控制卡读到空行就停止，请删除空行后再下载");

  // An empty program clears the card's script only when confirmed.
  user.queueAnswer(false);
  user.queueAnswer(true);
  EXPECT_EQ(card::WriteScript(t, Rows({})), card::ScriptWriteOutcome::NotConfirmed);
  EXPECT_EQ(link.connectCount(), 0);
  EXPECT_EQ(card::WriteScript(t, Rows({})), card::ScriptWriteOutcome::Sent);
  EXPECT_EQ(link.sent(), Lines{"file program 0x6f0000 0  \n"});
  EXPECT_EQ(user.texts()[2], "脚本程序为空，下载后控制卡中的脚本程序将被清除。确定下载吗？");

  link.failSendsFrom(0);
  EXPECT_EQ(card::WriteScript(t, Rows({"a"})), card::ScriptWriteOutcome::SendFailed);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
  link.queueConnectResult(-1);
  EXPECT_EQ(card::WriteScript(t, Rows({"a"})), card::ScriptWriteOutcome::NotConnected);
}

TEST_F(ScriptOps, ReadTakesTheWholeRegionContinuesShortRepliesAndKeepsTheGate) {
  std::string region = std::string("a=1\r\nb=") + kZhongGbk + "\r\n\r\n";
  region.resize(4096, '\0');
  // The card answers its first request with 1000 bytes only.
  link.onSend([&](const std::string& line) {
    if (line == "file read_raw 0x6f0000 4096\n") link.queueReply(region.substr(0, 1000));
    if (line == "file read_raw 0x6f03e8 4096\n") link.queueReply(region.substr(1000));
  });
  auto t = tools();
  auto read = card::ReadScript(t);
  EXPECT_EQ(read.outcome, card::ScriptReadOutcome::Read);
  EXPECT_EQ(read.split.lines, (Lines{"a=1", std::string("b=") + kZhong}));
  EXPECT_TRUE(read.split.endedAtEmptyLine);
  EXPECT_EQ(link.sent(), (Lines{"file read_raw 0x6f0000 4096\n", "file read_raw 0x6f03e8 4096\n"}));
  EXPECT_FALSE(link.connected());

  // A failed read changes nothing and says so; so does too long a script.
  link.onSend({});
  link.clearEvents();
  link.queueReceiveFailure();
  EXPECT_EQ(card::ReadScript(t).outcome, card::ScriptReadOutcome::ReadFailed);
  EXPECT_EQ(user.texts(), Lines{"读取设备程序失败"});
  link.queueReply(Repeat("a\r\n", 257) + std::string(4096 - 771, '\0'));
  EXPECT_EQ(card::ReadScript(t).outcome, card::ScriptReadOutcome::TooManyLines);
  link.queueReply(std::string(4096, '\xFF'));
  EXPECT_EQ(card::ReadScript(t).outcome, card::ScriptReadOutcome::NoLines);

  // Firmware above 128 is not read.
  link.clearEvents();
  auto gated = tools(129);
  EXPECT_EQ(card::ReadScript(gated).outcome, card::ScriptReadOutcome::Skipped);
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(link.connectCount(), 1);
  EXPECT_FALSE(link.connected());
}

TEST_F(ScriptOps, OpeningSwitchesTheLogOffOnlyOnceConnected) {
  auto t = tools();
  link.queueConnectResult(-1);
  EXPECT_FALSE(card::SwitchLogOff(t));
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(user.texts(), Lines{"连接设备失败"});
  EXPECT_TRUE(card::SwitchLogOff(t));
  EXPECT_EQ(link.sent(), Lines{"set LOG 0 \n"});
  EXPECT_EQ(clock.sleeps(), std::vector<int>{800});
  EXPECT_FALSE(link.connected());
}

TEST_F(ScriptOps, FilesRoundTripInGbkWithTheirEmptyLinesAndLimits) {
  const std::string path = dir.file("s.kxdatr");
  Lines rows = Rows({"a=1", "", std::string("b=") + kZhong});
  ASSERT_TRUE(card::SaveScriptFile(path, rows, user));
  EXPECT_EQ(ReadFile(path), std::string("a=1\r\n\r\nb=") + kZhongGbk + "\r\n");
  auto loaded = card::LoadScriptFile(path, user);
  EXPECT_EQ(loaded.outcome, card::ScriptFileOutcome::Loaded);
  EXPECT_EQ(loaded.lines, (Lines{"a=1", "", std::string("b=") + kZhong}));
  // An empty list saves an empty file.
  ASSERT_TRUE(card::SaveScriptFile(path, Rows({}), user));
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_TRUE(user.shown().empty());

  WriteFile(path, Repeat("a\r\n", 257));
  EXPECT_EQ(card::LoadScriptFile(path, user).outcome, card::ScriptFileOutcome::TooManyLines);
  WriteFile(path, std::string(102398, 'x') + "\r\n");
  EXPECT_EQ(card::LoadScriptFile(path, user).outcome, card::ScriptFileOutcome::Loaded);
  WriteFile(path, std::string(102399, 'x') + "\r\n");
  EXPECT_EQ(card::LoadScriptFile(path, user).outcome, card::ScriptFileOutcome::TooLarge);
  EXPECT_EQ(card::LoadScriptFile(dir.file("none"), user).outcome, card::ScriptFileOutcome::FileMissing);
  EXPECT_FALSE(card::SaveScriptFile(dir.file("no/dir/s"), Rows({"a"}), user));
  EXPECT_EQ(user.texts(), (Lines{"脚本程序超过256行，不能载入", "脚本文件超过102400字节，不能打开", "文件不存在",
                                 "文件不存在"}));
}

TEST_F(ScriptOps, BytesThatAreNoGbkShowAsEscapesAndGoBackUnchanged) {
  // Read: the undecodable bytes as \xNN, a backslash doubled.
  std::string region = std::string("a=\xFF\xFE\x81 x\r\np=c:\\d\r\nq=") + kZhongGbk + "\x80\r\n";
  const std::string script = region;
  region.resize(4096, '\0');
  link.queueReply(region);
  auto t = tools();
  auto read = card::ReadScript(t);
  ASSERT_EQ(read.outcome, card::ScriptReadOutcome::Read);
  EXPECT_EQ(read.split.lines, (Lines{"a=\\xFF\\xFE\\x81 x", "p=c:\\\\d", std::string("q=") + kZhong + "\\x80"}));

  // Written as read: the card gets its own bytes; one row edited changes
  // only that row.
  link.clearEvents();
  ASSERT_EQ(card::WriteScript(t, Rows(read.split.lines)), card::ScriptWriteOutcome::Sent);
  EXPECT_EQ(link.sent(), Lines{card::ScriptProgramCommand(script)});
  Lines edited = read.split.lines;
  edited[1] = "p=\\x01";
  link.clearEvents();
  ASSERT_EQ(card::WriteScript(t, Rows(edited)), card::ScriptWriteOutcome::Sent);
  const std::string expected = std::string("a=\xFF\xFE\x81 x\r\np=\x01\r\nq=") + kZhongGbk + "\x80\r\n";
  EXPECT_EQ(link.sent(), Lines{card::ScriptProgramCommand(expected)});

  // A file keeps them too, both ways.
  const std::string path = dir.file("bytes.kxdatr");
  ASSERT_TRUE(card::SaveScriptFile(path, Rows(read.split.lines), user));
  EXPECT_EQ(ReadFile(path), script);
  auto loaded = card::LoadScriptFile(path, user);
  EXPECT_EQ(loaded.lines, read.split.lines);
  EXPECT_TRUE(user.shown().empty());

  // What cannot be stored is refused with its row, for the card and a file;
  // a zero byte or a CR LF would cut the line where the card reads it.
  link.clearEvents();
  EXPECT_EQ(card::WriteScript(t, Rows({"a", "b\\q"})), card::ScriptWriteOutcome::Refused);
  EXPECT_EQ(card::WriteScript(t, Rows({"a", "b", "c\\x0D\\x0Ad"})), card::ScriptWriteOutcome::Refused);
  EXPECT_EQ(card::WriteScript(t, Rows({"\\x00"})), card::ScriptWriteOutcome::Refused);
  // A lone CR or LF is part of its line.
  EXPECT_EQ(card::WriteScript(t, Rows({"x\\x0D", "\\x0Ay"})), card::ScriptWriteOutcome::Sent);
  EXPECT_EQ(link.sent(), Lines{card::ScriptProgramCommand("x\r\r\n\ny\r\n")});
  EXPECT_FALSE(card::SaveScriptFile(path, Rows({"ok", "\xF0\x9F\x98\x80"}), user));
  EXPECT_FALSE(card::SaveScriptFile(path, Rows({"a\\x0D\\x0Ab"}), user));
  EXPECT_EQ(ReadFile(path), script);
  EXPECT_EQ(user.texts(), (Lines{"第01行中的“\\”后应为“\\\\”或“\\xNN”（两位十六进制），请修改",
                                 "第02行含有\\x00或\\x0D\\x0A，读取时会在此截断，请修改",
                                 "第00行含有\\x00或\\x0D\\x0A，读取时会在此截断，请修改",
                                 "第01行含有GBK编码以外的字符，不能保存",
                                 "第00行含有\\x00或\\x0D\\x0A，读取时会在此截断，请修改"}));
  // 127 bytes are counted as bytes: \xFF is one.
  EXPECT_EQ(card::ScriptForCard({Repeat("\\xFF", 127)}).refusal, "");
  EXPECT_EQ(card::ScriptForCard({Repeat("\\xFF", 128)}).refusal, "第00行超过127字节，请缩短后再下载");
}

}  // namespace
