// Searching, the subnet check, reading a card's record and probing it.
#include "link/discovery.h"

#include <gtest/gtest.h>

#include "support/main_fixture.h"

namespace rec = card::rec;
using testing_support::ChannelEvent;

namespace {

class Discovery : public testing_support::MainFixture {
 protected:
  // Every search datagram the cards send, queued in arrival order.
  void Answer(const std::vector<card::DeviceStatusRecord>& cards) {
    search.onSend([this, cards](const std::string& line) {
      if (line == "query all_in_strut \n")
        for (const auto& c : cards) search.queueReply(Bytes(c));
    });
  }
};

}  // namespace

TEST_F(Discovery, SearchListsEachCardOnceAndSelectsTheLast) {
  auto a = CardRecord("192.168.1.20", 39, 1);
  auto b = CardRecord("192.168.1.21", 16, 2);
  b.setU8(rec::kIpMode, 1);
  b.setU16(rec::kPlatformStatus, 0x55);
  card::DeviceStatusRecord junk;  // no valid code word
  Answer({a, b, a, junk});
  card::SearchDevices(*ctx);
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (card::DeviceListEntry{" 1", card::SerialText(a), "192.168.1.20", "是", "正常",
                                            "02-4B-56-00-01-01", "39.1.7", "未连接"}));
  EXPECT_EQ(rows[1].number, " 2");
  EXPECT_EQ(rows[1].autoIp, "否");
  EXPECT_EQ(rows[1].platform, "已连接");
  EXPECT_EQ(ctx->state.selectedAddress(), "192.168.1.21");
  // Ten receives past the cards: 2 cards raise the bound to 12.
  EXPECT_EQ(search.receiveCount(), 12);
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{50, 300}));
  EXPECT_EQ(busy.enters, 1);
  EXPECT_FALSE(busy.isBusy());
  auto ev = search.events();
  EXPECT_EQ(ev.front().kind, ChannelEvent::Begin);
  EXPECT_EQ(ev.back().kind, ChannelEvent::End);
  // Each datagram is read with a capacity of 500.
  for (const auto& e : ev)
    if (e.kind == ChannelEvent::Receive && !e.bytes.empty()) {
      EXPECT_EQ(e.bytes.size(), 500u);
    }
}

TEST_F(Discovery, NoCardEndsAfterTenEmptyReceivesAndOpenSaysSo) {
  card::SearchBody(*ctx);
  EXPECT_TRUE(list.rows().empty());
  EXPECT_EQ(search.receiveCount(), 10);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgNoCardFound}));
  EXPECT_FALSE(ctx->state.cardOpened());
  EXPECT_EQ(command.connectCount(), 0);
}

TEST_F(Discovery, FiftyFirstCardIsNotListed) {
  std::vector<card::DeviceStatusRecord> cards;
  for (int i = 0; i < 51; ++i) cards.push_back(CardRecord("192.168.1." + std::to_string(10 + i), 39, i));
  Answer(cards);
  card::SearchDevices(*ctx);
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 50u);
  EXPECT_EQ(rows.back().number, " 50");
  EXPECT_EQ(ctx->state.selectedAddress(), "192.168.1.59");
  EXPECT_EQ(ctx->state.withDeviceTable([](card::DeviceTable& t) { return t.size(); }), 50u);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgTooManyCards}));
}

TEST_F(Discovery, SearchWithoutHandleOrWithAFailingSend) {
  testing_support::FakeChannel none(&clock, false);
  ctx->search = &none;
  card::SearchDevices(*ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"未成功连接设备"}));
  EXPECT_FALSE(busy.isBusy());

  ctx->search = &search;
  search.failSendsFrom(0);
  card::SearchDevices(*ctx);
  EXPECT_EQ(search.receiveCount(), 0);
  auto ev = search.events();
  EXPECT_EQ(ev.back().kind, ChannelEvent::End);  // the exchange is closed on every path
}

