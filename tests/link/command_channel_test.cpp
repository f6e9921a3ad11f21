#include "link/command_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
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

// A card over the fake link: answers each "file read_raw" from flash with
// the reply cut into pieces, the k-th piece arriving gaps[k] ms (virtual)
// after the request. Pieces of one reply come before those of the next, as
// on one byte stream.
struct PiecewiseCard {
  FakeChannel& ch;
  platform::VirtualClock& clock;
  std::uint32_t start;
  std::string flash;
  std::function<std::vector<std::size_t>(int request)> pieces;  // sizes of the pieces of the nth reply
  int pieceGapMs = 0;
  int requests = 0;
  std::int64_t busyUntil = 0;

  void Attach() {
    ch.onSend([this](const std::string& line) {
      unsigned addr = 0;
      int len = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &addr, &len), 2);
      std::size_t at = addr - start;
      std::int64_t due = std::max(clock.now(), busyUntil);
      for (std::size_t n : pieces(requests)) {
        ch.queueReplyAt(due, flash.substr(std::min(at, flash.size()), n));
        at += n;
        due += pieceGapMs;
      }
      busyUntil = due;
      ++requests;
    });
  }
};

int Count(const std::vector<int>& v, int x) { return static_cast<int>(std::count(v.begin(), v.end(), x)); }

TEST(CommandChannel, ChunkedReadContinuesAfterAShortReply) {
  platform::VirtualClock clock;
  FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
  const std::uint32_t start = 0x75F000;
  const std::string flash = Flash(20000);
  PiecewiseCard card{ch, clock, start, flash, [](int n) { return std::vector<std::size_t>{n == 0 ? 1000u : 4096u}; }};
  card.Attach();
  MemorySink sink;
  std::vector<int> progress;
  auto r = card::ReadRawChunked(ch, clock, start, 10000, sink, [&](int p) { progress.push_back(p); });
  EXPECT_EQ(r.status, ChunkedStatus::Complete);
  EXPECT_EQ(r.received, 10000u);
  EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), flash.substr(0, 10000));  // nothing past it
  auto sent = ch.sent();
  ASSERT_EQ(sent.size(), 4u);  // 1000 + 4096 + 4096 + 808
  EXPECT_EQ(sent[1], "file read_raw 0x75f3e8 4096\n") << "asks from the first byte not yet received";
  EXPECT_EQ(sent[3], "file read_raw 0x7613e8 4096\n") << "and for 4096 bytes even near the end";
  EXPECT_EQ(progress, (std::vector<int>{10, 50, 91, 100}));
  // A pause before each receive and one at the end; the short reply was
  // waited on until the link stayed quiet.
  const auto sleeps = clock.sleeps();
  EXPECT_EQ(Count(sleeps, card::kChunkPauseMs), 5);
  EXPECT_EQ(Count(sleeps, card::kChunkPauseMs) + Count(sleeps, card::kReplyPollMs), static_cast<int>(sleeps.size()));
  EXPECT_GE(ch.sendTimes()[1] - ch.sendTimes()[0], card::kChunkPauseMs + card::kReplyQuietMs);
  ExpectBalancedBrackets(ch);

  // A card that answers in full costs nothing beyond the pauses.
  platform::VirtualClock full;
  FakeChannel fullCh(&full, true, FakeChannel::AlreadyConnected);
  PiecewiseCard fullCard{fullCh, full, start, flash, [](int) { return std::vector<std::size_t>{4096}; }};
  fullCard.Attach();
  MemorySink all;
  EXPECT_EQ(card::ReadRawChunked(fullCh, full, start, 3 * 4096, all).status, ChunkedStatus::Complete);
  EXPECT_EQ(full.sleeps(), (std::vector<int>{100, 100, 100, 100}));
}

TEST(CommandChannel, ChunkedReadGathersARepliesPiecesAndPlacesEveryByteOnce) {
  // The congested link: each 4096-byte reply in 1460-byte segments 60 or
  // 150 ms apart, most of it arriving after the pause.
  for (int gap : {60, 150}) {
    platform::VirtualClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    const std::string flash = Flash(5 * 4096);
    PiecewiseCard card{ch, clock, 0x600000, flash, [](int) { return std::vector<std::size_t>{1460, 1460, 1176}; }};
    card.pieceGapMs = gap;
    card.Attach();
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0x600000, static_cast<std::uint32_t>(flash.size()), sink);
    ASSERT_EQ(r.status, ChunkedStatus::Complete) << gap;
    EXPECT_TRUE(std::string(sink.bytes().begin(), sink.bytes().end()) == flash) << gap;
    EXPECT_EQ(ch.sent().size(), 5u) << "never asked again for what was still on its way";
  }
}

