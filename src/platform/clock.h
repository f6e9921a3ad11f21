// Time for device operations. Pauses between a command and its reply are
// fixed sleeps; operations take them from a Clock so that tests can run them
// in no time and end-to-end runs can shorten them in proportion.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void sleepMs(int ms) = 0;
  // A pause that a cancellation does not cut short: the one between a
  // checksum announcement and the line it announces, which belong together.
  virtual void holdMs(int ms) { sleepMs(ms); }
  // Wall-clock time in milliseconds since the Unix epoch (the PC's clock).
  virtual std::int64_t now() = 0;
  // Real time a sleep of 1 ms takes, in ms; 0 when sleeping costs no real time.
  virtual double scale() const { return 1.0; }
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
  double scale() const override { return 0.0; }
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
  double scale() const override { return factor_; }

 private:
  double factor_;
};

}  // namespace platform


namespace platform {

// Thrown out of a sleep once the clock was cancelled: it unwinds an operation
// that the user stopped ("取消", closing a dialog, quitting the tool), so that
// no further line goes out.
struct OperationAborted {};

// How a worker's body ended.
enum class RunEnd { Completed, Cancelled, Failed };
// Runs body on the calling thread. A cancel (OperationAborted) ends it
// quietly; any other error ends it as Failed and goes to report with its
// what() (empty when it is no std::exception), so that no error a worker
// meets ends the whole tool.
RunEnd RunGuarded(const std::function<void()>& body, const std::function<void(const std::string& what)>& report);

// A clock whose sleeps can be cut short for good, over a base clock that
// gives the time and the scale. The tool makes one for the whole run (quit
// cancels it) and one per dialog run ("取消" cancels it). Over a virtual
// base the sleeps are recorded by the base and cost no time.
class CancellableClock : public Clock {
 public:
  explicit CancellableClock(Clock& base) : base_(base) {}
  void sleepMs(int ms) override;
  void holdMs(int ms) override;
  std::int64_t now() override { return base_.now(); }
  double scale() const override { return base_.scale(); }
  void cancel();
  bool cancelled() const;

 private:
  Clock& base_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
};

// The scale of pauses for a run: CARD_CLOCK_SCALE from the environment when
// it holds a number in (0, 1], else def.
double ClockScaleFromEnvironment(double def);

// A shortened clock shortens the pauses, not the card: a virtual card on a
// loaded machine answers late. A wait for an answer that takes ms at full
// time lasts, in now()'s time, ms shortened but at least kAnswerFloorMs (or
// ms, when that is less). At full time, and on a virtual clock, it is ms.
constexpr int kAnswerFloorMs = 2000;
std::int64_t AnswerWindowMs(const Clock& clock, int ms);

}  // namespace platform
