#pragma once
// The ports a collector calls on. Each has its queue of stations and makes
// one call at a time (a modem is one line), under a lock that keeps a second
// collector off it; a station tried again waits out its back-off behind the
// port's others; at most `jobs` ports call at once. What to call, and what
// a call's end or a port taken by another program means, is the driver's: a
// round (RoundDriver.h) or serving (ServeDriver.h).

#include "collect/FleetTypes.h"
#include "collect/StationCall.h"

#include <QObject>
#include <QString>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zrv::collect {

class Ports : public QObject {
    Q_OBJECT
public:
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
        // Serving: held by another program until then (its lock taken).
        qint64 lockedUntilMs = 0;
        bool free(qint64 nowMs) const { return !running && !call && queue.empty() && lockedUntilMs <= nowMs; }
        bool busy() const { return running || call || !queue.empty(); }
    };

    class Driver {
    public:
        virtual ~Driver() = default;
        // Another program holds the port's lock. The port's queue is
        // dropped after; true: say so in the log.
        virtual bool lockRefused(Port& port, const QString& lockPath) = 0;
        // A call begins.
        virtual void starting(const Port& port, const Station& station, int attempt) = 0;
        // A call ended, its result not yet stored: in how many seconds to
        // try the station again on this port, or nothing.
        virtual std::optional<qint64> ended(Port& port, CallResult& call, const Station& station) = 0;
        // A port has nothing more to call for now.
        virtual void portIdle() = 0;
    };

    // `cursors`: where the reading of a station's journal stands, for its
    // call.
    using Cursors = std::function<std::map<unsigned, journal::JournalCursor>(const std::string& station)>;
    Ports(const Roster& roster, Cursors cursors, int jobs, bool live, QString stateDir, FILE* err,
          QObject* parent = nullptr);
    ~Ports() override;
    void setDriver(Driver* driver) { m_driver = driver; }

    std::vector<std::unique_ptr<Port>>& all() { return m_ports; }
    const std::vector<std::unique_ptr<Port>>& all() const { return m_ports; }
    // The port of this name, added when there is none.
    Port& named(const std::string& name);
    // The stations queued go to the free ports, as many as may call at once.
    void start();
    // Every queue dropped; a call ends itself (its request, the hang-up); a
    // port that only waits out a back-off is done now.
    void stop();
    bool stopping() const { return m_stopping; }
    bool idle() const;
    int calling() const;
    // The live lines, redrawn in place.
    void redraw();

    // The lock that keeps a second collector off a port: a file in
    // /run/lock (or the state folder) named after the port.
    static QString lockPathFor(const QString& stateDir, const std::string& port);

private:
    void next(Port& port);
    void finished(Port& port);
    void done(Port& port);

    const Roster& m_roster;
    Cursors m_cursors;
    int m_jobs;
    bool m_live;
    QString m_stateDir;
    FILE* m_err;
    Driver* m_driver = nullptr;
    std::vector<std::unique_ptr<Port>> m_ports;
    bool m_stopping = false;
    int m_drawnLines = 0;
};

}  // namespace zrv::collect
