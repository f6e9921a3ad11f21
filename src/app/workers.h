// Worker threads of the main window. Every device operation started from a
// button runs on a thread of its own; the pool keeps track of them so that
// the tool can wait for them before it ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace card {

// What a worker does with an error it did not expect (what() of the
// exception, empty when it was none); the cancel is no error.
using WorkerErrorReport = std::function<void(const std::string& what)>;

class WorkerPool {
 public:
  // report: told, on the worker's thread, of an error a body ends with; the
  // other workers and the tool go on.
  explicit WorkerPool(WorkerErrorReport report = {}) : report_(std::move(report)) {}
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

  WorkerErrorReport report_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Worker> workers_;
};

// One thread that runs body once per tick(); ticks that arrive while body
// runs fold into one. The 100 ms timer drives it, so a tick with nothing to
// do costs no new thread.
class TickThread {
 public:
  // An error the body ends with goes to report; the next tick runs it again.
  explicit TickThread(std::function<void()> body, WorkerErrorReport report = {});
  ~TickThread();  // stops and joins
  TickThread(const TickThread&) = delete;
  TickThread& operator=(const TickThread&) = delete;

  void tick();
  int runs() const { return runs_.load(); }

 private:
  void Loop();

  std::function<void()> body_;
  WorkerErrorReport report_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool stop_ = false;
  std::atomic<int> runs_{0};
  std::thread thread_;
};

}  // namespace card
