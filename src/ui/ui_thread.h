// Reaching widgets from worker threads. Work for the UI thread goes through
// one queue guarded by a standard mutex, so the hand-over is ordered for
// every tool that checks threads (ThreadSanitizer cannot see Qt's own
// locks), and the UI thread runs it after the current event.
#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <utility>

namespace ui {

// Makes the queue on the UI thread. Every window and dialog calls it when it
// is built, before any worker of it can post.
void PrepareUiQueue();

// Runs f on the UI thread later, unless context is gone by then.
void PostToUi(QObject* context, std::function<void()> f);

// Runs f on the UI thread and waits until it has run; on the UI thread it
// runs at once. When context goes away first, f is not run and the wait ends.
void RunOnUiThread(QObject* context, const std::function<void()>& f);

// Runs, on the UI thread, whatever work waits in the queue. A wait on the UI
// thread (for a worker to end) calls it, because Qt does not deliver posted
// events inside the handler of another posted event.
void RunPendingUiWork();

template <typename F>
void RunOnObjectThread(QObject* object, F&& f) {
  if (QThread::currentThread() == object->thread()) {
    f();
    return;
  }
  RunOnUiThread(object, std::function<void()>(std::forward<F>(f)));
}

}  // namespace ui
