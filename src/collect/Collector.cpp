#include "Collector.h"

#include "collect/CallJson.h"
#include "collect/Printout.h"
#include "collect/StationCall.h"
#include "fleet/Schedule.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

namespace zrv::collect {

using zrv::fleet::localMinute;

Collector::Collector(Roster roster, std::vector<std::unique_ptr<Sink>> sinks, CollectorOptions options, FILE* out,
                     FILE* err, QObject* parent)
    : QObject(parent),
      m_roster(std::move(roster)),
      m_options(std::move(options)),
      m_out(out),
      m_err(err)
{
    std::vector<std::unique_ptr<SinkThread>> outputs;
    if (m_options.format != Format::Summary)
        outputs.push_back(std::make_unique<SinkThread>(std::make_unique<StdoutSink>(m_options.format, m_out), m_options.sinkQueue));
    for (auto& sink : sinks) {
        outputs.push_back(std::make_unique<SinkThread>(std::move(sink), m_options.sinkQueue));
        // Connected from the start, as a broker's presence says; a store
        // that cannot be reached now is tried again by each write.
        outputs.back()->post([t = outputs.back().get()](Sink& s) {
            SinkError ignored;
            t->markUp(s.open(&ignored));
        });
    }
    m_fanout = std::make_unique<Fanout>(std::move(outputs), m_options.stateDir + QStringLiteral("/spool.jsonl"), m_err, this);
    m_fanout->settled = [this](const CallResult& call, bool everywhere) {
        m_own.settled(call, everywhere);
        if (roundOver()) endRound();
    };
    if (!m_options.textfile.isEmpty())
        m_metrics = std::make_unique<MetricsFile>(m_options.textfile, [err = m_err](const std::string& why) {
            std::fprintf(err, "метрики не записаны (%s); вызовы продолжаются\n", why.c_str());
            std::fflush(err);
        });
    m_redraw.setInterval(250);
    connect(&m_redraw, &QTimer::timeout, this, &Collector::redraw);
}

Collector::~Collector()
{
    // Its jobs answer to this object: done with before it goes.
    m_fleet.reset();
    for (auto& p : m_ports)
        if (p->lockFd >= 0) ::close(p->lockFd);
}

QString Collector::lockPathFor(const QString& stateDir, const std::string& port)
{
    QString name = QString::fromStdString(port);
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-')) c = QLatin1Char('_');
    const QFileInfo runLock(QStringLiteral("/run/lock"));
    const QString folder = runLock.isDir() && runLock.isWritable() ? runLock.filePath() : stateDir;
    return folder + QStringLiteral("/zrvcollect-") + name + QStringLiteral(".lock");
}

int Collector::exitStatus() const
{
    if (m_fanout->unsaved() > 0) return 1;
    if (m_serving) return 0;
    for (std::size_t i = 0; i < m_results.size(); ++i)
        if (!m_results[i].ok() && !m_notDue.count(i) && !m_elsewhere.count(i)) return 1;
    return 0;
}

void Collector::startRound()
{
    if (m_roundRunning) return;
    m_roundRunning = true;
    m_results.assign(m_roster.stations.size(), CallResult{});
    m_haveResult.assign(m_roster.stations.size(), false);
    m_fanout->clearUnsaved();
    QDir().mkpath(m_options.stateDir);
    m_fanout->replaySpool();
    m_fanout->loadFromStore(stationNames());
    writeMetrics();

    // Every station, in roster order; or in a scheduled round those due,
    // the most overdue first.
    m_notDue.clear();
    m_elsewhere.clear();
    std::vector<std::size_t> order;
    if (m_options.scheduled) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        order = dueStations(m_roster, m_fanout->histories(), now);
        for (std::size_t i = 0; i < m_roster.stations.size(); ++i)
            if (std::find(order.begin(), order.end(), i) == order.end()) m_notDue[i] = dueAt(m_roster.stations[i], m_fanout->histories(), now);
    } else {
        for (std::size_t i = 0; i < m_roster.stations.size(); ++i) order.push_back(i);
    }
    m_ports.clear();
    for (const std::size_t i : order) {
        const Station& st = m_roster.stations[i];
        if (!mayCall(m_roster, st, m_options.name, m_options.machineHost)) {
            // Another collector's port, or a pool without a modem here: not
            // this collector's to call, and no failure of its round.
            m_elsewhere[i] = st.pool.empty() ? "порт сборщика " + ownerOf(st, m_options.machineHost)
                                             : "нет модема пула " + st.pool;
            m_haveResult[i] = true;
            continue;
        }
        std::string name = st.port;
        if (!st.pool.empty()) {
            // The pool's modem with the fewest stations so far.
            std::size_t fewest = SIZE_MAX;
            for (const std::string& modem : poolPorts(m_roster, st.pool, m_options.name)) {
                const auto p = std::find_if(m_ports.begin(), m_ports.end(), [&](const auto& x) { return x->name == modem; });
                const std::size_t n = p == m_ports.end() ? 0 : (*p)->queue.size();
                if (n < fewest) {
                    fewest = n;
                    name = modem;
                }
            }
        }
        auto it = std::find_if(m_ports.begin(), m_ports.end(), [&](const auto& p) { return p->name == name; });
        if (it == m_ports.end()) {
            m_ports.push_back(std::make_unique<Port>());
            m_ports.back()->name = name;
            it = m_ports.end() - 1;
        }
        (*it)->queue.push_back({i, 1, 0});
        ++(*it)->total;
    }
    if (m_options.live) m_redraw.start();
    startPorts();
    // A scheduled round with nobody due ends at once.
    if (m_ports.empty())
        QMetaObject::invokeMethod(this, [this] { if (roundOver()) endRound(); }, Qt::QueuedConnection);
}