TEST_F(Discovery, BroadcastSearchFlagsTheCardsAndWaitsForOneToBoot) {
  auto a = CardRecord("192.168.1.20");
  ctx->state.setRecord(a);
  panel.values.broadcast = true;
  int bootQueries = 0;
  search.onSend([&](const std::string& line) {
    if (line == "query all_in_boot\n" && ++bootQueries >= 3) search.queueReply(Bytes(a));
  });
  card::SearchDevices(*ctx);
  auto sent = search.sent();
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(sent[0], "set S_Foctory 0x80 \n");
  EXPECT_EQ(sent[1], "reset \n");
  EXPECT_EQ(sent[2], "query all_in_boot\n");
  EXPECT_EQ(sent.back(), "query all_in_boot\n");
  EXPECT_EQ(ctx->state.record().u8(rec::kFactoryByte), 0x80);
  // The checksum announcement goes to the command link.
  ASSERT_EQ(command.sent().size(), 1u);
  EXPECT_EQ(command.sent()[0].rfind("set Sys_Crc ", 0), 0u);
  EXPECT_EQ(list.rows().size(), 1u);
}

TEST_F(Discovery, SubnetCheckPassesOnTheFirstTwoNumbersOnce) {
  ctx->state.setSelectedAddress("10.1.2.3");
  card::CheckSubnet(*ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"不在同一网段！请修改电脑IP为10.1.2.X后重启软件"}));
  EXPECT_FALSE(ctx->state.cardOpened());
  ctx->state.setSelectedAddress("192.168.77.3");
  card::CheckSubnet(*ctx);
  EXPECT_TRUE(ctx->state.cardOpened());
  EXPECT_EQ(timerStarts, 1);
  ctx->state.setSelectedAddress("10.1.2.3");
  card::CheckSubnet(*ctx);
  EXPECT_EQ(user.texts().size(), 1u);
  EXPECT_EQ(timerStarts, 1);
  // Malformed addresses are compared as numbers, never crash.
  ctx->state.setLocalAddress("Error");
  EXPECT_NO_FATAL_FAILURE(card::CheckSubnet(*ctx));
}

TEST_F(Discovery, DirectReadLocatesTheRecordBehindAStrayByteAndFillsThePanel) {
  auto a = CardRecord("192.168.1.20", 39);
  a.setU8(rec::kDisplayMode, 3);
  a.updateChecksum();
  ctx->state.setSelectedAddress("192.168.1.20");
  command.onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") command.queueReply("\x0a" + Bytes(a));
  });
  card::ReadRecord(*ctx);
  EXPECT_EQ(ctx->state.record(), a);
  EXPECT_EQ(panel.values.widthText, "128");
  EXPECT_EQ(panel.values.mode, 3);
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "64");
  EXPECT_EQ(command.sent().size(), 2u);
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500, 500, 500}));
  EXPECT_FALSE(command.connected());
  EXPECT_EQ(busy.addressFieldEnabled, 1);
  EXPECT_TRUE(user.shown().empty());
}

TEST_F(Discovery, ChecksumErrorsAreShownPerAttemptFromVersion17Only) {
  for (int major : {16, 17}) {
    auto a = CardRecord("192.168.1.20", major);
    a.setU8(rec::kBrightness, 33);  // the stored checksum no longer matches
    ctx->state.setSelectedAddress("192.168.1.20");
    command.onSend([&](const std::string&) { command.queueReply(Bytes(a)); });
    card::ReadRecord(*ctx);
    EXPECT_EQ(panel.values.brightness, 33) << major;  // used anyway
  }
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"CRC ERROR!", "CRC ERROR!"}));
}

TEST_F(Discovery, AReplyWithoutMarkerKeepsTheRecordAndAnEmptyOneKeepsThePanel) {
  auto before = CardRecord("192.168.1.99");
  ctx->state.setRecord(before);
  ctx->state.setSelectedAddress("192.168.1.20");
  command.onSend([&](const std::string&) { command.queueReply(std::string(40, 'z')); });
  card::ReadRecord(*ctx);
  EXPECT_EQ(ctx->state.record(), before);
  EXPECT_EQ(panel.writes, 1);  // the last reply had bytes: the panel shows the old record

  command.onSend({});
  panel.writes = 0;
  card::ReadRecord(*ctx);
  EXPECT_EQ(panel.writes, 0);
  command.queueConnectResult(-1);
  card::ReadRecord(*ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
}

TEST_F(Discovery, BroadcastReadAsksForTheSelectedSerialThreeTimes) {
  auto a = CardRecord("192.168.1.20", 39);
  a.setU8(rec::kDisplayMode, 5);
  ctx->state.setSelectedSerial(card::SerialText(a));
  panel.values.broadcast = true;
  panel.values.mode = 1;
  search.onSend([&](const std::string&) { search.queueReply(Bytes(a)); });
  card::ReadRecord(*ctx);
  auto sent = search.sent();
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& s : sent) EXPECT_EQ(s, "query all_in_strut " + card::SerialText(a) + " \n");
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{1000, 1000, 1000}));
  EXPECT_EQ(ctx->state.record(), a);
  EXPECT_EQ(panel.values.mode, 1);  // the broadcast fill leaves the mode alone
  EXPECT_EQ(command.connectCount(), 0);
}

