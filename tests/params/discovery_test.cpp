// Searching, the subnet check, reading a card's record and probing it.
#include "params/discovery.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/text.h"

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
  void Search(bool broadcast = false) { card::SearchDevices(&search, clock, user, list, state, broadcast); }
  // The card answers every record query with bytes.
  void CardSends(const std::string& bytes) {
    command.onSend([this, bytes](const std::string& line) {
      if (line == "query all_in_struct_tcp \n") command.queueReply(bytes);
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
  Search();
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (card::DeviceListEntry{" 1", card::SerialText(a), "192.168.1.20", "是", "正常",
                                            "02-4B-56-00-01-01", "39.1.7", "未连接"}));
  EXPECT_EQ(rows[1].number, " 2");
  EXPECT_EQ(rows[1].autoIp, "否");
  EXPECT_EQ(rows[1].platform, "已连接");
  EXPECT_EQ(state.selectedAddress(), "192.168.1.21");
  EXPECT_EQ(state.selectedSerial(), card::SerialText(b)) << "the open that follows asks for this card";
  // Each card's first reply and its first repeat allow one more receive:
  // 10 + 3; the junk uses none up but takes a receive of its own.
  EXPECT_EQ(search.receiveCount(), 13 + 1 + 1) << "plus the one that found nothing to drain";
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{50, 300}));
  auto ev = search.events();
  EXPECT_EQ(ev.front().kind, ChannelEvent::Begin);
  EXPECT_EQ(ev.back().kind, ChannelEvent::End);
  for (const auto& e : ev) {
    if (e.kind == ChannelEvent::Receive && !e.bytes.empty()) {
      EXPECT_EQ(e.bytes.size(), 500u);
    }
  }
}

TEST_F(Discovery, RepeatedRepliesNeverEndTheSearchEarly) {
  // 30 cards, each answering twice, with the repeats in front of the rest.
  std::vector<card::DeviceStatusRecord> cards, replies;
  for (int i = 0; i < 30; ++i) cards.push_back(CardRecord("192.168.1." + std::to_string(10 + i), 39, i));
  for (int i = 0; i < 15; ++i) replies.insert(replies.end(), {cards[i], cards[i]});
  replies.insert(replies.end(), cards.begin() + 15, cards.end());
  for (int i = 15; i < 30; ++i) replies.push_back(cards[i]);
  Answer(replies);
  Search();
  EXPECT_EQ(list.rows().size(), 30u);
}

TEST_F(Discovery, ACardRepeatingItsReplyRaisesTheBoundOnceAndTheSearchEnds) {
  auto a = CardRecord("192.168.1.20", 39, 1);
  auto b = CardRecord("192.168.1.21", 39, 2);
  search.onSend([&](const std::string&) {
    search.queueReply(Bytes(a));
    search.queueReply(Bytes(b));
    for (int i = 0; i < 100000; ++i) search.queueReply(Bytes(a));
  });
  Search();
  ASSERT_EQ(list.rows().size(), 2u);
  // 10, one for each card, one for the repeating card's first repeat.
  EXPECT_EQ(search.receiveCount(), 1 + 13);
  EXPECT_TRUE(user.texts().empty());
}

