// Keeps the exchanges on one handle apart: BeginExchange takes the gate for
// the calling thread, EndExchange gives it back. A second thread's Begin waits
// until the holder's End, so the bytes of two exchanges never interleave on
// one socket. Begin by the thread that already holds the gate is a no-op
// (not counted), so a caller that brackets twice cannot lock itself out.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace pcomm {

class ExchangeGate {
 public:
  // timeoutMs < 0 waits as long as it takes (what the tool always passes);
  // otherwise at most that long, after which the caller goes on without the gate.
  void Begin(int timeoutMs);
  // Only the holder's End releases; an End from any other thread is ignored.
  void End();
  // The handle is going away: release the gate and let every waiter through.
  void Open();
  bool HeldByCaller();

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  bool held_ = false;
  bool open_ = false;
  std::thread::id owner_;
};

}  // namespace pcomm
