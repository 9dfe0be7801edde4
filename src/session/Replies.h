#pragma once
// What one request brings back to the one who asked, as QModbusReply does
// for Qt's client: its progress while it runs, and its end with the typed
// result. The session makes it, on the window thread, and lets it go once it
// has ended: connect to it as soon as it is handed out (nothing arrives
// before the event loop runs again).
//
// Every reply ends, once: `ended` comes last, after the result when the
// request was answered. A request that was not made (asked when the session
// could not take it, dropped for one of its kind already waiting, or the
// connection ended before it) ends unanswered, with no result.

#include "clock/DeviceClock.h"
#include "journal/JournalCursor.h"
#include "monitor/PollSnapshot.h"
#include "session/CallLine.h"
#include "setpoints/SetpointFile.h"

#include <QObject>
#include <QString>

#include <optional>

namespace zrv {

class Session;

class Reply : public QObject {
    Q_OBJECT
public:
    bool isFinished() const { return m_finished; }
    bool answered() const { return m_answered; }
    // The request was not made: the reply ends unanswered once back in the
    // event loop. Known as soon as the reply is handed out.
    bool refused() const { return m_refused; }

signals:
    void ended();

protected:
    explicit Reply(QObject* parent) : QObject(parent) {}

private:
    friend class Session;
    // Window thread; the reply goes once back in the event loop.
    void end(bool answered)
    {
        if (m_finished) return;
        m_finished = true;
        m_answered = answered;
        emit ended();
        deleteLater();
    }
    bool m_finished = false;
    bool m_answered = false;
    bool m_refused = false;
};

// A connection: the device found (and read whole), or why not (for
// PortUnavailable, the system's words for the port). Ended by the operator
// before either (a disconnection, a dial abandoned): unanswered.
class ConnectReply : public Reply {
    Q_OBJECT
public:
    explicit ConnectReply(QObject* parent) : Reply(parent) {}
signals:
    // Through a modem: the port is open and the modem waits for a number
    // (modem::Dial).
    void modemReady();
    void found(const zrv::PollSnapshot& device);
    void failed(zrv::Detection why, const QString& portError);
};

// A disconnection: answered once the line is closed; through a modem, what
// the hang-up says as it goes, in its own words.
class DisconnectReply : public Reply {
    Q_OBJECT
public:
    explicit DisconnectReply(QObject* parent) : Reply(parent) {}
signals:
    void status(const QString& text);
};

// A number dialled: whether the modem connected, in its own words.
class DialReply : public Reply {
    Q_OBJECT
public:
    explicit DialReply(QObject* parent) : Reply(parent) {}
signals:
    void dialled(bool success, const QString& state);
};

// A clock read.
class ClockReply : public Reply {
    Q_OBJECT
public:
    explicit ClockReply(QObject* parent) : Reply(parent) {}
signals:
    void read(const zrv::clock::ClockReading& reading);
};

// A command whose answer is whether the device took it (the clock set, the
// mode).
class CommandReply : public Reply {
    Q_OBJECT
public:
    explicit CommandReply(QObject* parent) : Reply(parent) {}
signals:
    void done(bool ok);
};

// A setpoint block read or written: each attempt as it is made, then the
// set as read (nothing when the read failed), or written or why not (a
// check's refusal, or, empty, no answer).
class SetpointsReply : public Reply {
    Q_OBJECT
public:
    explicit SetpointsReply(QObject* parent) : Reply(parent) {}
signals:
    void attempt(int attempt, int attempts);
    void read(const std::optional<zrv::setpoints::SetpointSet>& set);
    void written(bool written, const QString& refusal);
};

// How a journal reading ended.
struct JournalEnd {
    QString summary;
    unsigned deviceNumber = 0;
    journal::RecordKeys keys;  // the records appended, newest first
    bool newOnly = false;      // only the records newer than the known ones
    // A request went unanswered (why, in words): the report ends with the
    // last record read whole.
    QString cutShort;
};

// A journal reading: what it is doing, the report as it grows, how far it
// got, and its end.
class JournalReply : public Reply {
    Q_OBJECT
public:
    explicit JournalReply(QObject* parent) : Reply(parent) {}
signals:
    void status(const QString& text);
    void piece(const QString& text);
    void progress(int wordsRead, int recordsRead);
    void finished(const zrv::JournalEnd& end);
};

}  // namespace zrv
