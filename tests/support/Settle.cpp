#include "Settle.h"

#include "session/Session.h"

#include <QCoreApplication>
#include <QThread>

void settle(zrv::Session& session)
{
    // A delivered result may ask for more (a dial's success detects), so
    // look again until both sides are quiet.
    for (;;) {
        while (!session.isIdle()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (session.isIdle()) return;
    }
}
