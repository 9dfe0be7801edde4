#pragma once
// One call of one station, on a session of its own: open (dial), detect and
// read all tables, one polling step, the device clock (set when allowed and
// past the tolerance), the journal records new since the last call, the
// setpoints against the approved profile, then hang up. Setpoints are never
// written. Runs on the thread that owns it (an event loop); the session's I/O
// thread does the line work.

#include "collect/CallResult.h"
#include "collect/Roster.h"
#include "clock/DeviceClock.h"

#include <QObject>

#include <functional>
#include <memory>

namespace zrv {
class Session;
}

namespace zrv::collect {

class StationCall : public QObject {
    Q_OBJECT
public:
    // Where the reading of a device's journal stands (empty: the whole ring).
    using KnownRecords = std::function<journal::JournalCursor(unsigned deviceNumber)>;
    // Hands out the phase for the live line: "dialling", "reading journal 120
    // of 300 words", ...
    using PhaseSink = std::function<void(const QString& phase)>;

    StationCall(const Station& station, KnownRecords known, PhaseSink phase, QObject* parent = nullptr);
    ~StationCall() override;

    void start(int attempt);
    // The collector is stopping: the transaction in flight finishes, the
    // line is hung up, what was read so far stays.
    void stop();
    const CallResult& result() const { return m_result; }

signals:
    void finished();

private:
    void found();
    void clockRead(const clock::ClockReading& reading);
    void readJournal();
    void readSetpoints();
    void compareProfile();
    void hangUp(Outcome outcome, const std::string& why = {});
    void done();

    Station m_station;
    KnownRecords m_known;
    PhaseSink m_phase;
    std::unique_ptr<Session> m_session;
    CallResult m_result;
    qint64 m_startedMs = 0;
    bool m_hangingUp = false;
    bool m_finished = false;
    bool m_stopping = false;
};

}  // namespace zrv::collect