TEST_F(Discovery, TrafficThatHidesTheCardsEndsTheSearchWithAMessage) {
  auto a = CardRecord("192.168.1.20", 39, 1);
  const std::string junk(300, 'j');
  struct Case {
    const char* what;
    int stale;       // datagrams waiting before the query
    int junkAfter;   // datagrams that are no card reply, after the query
    bool querySent;
  };
  // More stale datagrams than the drain takes; fewer, but arriving for
  // longer than the drain lasts (a receive takes 1 ms); a stream of junk
  // after the query that outlasts the reply window.
  for (const Case& c : {Case{"many stale", card::kMaxDrainedDatagrams + 1, 0, false},
                        Case{"stale for long", card::kMaxDrainMs + 10, 0, false},
                        Case{"junk after the query", 0, 100000, true}}) {
    testing_support::FakeChannel flooded(&clock);
    flooded.Connect("192.168.1.5");
    flooded.setDatagrams(true);
    flooded.setReceiveCostMs(1);
    testing_support::FakeUser told(&clock);
    for (int i = 0; i < c.stale; ++i) flooded.queueReply(Bytes(a));
    flooded.onSend([&](const std::string&) {
      flooded.queueReply(Bytes(a));
      for (int i = 0; i < c.junkAfter; ++i) flooded.queueReply(junk);
    });
    state.setSelectedAddress("");
    card::OpenContext floodedOpen{&flooded, recovery, list, siblings, {}};
    card::PanelContext toldCtx{command, clock, told, panel, state, cfg};
    const std::int64_t t0 = clock.now();
    card::SearchBody(toldCtx, floodedOpen, false);
    EXPECT_EQ(told.texts().front(), card::kMsgSearchFlooded) << c.what;
    EXPECT_EQ(flooded.sent().size(), c.querySent ? 1u : 0u) << c.what;
    // The search's last receive, within its bounds (an opening may follow).
    EXPECT_LE(flooded.events().back().at - t0, 350 + card::kMaxDrainMs + card::kSearchWindowMs + 10) << c.what;
    if (c.querySent) {
      // The card that answered before the junk is listed and opened.
      EXPECT_EQ(list.rows().size(), 1u) << c.what;
      EXPECT_EQ(state.selectedAddress(), "192.168.1.20");
    } else {
      EXPECT_EQ(told.texts().size(), 1u) << c.what << ": not also \"no card found\"";
      EXPECT_TRUE(list.rows().empty()) << c.what;
    }
  }
}

TEST_F(Discovery, OnAShortenedClockCardsStillHaveThePausesTimeToAnswer) {
  // The pause is 17.5 ms; the card answers 300 ms after the query.
  testing_support::ShortenedClock shortened;
  testing_support::FakeChannel slow(&shortened);
  slow.Connect("192.168.1.5");
  slow.setDatagrams(true);
  slow.setReceiveCostMs(20);
  auto a = CardRecord("192.168.1.20", 39, 1);
  slow.onSend([&](const std::string&) { slow.queueReplyAt(shortened.now() + 300, Bytes(a)); });
  card::ScanResult scan = card::SearchDevices(&slow, shortened, user, list, state, false);
  EXPECT_EQ(list.rows().size(), 1u);
  EXPECT_EQ(scan.receives, card::kInitialReceiveBound + 1) << "the empty receives before the answer do not count";
}

TEST_F(Discovery, FiftyFirstCardIsNotListedAndTheUserIsTold) {
  std::vector<card::DeviceStatusRecord> cards;
  for (int i = 0; i < 51; ++i) cards.push_back(CardRecord("192.168.1." + std::to_string(10 + i), 39, i));
  Answer(cards);
  Search();
  ASSERT_EQ(list.rows().size(), 50u);
  EXPECT_EQ(list.rows().back().number, " 50");
  EXPECT_EQ(state.selectedAddress(), "192.168.1.59");
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgTooManyCards}));
  // The probe of a 51st card cannot list it either, and says so.
  auto extra = CardRecord("192.168.1.99", 39, 99);
  OpenWith(extra);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(list.rows().size(), 50u);
  EXPECT_EQ(user.texts().back(), card::kMsgTooManyCards);
}

