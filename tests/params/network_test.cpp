// The network group of a submit, the clock, the restart and the program-editor poll.
#include "params/network.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "params/panel.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "platform/text.h"

namespace rec = card::rec;
using card::NetworkOutcome;

namespace {

using Network = testing_support::MainFixture;

}  // namespace

TEST_F(Network, UnchangedGroupSendsNothingButStoresRemotIP) {
  OpenWith(CardRecord("192.168.1.20"));
  EXPECT_EQ(card::NetworkStep(ctx, panel.Read()), NetworkOutcome::Done);
  EXPECT_TRUE(command.sent().empty());
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500}));
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "192.168.1.20");
  EXPECT_FALSE(command.connected());
}

TEST_F(Network, FlagsAreAnnouncedAndSentInOrder) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.autoIp = false;  // the card obtains its address automatically
  panel.values.serverEnable = true;
  panel.values.doubleSided = true;
  EXPECT_EQ(card::NetworkStep(ctx, panel.Read()), NetworkOutcome::Done);
  EXPECT_EQ(FieldLines(),
            (std::vector<std::string>{"set dhcp_diable 1 \n", "set sever_enable 1 \n", "set T_Face 1 \n"}));
  EXPECT_EQ(command.sent().size(), 6u);
  auto r = state.record();
  EXPECT_EQ(r.u8(rec::kIpMode), 1);
  EXPECT_EQ(r.u8(rec::kServerEnable), 1);
  EXPECT_EQ(r.u8(rec::kDoubleSided), 1);
  EXPECT_TRUE(card::VerifyChecksum(r));
}

TEST_F(Network, TheLockSwitchesOnOnlyFromVersion17) {
  OpenWith(CardRecord("192.168.1.20", 17));
  panel.values.lock = true;
  card::NetworkStep(ctx, panel.Read());
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set Store_lock on \n  "}));
  EXPECT_EQ(state.record().u8(rec::kLock), 1);

  command.clearEvents();
  auto old = CardRecord("192.168.1.20", 16);
  OpenWith(old);
  panel.values.lock = true;
  card::NetworkStep(ctx, panel.Read());
  EXPECT_TRUE(FieldLines().empty());
  EXPECT_EQ(state.record().u8(rec::kLock), 0);
  // Switching it off works on every card; it goes first of a submit.
  old.setU8(rec::kLock, 1);
  old.updateChecksum();
  OpenWith(old);
  panel.values.lock = false;
  card::SubmitParameters(ctx, panel.Read());
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set Store_lock off \n  "}));
}

TEST_F(Network, NewCardAddressGoesLastRestartsTheCardAndSkipsTheClock) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.cardIp = "192.168.1.30";
  panel.values.serverIp = "10.0.0.1";
  panel.values.serverPort = "9000";
  card::SubmitAll(ctx);
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set server_ip 10 0 0 1 \n", "set server_port 9000 \n",
                                                    "set local_ip 192 168 1 30 \n"}));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgReaddressed}));
  // The panel is empty and the card's new address is left for the sibling programs.
  EXPECT_EQ(panel.values.widthText, "");
  EXPECT_EQ(panel.values.cardIp, "");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "192.168.1.30");
  auto r = state.record();
  EXPECT_EQ(card::AddressText(r), "192.168.1.30");
  EXPECT_EQ(card::Ipv4Text(r, rec::kServerAddress), "10.0.0.1");
  EXPECT_EQ(r.u16(rec::kServerPort), 9000);
  // 1000 ms after the address line; no clock line to the old address.
  auto times = command.sendTimes();
  EXPECT_EQ(clock.now() - times.back(), 1000 + 500);
  for (const auto& s : command.sent()) EXPECT_EQ(s.find("set time"), std::string::npos);
}

TEST_F(Network, PortAbove65535IsSentWithEverySubmit) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.serverPort = "70000";
  for (int i = 0; i < 2; ++i) {
    command.clearEvents();
    card::NetworkStep(ctx, panel.Read());
    EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set server_port 4464 \n"}));
  }
}

TEST_F(Network, ConnectionFailureSendsNothing) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.doubleSided = true;
  command.queueConnectResult(-1);
  EXPECT_EQ(card::NetworkStep(ctx, panel.Read()), NetworkOutcome::Failed);
  EXPECT_TRUE(command.sent().empty());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_EQ(state.record().u8(rec::kDoubleSided), 0);
}

TEST_F(Network, ClockStepSendsThePcsLocalTimeWithADefinedEighthNumber) {
  OpenWith(CardRecord("192.168.1.20"));
  card::ClockStep(ctx);
  // 2025-12-09 05:28:29 UTC is a Tuesday.
  EXPECT_EQ(command.sent(), (std::vector<std::string>{"set time 2025 12 9 5 28 29 2 0 \n  "}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500}));
  EXPECT_FALSE(command.connected());
  command.queueConnectResult(-1);
  card::ClockStep(ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
}

TEST_F(Network, DirectRestart) {
  OpenWith(CardRecord("192.168.1.20"));
  card::RestartCard(ctx, &search);
  EXPECT_EQ(command.sent(), (std::vector<std::string>{"reset \n"}));
  ASSERT_EQ(user.shown().size(), 1u);
  EXPECT_EQ(user.shown()[0].text, "复位成功");
  EXPECT_EQ(user.shown()[0].title, "成功");
  EXPECT_EQ(user.shown()[0].icon, card::Icon::Information);
  EXPECT_EQ(user.shown()[0].at - command.sendTimes()[0], 500);
  EXPECT_EQ(panel.values.widthText, "");
  EXPECT_TRUE(search.sent().empty());
}

