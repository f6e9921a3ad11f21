// The storage tools over the real driver against a virtual card: dumps of
// the card's flash regions compared with the card's own flash image, a long
// text landing in its slot, and a script written and read back.
#include "e2e/fixture.h"
#include "platform/crc32.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "storage/flash_save.h"
#include "storage/script.h"
#include "support/fake_ports.h"

namespace e2e {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

class StorageTest : public CardSimTest {
 protected:
  card::StorageTools Tools(card::Channel& link) { return {link, fast_, user_, files_, progress_, kCard0, out_.path()}; }
  card::ScriptTools Script(card::Channel& link) { return {link, fast_, user_, kCard0, 39}; }
  // The card's flash as it keeps it on disk, once it holds what a test expects.
  std::string Flash(std::uint32_t start, std::uint32_t size, const std::function<bool(const std::string&)>& ready) {
    std::string part;
    Eventually([&] {
      std::string image = ReadFile(StateFile(0, "flash.bin"));
      if (image.size() != 8u << 20) return false;
      part = image.substr(start, size);
      return ready(part);
    });
    return part;
  }
  static std::uint32_t U32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return v;
  }

  platform::VirtualClock stamps_;
  testing_support::FakeUser user_{&stamps_};
  testing_support::FakeFiles files_;
  testing_support::FakeProgress progress_;
  testing_support::TempDir out_;
};

TEST_F(StorageTest, DumpsOfTheProgramAndScriptRegionsAreTheCardsFlash) {
  StartSim();
  // Something in both regions: a program in slot 2 and a script.
  auto command = Connected(kCard0, card::kCommandPort);
  const std::string program = "program text for slot 2\r\n";
  card::SendLine(*command, platform::Format("file cmd 2 %zu %x 2 \n", program.size(), card::Crc32(program)) + program);
  auto link = Link(card::kFilePort);
  auto script = Script(*link);
  ASSERT_EQ(card::WriteScript(script, {"a=1", "b=2"}), card::ScriptWriteOutcome::Sent);

  const std::string programRegion = Flash(0x600000, 0xD0000, [&](const std::string& r) {
    return r.find(program) != std::string::npos;
  });
  const std::string scriptRegion = Flash(0x6F0000, 0x1000, [](const std::string& r) { return r.rfind("a=1", 0) == 0; });
  ASSERT_FALSE(programRegion.empty());
  ASSERT_FALSE(scriptRegion.empty());

  auto t = Tools(*link);
  files_.saves = {out_.file("program.kxdatr"), out_.file("script.kxdatr")};
  EXPECT_EQ(card::DumpRegion(t, 3), card::DumpOutcome::Saved);
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::Saved);
  EXPECT_TRUE(ReadFile(out_.file("program.kxdatr")) == programRegion) << "program region differs";
  EXPECT_EQ(ReadFile(out_.file("script.kxdatr")), scriptRegion);
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{"读取成功", "读取成功"}));

  // A card that answers in short pieces gives the same dump.
  RestartSim(0, {"--short-reads", "1000"});
  files_.saves = {out_.file("script-short.kxdatr")};
  EXPECT_EQ(card::DumpRegion(t, 4), card::DumpOutcome::Saved);
  EXPECT_EQ(ReadFile(out_.file("script-short.kxdatr")), scriptRegion);
  EXPECT_NE(Received(kCard0, card::kFilePort).find("file read_raw 0x6f03e8 4096\n"), std::string::npos);
}

TEST_F(StorageTest, ALongTextLandsInItsSlot) {
  StartSim();
  // GBK text of 5000 bytes, sent in one piece.
  std::string text = platform::Utf8ToGbk("长文本");
  while (text.size() < 5000) text += "0123456789";
  text.resize(5000);
  WriteFile(out_.file("text.txt"), text);
  files_.opens = {out_.file("text.txt")};
  auto link = Link(card::kFilePort);
  auto t = Tools(*link);
  ASSERT_EQ(card::DownloadLongText(t, 3), card::DownloadOutcome::Sent);
  EXPECT_EQ(user_.texts(), std::vector<std::string>{"下载成功"});
  // Slot 3 is the card's text 8.
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "texts_stored") == 1; }));
  EXPECT_EQ(StatusValue(0, "text_mismatches"), 0);
  const std::string slot = Flash(0x700000 + 3 * 0x4000, 0x4000, [](const std::string& s) { return s[0] != '\xFF'; });
  ASSERT_EQ(slot.size(), 0x4000u);
  EXPECT_EQ(U32(slot, 0), 5000u);
  EXPECT_EQ(slot.substr(8, 5000), text);
}

TEST_F(StorageTest, AScriptWrittenReadsBackTheSame) {
  StartSim();
  auto link = Link(card::kFilePort);
  auto t = Script(*link);
  EXPECT_TRUE(card::SwitchLogOff(t));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "log") == 0; }));

  std::vector<std::string> rows = {"if a=1", "  led 12t 0 0 欢迎光临", std::string(127, 'x'), "end"};
  rows.resize(card::kScriptRows);
  ASSERT_EQ(card::WriteScript(t, rows), card::ScriptWriteOutcome::Sent);
  const std::string text = "if a=1\r\n  led 12t 0 0 " + platform::Utf8ToGbk("欢迎光临") + "\r\n" + std::string(127, 'x') +
                           "\r\nend\r\n";
  Flash(0x6F0000, 0x1000, [&](const std::string& r) { return r.rfind(text, 0) == 0; });

  auto read = card::ReadScript(t);
  ASSERT_EQ(read.outcome, card::ScriptReadOutcome::Read);
  EXPECT_EQ(read.split.lines, card::ProgramRows(rows));
  EXPECT_TRUE(user_.shown().empty());
  EXPECT_NE(Received(kCard0, card::kFilePort).find("file program 0x6f0000 " + std::to_string(text.size()) + "  \n" + text),
            std::string::npos);
}

TEST_F(StorageTest, AScriptWithBytesThatAreNoGbkKeepsThemWhenOneLineIsEdited) {
  StartSim();
  auto link = Link(card::kFilePort);
  // The card's script as some other tool left it: bytes that are no GBK
  // text, a backslash, and a GBK line.
  const std::string before = std::string("a=\xFF\xFE\x81 x\r\nb=2\r\np=c:\\tmp\x80\r\nt=") +
                             platform::Utf8ToGbk("欢迎") + "\xA1\r\n";
  ASSERT_EQ(card::SendLine(*Connected(kCard0, card::kFilePort), card::ScriptProgramCommand(before)), 0);
  Flash(0x6F0000, 0x1000, [&](const std::string& r) { return r.rfind(before, 0) == 0; });

  auto t = Script(*link);
  auto read = card::ReadScript(t);
  ASSERT_EQ(read.outcome, card::ScriptReadOutcome::Read);
  ASSERT_EQ(read.split.lines.size(), 4u);
  EXPECT_EQ(read.split.lines[0], "a=\\xFF\\xFE\\x81 x");
  std::vector<std::string> rows = read.split.lines;
  rows[1] = "b=3";
  rows.resize(card::kScriptRows);
  ASSERT_EQ(card::WriteScript(t, rows), card::ScriptWriteOutcome::Sent);

  std::string after = before;
  after.replace(after.find("b=2"), 3, "b=3");
  const std::string region = Flash(0x6F0000, 0x1000, [&](const std::string& r) { return r.rfind(after, 0) == 0; });
  EXPECT_EQ(region.substr(0, after.size()), after);
  EXPECT_TRUE(user_.shown().empty());
}

}  // namespace
}  // namespace e2e