void Collector::startPorts()
{
    int running = 0;
    for (auto& p : m_ports) running += p->running;
    for (auto& p : m_ports) {
        if (running >= std::max(1, m_options.jobs)) break;
        if (p->running || (p->queue.empty() && !p->call)) continue;
        p->running = true;
        ++running;
        const QString lock = lockPathFor(m_options.stateDir, p->name);
        p->lockFd = ::open(lock.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (p->lockFd < 0 || ::flock(p->lockFd, LOCK_EX | LOCK_NB) != 0) {
            // Another collector calls on this port now: its stations wait
            // for the next round rather than break into that call.
            if (m_serving) {
                std::vector<std::string> back;
                for (const Pending& q : p->queue) {
                    const std::string& name = m_roster.stations[q.station].name;
                    m_busy.erase(name);
                    if (m_leased.erase(name)) back.push_back(name);
                }
                if (m_fleet && !back.empty()) m_fleet->post([back](Sink& s) { static_cast<FleetTable&>(s).release(back); });
                p->queue.clear();
                // Tried again in half a minute, not every tick.
                const bool said = p->lockedUntilMs > 0;
                p->lockedUntilMs = QDateTime::currentMSecsSinceEpoch() + 30'000;
                if (said) {
                    QMetaObject::invokeMethod(this, [this, port = p.get()] { portDone(*port); }, Qt::QueuedConnection);
                    continue;
                }
            }
            for (const Pending& q : p->queue) {
                CallResult r;
                r.station = m_roster.stations[q.station].name;
                r.port = p->name;
                r.started = QDateTime::currentDateTimeUtc();
                r.outcome = Outcome::PortUnavailable;
                r.why = "порт занят другим сборщиком (" + lock.toStdString() + ")";
                m_results[q.station] = r;
                m_haveResult[q.station] = true;
            }
            p->queue.clear();
            std::fprintf(m_err, "%s: порт занят другим сборщиком, станции порта пропущены\n", p->name.c_str());
            QMetaObject::invokeMethod(this, [this, port = p.get()] { portDone(*port); }, Qt::QueuedConnection);
            continue;
        }
        p->lockedUntilMs = 0;
        nextOnPort(*p);
    }
}

void Collector::nextOnPort(Port& port)
{
    if (port.call) return;
    if (m_stopping) port.queue.clear();
    if (port.queue.empty()) return portDone(port);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    auto ready = std::find_if(port.queue.begin(), port.queue.end(), [now](const Pending& p) { return p.notBeforeMs <= now; });
    if (ready == port.queue.end()) {
        qint64 soonest = port.queue.front().notBeforeMs;
        for (const Pending& p : port.queue) soonest = std::min(soonest, p.notBeforeMs);
        showPhase(port, QStringLiteral("ожидание повтора"));
        QTimer::singleShot(int(std::max<qint64>(1, soonest - now)), this, [this, &port] { nextOnPort(port); });
        return;
    }
    const Pending job = *ready;
    port.queue.erase(ready);
    port.current = job.station;
    port.calling = m_roster.stations[job.station];
    if (!port.calling.pool.empty()) port.calling.port = port.name;
    const Station& station = port.calling;
    port.call = std::make_unique<StationCall>(CallPlan{station, job.attempt, m_fanout->cursors(station.name)},
                                              [this, &port](const QString& phase) { showPhase(port, phase); });
    connect(port.call.get(), &StationCall::finished, this,
            [this, &port] { QMetaObject::invokeMethod(this, [this, &port] { callFinished(port); }, Qt::QueuedConnection); });
    if (!m_options.live && m_serving)
        std::fprintf(m_err, "%s: вызов %s\n", port.name.c_str(), station.name.c_str());
    else if (!m_options.live)
        std::fprintf(m_err, "%s: %d из %d: %s%s\n", port.name.c_str(), port.done + 1, port.total, station.name.c_str(),
                     job.attempt > 1 ? (", попытка " + std::to_string(job.attempt)).c_str() : "");
    port.call->start();
}

void Collector::callFinished(Port& port)
{
    if (!port.call) return;
    CallResult r = port.call->result();
    const Station station = port.calling;
    // The session may still be closing its thread: let it go once back in
    // the event loop.
    port.call.release()->deleteLater();
    StationHistory& history = m_fanout->history(r.station);
    r.health = judgeCall(station, history, r);
    remember(history, r, r.health);
    r.collector = m_options.name;
    // When it is due again goes with the call into the stores (a call the
    // collector stopped before it was made leaves it due now).
    const QDateTime now = QDateTime::currentDateTimeUtc();
    r.nextDue = r.outcome == Outcome::Stopped ? now : std::max(now, dueAt(station, history, now));
    m_own.called(r);
    if (m_serving) {
        m_busy.erase(r.station);
        if (const auto lease = m_leased.find(r.station); lease != m_leased.end()) {
            r.leaseToken = lease->second;
            m_leased.erase(lease);
        }
        ++m_callsDone;
        m_callsFailed += !r.ok();
    } else {
        m_results[port.current] = r;
        m_haveResult[port.current] = true;
    }
    m_fanout->store(r);
    writeMetrics();
    // Serving, a failed station is due again after its back-off (see
    // Schedule.h) rather than queued on this port.
    const bool retry = !m_serving && !r.ok() && r.outcome != Outcome::Stopped && !m_stopping && r.attempt <= station.retries;
    if (retry) {
        const qint64 delay = qint64(station.retryDelayS) * 1000 << std::min(r.attempt - 1, 10);
        port.queue.push_back({port.current, r.attempt + 1, QDateTime::currentMSecsSinceEpoch() + delay});
    } else {
        ++port.done;
    }
    if (!m_options.live) {
        const std::optional<qint64> again =
            retry ? std::optional<qint64>(qint64(station.retryDelayS) << std::min(r.attempt - 1, 10)) : std::nullopt;
        std::fprintf(m_err, "%s\n", callLine(port.name, r, again).toUtf8().constData());
        std::fflush(m_err);
    }
    nextOnPort(port);
}

void Collector::portDone(Port& port)
{
    if (!port.running) return;
    port.running = false;
    if (port.lockFd >= 0) {
        ::close(port.lockFd);
        port.lockFd = -1;
    }
    port.phase = QStringLiteral("готово");
    startPorts();
    if (m_serving && !m_stopping) QTimer::singleShot(0, this, &Collector::tick);
    if (roundOver()) endRound();
}

bool Collector::roundOver() const
{
    if (!m_roundRunning || !m_fanout->idle()) return false;
    if (m_serving && (!m_stopping || m_claimInFlight)) return false;
    for (const auto& p : m_ports)
        if (p->running || p->call || !p->queue.empty()) return false;
    return true;
}

void Collector::endRound()
{
    m_redraw.stop();
    redraw();
    if (m_serving) {
        m_heartbeat.stop();
        // Said in the table, and every claim let go: the others need not
        // wait out the leases.
        if (m_fleet && m_fleetOnline) m_fleet->runAndWait([](Sink& s) { static_cast<FleetTable&>(s).leave(); });
        std::fprintf(m_err, "остановлено: вызовов %d, со сбоем %d\n", m_callsDone, m_callsFailed);
        std::fflush(m_err);
        m_roundRunning = false;
        emit roundFinished();
        return;
    }
    for (std::size_t i = 0; i < m_results.size(); ++i)
        if (!m_haveResult[i] && !m_notDue.count(i) && !m_elsewhere.count(i)) {
            m_results[i].station = m_roster.stations[i].name;
            m_results[i].port = m_roster.stations[i].port;
            m_results[i].outcome = Outcome::Stopped;
            m_results[i].why = "не вызывалась: сбор остановлен";
        }
    printSummary();
    m_roundRunning = false;
    emit roundFinished();
}

void Collector::stop()
{
    m_stopping = true;
    m_tick.stop();
    for (auto& p : m_ports) {
        p->queue.clear();
        // A call ends itself (its request, the hang-up); a port that only
        // waits out a back-off is done now, not when the wait is over.
        if (p->call) p->call->stop();
    }
    for (auto& p : m_ports)
        if (!p->call && p->running) portDone(*p);
    if (m_serving && roundOver()) endRound();
}

void Collector::coordinate(std::unique_ptr<FleetTable> table)
{
    m_fleet = std::make_unique<SinkThread>(std::move(table), 16);
    m_leaseS = m_roster.leaseS;
}

void Collector::serve()
{
    if (m_roundRunning) return;
    m_serving = true;
    m_roundRunning = true;
    m_startedS = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QDir().mkpath(m_options.stateDir);
    m_fanout->replaySpool();
    m_lastReplayMs = QDateTime::currentMSecsSinceEpoch();
    m_fanout->loadFromStore(stationNames());
    writeMetrics();
    buildPorts();
    connect(&m_tick, &QTimer::timeout, this, &Collector::tick, Qt::UniqueConnection);
    m_tick.start(1000);
    if (m_fleet) {
        connect(&m_heartbeat, &QTimer::timeout, this, &Collector::heartbeat, Qt::UniqueConnection);
        // Renewed four times a lease: a renewal or two may fail before a
        // claim lapses under a call that still runs.
        m_heartbeat.start(std::max(1000, m_leaseS * 1000 / 4));
        enrol(!m_enrolled);
    }
    if (m_options.live) m_redraw.start();
    QTimer::singleShot(0, this, &Collector::tick);
}

void Collector::reload(Roster roster)
{
    if (roster.coordinate != m_roster.coordinate || roster.leaseS != m_roster.leaseS)
        std::fprintf(m_err, "coordinate и lease меняются только с перезапуском сборщика; прежние остаются\n");
    roster.coordinate = m_roster.coordinate;
    roster.leaseS = m_roster.leaseS;
    m_roster = std::move(roster);
    // A station gone from the roster is forgotten; the calls running end
    // with the station they began with (see Port::calling).
    m_results.assign(m_roster.stations.size(), CallResult{});
    m_haveResult.assign(m_roster.stations.size(), false);
    buildPorts();
    if (m_fleet && !m_renewInFlight) enrol(!m_enrolled);
    writeMetrics();
    std::fprintf(m_err, "список станций прочитан заново: станций %zu\n", m_roster.stations.size());
    std::fflush(m_err);
    QTimer::singleShot(0, this, &Collector::tick);
}

QByteArray Collector::ownMetrics() const
{
    ServiceMetrics::Now now;
    for (const auto& sink : m_fanout->outputs())
        if (sink->spools()) now.stores.push_back({sink->name(), sink->queued(), sink->up()});
    if (m_fleet) now.sharedDatabase = m_fleetOnline;
    now.leases = m_leased.size();
    now.spoolLines = m_fanout->spool().size();
    now.spoolBytes = QFileInfo(m_fanout->spool().path()).size();
    return m_own.render(now);
}

QString Collector::statusLine() const
{
    int calling = 0;
    for (const auto& p : m_ports) calling += p->call != nullptr;
    QString line = QStringLiteral("станций %1, идёт вызовов %2, сделано %3, со сбоем %4")
                       .arg(m_roster.stations.size())
                       .arg(calling)
                       .arg(m_callsDone)
                       .arg(m_callsFailed);
    if (m_fleet) line += m_fleetOnline ? QStringLiteral("; общий список доступен") : QStringLiteral("; общий список недоступен");
    return line;
}

bool Collector::poolPort(const std::string& port) const
{
    for (const Pool& p : m_roster.pools)
        if (std::find(p.ports.begin(), p.ports.end(), port) != p.ports.end()) return true;
    return false;
}

void Collector::buildPorts()
{
    std::vector<std::string> wanted;
    const auto want = [&](const std::string& name) {
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) wanted.push_back(name);
    };
    for (const Station& st : m_roster.stations) {
        if (!mayCall(m_roster, st, m_options.name, m_options.machineHost)) continue;
        if (st.pool.empty()) want(st.port);
        else
            for (const std::string& modem : poolPorts(m_roster, st.pool, m_options.name)) want(modem);
    }
    // A port whose call still runs stays until it is done.
    std::erase_if(m_ports, [&](const auto& p) {
        return !p->running && !p->call && p->queue.empty() && std::find(wanted.begin(), wanted.end(), p->name) == wanted.end();
    });
    for (const std::string& name : wanted)
        if (std::none_of(m_ports.begin(), m_ports.end(), [&](const auto& p) { return p->name == name; })) {
            m_ports.push_back(std::make_unique<Port>());
            m_ports.back()->name = name;
        }
}

