#include "link/command_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "support/fake_channel.h"

using card::ChunkedStatus;
using card::MemorySink;
using card::PacedStatus;
using testing_support::ChannelEvent;
using testing_support::FakeChannel;

namespace {

// Begin and End always pair up, and nothing is sent outside a bracket.
void ExpectBalancedBrackets(const FakeChannel& ch) {
  int depth = 0;
  for (const auto& e : ch.events()) {
    if (e.kind == ChannelEvent::Begin) ++depth;
    if (e.kind == ChannelEvent::End) --depth;
    if (e.kind == ChannelEvent::Send) {
      EXPECT_EQ(depth, 1);
    }
    ASSERT_GE(depth, 0);
    ASSERT_LE(depth, 1);
  }
  EXPECT_EQ(depth, 0);
}

std::string Flash(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

}  // namespace

TEST(CommandChannel, ExchangeSendsPausesAndReadsOnce) {
  platform::VirtualClock clock;
  FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
  ch.queueReply("ok");
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  card::Reply r = card::Exchange(ch, clock, "query x \n", 500, buf, sizeof buf);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.count, 2u);
  EXPECT_STREQ(buf, "ok");  // zero-filled before the receive
  auto ev = ch.events();
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[1].kind, ChannelEvent::Send);
  EXPECT_EQ(ev[1].at, 0);
  EXPECT_EQ(ev[2].kind, ChannelEvent::Receive);
  EXPECT_EQ(ev[2].at, 500);
  ExpectBalancedBrackets(ch);
  EXPECT_EQ(card::ReadRawLine(0x6f0000, 4096), "file read_raw 0x6f0000 4096\n");
}

TEST(CommandChannel, ChunkedReadContinuesAfterWhatArrived) {
  platform::VirtualClock clock;
  FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
  const std::uint32_t start = 0x75F000;
  const std::string flash = Flash(10000);
  std::uint32_t served = 0;
  bool firstShort = true;
  ch.onSend([&](const std::string& line) {
    unsigned addr = 0;
    int len = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &addr, &len), 2);
    EXPECT_EQ(len, 4096);
    EXPECT_EQ(addr, start + served);  // always the first byte not yet received
    std::size_t n = firstShort ? 1000 : 4096;
    firstShort = false;
    std::string chunk = flash.substr(addr - start, n);
    chunk.resize(n, '\xEE');  // the card answers in full even past the region
    served += static_cast<std::uint32_t>(n);
    ch.queueReply(chunk);
  });
  MemorySink sink;
  std::vector<int> progress;
  auto r = card::ReadRawChunked(ch, clock, start, 10000, sink, [&](int p) { progress.push_back(p); });
  EXPECT_EQ(r.status, ChunkedStatus::Complete);
  EXPECT_EQ(r.received, 10000u);
  EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), flash);  // nothing past the region
  EXPECT_EQ(ch.sent().size(), 4u);  // 1000 + 4096 + 4096 + 808
  EXPECT_EQ(progress, (std::vector<int>{10, 50, 91, 100}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{100, 100, 100, 100, 100}));
  ExpectBalancedBrackets(ch);
}

TEST(CommandChannel, ChunkedReadStopsOnFailuresAndOnASilentCard) {
  platform::VirtualClock clock;
  {
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.queueReply(std::string(4096, 'a'));
    ch.queueReceiveFailure();
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0, 3 * 4096, sink);
    EXPECT_EQ(r.status, ChunkedStatus::ReceiveFailed);
    EXPECT_EQ(sink.bytes().size(), 4096u);  // what arrived before the stop stays
    ExpectBalancedBrackets(ch);
  }
  {
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.failSendsFrom(1);
    ch.queueReply(std::string(4096, 'a'));
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0, 3 * 4096, sink);
    EXPECT_EQ(r.status, ChunkedStatus::SendFailed);
    EXPECT_EQ(r.received, 4096u);
    ExpectBalancedBrackets(ch);
  }
  {
    // Empty replies repeat the same request, but not for ever.
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.queueReply(std::string(100, 'a'));
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0x600000, 4096, sink);
    EXPECT_EQ(r.status, ChunkedStatus::NoReply);
    auto sent = ch.sent();
    ASSERT_EQ(sent.size(), 1u + card::kMaxEmptyChunkReplies);
    for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i], "file read_raw 0x600064 4096\n");
  }
}

