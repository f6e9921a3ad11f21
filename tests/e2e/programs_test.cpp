// The program tools over the real driver against virtual cards: a paced
// upload read back byte for byte through short replies, the editor's request uploading its own
// slot, delete and format, a card that never acknowledges, the firmware
// upgrade and the display test.
#include <filesystem>

#include "e2e/fixture.h"
#include "link/driver_binding.h"
#include "params/discovery.h"
#include "params/network.h"
#include "platform/codec.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "programs/display_test.h"
#include "programs/editor_files.h"
#include "programs/firmware.h"
#include "programs/program_slots.h"
#include "support/fake_ports.h"

namespace e2e {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr std::uint32_t kSlotAreas = 0x610000;  // the virtual card keeps slot i at 0x610000 + i * 64 KiB
constexpr std::uint32_t kSlotArea = 0x10000;

// n bytes of GBK program text: Chinese and ASCII, line by line.
std::string GbkProgram(std::size_t n) {
  std::string p;
  for (int i = 0; p.size() < n; ++i) p += platform::Utf8ToGbk(platform::Format("第%d行 温度 %d.%d℃\n", i, 20 + i % 9, i % 10));
  p.resize(n);
  if (p.back() & 0x80) p.back() = '.';  // never end inside a character
  return p;
}

class ProgramsE2E : public CardSimTest {
 protected:
  void SetUp() override {
    CardSimTest::SetUp();
    if (IsSkipped()) return;
    file_ = lib_->CreateLink(card::kFilePort);
    command_ = lib_->CreateLink(card::kCommandPort);
    search_ = lib_->CreateSearch();
    recovery_ = lib_->CreateLink(card::kRecoveryPort);
    state_.setLocalAddress(kLocal);
  }
  // The card as a double-click leaves it: selected, opened, its record read.
  void Open(const char* address = kCard0) {
    state_.setSelectedAddress(address);
    state_.setCardOpened();
    auto link = Connected(address);
    state_.setRecord(QueryRecord(*link));
  }
  // After the upload's reset the card is down for its boot time.
  void WaitUntilUp(long restarts) {
    ASSERT_TRUE(Eventually(
        [&] {
          return StatusValue(0, "restarts") >= restarts &&
                 ReadFile(StateFile(0, "status.json")).find("\"up\": true") != std::string::npos;
        },
        8000));
  }
  std::string WorkingFile(int number) { return card::WorkingFilePath(subsys_, number); }
  void PutWorkingFile(int number, const std::string& text) {
    std::filesystem::create_directories(dir_.file(platform::Format("ledsys/CMD%d", number)));
    WriteFile(WorkingFile(number), text);
  }
  card::ProgramChoice Choice(int slot) {
    card::ProgramChoice c;
    c.slot = slot;
    c.dwell = 4;
    c.cardIp = kCard0;
    return c;
  }
  // What the card's flash holds in a slot's area.
  std::string SlotArea(int slot, std::size_t n) {
    std::string flash = ReadFile(StateFile(0, "flash.bin"));
    return flash.substr(kSlotAreas + static_cast<std::size_t>(slot) * kSlotArea, n);
  }

  testing_support::TempDir dir_;
  std::string subsys_ = dir_.path() + "/";
  platform::VirtualClock stamps_;
  testing_support::FakeUser user_{&stamps_};
  testing_support::FakeProcesses processes_;
  testing_support::FakePanel panel_;
  testing_support::FakeList list_;
  card::MainState state_;
  card::SysCfg cfg_{dir_.file("SysCfg.ini")};
  card::Siblings siblings_{processes_, subsys_};
  std::unique_ptr<card::Channel> file_, command_, search_, recovery_;
  card::ProgramContext Context() { return {*file_, *command_, fast_, user_, state_, cfg_, siblings_}; }
};

TEST_F(ProgramsE2E, PacedUploadReadsBackByteForByte) {
  // The card answers a read with at most 1000 bytes: the read-back asks
  // again from the first byte it is missing.
  StartSim({"--boot-ms", "200", "--short-reads", "1000"});
  Open();
  const std::string program = GbkProgram(5000);
  PutWorkingFile(2, program);
  card::ProgramContext ctx = Context();
  ASSERT_TRUE(card::UploadProgram(ctx, 1, 4));
  EXPECT_TRUE(user_.shown().empty());
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 1; }));
  // 5000 bytes of text and its header: five pieces, four acknowledgements.
  EXPECT_EQ(StatusValue(0, "acks_sent"), 4);
  EXPECT_EQ(StatusValue(0, "program_mismatches"), 0);
  const std::string wire = Received(kCard0, card::kFilePort);
  EXPECT_NE(wire.find(std::string("file end") + "reset \n"), std::string::npos);
  EXPECT_EQ(SlotArea(1, program.size()), program);
  WaitUntilUp(1);

  WriteFile(WorkingFile(2), "stale");
  ASSERT_EQ(card::ReadBackProgram(ctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(2)), program);
  EXPECT_TRUE(user_.shown().empty());
  EXPECT_TRUE(Eventually([&] {
    return Received(kCard0, card::kFilePort).find("file read_raw 0x620000 5120\nfile read_raw 0x6203e8 4120\n") !=
           std::string::npos;
  }));
}

