// "固件升级", "显示测试" and "同步显示" over fake links: the upgrade's exact
// lines and pauses, both access codes and a wrong one, a failed read and a
// failed send; the display test's number for every code word.
#include <gtest/gtest.h>

#include "programs/display_test.h"
#include "programs/firmware.h"
#include "platform/text.h"
#include "support/main_fixture.h"

namespace {

using testing_support::ChannelEvent;

constexpr const char* kCardIp = "192.168.1.20";

class Firmware : public testing_support::MainFixture {
 protected:
  Firmware() {
    OpenWith(record);
    state.setCardOpened();
    command.onSend([this](const std::string& line) {
      if (line == "query all_in_struct_tcp \n") command.queueReply(Bytes(onCard));
    });
  }
  std::vector<std::string> SetLines() const {
    std::vector<std::string> out;
    for (const auto& s : command.sent())
      if (s.rfind("query ", 0) != 0) out.push_back(s);
    return out;
  }

  card::DeviceStatusRecord record = CardRecord(kCardIp, 39);
  // What the card holds now: the upgrade reads it again first.
  card::DeviceStatusRecord onCard = [] {
    auto r = CardRecord(kCardIp, 39);
    r.setU8(card::rec::kBrightness, 33);
    r.updateChecksum();
    return r;
  }();
};

TEST_F(Firmware, UpgradeFlagsRestartsAndHandsTheCardToTheLoader) {
  ASSERT_TRUE(card::FirmwareUpgrade(ctx, open));
  auto flagged = onCard;
  flagged.setU8(card::rec::kFactoryByte, 0x80);
  const std::uint32_t crc = flagged.updateChecksum();
  EXPECT_EQ(SetLines(), (std::vector<std::string>{platform::Format("set Sys_Crc %x \n", crc), "set S_Foctory 0x80 \n",
                                                  std::string("reset \n ", 8)}));
  // The lines' gaps, and the panel cleared 5000 ms after the reset.
  std::vector<ChannelEvent> sends;
  std::int64_t disconnectAfterReset = -1;
  for (const auto& e : command.events()) {
    if (e.kind == ChannelEvent::Send && e.bytes.rfind("query ", 0) != 0) sends.push_back(e);
    if (e.kind == ChannelEvent::Disconnect && sends.size() == 3 && disconnectAfterReset < 0) disconnectAfterReset = e.at;
  }
  ASSERT_EQ(sends.size(), 3u);
  EXPECT_EQ(sends[1].at - sends[0].at, 2000);
  EXPECT_EQ(sends[2].at - sends[1].at, 3000);
  EXPECT_EQ(disconnectAfterReset - sends[2].at, 5000);
  // The WorkingRecord is the card's fresh record with the flag.
  EXPECT_EQ(state.record(), flagged);
  EXPECT_EQ(panel.values.widthText, "");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), kCardIp);
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/fwloader"}));
  EXPECT_TRUE(user.shown().empty());

  // With the loader running: flagged and restarted again, keys written, no
  // second loader, the panel cleared only once.
  processes.running = {"FWLOADER"};
  command.clearEvents();
  cfg.write("LEDPARA", "Restore_En", "1");
  const int writes = panel.writes;
  ASSERT_TRUE(card::FirmwareUpgrade(ctx, open));
  EXPECT_EQ(SetLines().size(), 3u);
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
  EXPECT_EQ(processes.started.size(), 1u);
  EXPECT_EQ(panel.writes - writes, 2);  // the read's fill and one clear
}

TEST_F(Firmware, AFailedReadOrSendStopsBeforeAnyKeyOrLoaderWithOneMessage) {
  // The card answers with nothing: the read fails, says why, nothing follows.
  command.onSend({});
  EXPECT_FALSE(card::FirmwareUpgrade(ctx, open));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgNoRecord}));
  EXPECT_TRUE(SetLines().empty());
  // A card that cannot be reached: the one box the read shows.
  command.queueConnectResult(-1);
  EXPECT_FALSE(card::FirmwareUpgrade(ctx, open));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgNoRecord, card::kMsgConnectFailed}));
  // A read that fails without a word (no search transport for "广播"): the
  // upgrade says it stopped.
  panel.values.broadcast = true;
  card::OpenContext noSearch{nullptr, recovery, list, siblings, {}};
  EXPECT_FALSE(card::FirmwareUpgrade(ctx, noSearch));
  EXPECT_EQ(user.texts().back(), card::kMsgUpgradeNotStarted);
  EXPECT_EQ(user.texts().size(), 3u);
  panel.values.broadcast = false;
  EXPECT_TRUE(SetLines().empty());

  // The announcement, the flag or the reset cannot be sent.
  for (int failFrom : {2, 3, 4}) {
    command.clearEvents();
    testing_support::FakeChannel link(&clock);
    link.onSend([&](const std::string& line) {
      if (line == "query all_in_struct_tcp \n") link.queueReply(Bytes(onCard));
    });
    link.failSendsFrom(failFrom);
    testing_support::FakeUser fresh(&clock);
    card::PanelContext c{link, clock, fresh, panel, state, cfg};
    EXPECT_FALSE(card::FirmwareUpgrade(c, open)) << failFrom;
    EXPECT_EQ(fresh.texts(), (std::vector<std::string>{card::kMsgConnectFailed})) << failFrom;
    EXPECT_EQ(link.sent().size(), static_cast<std::size_t>(failFrom + 1)) << failFrom;
    EXPECT_FALSE(link.connected());
    // A flag that did not go out is not in the WorkingRecord.
    EXPECT_EQ(state.record().u8(card::rec::kFactoryByte), failFrom == 4 ? 0x80 : 0) << failFrom;
  }
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "<none>");
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "<none>");
  EXPECT_TRUE(processes.started.empty());

  // No card opened: said, nothing read or sent.
  card::MainState closed;
  card::PanelContext c{command, clock, user, panel, closed, cfg};
  command.clearEvents();
  EXPECT_FALSE(card::FirmwareUpgrade(c, open));
  EXPECT_EQ(user.texts().back(), card::kMsgNotConnected);
  EXPECT_TRUE(command.events().empty());
}