Collector::Port* Collector::freePortFor(const Station& st)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto free = [this, now](const std::string& name) -> Port* {
        for (auto& p : m_ports)
            if (p->name == name && !p->running && !p->call && p->queue.empty() && p->lockedUntilMs <= now) return p.get();
        return nullptr;
    };
    if (st.pool.empty()) return free(st.port);
    for (const std::string& modem : poolPorts(m_roster, st.pool, m_options.name))
        if (Port* p = free(modem)) return p;
    return nullptr;
}

void Collector::enqueue(Port& port, std::size_t station)
{
    port.queue.push_back({station, 1, 0});
    ++port.total;
    m_busy.insert(m_roster.stations[station].name);
}

void Collector::tick()
{
    if (!m_serving || m_stopping) return;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    // Calls a store missed, once it may be back (and, sharing, once the
    // table answers: the schedule the calls move lives there too).
    if (m_fanout->spool().size() > 0 && nowMs - m_lastReplayMs > 30'000 && (!m_fleet || m_fleetOnline)) {
        m_lastReplayMs = nowMs;
        m_fanout->replaySpool();
    }
    int running = 0;
    std::vector<Port*> free;
    for (auto& p : m_ports) {
        if (p->running || p->call || !p->queue.empty()) ++running;
        else if (p->lockedUntilMs <= nowMs) free.push_back(p.get());
    }
    int room = std::max(1, m_options.jobs) - running;
    if (room <= 0 || free.empty()) return;
    if (m_fleet && m_fleetOnline) {
        if (!m_claimInFlight) claim(free, room);
        return;
    }
    // Alone, or the shared table out of reach: this collector's own ports
    // by its own schedule; a pool's stations wait (another collector may be
    // calling them), so no station is called twice.
    for (const std::size_t i : dueStations(m_roster, m_fanout->histories(), QDateTime::currentDateTimeUtc())) {
        const Station& st = m_roster.stations[i];
        if (room <= 0) break;
        if (m_busy.count(st.name) || !mayCall(m_roster, st, m_options.name, m_options.machineHost) ||
            (m_fleet && !st.pool.empty()))
            continue;
        if (Port* p = freePortFor(st)) {
            enqueue(*p, i);
            --room;
        }
    }
    startPorts();
}

