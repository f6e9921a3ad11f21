// The RS-485 monitor: block formatting, the bounded queue, the worker loop's
// start lines and its stop on a closed link, and RTU blocks across pieces.
#include "modbus/monitor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <thread>

#include "link/channel.h"

namespace mb = card::modbus;

namespace {

// A link that plays a script, one step per Receive: a block, nothing, a
// change of the display type, or a failure.
class ScriptLink : public card::Channel {
 public:
  struct Step {
    Step(std::string b, int r = 0, std::function<void()> f = {}) : bytes(std::move(b)), result(r), before(std::move(f)) {}
    std::string bytes;
    int result;
    std::function<void()> before;
  };
  std::deque<Step> steps;
  std::string endless;  // once the script is played: this block again and again
  std::vector<std::string> sent;
  int connects = 0, disconnects = 0, receives = 0;
  bool connectFails = false;

  bool exists() const override { return true; }
  int Connect(const std::string&) override {
    ++connects;
    return connectFails ? -5 : 0;
  }
  void Disconnect() override { ++disconnects; }
  int Send(const void* data, std::size_t n) override {
    sent.emplace_back(static_cast<const char*>(data), n);
    return 0;
  }
  int Receive(void* buffer, std::size_t capacity, std::size_t* count) override {
    ++receives;
    *count = 0;
    if (steps.empty() && !endless.empty()) steps.push_back({endless});
    if (steps.empty()) return -4;  // the card went away
    Step s = steps.front();
    steps.pop_front();
    if (s.before) s.before();
    if (s.result) return s.result;
    *count = std::min(capacity, s.bytes.size());
    std::copy(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(*count), static_cast<char*>(buffer));
    return 0;
  }
  void BeginExchange() override {}
  void EndExchange() override {}
  using card::Channel::Send;
};

std::int64_t At(int h, int m, int s, int ms) {
  return (static_cast<std::int64_t>(1765238400) + h * 3600 + m * 60 + s) * 1000 + ms;  // 2025-12-09 UTC
}

class Monitor : public ::testing::Test {
 protected:
  Monitor() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

}  // namespace

TEST_F(Monitor, BlocksShowTheirTimeLengthAndBodyAsHexOrText) {
  EXPECT_EQ(mb::FormatBlock({std::string("\x01\x02\x0A", 3), At(14, 5, 9, 7), mb::kMonitorHex}),
            "\n[14:05:09:007 len=003]: \n01 02 0A \n");
  std::string b64;
  for (int i = 0; i < 64; ++i) b64.push_back(static_cast<char>(i));
  const std::string hex = mb::HexBody(b64);
  EXPECT_EQ(hex.substr(0, 6), "00 01 ");
  EXPECT_EQ(hex.substr(31 * 3, 4), "1F\r\n");
  EXPECT_EQ(hex.substr(hex.size() - 4), "3F\r\n");
  EXPECT_EQ(hex.size(), 64u * 3 + 2);
  EXPECT_EQ(mb::FormatBlock({std::string("TX: 01\0zz", 9), At(0, 0, 0, 0), mb::kMonitorAscii}),
            "\n[00:00:00:000 len=009]: \nTX: 01\n");
  EXPECT_EQ(mb::AsciiBody("\xD6\xD0\xCE\xC4"), "中文");
  EXPECT_EQ(mb::StartLine(mb::kMonitorHex), "set get485 1 \n");
  EXPECT_EQ(mb::StartLine(mb::kMonitorAscii), "set get485ascii 1 \n");
  EXPECT_EQ(mb::StartLine(mb::kMonitorRtu), "set get485 1 \n");

  // RTU: a frame cut between two blocks waits for its rest.
  mb::RtuFramer framer;
  const std::string request("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8);
  EXPECT_EQ(mb::FormatRtuBlock({request.substr(0, 3), At(1, 2, 3, 4), mb::kMonitorRtu}, framer),
            "\n[01:02:03:004 len=003]: \n（3个字节等待帧的其余部分）\n");
  EXPECT_EQ(mb::FormatRtuBlock({request.substr(3), At(1, 2, 3, 50), mb::kMonitorRtu}, framer),
            "\n[01:02:03:050 len=005]: \n01 03 00 00 00 0A C5 CD  → 请求 从站1 功能码03(读保持寄存器) 地址0 数量10  CRC正确\n");
  // What a quiet line settles comes under the time it was settled.
  EXPECT_EQ(mb::FormatRtuBlock({request.substr(0, 6), At(1, 2, 4, 0), mb::kMonitorRtu}, framer),
            "\n[01:02:04:000 len=006]: \n（6个字节等待帧的其余部分）\n");
  EXPECT_EQ(mb::FormatRtuIdle(At(1, 2, 4, 900), framer), "") << "not quiet long enough";
  EXPECT_EQ(mb::FormatRtuIdle(At(1, 2, 5, 1), framer),
            "\n[01:02:05:001 线路空闲]: \n01 03 00 00 00 0A  ? 无法识别的字节\n");
  EXPECT_EQ(framer.pending(), 0u);
}

TEST_F(Monitor, TheQueueKeepsTheNewestBlocksAndCountsWhatItDropped) {
  // A drain with a budget takes whole blocks until the budget is spent, at
  // least one, and leaves the rest in order for the next.
  mb::BlockQueue budget;
  for (int i = 0; i < 5; ++i) budget.Push({std::string(1000, static_cast<char>('a' + i)), i, mb::kMonitorHex});
  auto part = budget.Drain(2500);
  ASSERT_EQ(part.blocks.size(), 3u);
  EXPECT_EQ(part.blocks.back().bytes[0], 'c');
  EXPECT_EQ(budget.Drain(1).blocks.front().bytes[0], 'd');
  EXPECT_EQ(budget.Drain().blocks.size(), 1u);

  mb::BlockQueue q(4);
  for (int i = 0; i < 10; ++i) q.Push({std::string(1, static_cast<char>('0' + i)), i, mb::kMonitorHex});
  EXPECT_EQ(q.size(), 4u);
  auto d = q.Drain();
  ASSERT_EQ(d.blocks.size(), 4u);
  EXPECT_EQ(d.blocks.front().bytes, "6");
  EXPECT_EQ(d.blocks.back().bytes, "9");
  EXPECT_EQ(d.dropped, 6u);
  d = q.Drain();
  EXPECT_TRUE(d.blocks.empty());
  EXPECT_EQ(d.dropped, 0u);
}

TEST_F(Monitor, TheWorkerRepeatsTheStartLineOnItsFirstTurnSendsEachChangeOnceAndStopsOnAClosedLink) {
  platform::VirtualClock clock(At(10, 0, 0, 0));
  std::atomic<int> type{mb::kMonitorAscii};
  mb::BlockQueue q;
  ScriptLink link;
  link.steps = {{"TX: 01\r\n"},
                {""},
                {"\x01\x02", 0, [&] { type = mb::kMonitorHex; }},
                {"", 0, [&] { type = mb::kMonitorRtu; }},
                {"\x03", 0, [&] { type = mb::kMonitorAscii; }},
                {""}};
  // The script ends: the card went away.
  EXPECT_EQ(mb::RunMonitor(link, clock, "192.168.1.20", type, q), mb::MonitorEnd::LinkClosed);
  // The opening's line, the first turn's (it starts from "hex"), then one per
  // change of the line; "modbus-rtu" reads the hex stream.
  EXPECT_EQ(link.sent, (std::vector<std::string>{"set get485ascii 1 \n", "set get485ascii 1 \n", "set get485 1 \n",
                                                 "set get485ascii 1 \n"}));
  EXPECT_EQ(link.receives, 7) << "no receive after the failed one";
  EXPECT_EQ(link.disconnects, 1);
  auto d = q.Drain();
  ASSERT_EQ(d.blocks.size(), 3u);
  EXPECT_EQ(d.blocks[0].type, mb::kMonitorAscii);
  EXPECT_EQ(d.blocks[1].type, mb::kMonitorAscii) << "the type when it arrived";
  EXPECT_EQ(d.blocks[2].type, mb::kMonitorRtu);
  // Empty receives rest before the next poll (the zero pauses only look for a cancel).
  std::vector<int> pauses;
  for (int ms : clock.sleeps())
    if (ms) pauses.push_back(ms);
  EXPECT_EQ(pauses, (std::vector<int>{mb::kIdlePollMs, mb::kIdlePollMs, mb::kIdlePollMs}));

  // Opened on "hex", the first turn has nothing to repeat.
  ScriptLink hex;
  std::atomic<int> hexType{mb::kMonitorHex};
  mb::RunMonitor(hex, clock, "192.168.1.20", hexType, q);
  EXPECT_EQ(hex.sent, std::vector<std::string>{"set get485 1 \n"});

  ScriptLink refused;
  refused.connectFails = true;
  EXPECT_EQ(mb::RunMonitor(refused, clock, "192.168.1.20", type, q), mb::MonitorEnd::ConnectFailed);
  EXPECT_TRUE(refused.sent.empty());
}

TEST_F(Monitor, ACancelEndsTheWorkerWithinOneReceive) {
  platform::RealClock real;
  platform::CancellableClock clock(real);
  std::atomic<int> type{mb::kMonitorHex};
  mb::BlockQueue q(8);
  ScriptLink link;
  // A card that never stops talking.
  link.endless = "x";
  std::atomic<bool> aborted{false};
  std::thread worker([&] {
    try {
      mb::RunMonitor(link, clock, "192.168.1.20", type, q);
    } catch (const platform::OperationAborted&) {
      aborted = true;
    }
  });
  while (q.size() < 8) std::this_thread::yield();
  clock.cancel();
  worker.join();
  EXPECT_TRUE(aborted);
  EXPECT_EQ(link.disconnects, 1);
  EXPECT_EQ(q.size(), 8u) << "bounded while nobody drains";
}
