#include "app/workers.h"

#include <chrono>

#include "platform/clock.h"

namespace card {

WorkerPool::~WorkerPool() {
  std::list<Worker> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(workers_);
  }
  for (Worker& w : all)
    if (w.thread.joinable()) w.thread.join();
}

void WorkerPool::ReapFinished() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void WorkerPool::Run(std::function<void()> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReapFinished();
  workers_.emplace_back();
  Worker* self = &workers_.back();
  self->thread = std::thread([this, self, body = std::move(body)] {
    // A cancel (the tool is closing) stops the operation where it was.
    platform::RunGuarded(body, report_);
    std::lock_guard<std::mutex> lock(mutex_);
    self->done = true;
    changed_.notify_all();
  });
}

int WorkerPool::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Worker& w : workers_) n += w.done ? 0 : 1;
  return n;
}

bool WorkerPool::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto idle = [this] {
    for (const Worker& w : workers_)
      if (!w.done) return false;
    return true;
  };
  bool ok = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
  if (ok) ReapFinished();
  return ok;
}

TickThread::TickThread(std::function<void()> body, WorkerErrorReport report)
    : body_(std::move(body)), report_(std::move(report)), thread_([this] { Loop(); }) {}

TickThread::~TickThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TickThread::tick() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
  }
  wake_.notify_all();
}

void TickThread::Loop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return pending_ || stop_; });
      if (stop_) return;
      pending_ = false;
    }
    if (platform::RunGuarded(body_, report_) == platform::RunEnd::Cancelled) return;
    ++runs_;
  }
}

}  // namespace card
