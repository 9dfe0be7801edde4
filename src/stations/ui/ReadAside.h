#pragma once
// Stores and files are read aside, never on the window thread: a large store
// or a slow server must not hold the operator's clicks.

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <memory>

namespace zrv::stations {

// One low-priority reader for the fleet's windows: reads never run side by
// side, so that on a machine of two cores a read asked for anew cannot crowd
// out the window thread. It ends with the application, its read finished.
QThreadPool* readerPool();

// `done` gets what `read` returned on the window thread, and only while
// `owner` still exists.
template <typename Result, typename Read, typename Done>
void readAside(QObject* owner, Read read, Done done)
{
    const QPointer<QObject> guard(owner);
    readerPool()->start([guard, read, done] {
        auto result = std::make_shared<Result>(read());
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [guard, result, done] {
                if (guard) done(std::move(*result));
            },
            Qt::QueuedConnection);
    });
}

}  // namespace zrv::stations