TEST_F(Network, BroadcastRestartVariants) {
  search.queueConnectResult(0);
  {
    OpenWith(CardRecord("192.168.1.20"));
    panel.values.broadcast = true;
    panel.values.autoIp = true;
    card::RestartCard(ctx, &search);
    auto sent = search.sent();
    ASSERT_EQ(sent.size(), 3u);
    auto r = state.record();
    EXPECT_EQ(r.u8(rec::kIpMode), 0);
    EXPECT_EQ(sent[0], platform::Format("set Sys_Crc %x \n", r.u32(rec::kChecksum)));
    EXPECT_EQ(sent[1], "set dhcp_diable 0 \n");
    EXPECT_EQ(sent[1].size(), 19u);
    EXPECT_EQ(sent[2], "reset \n");
    auto t = search.sendTimes();
    EXPECT_EQ(t[1] - t[0], 50);
    EXPECT_EQ(t[2] - t[1], 50);
    // No brackets, no message, no direct connection.
    for (const auto& e : search.events()) EXPECT_EQ(e.kind, testing_support::ChannelEvent::Send);
    EXPECT_TRUE(user.shown().empty());
    EXPECT_EQ(command.connectCount(), 0);
  }
  {
    search.clearEvents();
    panel.values.autoIp = false;
    panel.values.cardIp = "";  // reads "0.0.0.0"
    card::RestartCard(ctx, &search);
    EXPECT_EQ(search.sent(), (std::vector<std::string>{"reset \n"}));
  }
  {
    search.clearEvents();
    panel.values.cardIp = "10.1.2.30";
    card::RestartCard(ctx, &search);
    auto sent = search.sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1], "set local_ip 10 1 2 30 \n");
    EXPECT_EQ(sent[2], "set dhcp_diable 1 \n");
    EXPECT_EQ(sent[3], "reset \n");
    auto r = state.record();
    EXPECT_EQ(card::AddressText(r), "10.1.2.30");
    EXPECT_EQ(r.u8(rec::kIpMode), 1);
    EXPECT_TRUE(card::VerifyChecksum(r));
  }
}

TEST_F(Network, SyncRequestStaysPendingUntilAnUploadTakesIt) {
  testing_support::WriteFile(cfg.path(), "[NetSyc]\nSyc_Update=1\n");
  EXPECT_FALSE(card::SyncRequestPending(state, cfg)) << "no card opened yet";
  state.setCardOpened();
  EXPECT_TRUE(card::SyncRequestPending(state, cfg));
  EXPECT_TRUE(card::SyncRequestPending(state, cfg));
  EXPECT_EQ(ini("NetSyc", "Syc_Update"), "1");
  testing_support::WriteFile(cfg.path(), "[NetSyc]\nSyc_Update=x\n");
  EXPECT_FALSE(card::SyncRequestPending(state, cfg));
}

TEST_F(Network, TheLockGoesOffBeforeAndOnAfterTheOtherLinesOfASubmit) {
  auto locked = CardRecord("192.168.1.20", 39);
  locked.setU8(rec::kLock, 1);
  locked.updateChecksum();
  OpenWith(locked);
  panel.values.lock = false;
  panel.values.refresh = 7;
  panel.values.doubleSided = true;
  card::SubmitAll(ctx);
  auto lines = FieldLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "set Store_lock off \n  ");
  EXPECT_EQ(lines[1], "set pl 7 \n");

  command.clearEvents();
  OpenWith(CardRecord("192.168.1.20", 39));
  panel.values.lock = true;
  panel.values.refresh = 8;
  panel.values.serverPort = "9000";
  card::SubmitAll(ctx);
  lines = FieldLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "set pl 8 \n");
  EXPECT_EQ(lines[1], "set server_port 9000 \n");
  EXPECT_EQ(lines[2], "set Store_lock on \n  ");
  EXPECT_EQ(lines[3].rfind("set time ", 0), 0u);
}

TEST_F(Network, AFailedSendLeavesTheFieldUnappliedAndStops) {
  OpenWith(CardRecord("192.168.1.20"));
  panel.values.autoIp = false;
  panel.values.serverEnable = true;
  // The card goes away after the first announcement and line.
  command.failSendsFrom(2);
  EXPECT_EQ(card::NetworkStep(ctx, panel.Read()), NetworkOutcome::Failed);
  EXPECT_EQ(state.record().u8(rec::kIpMode), 1) << "its line went out";
  EXPECT_EQ(state.record().u8(rec::kServerEnable), 0) << "its announcement did not";
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_EQ(command.sent().size(), 3u) << "nothing after the failure";
  // The next submit sends what was not applied.
  command.failSendsFrom(-1);
  command.clearEvents();
  card::NetworkStep(ctx, panel.Read());
  EXPECT_EQ(FieldLines(), (std::vector<std::string>{"set sever_enable 1 \n"}));
}

TEST_F(Network, ResetIsReportedDoneOnlyWhenItWasSent) {
  OpenWith(CardRecord("192.168.1.20"));
  command.failSendsFrom(0);
  card::RestartCard(ctx, &search);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_EQ(panel.values.widthText, "128") << "the panel stays";
}

TEST(AddressText, BlankFormRoundTrips) {
  EXPECT_EQ(card::BlankSeparated("10.1.2.30"), "10 1 2 30");
  card::DeviceStatusRecord r;
  card::StoreBlankAddress(r, rec::kServerAddress, "10 1 2 300");
  EXPECT_EQ(card::RecordAddressBlank(r, rec::kServerAddress), "10 1 2 44");  // low 8 bits
  card::StoreBlankAddress(r, rec::kServerAddress, "7");
  EXPECT_EQ(card::RecordAddressBlank(r, rec::kServerAddress), "7 0 0 0");
}
