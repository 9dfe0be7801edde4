#pragma once
// One call of one station on a session of its own: the call's script runs on
// the session's I/O thread (see CallScript.h); this starts it and takes its
// result back on the thread that owns the call (an event loop).

#include "collect/CallScript.h"

#include <QObject>

#include <memory>

namespace zrv {
class Session;
}

namespace zrv::collect {

class StationCall : public QObject {
    Q_OBJECT
public:
    // Hands out the phase for the live line, on the owner's thread.
    using PhaseSink = std::function<void(const QString& phase)>;

    StationCall(CallPlan plan, PhaseSink phase, QObject* parent = nullptr);
    ~StationCall() override;

    void start();
    // The collector is stopping: the transaction in flight finishes, the
    // line is hung up, what was read so far stays.
    void stop();
    const CallResult& result() const { return m_result; }

signals:
    void finished();

private:
    CallPlan m_plan;
    PhaseSink m_phase;
    std::unique_ptr<Session> m_session;
    CallResult m_result;
};

}  // namespace zrv::collect
