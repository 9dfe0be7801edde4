#include "Settle.h"

#include "session/Session.h"
#include "support/SessionProbe.h"

#include <QCoreApplication>
#include <QThread>

void settle(zrv::Session& session)
{
    // A delivered result may ask for more (a dial's success detects), so
    // look again until both sides are quiet.
    const auto quiet = [&session] { return zrv::SessionProbe::idle(session); };
    for (;;) {
        while (!quiet()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (!quiet()) QThread::msleep(1);
        }
        QCoreApplication::processEvents();
        if (quiet()) return;
    }
}

QString stateName(const zrv::SessionState& s)
{
    using C = zrv::Connection;
    switch (s.connection) {
    case C::Disconnected: return QStringLiteral("Disconnected");
    case C::Dialling: return QStringLiteral("Dialling");
    case C::Detecting: return QStringLiteral("Detecting");
    case C::HangingUp: return QStringLiteral("HangingUp");
    case C::Connected: break;
    }
    switch (s.work) {
    case zrv::Work::Transfer: return QStringLiteral("Busy");
    case zrv::Work::Journal: return QStringLiteral("ReadingJournal");
    case zrv::Work::Call: return QStringLiteral("Call");
    case zrv::Work::Idle: break;
    }
    return s.externalControl ? QStringLiteral("ExternalControl") : QStringLiteral("Monitoring");
}