TEST_F(Discovery, ProbeListsANewCardFirstAndAKnownOneNeverTwice) {
  auto a = CardRecord("192.168.1.20", 39, 1);
  auto b = CardRecord("10.9.8.7", 39, 9);
  Answer({a});
  card::SearchDevices(*ctx);
  ctx->state.setSelectedAddress("10.9.8.7");
  ctx->state.setRecord(b);
  card::ProbeCard(*ctx);
  card::ProbeCard(*ctx);
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].address, "10.9.8.7");
  EXPECT_EQ(rows[0].number, " 1");
  EXPECT_EQ(rows[1].number, " 1");
  // The searched card is still recognised after the probe listed another one.
  ctx->state.setRecord(a);
  card::ProbeCard(*ctx);
  EXPECT_EQ(list.rows().size(), 2u);
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
  EXPECT_FALSE(command.connected());
}

TEST_F(Discovery, ACardOnlyOnItsRecoveryPortIsHandedToTheLoader) {
  ctx->state.setSelectedAddress("192.168.1.20");
  command.queueConnectResult(-1);
  card::ProbeCard(*ctx);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgRecovery}));
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "1");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "192.168.1.20");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/fwloader"}));
  EXPECT_FALSE(recovery.connected());

  processes.running = {"FWLOADER"};
  command.queueConnectResult(-1);
  card::ProbeCard(*ctx);
  EXPECT_EQ(processes.started.size(), 1u);

  command.queueConnectResult(-1);
  recovery.queueConnectResult(-1);
  card::ProbeCard(*ctx);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
  EXPECT_EQ(busy.enters, busy.leaves);
}

TEST_F(Discovery, OpenCardRunsTheStepsInOrder) {
  auto a = CardRecord("192.168.1.20");
  Answer({a});
  command.onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") command.queueReply(Bytes(a));
  });
  card::SearchBody(*ctx);
  EXPECT_TRUE(ctx->state.cardOpened());
  EXPECT_EQ(timerStarts, 1);
  EXPECT_EQ(ctx->state.record(), a);
  EXPECT_EQ(panel.values.cardIp, "192.168.1.20");
  EXPECT_EQ(list.rows().size(), 1u);
  EXPECT_TRUE(user.shown().empty());
  // Read (twice), then the probe's connection.
  EXPECT_EQ(command.connectCount(), 2);
  EXPECT_FALSE(busy.isBusy());
}

TEST_F(Discovery, BroadcastReadTakesOnlyTheRecordWithTheAskedSerial) {
  auto wanted = CardRecord("192.168.1.20", 39, 1);
  auto other = CardRecord("192.168.1.21", 39, 2);
  ctx->state.setSelectedSerial(card::SerialText(wanted));
  ctx->state.setRecord(other);
  panel.values.broadcast = true;
  // A reply left over from an earlier search waits in front of the answer.
  search.queueReply(Bytes(other));
  search.queueReply(Bytes(wanted));
  card::ReadRecord(*ctx);
  EXPECT_EQ(ctx->state.record(), wanted);
  EXPECT_EQ(panel.values.cardIp, "192.168.1.20");

  // Only foreign replies: the WorkingRecord and the panel stay as they were.
  panel.writes = 0;
  search.queueReply(Bytes(other));
  card::ReadRecord(*ctx);
  EXPECT_EQ(ctx->state.record(), wanted);
  EXPECT_EQ(panel.writes, 0);
}