TEST(CommandChannel, PayloadCommandsArePacedOnlyFromTwelveHundredBytesOnNewFirmware) {
  EXPECT_FALSE(card::ShouldSendPaced(1199, 39));
  EXPECT_FALSE(card::ShouldSendPaced(1200, 38));
  EXPECT_TRUE(card::ShouldSendPaced(1200, 39));
}

TEST(CommandChannel, PacedPiecesWaitForEachAcknowledgement) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> pieces;
  };
  for (const Case& c : {Case{1200, {1200, 0}}, Case{2400, {1200, 1200}}, Case{2500, {1200, 1200, 100}}}) {
    platform::VirtualClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    int acks = 0;
    ch.onSend([&](const std::string& piece) {
      // The card acknowledges every full piece but the last; the ack comes
      // a moment later, so the first poll still finds nothing.
      if (piece.size() == 1200 && ch.sent().size() < c.pieces.size()) {
        ch.queueReply("");
        ch.queueReply("ok");
        ++acks;
      }
    });
    std::string text(c.length, 'p');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(card::SendPaced(ch, clock, text), PacedStatus::Sent) << c.length;
    auto sent = ch.sent();
    ASSERT_EQ(sent.size(), c.pieces.size() + 1) << c.length;
    std::string joined;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(sent[i].size(), c.pieces[i]);
      joined += sent[i];
    }
    EXPECT_EQ(joined, text);
    EXPECT_EQ(sent.back(), std::string("file end", 8));
    auto times = ch.sendTimes();
    EXPECT_EQ(times.back() - times[times.size() - 2], 2000);
    EXPECT_EQ(static_cast<std::size_t>(acks), c.pieces.size() - 1);
    ExpectBalancedBrackets(ch);
  }
}

TEST(CommandChannel, PacedSendGivesUpWhenNoAcknowledgementComes) {
  platform::VirtualClock clock;
  FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
  auto status = card::SendPaced(ch, clock, std::string(3000, 'x'));
  EXPECT_EQ(status, PacedStatus::NoAcknowledgement);
  EXPECT_EQ(ch.sent().size(), 1u);  // the first piece only; no "file end"
  EXPECT_EQ(ch.receiveCount(), card::kMaxAckPolls);
  EXPECT_EQ(clock.totalSlept(), card::kMaxAckPolls * card::kAckPollMs);
}

TEST(CommandChannel, FailedSendsAndReceivesAreReportedNeverTakenForSuccess) {
  platform::VirtualClock clock;
  {
    // Exchange: a failed Send is the result, and nothing is received.
    FakeChannel ch(&clock);
    char buf[8];
    card::Reply r = card::Exchange(ch, clock, "query x \n", 500, buf, sizeof buf);
    EXPECT_NE(r.result, 0);
    EXPECT_EQ(ch.receiveCount(), 0);
    ExpectBalancedBrackets(ch);
  }
  // SendPaced: the first, a middle and the last piece failing, a Receive
  // failing while polling, and "file end" failing.
  struct Case {
    int failSend;
    bool failReceive;
    PacedStatus expected;
    std::size_t sends;
  };
  for (const Case& c : {Case{0, false, PacedStatus::SendFailed, 1}, Case{1, false, PacedStatus::SendFailed, 2},
                        Case{2, false, PacedStatus::SendFailed, 3}, Case{-1, true, PacedStatus::ReceiveFailed, 1},
                        Case{3, false, PacedStatus::SendFailed, 4}}) {
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    if (c.failSend >= 0) ch.failSendsFrom(c.failSend);
    ch.onSend([&](const std::string& piece) {
      if (piece.size() == 1200) ch.queueReply("ok");
    });
    if (c.failReceive) ch.queueReceiveFailure();
    EXPECT_EQ(card::SendPaced(ch, clock, std::string(2500, 'p')), c.expected) << c.failSend;
    EXPECT_EQ(ch.sent().size(), c.sends) << c.failSend;
    ExpectBalancedBrackets(ch);
  }
}