TEST_F(ProgramsE2E, TheEditorsSaveIsUploadedToTheSlotItWasGiven) {
  StartSim({"--boot-ms", "200"});
  Open();
  // "编辑" on "4--节目4" without read-back: the editor gets slot 4.
  card::ProgramChoice choice = Choice(3);
  choice.readBack = false;
  card::ProgramContext ctx = Context();
  card::EditBody(ctx, choice);
  EXPECT_EQ(processes_.started, (std::vector<std::string>{subsys_ + "progedit"}));
  EXPECT_EQ(platform::ReadIniKey(cfg_.path(), "RemotIP", "RemotIP", "", 260), kCard0);
  const int editorSlot = card::HandedProgramNumber(cfg_);

  // While it runs, "编辑" on "1--节目1" does not switch it: the user is told.
  processes_.running = {"progedit"};
  card::EditBody(ctx, Choice(0));
  EXPECT_EQ(card::HandedProgramNumber(cfg_), 4);
  EXPECT_EQ(user_.texts().size(), 1u);

  // The editor saves as the stand-in does and asks for the upload.
  const std::string text = "编辑器里的节目\n第二行\n";
  ASSERT_TRUE(card::SaveProgramText(subsys_, cfg_, editorSlot, text, true));
  // The window's poll: pending, taken ("0" written back), the editor's slot
  // uploaded although the list now shows "1--节目1".
  ASSERT_TRUE(card::SyncRequestPending(state_, cfg_));
  card::EditorRequests requests;
  const std::optional<int> slot = requests.Take(cfg_, 0, user_);
  ASSERT_EQ(slot, 3);
  ASSERT_TRUE(card::UploadProgram(ctx, *slot, 4));
  EXPECT_FALSE(card::SyncRequestPending(state_, cfg_));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 1; }));
  const std::string gbk = platform::Utf8ToGbk(text);
  EXPECT_EQ(SlotArea(3, gbk.size()), gbk);
  EXPECT_EQ(SlotArea(0, 4), std::string(4, '\xFF'));
  EXPECT_TRUE(Eventually([&] {
    return Received(kCard0, card::kFilePort).find(platform::Format("file cmd 3 %zu ", gbk.size())) != std::string::npos;
  }));
}

TEST_F(ProgramsE2E, DeleteAndFormatEmptyTheSlots) {
  StartSim({"--boot-ms", "200"});
  Open();
  card::ProgramContext ctx = Context();
  PutWorkingFile(1, "first\n");
  PutWorkingFile(2, "second\n");
  ASSERT_TRUE(card::UploadProgram(ctx, 0, 4));
  WaitUntilUp(1);
  ASSERT_TRUE(card::UploadProgram(ctx, 1, 4));
  WaitUntilUp(2);

  ASSERT_TRUE(card::DeleteProgram(ctx, 0));
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{"成功删除节目1"}));
  EXPECT_TRUE(Eventually([&] { return Received(kCard0, card::kCommandPort).find("file cmdremove 0\n") != std::string::npos; }));
  ASSERT_EQ(card::ReadBackProgram(ctx, Choice(0)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(1)), "");
  ASSERT_EQ(card::ReadBackProgram(ctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(2)), "second\n");

  user_.queueAnswer(true);
  ASSERT_TRUE(card::FormatPrograms(ctx));
  ASSERT_EQ(card::ReadBackProgram(ctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(2)), "");
  EXPECT_EQ(user_.texts().size(), 2u);  // the notice and the question, nothing else
}

