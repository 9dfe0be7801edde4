#include "ServeDriver.h"

#include "fleet/Schedule.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>

namespace zrv::collect {

using zrv::fleet::localMinute;

ServeDriver::ServeDriver(CollectorParts& parts, std::unique_ptr<FleetTable> table, QObject* parent)
    : CallDriver(parts, parent)
{
    if (table) {
        m_fleet = std::make_unique<SinkThread>(std::move(table), 16);
        m_leaseS = m_parts.roster.leaseS;
    }
}

// Its jobs answer to this object: done with before it goes.
ServeDriver::~ServeDriver() { m_fleet.reset(); }

void ServeDriver::release(std::vector<std::string> stations)
{
    if (m_fleet && !stations.empty())
        m_fleet->post([back = std::move(stations)](Sink& s) { static_cast<FleetTable&>(s).release(back); });
}

void ServeDriver::start()
{
    m_startedS = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QDir().mkpath(m_parts.options.stateDir);
    m_parts.fanout->replaySpool();
    m_lastReplayMs = QDateTime::currentMSecsSinceEpoch();
    m_parts.fanout->loadFromStore(m_parts.stationNames());
    m_parts.writeMetrics();
    buildPorts();
    connect(&m_tick, &QTimer::timeout, this, &ServeDriver::tick, Qt::UniqueConnection);
    m_tick.start(1000);
    if (m_fleet) {
        connect(&m_heartbeat, &QTimer::timeout, this, &ServeDriver::heartbeat, Qt::UniqueConnection);
        // Renewed four times a lease: a renewal or two may fail before a
        // claim lapses under a call that still runs.
        m_heartbeat.start(std::max(1000, m_leaseS * 1000 / 4));
        enrol(!m_enrolled);
    }
    if (m_parts.options.live) m_parts.redraw.start();
    QTimer::singleShot(0, this, &ServeDriver::tick);
}

void ServeDriver::reload()
{
    buildPorts();
    if (m_fleet && !m_renewInFlight) enrol(!m_enrolled);
    QTimer::singleShot(0, this, &ServeDriver::tick);
}

bool ServeDriver::over() const
{
    return m_parts.running && m_parts.fanout->idle() && m_parts.ports->stopping() && !m_claimInFlight &&
           m_parts.ports->idle();
}

void ServeDriver::end()
{
    m_parts.lastLines();
    m_heartbeat.stop();
    // Said in the table, and every claim let go: the others need not wait
    // out the leases.
    if (m_fleet && m_fleetOnline) m_fleet->runAndWait([](Sink& s) { static_cast<FleetTable&>(s).leave(); });
    std::fprintf(m_parts.err, "остановлено: вызовов %d, со сбоем %d\n", m_callsDone, m_callsFailed);
    std::fflush(m_parts.err);
    m_parts.finish();
}

void ServeDriver::stop()
{
    m_tick.stop();
    endIfOver();
}

bool ServeDriver::lockRefused(Ports::Port& port, const QString&)
{
    std::vector<std::string> back;
    for (const Ports::Pending& q : port.queue) {
        const std::string& name = m_parts.roster.stations[q.station].name;
        m_busy.erase(name);
        if (m_leased.erase(name)) back.push_back(name);
    }
    release(std::move(back));
    // Tried again in half a minute, not every tick; said once.
    const bool said = port.lockedUntilMs > 0;
    port.lockedUntilMs = QDateTime::currentMSecsSinceEpoch() + 30'000;
    return !said;
}

void ServeDriver::starting(const Ports::Port& port, const Station& station, int)
{
    if (!m_parts.options.live) std::fprintf(m_parts.err, "%s: вызов %s\n", port.name.c_str(), station.name.c_str());
}

std::optional<qint64> ServeDriver::ended(Ports::Port&, CallResult& r, const Station& station)
{
    m_parts.settle(r, station);
    m_busy.erase(r.station);
    if (const auto lease = m_leased.find(r.station); lease != m_leased.end()) {
        r.leaseToken = lease->second;
        m_leased.erase(lease);
    }
    ++m_callsDone;
    m_callsFailed += !r.ok();
    m_parts.store(r);
    // Due again after its back-off rather than queued on this port.
    return std::nullopt;
}

void ServeDriver::portIdle()
{
    if (!m_parts.ports->stopping()) QTimer::singleShot(0, this, &ServeDriver::tick);
    endIfOver();
}

bool ServeDriver::poolPort(const std::string& port) const
{
    for (const Pool& p : m_parts.roster.pools)
        if (std::find(p.ports.begin(), p.ports.end(), port) != p.ports.end()) return true;
    return false;
}

void ServeDriver::buildPorts()
{
    const Roster& roster = m_parts.roster;
    std::vector<std::string> wanted;
    const auto want = [&](const std::string& name) {
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) wanted.push_back(name);
    };
    for (const Station& st : roster.stations) {
        if (!mayCall(roster, st, m_parts.options.name, m_parts.options.machineHost)) continue;
        if (st.pool.empty()) want(st.port);
        else
            for (const std::string& modem : poolPorts(roster, st.pool, m_parts.options.name)) want(modem);
    }
    // A port whose call still runs stays until it is done.
    std::erase_if(m_parts.ports->all(), [&](const auto& p) {
        return !p->running && !p->call && p->queue.empty() && std::find(wanted.begin(), wanted.end(), p->name) == wanted.end();
    });
    for (const std::string& name : wanted) m_parts.ports->named(name);
}

