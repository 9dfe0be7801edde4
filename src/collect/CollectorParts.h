#pragma once
// What a round and serving share: the roster, the outputs with the spool and
// each station's record (Fanout.h), the ports (Ports.h), the metrics, and the
// end of a call as both take it. Each drives them its own way (RoundDriver.h,
// ServeDriver.h); Collector.h holds the one in use.

#include "collect/Fanout.h"
#include "collect/FleetTypes.h"
#include "collect/Metrics.h"
#include "collect/Ports.h"
#include "collect/ServiceMetrics.h"
#include "collect/StdoutSink.h"
#include "text/Version.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zrv::collect {

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

struct CollectorParts {
    Roster roster;
    CollectorOptions options;
    FILE* out = nullptr;
    FILE* err = nullptr;
    std::unique_ptr<Fanout> fanout;
    std::unique_ptr<MetricsFile> metrics;
    ServiceMetrics own{kZrvVersion};
    std::unique_ptr<Ports> ports;
    QTimer redraw;     // the live lines
    bool running = false;  // a round, or serving until its last call is stored
    // The round (or serving) has ended.
    std::function<void()> finished;

    void writeMetrics();
    std::vector<std::string> stationNames() const;
    // A call's end, as both drivers take it before their own part: judged
    // against the station's history, remembered, and due again by it.
    void settle(CallResult& call, const Station& station);
    // The call to every output; the metrics after it.
    void store(const CallResult& call);
    // The live lines drawn a last time, as the round ends.
    void lastLines();
    // The round has ended: `finished` said.
    void finish();
};

// A round or serving, over the shared parts.
class CallDriver : public QObject, public Ports::Driver {
public:
    explicit CallDriver(CollectorParts& parts, QObject* parent = nullptr) : QObject(parent), m_parts(parts) {}
    // Everything stored, nothing more to call: the end.
    virtual bool over() const = 0;
    virtual void end() = 0;
    // After the ports were told to stop.
    virtual void stop() {}
    void endIfOver()
    {
        if (over()) end();
    }

protected:
    CollectorParts& m_parts;
};

}  // namespace zrv::collect
