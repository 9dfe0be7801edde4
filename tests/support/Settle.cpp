#include "Settle.h"

#include "session/Session.h"

#include <QCoreApplication>
#include <QThread>

void settle(zrv::Session& session)
{
    // A delivered result may ask for more (a dial's success detects), so
    // look again until both sides are quiet.
    const auto quiet = [&session] { return session.isIdle() && !session.hasUndelivered(); };
    for (;;) {
        while (!quiet()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (!quiet()) QThread::msleep(1);
        }
        QCoreApplication::processEvents();
        if (quiet()) return;
    }
}