Ports::Port* ServeDriver::freePortFor(const Station& st)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto free = [this, now](const std::string& name) -> Ports::Port* {
        for (auto& p : m_parts.ports->all())
            if (p->name == name && p->free(now)) return p.get();
        return nullptr;
    };
    if (st.pool.empty()) return free(st.port);
    for (const std::string& modem : poolPorts(m_parts.roster, st.pool, m_parts.options.name))
        if (Ports::Port* p = free(modem)) return p;
    return nullptr;
}

void ServeDriver::enqueue(Ports::Port& port, std::size_t station)
{
    port.queue.push_back({station, 1, 0});
    ++port.total;
    m_busy.insert(m_parts.roster.stations[station].name);
}

void ServeDriver::tick()
{
    if (!m_parts.running || m_parts.ports->stopping()) return;
    Fanout& fanout = *m_parts.fanout;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    // Calls a store missed, once it may be back (and, sharing, once the
    // table answers: the schedule the calls move lives there too).
    if (fanout.spool().size() > 0 && nowMs - m_lastReplayMs > 30'000 && (!m_fleet || m_fleetOnline)) {
        m_lastReplayMs = nowMs;
        fanout.replaySpool();
    }
    int running = 0;
    std::vector<Ports::Port*> free;
    for (auto& p : m_parts.ports->all()) {
        if (p->busy()) ++running;
        else if (p->lockedUntilMs <= nowMs) free.push_back(p.get());
    }
    int room = std::max(1, m_parts.options.jobs) - running;
    if (room <= 0 || free.empty()) return;
    if (m_fleet && m_fleetOnline) {
        if (!m_claimInFlight) claim(free, room);
        return;
    }
    // Alone, or the shared table out of reach: this collector's own ports
    // by its own schedule; a pool's stations wait (another collector may be
    // calling them), so no station is called twice.
    const Roster& roster = m_parts.roster;
    for (const std::size_t i : dueStations(roster, fanout.histories(), QDateTime::currentDateTimeUtc())) {
        const Station& st = roster.stations[i];
        if (room <= 0) break;
        if (m_busy.count(st.name) || !mayCall(roster, st, m_parts.options.name, m_parts.options.machineHost) ||
            (m_fleet && !st.pool.empty()))
            continue;
        if (Ports::Port* p = freePortFor(st)) {
            enqueue(*p, i);
            --room;
        }
    }
    m_parts.ports->start();
}

