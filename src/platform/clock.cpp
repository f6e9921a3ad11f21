#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <numeric>
#include <thread>

namespace platform {

void RealClock::sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t RealClock::now() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void VirtualClock::sleepMs(int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  sleeps_.push_back(ms);
  if (ms > 0) now_ += ms;
}

std::int64_t VirtualClock::now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

void VirtualClock::advance(std::int64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += ms;
}

std::vector<int> VirtualClock::sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

std::int64_t VirtualClock::totalSlept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::accumulate(sleeps_.begin(), sleeps_.end(), std::int64_t{0},
                         [](std::int64_t a, int b) { return a + (b > 0 ? b : 0); });
}

void ScaledClock::sleepMs(int ms) {
  if (ms <= 0) return;
  auto us = static_cast<std::int64_t>(ms * 1000.0 * factor_);
  if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

std::int64_t ScaledClock::now() { return RealClock().now(); }

}  // namespace platform

namespace platform {

void CancellableClock::sleepMs(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (cancelled_) throw OperationAborted{};
  if (ms <= 0) return;
  if (base_.scale() <= 0.0) {
    lock.unlock();
    base_.sleepMs(ms);
    lock.lock();
  } else {
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::microseconds(static_cast<std::int64_t>(ms * 1000.0 * base_.scale()));
    wake_.wait_until(lock, until, [this] { return cancelled_; });
  }
  if (cancelled_) throw OperationAborted{};
}

void CancellableClock::holdMs(int ms) { base_.sleepMs(ms); }

void CancellableClock::cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  wake_.notify_all();
}

bool CancellableClock::cancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

std::int64_t AnswerWindowMs(const Clock& clock, int ms) {
  const double scale = clock.scale();
  if (scale <= 0.0 || scale >= 1.0) return ms;
  return std::max(static_cast<std::int64_t>(ms * scale), static_cast<std::int64_t>(std::min(ms, kAnswerFloorMs)));
}

double ClockScaleFromEnvironment(double def) {
  const char* text = std::getenv("CARD_CLOCK_SCALE");
  if (!text || !*text) return def;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  return end && *end == '\0' && v > 0.0 && v <= 1.0 ? v : def;
}

RunEnd RunGuarded(const std::function<void()>& body, const std::function<void(const std::string& what)>& report) {
  try {
    body();
    return RunEnd::Completed;
  } catch (const OperationAborted&) {
    return RunEnd::Cancelled;
  } catch (const std::exception& e) {
    if (report) report(e.what());
  } catch (...) {
    if (report) report({});
  }
  return RunEnd::Failed;
}

}  // namespace platform