void Collector::claim(const std::vector<Port*>& free, int room)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int minute = localMinute(now);
    std::vector<ClaimGroup> groups;
    std::map<std::string, int> poolFree;
    for (Port* p : free) {
        if (!poolPort(p->name)) {
            ClaimGroup g{p->name, {}, p->name, 1, minute, {}};
            bool any = false;
            for (const Station& st : m_roster.stations) {
                if (st.port != p->name || !st.pool.empty() || !mayCall(m_roster, st, m_options.name, m_options.machineHost))
                    continue;
                // This collector's own stations: its own record of their
                // calls also says (a call made while the table was away
                // may not have reached it yet).
                if (m_busy.count(st.name) || dueAt(st, m_fanout->histories(), now) > now) g.exclude.push_back(st.name);
                else any = any || withinHours(st.window, minute);
            }
            if (any) groups.push_back(std::move(g));
        }
        for (const Pool& pool : m_roster.pools)
            if (hasModems(pool, m_options.name) && std::find(pool.ports.begin(), pool.ports.end(), p->name) != pool.ports.end())
                ++poolFree[pool.name];
    }
    // Back from an outage, the pools wait one lease: every collector's
    // spool reaches the table first, and with it what was called meanwhile.
    if (QDateTime::currentMSecsSinceEpoch() < m_poolsFromMs) poolFree.clear();
    // A pool's stations are picked by the table; only those being called
    // here are named (at most one a port).
    for (const auto& [pool, n] : poolFree) {
        ClaimGroup g{"pool " + pool, pool, {}, n, minute, {}};
        for (const Station& st : m_roster.stations)
            if (st.pool == pool && m_busy.count(st.name)) g.exclude.push_back(st.name);
        groups.push_back(std::move(g));
    }
    // No more than the free calls allow, the own ports first.
    for (ClaimGroup& g : groups) {
        g.count = std::min(g.count, room);
        room -= g.count;
    }
    std::erase_if(groups, [](const ClaimGroup& g) { return g.count <= 0; });
    if (groups.empty()) return;
    m_claimInFlight = true;
    m_fleet->post([this, groups](Sink& s) {
        std::string why;
        QElapsedTimer took;
        took.start();
        auto claimed = static_cast<FleetTable&>(s).claimTransaction(groups, &why);
        const double seconds = double(took.nsecsElapsed()) / 1e9;
        if (claimed) static_cast<FleetTable&>(s).readClaimed(*claimed);
        QMetaObject::invokeMethod(
            this,
            [this, claimed = std::move(claimed), why, seconds] {
                if (claimed) m_own.claimed(seconds);
                onClaimed(claimed, why);
            },
            Qt::QueuedConnection);
    });
}