void ServeDriver::claim(const std::vector<Ports::Port*>& free, int room)
{
    const Roster& roster = m_parts.roster;
    const std::string& self = m_parts.options.name;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int minute = localMinute(now);
    std::vector<ClaimGroup> groups;
    std::map<std::string, int> poolFree;
    for (Ports::Port* p : free) {
        if (!poolPort(p->name)) {
            ClaimGroup g{p->name, {}, p->name, 1, minute, {}};
            bool any = false;
            for (const Station& st : roster.stations) {
                if (st.port != p->name || !st.pool.empty() || !mayCall(roster, st, self, m_parts.options.machineHost))
                    continue;
                // This collector's own stations: its own record of their
                // calls also says (a call made while the table was away
                // may not have reached it yet).
                if (m_busy.count(st.name) || dueAt(st, m_parts.fanout->histories(), now) > now) g.exclude.push_back(st.name);
                else any = any || withinHours(st.window, minute);
            }
            if (any) groups.push_back(std::move(g));
        }
        for (const Pool& pool : roster.pools)
            if (hasModems(pool, self) && std::find(pool.ports.begin(), pool.ports.end(), p->name) != pool.ports.end())
                ++poolFree[pool.name];
    }
    // Back from an outage, the pools wait one lease: every collector's
    // spool reaches the table first, and with it what was called meanwhile.
    if (QDateTime::currentMSecsSinceEpoch() < m_poolsFromMs) poolFree.clear();
    // A pool's stations are picked by the table; only those being called
    // here are named (at most one a port).
    for (const auto& [pool, n] : poolFree) {
        ClaimGroup g{"pool " + pool, pool, {}, n, minute, {}};
        for (const Station& st : roster.stations)
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
                if (claimed) m_parts.own.claimed(seconds);
                onClaimed(claimed, why);
            },
            Qt::QueuedConnection);
    });
}

void ServeDriver::onClaimed(std::optional<std::vector<Claimed>> claimed, const std::string& why)
{
    m_claimInFlight = false;
    setOnline(claimed.has_value(), why);
    if (!claimed) {
        endIfOver();
        return;
    }
    const Roster& roster = m_parts.roster;
    std::vector<std::string> back;
    for (Claimed& c : *claimed) {
        const auto it = std::find_if(roster.stations.begin(), roster.stations.end(),
                                     [&](const Station& s) { return s.name == c.station; });
        Ports::Port* port = nullptr;
        if (!m_parts.ports->stopping() && it != roster.stations.end() && !m_busy.count(c.station)) {
            if (!it->pool.empty()) port = freePortFor(*it);
            else if (c.group == it->port) port = freePortFor(*it);
        }
        if (!port) {
            back.push_back(c.station);
            continue;
        }
        m_parts.fanout->cursors(c.station) = std::move(c.cursors);
        m_parts.fanout->history(c.station) = c.history ? std::move(*c.history) : StationHistory{};
        m_leased[c.station] = c.token;
        enqueue(*port, std::size_t(it - roster.stations.begin()));
    }
    release(std::move(back));
    m_parts.ports->start();
    endIfOver();
}

void ServeDriver::enrol(bool fresh)
{
    const Roster& roster = m_parts.roster;
    Enrolment e;
    e.collector = m_parts.options.name;
    e.host = m_parts.options.machineHost;
    e.pid = QCoreApplication::applicationPid();
    e.started = m_startedS;
    e.fresh = fresh;
    for (const Pool& p : roster.pools)
        if (hasModems(p, e.collector) && std::find(e.pools.begin(), e.pools.end(), p.name) == e.pools.end())
            e.pools.push_back(p.name);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Station& st : roster.stations)
        e.stations.push_back({st.name, st.pool, st.pool.empty() ? ownerOf(st, e.host) : std::string(), st.everyS,
                              double(dueAt(st, m_parts.fanout->histories(), now).toMSecsSinceEpoch()) / 1000.0, st.port,
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

void ServeDriver::heartbeat()
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

void ServeDriver::setOnline(bool online, const std::string& why)
{
    if (online == m_fleetOnline) return;
    m_fleetOnline = online;
    if (online) {
        std::fprintf(m_parts.err, "общий список станций доступен: станции пулов снова делятся между сборщиками\n");
        // What was called meanwhile reaches the table before anything is
        // claimed from it.
        m_lastReplayMs = 0;
        if (m_enrolled) m_poolsFromMs = QDateTime::currentMSecsSinceEpoch() + qint64(m_leaseS) * 1000;
    } else {
        std::fprintf(m_parts.err, "общий список станций недоступен (%s): станции своих портов вызываются по своему "
                                  "расписанию, станции пулов ждут\n", why.c_str());
    }
    std::fflush(m_parts.err);
    QTimer::singleShot(0, this, &ServeDriver::tick);
}

}  // namespace zrv::collect