TEST_F(ProgramsE2E, ACardThatNeverAcknowledgesIsNotReset) {
  StartSim({"--no-ack"});
  Open();
  PutWorkingFile(1, GbkProgram(3000));
  card::ProgramContext ctx = Context();
  EXPECT_FALSE(card::UploadProgram(ctx, 0, 4));
  EXPECT_EQ(user_.texts(), (std::vector<std::string>{card::kMsgUploadNoAck}));
  const std::string wire = Received(kCard0, card::kFilePort);
  EXPECT_EQ(wire.size(), 1200u);  // the first piece and nothing after it
  EXPECT_EQ(wire.find("reset"), std::string::npos);
  EXPECT_EQ(StatusValue(0, "programs_stored"), 0);
  EXPECT_EQ(StatusValue(0, "restarts"), 0);
}

TEST_F(ProgramsE2E, FirmwareUpgradeFlagsTheCardWhichOpensItsBootWindow) {
  StartSim({"--boot-ms", "200"});
  Open();
  card::PanelContext ctx{*command_, fast_, user_, panel_, state_, cfg_};
  card::OpenContext open{search_.get(), *recovery_, list_, siblings_, {}};
  ASSERT_TRUE(card::FirmwareUpgrade(ctx, open));
  EXPECT_TRUE(user_.shown().empty());
  const std::string wire = Received(kCard0, card::kCommandPort);
  EXPECT_NE(wire.find("set S_Foctory 0x80 \nreset \n "), std::string::npos);
  ASSERT_TRUE(Eventually([&] {
    return ReadFile(StateFile(0, "status.json")).find("\"boot_window\": true") != std::string::npos;
  }, 5000));
  std::string record = ReadFile(StateFile(0, "record.bin"));
  ASSERT_EQ(record.size(), card::rec::kSize);
  EXPECT_EQ(static_cast<std::uint8_t>(record[card::rec::kFactoryByte]), 0x80);
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  EXPECT_EQ(platform::ReadIniKey(cfg_.path(), "RemotIP", "RemotIP", "", 260), kCard0);
  EXPECT_EQ(platform::ReadIniKey(cfg_.path(), "LEDPARA", "Restore_En", "", 10), "0");
  EXPECT_EQ(processes_.started, (std::vector<std::string>{subsys_ + "fwloader"}));
}

TEST_F(ProgramsE2E, DisplayTestDrawsTheTargetsPattern) {
  StartSim();
  Open();
  auto pixels = [&] {
    std::string pgm = ReadFile(StateFile(0, "screen.pgm"));
    const std::string header = "P5\n128 32\n255\n";
    return pgm.rfind(header, 0) == 0 ? pgm.substr(header.size()) : std::string();
  };
  auto lit = [&](const std::string& p, int x, int y) { return p.at(static_cast<std::size_t>(y * 128 + x)) != 0; };
  // "1-- 常规P10" (0x8111): pattern 2, every pixel.
  ASSERT_TRUE(card::DisplayTest(*file_, fast_, user_, state_));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "screen_lit") == 128 * 32; }));
  EXPECT_EQ(Received(kCard0, card::kFilePort), "led scr_t 1 2 \n");
  // "6-- 行8S_折16" (0x8801): pattern 6, squares of six.
  auto r = state_.record();
  r.setU16(card::rec::kCodeWord, 0x8801);
  state_.setRecord(r);
  ASSERT_TRUE(card::DisplayTest(*file_, fast_, user_, state_));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "screen_lit") < 128 * 32 && !pixels().empty(); }));
  const std::string p = pixels();
  EXPECT_TRUE(lit(p, 0, 0));
  EXPECT_TRUE(lit(p, 5, 5));
  EXPECT_FALSE(lit(p, 6, 0));
  EXPECT_FALSE(lit(p, 0, 6));
  EXPECT_TRUE(lit(p, 6, 6));
  EXPECT_TRUE(lit(p, 12, 0));
  EXPECT_TRUE(user_.shown().empty());
}

}  // namespace
}  // namespace e2e