TEST_F(Discovery, HostileOrBrokenRepliesNeverBecomeRows) {
  auto good = CardRecord("192.168.1.20", 39, 1);
  auto badCrc = CardRecord("192.168.1.21", 39, 2);
  badCrc.setU8(rec::kBrightness, 1);  // checksum no longer matches
  auto oldFirmware = CardRecord("192.168.1.22", 16, 3);
  oldFirmware.setU8(rec::kBrightness, 1);  // never checksum-tested: listed
  auto evilSerial = CardRecord("192.168.1.23", 39, 4);
  evilSerial.setSerialBytes("ZZ\nreset \n");
  evilSerial.updateChecksum();
  std::mt19937 rng(7);
  search.onSend([&](const std::string& line) {
    if (line != "query all_in_strut \n") return;
    search.queueReply(std::string("\x00\x80", 2));
    search.queueReply(Bytes(good).substr(0, rec::kChecksum + 3));  // cut inside the checksum
    for (int i = 0; i < 4; ++i) {
      std::string noise(1 + rng() % 600, '\0');
      for (char& c : noise) c = static_cast<char>(rng());
      if (i == 0) noise[1] = static_cast<char>(0x80);  // looks like a code word
      search.queueReply(noise);
    }
    for (const auto& r : {badCrc, evilSerial, oldFirmware, good}) search.queueReply(Bytes(r));
  });
  for (int round = 0; round < 40; ++round) {
    // A flood of stale datagrams waits before the query is even sent.
    for (int i = 0; i < 2000; ++i) search.queueReply(Bytes(CardRecord("10.0.0.1", 39, 200)));
    Search();
    auto rows = list.rows();
    ASSERT_EQ(rows.size(), 2u) << round;
    EXPECT_EQ(rows[0].address, "192.168.1.22");
    EXPECT_EQ(rows[1].address, "192.168.1.20");
  }
}

TEST_F(Discovery, SearchWithoutHandleOrWithAFailingSend) {
  testing_support::FakeChannel none(&clock, false);
  card::SearchDevices(&none, clock, user, list, state, false);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"未成功连接设备"}));

  search.failSendsFrom(0);
  Search();
  EXPECT_EQ(search.events().back().kind, ChannelEvent::End);  // the exchange is closed on every path
  EXPECT_TRUE(list.rows().empty());
  EXPECT_EQ(user.texts().back(), platform::Format(card::kMsgSearchFailedFormat, "192.168.1.5"));
}

TEST_F(Discovery, BroadcastSearchAnnouncesOnTheSearchLinkAndWaitsForABootingCard) {
  auto a = CardRecord("192.168.1.20");
  state.setRecord(a);
  int bootQueries = 0;
  search.onSend([&](const std::string& line) {
    if (line == "query all_in_boot\n" && ++bootQueries >= 3) search.queueReply(Bytes(a));
  });
  Search(true);
  auto sent = search.sent();
  ASSERT_GE(sent.size(), 6u);
  auto flagged = a;
  flagged.setU8(rec::kFactoryByte, 0x80);
  EXPECT_EQ(sent[0], platform::Format("set Sys_Crc %x \n", flagged.computeChecksum()));
  EXPECT_EQ(sent[1], "set S_Foctory 0x80 \n");
  EXPECT_EQ(sent[2], "reset \n");
  EXPECT_EQ(sent[3], "query all_in_boot\n");
  EXPECT_EQ(sent.back(), "query all_in_boot\n");
  EXPECT_EQ(state.record().u8(rec::kFactoryByte), 0x80);
  EXPECT_TRUE(command.sent().empty()) << "the command link is not connected during a search";
  EXPECT_EQ(list.rows().size(), 1u);
}

TEST_F(Discovery, SubnetCheckPassesOnTheFirstTwoNumbersOnce) {
  auto onFirst = [this] { ++timerStarts; };
  state.setSelectedAddress("10.1.2.3");
  card::CheckSubnet(state, user, onFirst);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"不在同一网段！请修改电脑IP为10.1.2.X后重启软件"}));
  EXPECT_FALSE(state.cardOpened());
  state.setSelectedAddress("192.168.77.3");
  card::CheckSubnet(state, user, onFirst);
  EXPECT_TRUE(state.cardOpened());
  EXPECT_EQ(timerStarts, 1);
  state.setSelectedAddress("10.1.2.3");
  card::CheckSubnet(state, user, onFirst);
  EXPECT_EQ(user.texts().size(), 1u);
  EXPECT_EQ(timerStarts, 1);
}

