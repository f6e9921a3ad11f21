// Worker threads of the main window. Every device operation started from a
// button runs on a thread of its own; the pool keeps track of them so that
// the tool can wait for them before it ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace card {

class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();  // joins every worker
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts body on a new thread and returns at once (RunOnWorker).
  void Run(std::function<void()> body);
  // Number of workers still running.
  int running() const;
  // Waits until no worker runs or timeoutMs passed; true when idle.
  bool WaitIdle(int timeoutMs);

 private:
  struct Worker {
    std::thread thread;
    bool done = false;
  };
  void ReapFinished();  // with mutex_ held

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Worker> workers_;
};

// One thread that runs body once per tick(); ticks that arrive while body
// runs fold into one. The 100 ms timer drives it, so a tick with nothing to
// do costs no new thread.
class TickThread {
 public:
  explicit TickThread(std::function<void()> body);
  ~TickThread();  // stops and joins
  TickThread(const TickThread&) = delete;
  TickThread& operator=(const TickThread&) = delete;

  void tick();
  int runs() const { return runs_.load(); }

 private:
  void Loop();

  std::function<void()> body_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool stop_ = false;
  std::atomic<int> runs_{0};
  std::thread thread_;
};

}  // namespace card
