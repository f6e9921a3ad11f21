// Time for device operations. Pauses between a command and its reply are
// fixed sleeps; operations take them from a Clock so that tests can run them
// in no time and end-to-end runs can shorten them in proportion.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void sleepMs(int ms) = 0;
  // Wall-clock time in milliseconds since the Unix epoch (the PC's clock).
  virtual std::int64_t now() = 0;
};

class RealClock : public Clock {
 public:
  void sleepMs(int ms) override;
  std::int64_t now() override;
};

// Sleeping costs no time: it advances the clock's own time and is recorded.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(std::int64_t startMs = 0) : now_(startMs) {}
  void sleepMs(int ms) override;
  std::int64_t now() override;
  void advance(std::int64_t ms);
  std::vector<int> sleeps() const;
  std::int64_t totalSlept() const;

 private:
  mutable std::mutex mutex_;
  std::int64_t now_;
  std::vector<int> sleeps_;
};

// Real sleeps, each shortened by factor (0.01 makes a 2000 ms pause 20 ms);
// now() is the real wall clock.
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(double factor) : factor_(factor) {}
  void sleepMs(int ms) override;
  std::int64_t now() override;

 private:
  double factor_;
};

}  // namespace platform

namespace platform {

// Thrown out of a sleep once the clock was aborted: it unwinds an operation
// that is still running when the tool closes, so that no further line goes
// out after the user chose to quit.
struct OperationAborted {};

// A real clock whose sleeps can be cut short for good. scale shortens every
// sleep in proportion, as ScaledClock does (1.0: real pauses).
class AbortableClock : public Clock {
 public:
  explicit AbortableClock(double scale = 1.0) : scale_(scale) {}
  void sleepMs(int ms) override;
  std::int64_t now() override;
  void abort();
  bool aborted() const;

 private:
  double scale_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool aborted_ = false;
};

}  // namespace platform