TEST_F(Discovery, DirectReadLocatesTheRecordBehindAStrayByteAndFillsThePanel) {
  auto a = CardRecord("192.168.1.20", 39);
  a.setU8(rec::kDisplayMode, 3);
  a.updateChecksum();
  state.setSelectedAddress("192.168.1.20");
  CardSends("\x0a" + Bytes(a));
  card::ReadRecord(ctx, open);
  EXPECT_EQ(state.record(), a);
  EXPECT_TRUE(state.panelHoldsRecordOf("192.168.1.20"));
  EXPECT_EQ(panel.values.widthText, "128");
  EXPECT_EQ(panel.values.mode, 3);
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "64");
  EXPECT_EQ(command.sent().size(), 2u);
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500, 500, 500}));
  EXPECT_FALSE(command.connected());
  EXPECT_EQ(panel.addressFieldEnabled, 1);
  EXPECT_TRUE(user.shown().empty());
}

TEST_F(Discovery, ChecksumErrorsAreShownPerAttemptFromVersion17Only) {
  for (int major : {16, 17}) {
    auto a = CardRecord("192.168.1.20", major);
    a.setU8(rec::kBrightness, 33);  // the stored checksum no longer matches
    state.setSelectedAddress("192.168.1.20");
    CardSends(Bytes(a));
    card::ReadRecord(ctx, open);
    EXPECT_EQ(panel.values.brightness, 33) << major;  // used anyway
  }
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"CRC ERROR!", "CRC ERROR!"}));
}

TEST_F(Discovery, AReadWithoutAWholeRecordNeverShowsAnotherCardsRecord) {
  auto previous = CardRecord("192.168.1.99");
  OpenWith(previous);
  state.setSelectedAddress("192.168.1.20");
  struct Case {
    std::string reply;
    const char* message;
  } cases[] = {
      {std::string(40, 'z'), card::kMsgShortRecord},                       // no marker
      {Bytes(CardRecord("192.168.1.20")).substr(0, 700), card::kMsgShortRecord},  // cut short
      {"", card::kMsgNoRecord},                                            // connects, never answers
  };
  for (const auto& c : cases) {
    panel.writes = 0;
    CardSends(c.reply);
    card::ReadRecord(ctx, open);
    EXPECT_EQ(state.record(), previous);
    EXPECT_EQ(panel.writes, 0) << "the panel is not filled";
    EXPECT_EQ(user.texts().back(), c.message);
    // Nor does the probe list the old record under the new address.
    card::ProbeCard(ctx, open);
    EXPECT_TRUE(list.rows().empty());
  }
  command.queueConnectResult(-1);
  card::ReadRecord(ctx, open);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
}

TEST_F(Discovery, BroadcastReadTakesOnlyAWholeRecordWithTheAskedSerial) {
  auto wanted = CardRecord("192.168.1.20", 39, 1);
  wanted.setU8(rec::kDisplayMode, 5);
  auto other = CardRecord("192.168.1.21", 39, 2);
  state.setSelectedSerial(card::SerialText(wanted));
  state.setRecord(other);
  panel.values.broadcast = true;
  panel.values.mode = 1;
  // A reply left over from an earlier search waits in front of the answer.
  search.queueReply(Bytes(other));
  search.queueReply(Bytes(wanted));
  card::ReadRecord(ctx, open);
  auto sent = search.sent();
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& s : sent) EXPECT_EQ(s, "query all_in_strut " + card::SerialText(wanted) + " \n");
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{1000, 1000, 1000}));
  EXPECT_EQ(state.record(), wanted);
  EXPECT_EQ(panel.values.cardIp, "192.168.1.20");
  EXPECT_EQ(panel.values.mode, 1);  // the broadcast fill leaves the mode alone
  EXPECT_EQ(command.connectCount(), 0);

  // Only foreign or short replies: the WorkingRecord and the panel stay.
  panel.writes = 0;
  search.queueReply(Bytes(other));
  search.queueReply(Bytes(wanted).substr(0, 500));
  card::ReadRecord(ctx, open);
  EXPECT_EQ(panel.writes, 0);
  EXPECT_EQ(user.texts().back(), card::kMsgShortRecord);
  card::ReadRecord(ctx, open);
  EXPECT_EQ(user.texts().back(), card::kMsgNoBroadcastAnswer);
}