TEST(CommandChannel, ChunkedReadFailsRatherThanPlaceBytesItCannotAccountFor) {
  const std::string flash = Flash(3 * 4096);
  struct Case {
    const char* what;
    std::function<void(FakeChannel&, platform::VirtualClock&)> card;
  };
  const Case cases[] = {
      {"a reply longer than asked",
       [&](FakeChannel& ch, platform::VirtualClock&) {
         ch.onSend([&](const std::string&) { ch.queueReply(flash.substr(0, 4096) + "x"); });
       }},
      {"the rest of a reply after a long stall, then the next reply",
       [&](FakeChannel& ch, platform::VirtualClock& clock) {
         auto n = std::make_shared<int>(0);  // the fake copies its handler for every Send
         ch.onSend([&, n](const std::string& line) {
           unsigned addr = 0;
           int len = 0;
           std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &addr, &len);
           const std::size_t at = addr;
           if ((*n)++ == 0) {
             // 1000 bytes, then the other 3096 long after the link went quiet.
             ch.queueReply(flash.substr(at, 1000));
             ch.queueReplyAt(clock.now() + 900, flash.substr(at + 1000, 3096));
           } else {
             ch.queueReplyAt(clock.now() + 900, flash.substr(std::min(at, flash.size()), 4096));
           }
         });
       }},
      {"stray bytes after the last reply",
       [&](FakeChannel& ch, platform::VirtualClock&) {
         auto n = std::make_shared<int>(0);
         ch.onSend([&, n](const std::string& line) {
           unsigned addr = 0;
           int len = 0;
           std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &addr, &len);
           ch.queueReply(flash.substr(addr, 4096));
           if (++*n == 3) ch.queueReply("ack\n");
         });
       }},
  };
  for (const Case& c : cases) {
    platform::VirtualClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    c.card(ch, clock);
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0, static_cast<std::uint32_t>(flash.size()), sink);
    // The callers keep nothing of a read that did not complete.
    EXPECT_EQ(r.status, ChunkedStatus::Unplaceable) << c.what;
    ExpectBalancedBrackets(ch);
  }
}

TEST(CommandChannel, ChunkedReadEndsAtItsDeadlineWhenRepliesTrickleOrNeverCome) {
  const std::string flash = Flash(8 * 4096);
  struct Case {
    const char* what;
    int trickleMs;  // one byte every trickleMs; 0: the card stays silent after its first 100 bytes
  };
  for (const Case& c : {Case{"a byte every 100 ms", 100}, Case{"a byte every 1500 ms", 1500}, Case{"silence", 0}}) {
    platform::VirtualClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    bool first = true;
    std::int64_t next = 0;
    ch.onSend([&](const std::string& line) {
      unsigned addr = 0;
      int len = 0;
      std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &addr, &len);
      if (c.trickleMs == 0) {
        if (first) ch.queueReply(flash.substr(addr, 100));
      } else {
        // Queue a long trickle: the rest of this reply, one byte at a time.
        next = std::max(next, clock.now());
        for (int i = 0; i < 200; ++i, next += c.trickleMs) ch.queueReplyAt(next, flash.substr(addr + i, 1));
      }
      first = false;
    });
    MemorySink sink;
    auto r = card::ReadRawChunked(ch, clock, 0, static_cast<std::uint32_t>(flash.size()), sink);
    EXPECT_EQ(r.status, ChunkedStatus::TimedOut) << c.what;
    // Past the pauses of the requests it made, never more than its margin.
    const auto sleeps = clock.sleeps();
    const std::int64_t pauses = Count(sleeps, card::kChunkPauseMs) * card::kChunkPauseMs;
    EXPECT_LE(clock.now() - pauses, card::kReadMarginMs + card::kReplyPollMs) << c.what;
    if (c.trickleMs == 0) {
      // The missing bytes asked for once, then waited for: a request sent
      // again could be answered twice.
      EXPECT_EQ(ch.sent(), (std::vector<std::string>{"file read_raw 0x0 4096\n", "file read_raw 0x64 4096\n"}));
    }
    ExpectBalancedBrackets(ch);
  }
}

TEST(CommandChannel, ChunkedReadStopsOnFailedSendsReceivesAndSinks) {
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
    struct FullSink : card::ByteSink {
      bool Append(const std::uint8_t*, std::size_t) override { return false; }
    } full;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.queueReply(std::string(4096, 'a'));
    EXPECT_EQ(card::ReadRawChunked(ch, clock, 0, 4096, full).status, ChunkedStatus::SinkFailed);
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

using testing_support::ShortenedClock;

TEST(CommandChannel, AShortenedClockStillGivesTheCardItsTimeToAnswer) {
  platform::VirtualClock virtualClock;
  ShortenedClock shortened;
  EXPECT_EQ(platform::AnswerWindowMs(virtualClock, 500), 500);
  EXPECT_EQ(platform::AnswerWindowMs(platform::RealClock(), 500), 500);
  EXPECT_EQ(platform::AnswerWindowMs(shortened, 500), 500);
  EXPECT_EQ(platform::AnswerWindowMs(shortened, 10000), platform::kAnswerFloorMs);
  EXPECT_EQ(platform::AnswerWindowMs(shortened, 100000), 5000);

  // The record comes 300 ms after the query; the shortened pause is 25 ms.
  {
    ShortenedClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.setReceiveCostMs(20);  // the driver's wait for a first byte
    ch.onSend([&](const std::string&) { ch.queueReplyAt(clock.now() + 300, "record"); });
    char buf[16];
    card::Reply r = card::Exchange(ch, clock, "query all_in_struct_tcp \n", 500, buf, sizeof buf);
    EXPECT_TRUE(r.ok());
    EXPECT_STREQ(buf, "record");
    EXPECT_LT(clock.now(), 500);
  }
  // A card that never answers is given up on after the pause's full time.
  {
    ShortenedClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.setReceiveCostMs(20);
    char buf[16];
    card::Reply r = card::Exchange(ch, clock, "query all_in_struct_tcp \n", 500, buf, sizeof buf);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(clock.now(), 500);
    EXPECT_LT(clock.now(), 500 + 100);
  }
  // An acknowledgement is waited for as long as a loaded machine may need.
  {
    ShortenedClock clock;
    FakeChannel ch(&clock, true, FakeChannel::AlreadyConnected);
    ch.setReceiveCostMs(20);
    EXPECT_EQ(card::SendPaced(ch, clock, std::string(3000, 'x')), PacedStatus::NoAcknowledgement);
    EXPECT_GE(clock.now(), platform::kAnswerFloorMs);
    EXPECT_LT(clock.now(), platform::kAnswerFloorMs + 100);
  }
}