void Collector::onClaimed(std::optional<std::vector<Claimed>> claimed, const std::string& why)
{
    m_claimInFlight = false;
    setOnline(claimed.has_value(), why);
    if (!claimed) {
        if (roundOver()) endRound();
        return;
    }
    std::vector<std::string> back;
    for (Claimed& c : *claimed) {
        const auto it = std::find_if(m_roster.stations.begin(), m_roster.stations.end(),
                                     [&](const Station& s) { return s.name == c.station; });
        Port* port = nullptr;
        if (!m_stopping && it != m_roster.stations.end() && !m_busy.count(c.station)) {
            if (!it->pool.empty()) port = freePortFor(*it);
            else if (c.group == it->port) port = freePortFor(*it);
        }
        if (!port) {
            back.push_back(c.station);
            continue;
        }
        m_fanout->cursors(c.station) = std::move(c.cursors);
        m_fanout->history(c.station) = c.history ? std::move(*c.history) : StationHistory{};
        m_leased[c.station] = c.token;
        enqueue(*port, std::size_t(it - m_roster.stations.begin()));
    }
    if (!back.empty()) m_fleet->post([back](Sink& s) { static_cast<FleetTable&>(s).release(back); });
    startPorts();
    if (roundOver()) endRound();
}

void Collector::enrol(bool fresh)
{
    Enrolment e;
    e.collector = m_options.name;
    e.host = m_options.machineHost;
    e.pid = QCoreApplication::applicationPid();
    e.started = m_startedS;
    e.fresh = fresh;
    for (const Pool& p : m_roster.pools)
        if (hasModems(p, m_options.name) && std::find(e.pools.begin(), e.pools.end(), p.name) == e.pools.end())
            e.pools.push_back(p.name);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Station& st : m_roster.stations)
        e.stations.push_back({st.name, st.pool, st.pool.empty() ? ownerOf(st, m_options.machineHost) : std::string(),
                              st.everyS, double(dueAt(st, m_fanout->histories(), now).toMSecsSinceEpoch()) / 1000.0, st.port,
                              st.window});
    m_renewInFlight = true;
    m_fleet->post([this, e](Sink& s) {
        std::string why;
        const bool ok = static_cast<FleetTable&>(s).enrol(e, &why);
        QMetaObject::invokeMethod(this, [this, ok, why] {
            m_renewInFlight = false;
            const bool first = !m_enrolled;
            m_enrolled = m_enrolled || ok;
            setOnline(ok, why);
            if (first) m_poolsFromMs = 0;  // the start is no outage
        }, Qt::QueuedConnection);
    });
}