TEST_F(Discovery, ProbeListsANewCardFirstAndAKnownOneNeverTwice) {
  auto a = CardRecord("192.168.1.20", 39, 1);
  auto b = CardRecord("10.9.8.7", 39, 9);
  Answer({a});
  Search();
  OpenWith(b);
  card::ProbeCard(ctx, open);
  card::ProbeCard(ctx, open);
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].address, "10.9.8.7");
  EXPECT_EQ(rows[0].number, " 1");
  // The searched card is still recognised after the probe listed another one.
  OpenWith(a);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(list.rows().size(), 2u);
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "0");
  EXPECT_FALSE(command.connected());
}

TEST_F(Discovery, ACardOnlyOnItsRecoveryPortIsHandedToTheLoader) {
  state.setSelectedAddress("192.168.1.20");
  command.queueConnectResult(-1);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgRecovery}));
  EXPECT_EQ(ini("LEDPARA", "Restore_En"), "1");
  EXPECT_EQ(ini("RemotIP", "RemotIP"), "192.168.1.20");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/fwloader"}));
  EXPECT_FALSE(recovery.connected());

  processes.running = {"FWLOADER"};
  command.queueConnectResult(-1);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(processes.started.size(), 1u);

  // A loader that cannot be started is reported.
  processes.running.clear();
  processes.startSucceeds = false;
  command.queueConnectResult(-1);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(user.texts().back(), card::SiblingStartFailedText("fwloader"));

  command.queueConnectResult(-1);
  recovery.queueConnectResult(-1);
  card::ProbeCard(ctx, open);
  EXPECT_EQ(user.texts().back(), "连接设备失败");
}

TEST_F(Discovery, OpenCardClearsChecksReadsAndProbesInThatOrder) {
  auto a = CardRecord("192.168.1.20");
  panel.values.widthText = "999";
  CardSends(Bytes(a));
  state.setSelectedAddress("192.168.1.20");
  std::vector<std::string> order;
  command.onSend([&](const std::string& line) {
    order.push_back(platform::Format("send@%lld", static_cast<long long>(clock.now() - 1765258109000)));
    if (line == "query all_in_struct_tcp \n") command.queueReply(Bytes(a));
  });
  card::OpenCard(ctx, open);
  EXPECT_TRUE(state.cardOpened());
  EXPECT_EQ(timerStarts, 1);
  EXPECT_EQ(panel.values.cardIp, "192.168.1.20");
  EXPECT_EQ(list.rows().size(), 1u);
  EXPECT_TRUE(user.shown().empty());
  // 100 ms, subnet check, 100 ms, two reads 500 ms apart, 500 ms, 100 ms, probe.
  EXPECT_EQ(order, (std::vector<std::string>{"send@200", "send@700"}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{100, 100, 500, 500, 500, 100}));
  auto connects = command.events();
  std::vector<std::int64_t> connectTimes;
  for (const auto& e : connects)
    if (e.kind == ChannelEvent::Connect) connectTimes.push_back(e.at - 1765258109000);
  EXPECT_EQ(connectTimes, (std::vector<std::int64_t>{200, 1800})) << "read, then probe";

  // Nothing selected: one message, no connection at all.
  state.setSelectedAddress("");
  card::OpenCard(ctx, open);
  EXPECT_EQ(user.texts().back(), card::kMsgNoCardFound);
  EXPECT_EQ(command.connectCount(), 2);
}
