#include "app/workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>
#include <chrono>
#include <thread>

#include "core/ports.h"
#include "platform/clock.h"

TEST(WorkerPool, RunsBodiesOnTheirOwnThreadsAndWaitsForThem) {
  card::WorkerPool pool;
  std::atomic<int> done{0};
  std::atomic<bool> release{false};
  const auto caller = std::this_thread::get_id();
  std::atomic<bool> otherThread{true};
  for (int i = 0; i < 5; ++i)
    pool.Run([&] {
      if (std::this_thread::get_id() == caller) otherThread = false;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ++done;
    });
  EXPECT_EQ(pool.running(), 5);
  EXPECT_FALSE(pool.WaitIdle(10));
  release = true;
  EXPECT_TRUE(pool.WaitIdle(5000));
  EXPECT_EQ(done, 5);
  EXPECT_TRUE(otherThread);
  EXPECT_EQ(pool.running(), 0);
}

TEST(WorkerPool, ACancelledClockEndsTheBodyQuietlyButNotInsideAHold) {
  platform::RealClock base;
  platform::CancellableClock clock(base);
  card::WorkerPool pool;
  std::atomic<bool> after{false};
  std::atomic<bool> started{false};
  pool.Run([&] {
    started = true;
    clock.sleepMs(60000);
    after = true;  // never reached
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  clock.cancel();
  EXPECT_TRUE(pool.WaitIdle(5000));
  EXPECT_FALSE(after);
  EXPECT_THROW(clock.sleepMs(0), platform::OperationAborted);
  // A hold (the pause between a checksum and its line) runs to its end.
  EXPECT_NO_THROW(clock.holdMs(5));
}

TEST(CancellableClock, OverAVirtualClockSleepsAreRecordedAndCancelStopsThem) {
  platform::VirtualClock base;
  platform::CancellableClock clock(base);
  clock.sleepMs(2000);
  clock.holdMs(1500);
  EXPECT_EQ(base.sleeps(), (std::vector<int>{2000, 1500}));
  clock.cancel();
  EXPECT_THROW(clock.sleepMs(1), platform::OperationAborted);
  EXPECT_EQ(base.totalSlept(), 3500);
}

TEST(TickThread, TicksFoldWhileTheBodyRuns) {
  std::atomic<int> calls{0};
  std::atomic<bool> release{false};
  {
    card::TickThread ticker([&] {
      ++calls;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ticker.tick();
    while (calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < 10; ++i) ticker.tick();  // while the first run is busy
    release = true;
    for (int i = 0; i < 2000 && ticker.runs() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 2);
  }
  EXPECT_EQ(calls, 2);  // stopping does not run it again
}

TEST(WorkerPool, AnErrorEndsOnlyItsOwnBodyAndIsReported) {
  std::mutex m;
  std::vector<std::string> reports;
  std::atomic<int> done{0};
  {
    card::WorkerPool pool([&](const std::string& what) {
      std::lock_guard<std::mutex> lock(m);
      reports.push_back(what);
    });
    pool.Run([] { throw std::runtime_error("directory iterator cannot open directory"); });
    pool.Run([] { throw 42; });
    pool.Run([] { throw platform::OperationAborted{}; });  // a cancel is no error
    pool.Run([&] { ++done; });
    EXPECT_TRUE(pool.WaitIdle(5000));
    EXPECT_EQ(pool.running(), 0);
  }
  EXPECT_EQ(done, 1);
  std::sort(reports.begin(), reports.end());
  EXPECT_EQ(reports, (std::vector<std::string>{"", "directory iterator cannot open directory"}));
  EXPECT_EQ(card::OperationErrorText(reports[1]), "操作出错，已停止：directory iterator cannot open directory");
  EXPECT_EQ(card::OperationErrorText(""), "操作出错，已停止");
}

TEST(TickThread, AnErrorIsReportedAndTheNextTickRunsAgain) {
  std::atomic<int> calls{0};
  std::atomic<int> reports{0};
  card::TickThread ticker(
      [&] {
        if (++calls == 1) throw std::logic_error("first");
      },
      [&](const std::string& what) {
        if (what == "first") ++reports;
      });
  ticker.tick();
  for (int i = 0; i < 2000 && ticker.runs() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ticker.tick();
  for (int i = 0; i < 2000 && ticker.runs() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(reports, 1);
}
