#pragma once
// How a worker hands a window update to the window thread: queued, in the
// order posted, and never waited for (the window thread may be waiting for
// the worker). Updates for a window that is gone are dropped.

#include <QMetaObject>
#include <QObject>

#include <utility>

template <typename F>
void postToWindow(QObject* window, F&& update)
{
    QMetaObject::invokeMethod(window, std::forward<F>(update), Qt::QueuedConnection);
}
