#include "StationCall.h"

#include "link/OpenPort.h"
#include "session/Session.h"

namespace zrv::collect {

StationCall::StationCall(CallPlan plan, PhaseSink phase, QObject* parent)
    : QObject(parent), m_plan(std::move(plan)), m_phase(std::move(phase))
{
}

StationCall::~StationCall()
{
    // Results still waiting for the event loop go with the session, unrun.
    if (m_session) m_session->shutdown();
}

void StationCall::start()
{
    m_session = std::make_unique<Session>();
    m_session->setLineOpener(openPortSpec);
    // A reply ends when its length says so, not after 50 ms of silence:
    // over a round of hundreds of requests that silence would be most of it.
    m_session->setOptions({m_plan.station.address, true, {}});
    m_session->ask(RunCall{[this](CallLine& line) {
        const CallProgress progress = [this, &line](const QString& phase) { line.post([this, phase] { m_phase(phase); }); };
        CallResult r = runStationCall(line, m_plan, progress);
        line.post([this, r = std::move(r)]() mutable {
            m_result = std::move(r);
            emit finished();
        });
    }});
}

void StationCall::stop()
{
    if (m_session) m_session->stop();
}

}  // namespace zrv::collect