void Collector::heartbeat()
{
    if (m_renewInFlight || !m_fleet) return;
    if (!m_fleetOnline) return enrol(!m_enrolled);
    m_renewInFlight = true;
    std::vector<std::string> calling;
    for (const auto& [station, token] : m_leased) calling.push_back(station);
    m_fleet->post([this, calling](Sink& s) {
        std::string why;
        const bool ok = static_cast<FleetTable&>(s).renew(calling, &why);
        QMetaObject::invokeMethod(this, [this, ok, why] {
            m_renewInFlight = false;
            setOnline(ok, why);
        }, Qt::QueuedConnection);
    });
}

void Collector::setOnline(bool online, const std::string& why)
{
    if (online == m_fleetOnline) return;
    m_fleetOnline = online;
    if (online) {
        std::fprintf(m_err, "общий список станций доступен: станции пулов снова делятся между сборщиками\n");
        // What was called meanwhile reaches the table before anything is
        // claimed from it.
        m_lastReplayMs = 0;
        if (m_enrolled) m_poolsFromMs = QDateTime::currentMSecsSinceEpoch() + qint64(m_leaseS) * 1000;
    } else {
        std::fprintf(m_err, "общий список станций недоступен (%s): станции своих портов вызываются по своему "
                            "расписанию, станции пулов ждут\n", why.c_str());
    }
    std::fflush(m_err);
    QTimer::singleShot(0, this, &Collector::tick);
}

std::vector<std::string> Collector::stationNames() const
{
    std::vector<std::string> names;
    for (const Station& s : m_roster.stations) names.push_back(s.name);
    return names;
}

void Collector::writeMetrics()
{
    if (m_metrics) m_metrics->post(renderMetrics(m_roster, m_fanout->histories()));
}

void Collector::showPhase(Port& port, const QString& phase)
{
    port.phase = phase;
}

void Collector::redraw()
{
    if (!m_options.live) return;
    std::vector<PortLine> lines;
    for (const auto& p : m_ports)
        lines.push_back({p->name, p->done, p->total, p->call ? m_roster.stations[p->current].name : std::string(), p->phase});
    std::fputs(liveLines(lines, m_drawnLines).constData(), m_err);
    m_drawnLines = int(m_ports.size());
    std::fflush(m_err);
}

void Collector::printSummary()
{
    FILE* f = m_options.format == Format::Summary ? m_out : m_err;
    const QString t =
        roundSummary({m_roster, m_results, m_notDue, m_elsewhere, m_fanout->spool().size(), m_fanout->unsaved()});
    std::fputs(t.toUtf8().constData(), f);
    std::fflush(f);
}

}  // namespace zrv::collect
