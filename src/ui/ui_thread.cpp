#include "ui/ui_thread.h"

#include <QCoreApplication>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace ui {
namespace {

class Dispatcher : public QObject {
  Q_OBJECT
 public:
  static Dispatcher& Instance() {
    static Dispatcher* d = [] {
      auto* x = new Dispatcher;
      x->moveToThread(QCoreApplication::instance()->thread());
      return x;
    }();
    return *d;
  }

  void Post(QObject* context, std::function<void()> f) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back({QPointer<QObject>(context), std::move(f)});
    }
    // The event carries nothing: the work itself stays in the queue above,
    // and Qt allocates the event inside its own code.
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
  }

 public slots:
  void Drain() {
    std::deque<Task> batch;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch.swap(queue_);
    }
    for (Task& t : batch)
      if (t.context) t.f();
  }

 private:
  struct Task {
    QPointer<QObject> context;
    std::function<void()> f;
  };

  std::mutex mutex_;
  std::deque<Task> queue_;
};

// Ends a blocking call when its task has run, or when the task is dropped.
struct Waiter {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
    }
    done.notify_all();
  }
};

class FinishOnDestruction {
 public:
  explicit FinishOnDestruction(std::shared_ptr<Waiter> waiter) : waiter_(std::move(waiter)) {}
  ~FinishOnDestruction() { waiter_->Finish(); }
  FinishOnDestruction(const FinishOnDestruction&) = delete;
  FinishOnDestruction& operator=(const FinishOnDestruction&) = delete;

 private:
  std::shared_ptr<Waiter> waiter_;
};

}  // namespace

void PrepareUiQueue() { Dispatcher::Instance(); }

void PostToUi(QObject* context, std::function<void()> f) { Dispatcher::Instance().Post(context, std::move(f)); }

void RunPendingUiWork() { Dispatcher::Instance().Drain(); }

void RunOnUiThread(QObject* context, const std::function<void()>& f) {
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
    f();
    return;
  }
  auto waiter = std::make_shared<Waiter>();
  {
    // Whether the task runs or is dropped with a vanished context, the last
    // copy of the guard lets the caller go.
    auto guard = std::make_shared<FinishOnDestruction>(waiter);
    Dispatcher::Instance().Post(context, [guard, &f] { f(); });
  }
  std::unique_lock<std::mutex> lock(waiter->mutex);
  waiter->done.wait(lock, [&] { return waiter->finished; });
}

}  // namespace ui

#include "ui_thread.moc"
