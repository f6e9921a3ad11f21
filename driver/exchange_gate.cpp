#include "exchange_gate.h"

#include <chrono>

namespace pcomm {

void ExchangeGate::Begin(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto me = std::this_thread::get_id();
  if (held_ && owner_ == me) return;
  auto free = [&] { return !held_ || open_; };
  if (timeoutMs < 0) {
    freed_.wait(lock, free);
  } else if (!freed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), free)) {
    return;
  }
  if (open_) return;
  held_ = true;
  owner_ = me;
}

void ExchangeGate::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!held_ || owner_ != std::this_thread::get_id()) return;
  held_ = false;
  owner_ = {};
  freed_.notify_all();
}

void ExchangeGate::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  held_ = false;
  freed_.notify_all();
}

bool ExchangeGate::HeldByCaller() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_ && owner_ == std::this_thread::get_id();
}

}  // namespace pcomm
