#pragma once
// Calls over a roster: rounds (RoundDriver.h) or serving (ServeDriver.h),
// over the ports (Ports.h) and the outputs (Fanout.h) they share. Stations on
// one port are called one after another (a modem is one line), different
// ports run at once, each call on a session and I/O thread of its own, at
// most `jobs` ports together; a failure never ends the round. Each result
// goes to every store on the store's own thread (see SinkThread.h), or to
// the spool for a store that cannot take it; the round ends once every store
// has answered.

#include "collect/CollectorParts.h"
#include "collect/FleetTable.h"
#include "collect/RoundDriver.h"
#include "collect/ServeDriver.h"

#include <QObject>

#include <cstdio>
#include <memory>
#include <vector>

namespace zrv::collect {

class Collector : public QObject {
    Q_OBJECT
public:
    Collector(Roster roster, std::vector<std::unique_ptr<Sink>> sinks, CollectorOptions options, FILE* out, FILE* err,
              QObject* parent = nullptr);
    ~Collector() override;

    // Writes what the spool holds for the stores that can be reached now,
    // then calls every station once.
    void startRound();
    // The transaction in flight finishes, each line is hung up, what was
    // read is stored, and the round ends.
    void stop();
    bool stopping() const { return m_parts.ports->stopping(); }

    // Shares the roster with other collectors through this table (before
    // serve(); see FleetTable.h).
    void coordinate(std::unique_ptr<FleetTable> table);
    // Calls stations as they fall due until stop(); roundFinished once the
    // last call is stored after that.
    void serve();
    // A new roster, read again while serving: the calls in flight end as
    // they began, the next ones follow the new roster.
    void reload(Roster roster);
    // A line on how serving goes, for the service manager.
    QString statusLine() const;
    // What this collector did, for its own /metrics (see ServiceMetrics.h).
    QByteArray ownMetrics() const;
    bool roundRunning() const { return m_parts.running; }

    // The last round's results, in roster order.
    const std::vector<CallResult>& results() const { return m_round.results(); }
    // 0: every station called ok; 1: some failed, or a call could be neither
    // written to some store nor spooled for it.
    int exitStatus() const;

signals:
    void roundFinished();

private:
    CollectorParts m_parts;
    RoundDriver m_round;
    std::unique_ptr<ServeDriver> m_serve;
    CallDriver* m_driver = nullptr;  // the one running, or that ran last
};

}  // namespace zrv::collect
