// The driver's parts that need no network: the address check and the gate
// that keeps exchanges apart.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "exchange_gate.h"
#include "ipv4.h"

namespace {

TEST(Ipv4, OnlyStrictDottedQuadsPass) {
  EXPECT_EQ(pcomm::ParseIpv4("127.0.0.10"), 0x7F00000Au);
  EXPECT_EQ(pcomm::ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(pcomm::ParseIpv4("0.0.0.0"), 0u);
  for (const char* bad : {"Error", "", "1.2.3", "999.1.1.1", "1.2.3.4.", ".1.2.3.4", "1.2.3.4.5", "1..2.3", "1.2.3.-4",
                          "1.2.3.4 ", " 1.2.3.4", "0x7f.0.0.1", "1.2.3.0004", "256.0.0.1", "1,2,3,4"})
    EXPECT_FALSE(pcomm::ParseIpv4(bad)) << '"' << bad << '"';
  EXPECT_TRUE(pcomm::IsLoopback(0x7F123456));
  EXPECT_FALSE(pcomm::IsLoopback(0x80000001));
}

TEST(ExchangeGate, ASecondThreadWaitsForTheFirstThreadsEnd) {
  pcomm::ExchangeGate gate;
  gate.Begin(-1);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    gate.Begin(-1);
    entered = true;
    gate.End();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load()) << "the second exchange started inside the first";
  gate.Begin(-1);  // the holder again: no deadlock
  gate.End();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(ExchangeGate, OnlyTheHolderReleasesAndATimeoutGoesOnWithoutTheGate) {
  pcomm::ExchangeGate gate;
  gate.Begin(-1);
  std::thread stranger([&] {
    gate.End();  // ignored: it does not hold the gate
    auto t0 = std::chrono::steady_clock::now();
    gate.Begin(30);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25));
    EXPECT_FALSE(gate.HeldByCaller());
  });
  stranger.join();
  EXPECT_TRUE(gate.HeldByCaller());
  gate.End();
  EXPECT_FALSE(gate.HeldByCaller());
}

TEST(ExchangeGate, OpeningLetsWaitersThrough) {
  pcomm::ExchangeGate gate;
  gate.Begin(-1);
  std::atomic<bool> through{false};
  std::thread waiter([&] {
    gate.Begin(-1);
    through = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(through.load());
  gate.Open();
  waiter.join();
  EXPECT_TRUE(through.load());
}

}  // namespace
