#include "app/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

TEST(WorkerPool, AnAbortedClockEndsTheBodyQuietly) {
  platform::AbortableClock clock;
  card::WorkerPool pool;
  std::atomic<bool> after{false};
  std::atomic<bool> started{false};
  pool.Run([&] {
    started = true;
    clock.sleepMs(60000);
    after = true;  // never reached
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  clock.abort();
  EXPECT_TRUE(pool.WaitIdle(5000));
  EXPECT_FALSE(after);
  EXPECT_THROW(clock.sleepMs(0), platform::OperationAborted);
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
