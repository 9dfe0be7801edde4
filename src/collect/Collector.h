#pragma once
// Call rounds over a roster. Stations on one port are called one after
// another (a modem is one line); different ports run at once, each call on a
// session and I/O thread of its own, at most `jobs` ports together. A failed
// call is tried again after a back-off that doubles, behind the port's other
// stations; a failure never ends the round. Each result goes to every store
// on the store's own thread (see SinkThread.h), or to the spool for a store
// that cannot take it; the round ends once every store has answered.

#include "collect/Fanout.h"
#include "collect/FleetTable.h"
#include "collect/FleetTypes.h"
#include "collect/Metrics.h"
#include "collect/ServiceMetrics.h"
#include "collect/StdoutSink.h"
#include "text/Version.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <memory>
#include <vector>

namespace zrv::collect {

class StationCall;

struct CollectorOptions {
    int jobs = 8;
    Format format = Format::Summary;
    QString stateDir;
    bool live = false;  // redraw a line per port (a terminal), or plain lines
    // Calls a store's thread may hold before further ones go to the spool.
    std::size_t sinkQueue = 64;
    // node_exporter's textfile metrics, rewritten after each call (empty: none).
    QString textfile;
    // Rounds call only the stations due by their `every` and `hours`
    // (rounds of --every); otherwise every station is called.
    bool scheduled = false;
    // Serve: call each station as it falls due, one call a port at a time,
    // until stopped (rather than rounds).
    bool serve = false;
    // This collector as a shared roster names it (`host`), and the machine's
    // own host name (the owner of a station that names none).
    std::string name;
    std::string machineHost;
};


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
    bool stopping() const { return m_stopping; }

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
    bool roundRunning() const { return m_roundRunning; }

    // The last round's results, in roster order.
    const std::vector<CallResult>& results() const { return m_results; }
    // 0: every station called ok; 1: some failed, or a call could be neither
    // written to some store nor spooled for it.
    int exitStatus() const;

    // The lock that keeps a second collector off a port: a file in
    // /run/lock (or the state folder) named after the port.
    static QString lockPathFor(const QString& stateDir, const std::string& port);

signals:
    void roundFinished();

private:
    struct Pending {
        std::size_t station;  // index into the roster
        int attempt = 1;
        qint64 notBeforeMs = 0;
    };
    // The station a port calls now: the roster's entry, with a pool modem's
    // port put in (a roster read again meanwhile changes nothing of it).
    struct Port {
        std::string name;
        std::deque<Pending> queue;
        std::unique_ptr<StationCall> call;
        std::size_t current = 0;
        Station calling;
        int lockFd = -1;
        int done = 0, total = 0;
        QString phase;
        bool running = false;
        // Serving: held by another program until then (its lock taken);
        // said once.
        qint64 lockedUntilMs = 0;
    };

    void startPorts();
    void nextOnPort(Port& port);
    void callFinished(Port& port);
    void portDone(Port& port);
    std::vector<std::string> stationNames() const;
    void writeMetrics();
    bool roundOver() const;
    void endRound();
    void showPhase(Port& port, const QString& phase);
    // Serving: what is due now goes to the free ports, claimed through the
    // shared table when there is one and it answers.
    void tick();
    void buildPorts();
    Port* freePortFor(const Station& station);
    void enqueue(Port& port, std::size_t station);
    void claim(const std::vector<Port*>& free, int room);
    void onClaimed(std::optional<std::vector<Claimed>> claimed, const std::string& why);
    void enrol(bool fresh);
    void heartbeat();
    void setOnline(bool online, const std::string& why);
    bool poolPort(const std::string& port) const;
    void redraw();
    void printSummary();

    Roster m_roster;
    // The outputs, the spool, and where each station's reading stands.
    std::unique_ptr<Fanout> m_fanout;
    std::unique_ptr<MetricsFile> m_metrics;
    ServiceMetrics m_own{kZrvVersion};
    CollectorOptions m_options;
    FILE* m_out;
    FILE* m_err;
    std::vector<std::unique_ptr<Port>> m_ports;
    std::vector<CallResult> m_results;
    std::vector<bool> m_haveResult;
    // Not due this round (scheduled rounds): when it is.
    std::map<std::size_t, QDateTime> m_notDue;
    // A shared roster's stations another collector calls: why.
    std::map<std::size_t, std::string> m_elsewhere;
    // Serving.
    bool m_serving = false;
    QTimer m_tick;
    QTimer m_heartbeat;
    std::unique_ptr<SinkThread> m_fleet;
    int m_leaseS = 120;
    bool m_fleetOnline = false;
    bool m_claimInFlight = false;
    bool m_renewInFlight = false;
    bool m_enrolled = false;  // once: this process's first enrolment lets go of an earlier one's claims
    std::set<std::string> m_busy;    // queued or being called
    // Claimed through the table, not yet stored: each claim's number.
    std::map<std::string, long long> m_leased;
    qint64 m_lastReplayMs = 0;
    qint64 m_poolsFromMs = 0;  // after the table came back: when pools are claimed again
    double m_startedS = 0;
    int m_callsDone = 0, m_callsFailed = 0;
    QTimer m_redraw;
    QTimer m_wake;  // a back-off ends
    int m_drawnLines = 0;
    bool m_stopping = false;
    bool m_roundRunning = false;
};

}  // namespace zrv::collect