TEST_F(Firmware, QuittingAfterTheFlagStillRestartsTheCard) {
  platform::CancellableClock quitting(clock);
  card::PanelContext c{command, quitting, user, panel, state, cfg};
  // The tool is closed right after the flag went out.
  command.onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") command.queueReply(Bytes(onCard));
    if (line == "set S_Foctory 0x80 \n") quitting.cancel();
  });
  EXPECT_THROW(card::FirmwareUpgrade(c, open), platform::OperationAborted);
  const std::vector<std::string> lines = SetLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], std::string("reset \n ", 8));
  const std::vector<std::int64_t> times = command.sendTimes();
  EXPECT_EQ(times.back() - times[times.size() - 2], 3000) << "the whole pause before the reset";
  // Cut after the reset: no loader is started for a tool that is closing.
  EXPECT_TRUE(processes.started.empty());
}

TEST_F(Firmware, AccessCodes) {
  EXPECT_EQ(card::ClassifyPassword("826"), card::AccessPath::Upgrade);
  EXPECT_EQ(card::ClassifyPassword("826 and more"), card::AccessPath::Upgrade);
  EXPECT_EQ(card::ClassifyPassword("827"), card::AccessPath::LoaderOnly);
  for (const char* wrong : {"", "82", "628", " 826", "828", "密码"})
    EXPECT_EQ(card::ClassifyPassword(wrong), card::AccessPath::Wrong) << wrong;

  // The service code: the loader without a word to the card, with no card
  // opened too.
  card::MainState closed;
  card::PanelContext c{command, clock, user, panel, closed, cfg};
  EXPECT_TRUE(card::LoaderOnly(c, siblings));
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "<none>");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/fwloader"}));
  EXPECT_TRUE(command.sent().empty());
  processes.startSucceeds = false;
  EXPECT_FALSE(card::LoaderOnly(c, siblings));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::SiblingStartFailedText("fwloader")}));
}

TEST_F(Firmware, DisplayTestNumberForEveryCodeWord) {
  const std::uint16_t six[] = {0x800A, 0x8801, 0x8802, 0x8803, 0x800E, 0x800F,
                               0x8009, 0x801F, 0x802F, 0x801E, 0x8804, 0x88FF};
  int sixes = 0;
  for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
    const int n = card::DisplayTestNumber(static_cast<std::uint16_t>(code));
    ASSERT_TRUE(n == 2 || n == 6) << code;
    sixes += n == 6;
  }
  EXPECT_EQ(sixes, 12);
  for (std::uint16_t code : six) EXPECT_EQ(card::DisplayTestNumber(code), 6) << code;
  EXPECT_EQ(card::DisplayTestNumber(0x800B), 2);  // "9-- 全彩4S_P10"

  // The line on the file link, 500 ms inside the exchange, 1000 ms after.
  for (std::uint16_t code : {std::uint16_t{0x8801}, std::uint16_t{0x8111}}) {
    auto r = record;
    r.setU16(card::rec::kCodeWord, code);
    state.setRecord(r);
    file.clearEvents();
    ASSERT_TRUE(card::DisplayTest(file, clock, user, state));
    EXPECT_EQ(file.sent(), (std::vector<std::string>{code == 0x8801 ? "led scr_t 1 6 \n" : "led scr_t 1 2 \n"}));
    auto events = file.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].bytes, kCardIp);
    EXPECT_EQ(events[3].kind, ChannelEvent::End);
    EXPECT_EQ(events[3].at - events[2].at, 500);
    EXPECT_EQ(events[4].kind, ChannelEvent::Disconnect);
    EXPECT_EQ(events[4].at - events[3].at, 1000);
  }
  // Before any card was selected: the connection fails, nothing is sent.
  card::MainState none;
  file.clearEvents();
  EXPECT_FALSE(card::DisplayTest(file, clock, user, none));
  EXPECT_TRUE(file.sent().empty());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgConnectFailed}));
}

TEST_F(Firmware, SyncDisplayHandsTheCardToProgedit3) {
  ASSERT_TRUE(card::SyncDisplay(state, cfg, siblings, user, "10.0.0.9"));
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "10.0.0.9");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/progedit3"}));
  processes.running = {"ProgEdit3"};
  ASSERT_TRUE(card::SyncDisplay(state, cfg, siblings, user, "10.0.0.10"));
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "10.0.0.10");
  EXPECT_EQ(processes.started.size(), 1u);
  processes.running.clear();
  processes.startSucceeds = false;
  EXPECT_FALSE(card::SyncDisplay(state, cfg, siblings, user, "10.0.0.11"));
  card::MainState closed;
  EXPECT_FALSE(card::SyncDisplay(closed, cfg, siblings, user, "10.0.0.12"));
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "10.0.0.11");
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::SiblingStartFailedText("progedit3"), card::kMsgNotConnected}));
}

}  // namespace
