// Reaching widgets from worker threads: the call runs on the object's own
// (UI) thread and the worker waits for it; on that thread it runs at once.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace ui {

template <typename F>
void RunOnObjectThread(QObject* object, F&& f) {
  if (QThread::currentThread() == object->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(object, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

}  // namespace ui
