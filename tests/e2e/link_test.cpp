// The pcomm library's promises, against cardsim and plain loopback sockets:
// its tables, address checks, time bounds, byte-stream behaviour and the
// exchange brackets.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "e2e/fixture.h"
#include "link/command_channel.h"

namespace e2e {
namespace {

using Ms = std::chrono::milliseconds;

template <typename F>
long long ElapsedMs(F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t0).count();
}

// The driver's own bounds (see driver/handles.h), and 3x that as the most a
// test accepts on a busy machine.
constexpr long long kConnectBoundMs = 1000;
constexpr long long kReceiveBoundMs = 45;
// Bounds here only catch a hang: the machines are small and shared, so the
// driver's own bounds get a second of margin. bench_link measures them.
constexpr long long kMarginMs = 1000;

class LinkTest : public CardSimTest {};

TEST_F(LinkTest, DrvGetHandsOutTwoTablesAndNothingElse) {
  void* h = dlopen(PCOMM_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr);
  auto get = reinterpret_cast<DrvGetFn>(dlsym(h, "DRV_Get"));
  ASSERT_NE(get, nullptr);
  void* link = nullptr;
  void* search = nullptr;
  EXPECT_EQ(get(DRV_LINK_TABLE, &link), 0);
  EXPECT_EQ(get(DRV_SEARCH_TABLE, &search), 0);
  ASSERT_NE(link, nullptr);
  ASSERT_NE(search, nullptr);
  EXPECT_NE(link, search);
  for (int id : {0, 1, 0x7F, 0x81, 0x91, -1, 0x80 + 0x100}) {
    void* untouched = &h;
    EXPECT_NE(get(id, &untouched), 0) << id;
    EXPECT_EQ(untouched, &h) << id;
  }
  // The reserved slots are there and do nothing to a live handle.
  auto* t = static_cast<const DriverTable*>(link);
  DriverConfig cfg{};
  cfg.port = 1001;
  DrvHandle handle = 0;
  ASSERT_EQ(t->create(&cfg, &handle), 0);
  ASSERT_NE(handle, 0u);
  EXPECT_NE(t->reserved2(handle), 0);
  EXPECT_NE(t->reserved6(handle), 0);
  int count = -1;
  char b[4];
  EXPECT_NE(t->receive(handle, b, sizeof b, &count), 0) << "not connected yet";
  t->destroy(handle);
  EXPECT_NE(t->connect(handle, kCard0), 0) << "a destroyed handle is gone";
  dlclose(h);
}

TEST_F(LinkTest, MalformedAddressesNeverConnect) {
  StartSim();
  auto link = Link();
  for (const char* bad : {"Error", "", "1.2.3", "999.1.1.1", "1.2.3.4.5", " 127.0.0.10", "127.0.0.10 ", "127.0.0.1O",
                          "127..0.10", "1.2.3.256"})
    EXPECT_NE(link->Connect(bad), 0) << '"' << bad << '"';
  EXPECT_EQ(link->Connect(kCard0), 0);
  auto search = lib_->CreateSearch();
  for (const char* bad : {"Error", "", "1.2.3", "999.1.1.1"}) EXPECT_NE(search->Connect(bad), 0) << bad;
  EXPECT_EQ(search->Connect(kLocal), 0);
}

TEST_F(LinkTest, RefusedPortFailsAtOnce) {
  StartSim({"--refuse"});
  auto link = Link();
  long long ms = ElapsedMs([&] { EXPECT_NE(link->Connect(kCard0), 0); });
  EXPECT_LT(ms, kConnectBoundMs + kMarginMs);
  // Nothing at all listens on this address either.
  ms = ElapsedMs([&] { EXPECT_NE(link->Connect("127.0.0.99"), 0); });
  EXPECT_LT(ms, kConnectBoundMs + kMarginMs);
}

TEST_F(LinkTest, ConnectGivesUpWhenTheCardNeverCompletesTheHandshake) {
  // A listener whose accept queue is full drops further handshakes, which
  // is what an unreachable card looks like from here.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(1001);
  inet_pton(AF_INET, "127.0.0.77", &sa.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    fillers.push_back(f);
  }
  std::this_thread::sleep_for(Ms(50));
  auto link = Link();
  int result = 0;
  long long ms = ElapsedMs([&] { result = link->Connect("127.0.0.77"); });
  EXPECT_NE(result, 0);
  EXPECT_GE(ms, kConnectBoundMs / 2) << "it did wait for the handshake";
  EXPECT_LT(ms, kConnectBoundMs + kMarginMs);
  for (int f : fillers) close(f);
  close(listener);
}

TEST_F(LinkTest, ReceiveReturnsSoonWhenTheCardNeverAnswers) {
  StartSim({"--silent"});
  auto link = Connected();
  ASSERT_EQ(link->Send(std::string_view("query all_in_struct_tcp \n")), 0);
  char buf[64];
  for (int i = 0; i < 5; ++i) {
    std::size_t count = 99;
    int r = 0;
    long long ms = ElapsedMs([&] { r = link->Receive(buf, sizeof buf, &count); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(ms, kReceiveBoundMs + kMarginMs);
  }
}

TEST_F(LinkTest, SendReceiveDisconnectAndReconnect) {
  StartSim();
  auto link = Connected();
  EXPECT_EQ(link->Send("", 0), 0) << "an empty send is a no-op";
  link->Disconnect();
  link->Disconnect();
  EXPECT_NE(link->Send(std::string_view("query all_in_struct_tcp \n")), 0) << "sent on a closed link";
  std::size_t count = 0;
  char b[8];
  EXPECT_NE(link->Receive(b, sizeof b, &count), 0);
  ASSERT_EQ(link->Connect(kCard0), 0) << "a handle connects again after Disconnect";
  EXPECT_TRUE(card::CheckRecord(QueryRecord(*link)));
}

TEST_F(LinkTest, BytesBeforeTheCloseComeFirstThenReceiveFails) {
  StartSim();
  auto link = Connected();
  // The record is answered, then the reset closes the connection.
  ASSERT_EQ(link->Send(std::string_view("query all_in_struct_tcp \nreset \n")), 0);
  std::string got;
  int result = 0;
  ASSERT_TRUE(Eventually([&] {
    char buf[4096];
    std::size_t count = 0;
    result = link->Receive(buf, sizeof buf, &count);
    got.append(buf, count);
    return result != 0;
  }));
  EXPECT_EQ(got.size(), card::rec::kSize);
  char b[8];
  std::size_t count = 0;
  EXPECT_NE(link->Receive(b, sizeof b, &count), 0) << "stays failed";
}

TEST_F(LinkTest, ARecordSentInSmallSegmentsComesBackWhole) {
  StartSim({"--split-bytes", "100", "--split-gap-ms", "2", "--stray-byte"});
  auto link = Connected();
  std::vector<std::uint8_t> buf(8192);
  // The tool's own pause before the Receive: every segment is there by then,
  // however loaded the machine. (How fast segments are gathered without a
  // pause is timing, measured by bench_link.)
  auto reply = card::Exchange(*link, real_, "query all_in_struct_tcp \n", 500, buf.data(), buf.size());
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ(reply.count, card::rec::kSize + 1);
  auto at = card::LocateRecord(buf.data(), reply.count);
  ASSERT_TRUE(at);
  EXPECT_EQ(*at, 1u) << "the stray byte comes first";
  EXPECT_TRUE(card::VerifyChecksum(card::CopyRecord(buf.data(), reply.count, *at)));
}

TEST_F(LinkTest, ALateReplyIsNotWaitedForButStaysForTheNextReceive) {
  StartSim({"--delay-ms", "300"});
  auto link = Connected();
  std::vector<std::uint8_t> buf(8192);
  auto reply = card::Exchange(*link, real_, "query all_in_struct_tcp \n", 0, buf.data(), buf.size());
  EXPECT_TRUE(reply.ok());
  EXPECT_EQ(reply.count, 0u) << "Receive does not wait for a reply 300 ms away";
  real_.sleepMs(450);
  std::size_t count = 0;
  ASSERT_EQ(link->Receive(buf.data(), buf.size(), &count), 0);
  EXPECT_EQ(count, card::rec::kSize);
}

TEST_F(LinkTest, ExchangesOfTwoThreadsOnOneHandleNeverInterleave) {
  StartSim();
  auto link = Connected();
  std::atomic<int> wrong{0};
  // Each thread reads until its own reply is complete inside its bracket; a
  // reply of the other thread would show up as wrong bytes or a wrong size.
  auto exchange = [&](const std::string& line, std::size_t size, auto check) {
    for (int i = 0; i < 25; ++i) {
      link->BeginExchange();
      link->Send(line);
      std::string got;
      auto deadline = std::chrono::steady_clock::now() + Ms(2000);
      while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
        char buf[2048];
        std::size_t n = 0;
        if (link->Receive(buf, sizeof buf, &n) != 0) break;
        got.append(buf, n);
      }
      // Give the other thread every chance to slip in before End.
      std::this_thread::sleep_for(Ms(1));
      link->EndExchange();
      if (got.size() != size || !check(got)) ++wrong;
    }
  };
  std::thread a([&] {
    exchange("query all_in_struct_tcp \n", card::rec::kSize, [](const std::string& s) {
      return card::CheckRecord(card::CopyRecord(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), 0));
    });
  });
  std::thread b([&] {
    exchange("file read_modbus 0x40 128\n", 128, [](const std::string& s) {
      for (int r = 0; r < 64; ++r)
        if (static_cast<std::uint8_t>(s[2 * r]) != 64 + r || s[2 * r + 1] != 0) return false;
      return true;
    });
  });
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(LinkTest, BeginExchangeTwiceOnOneThreadDoesNotBlock) {
  StartSim();
  auto link = Connected();
  std::atomic<bool> done{false};
  std::thread t([&] {
    link->BeginExchange();
    link->BeginExchange();
    link->EndExchange();
    done = true;
  });
  EXPECT_TRUE(Eventually([&] { return done.load(); }, 2000));
  t.join();
}

}  // namespace
}  // namespace e2e
