#include "RoundDriver.h"

#include "collect/Printout.h"
#include "fleet/Schedule.h"

#include <QDir>

#include <algorithm>

namespace zrv::collect {

RoundDriver::RoundDriver(CollectorParts& parts, QObject* parent) : CallDriver(parts, parent) {}

bool RoundDriver::failed() const
{
    for (std::size_t i = 0; i < m_results.size(); ++i)
        if (!m_results[i].ok() && !m_notDue.count(i) && !m_elsewhere.count(i)) return true;
    return false;
}

void RoundDriver::start()
{
    const Roster& roster = m_parts.roster;
    Fanout& fanout = *m_parts.fanout;
    m_results.assign(roster.stations.size(), CallResult{});
    m_haveResult.assign(roster.stations.size(), false);
    fanout.clearUnsaved();
    QDir().mkpath(m_parts.options.stateDir);
    fanout.replaySpool();
    fanout.loadFromStore(m_parts.stationNames());
    m_parts.writeMetrics();

    // Every station, in roster order; or in a scheduled round those due,
    // the most overdue first.
    m_notDue.clear();
    m_elsewhere.clear();
    std::vector<std::size_t> order;
    if (m_parts.options.scheduled) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        order = dueStations(roster, fanout.histories(), now);
        for (std::size_t i = 0; i < roster.stations.size(); ++i)
            if (std::find(order.begin(), order.end(), i) == order.end()) m_notDue[i] = dueAt(roster.stations[i], fanout.histories(), now);
    } else {
        for (std::size_t i = 0; i < roster.stations.size(); ++i) order.push_back(i);
    }
    auto& ports = m_parts.ports->all();
    ports.clear();
    const std::string& self = m_parts.options.name;
    for (const std::size_t i : order) {
        const Station& st = roster.stations[i];
        if (!mayCall(roster, st, self, m_parts.options.machineHost)) {
            // Another collector's port, or a pool without a modem here: not
            // this collector's to call, and no failure of its round.
            m_elsewhere[i] = st.pool.empty() ? "порт сборщика " + ownerOf(st, m_parts.options.machineHost)
                                             : "нет модема пула " + st.pool;
            m_haveResult[i] = true;
            continue;
        }
        std::string name = st.port;
        if (!st.pool.empty()) {
            // The pool's modem with the fewest stations so far.
            std::size_t fewest = SIZE_MAX;
            for (const std::string& modem : poolPorts(roster, st.pool, self)) {
                const auto p = std::find_if(ports.begin(), ports.end(), [&](const auto& x) { return x->name == modem; });
                const std::size_t n = p == ports.end() ? 0 : (*p)->queue.size();
                if (n < fewest) {
                    fewest = n;
                    name = modem;
                }
            }
        }
        Ports::Port& port = m_parts.ports->named(name);
        port.queue.push_back({i, 1, 0});
        ++port.total;
    }
    if (m_parts.options.live) m_parts.redraw.start();
    m_parts.ports->start();
    // A scheduled round with nobody due ends at once.
    if (ports.empty()) QMetaObject::invokeMethod(this, [this] { endIfOver(); }, Qt::QueuedConnection);
}

bool RoundDriver::lockRefused(Ports::Port& port, const QString& lockPath)
{
    // The port's stations wait for the next round rather than break into
    // another collector's call.
    for (const Ports::Pending& q : port.queue) {
        CallResult r;
        r.station = m_parts.roster.stations[q.station].name;
        r.port = port.name;
        r.started = QDateTime::currentDateTimeUtc();
        r.outcome = Outcome::PortUnavailable;
        r.why = "порт занят другим сборщиком (" + lockPath.toStdString() + ")";
        m_results[q.station] = r;
        m_haveResult[q.station] = true;
    }
    return true;
}

void RoundDriver::starting(const Ports::Port& port, const Station& station, int attempt)
{
    if (m_parts.options.live) return;
    std::fprintf(m_parts.err, "%s: %d из %d: %s%s\n", port.name.c_str(), port.done + 1, port.total, station.name.c_str(),
                 attempt > 1 ? (", попытка " + std::to_string(attempt)).c_str() : "");
}

std::optional<qint64> RoundDriver::ended(Ports::Port& port, CallResult& r, const Station& station)
{
    m_parts.settle(r, station);
    m_results[port.current] = r;
    m_haveResult[port.current] = true;
    m_parts.store(r);
    if (r.ok() || r.outcome == Outcome::Stopped || m_parts.ports->stopping() || r.attempt > station.retries)
        return std::nullopt;
    return qint64(station.retryDelayS) << std::min(r.attempt - 1, 10);
}

bool RoundDriver::over() const
{
    return m_parts.running && m_parts.fanout->idle() && m_parts.ports->idle();
}

void RoundDriver::end()
{
    m_parts.lastLines();
    for (std::size_t i = 0; i < m_results.size(); ++i)
        if (!m_haveResult[i] && !m_notDue.count(i) && !m_elsewhere.count(i)) {
            m_results[i].station = m_parts.roster.stations[i].name;
            m_results[i].port = m_parts.roster.stations[i].port;
            m_results[i].outcome = Outcome::Stopped;
            m_results[i].why = "не вызывалась: сбор остановлен";
        }
    FILE* f = m_parts.options.format == Format::Summary ? m_parts.out : m_parts.err;
    const QString t = roundSummary(
        {m_parts.roster, m_results, m_notDue, m_elsewhere, m_parts.fanout->spool().size(), m_parts.fanout->unsaved()});
    std::fputs(t.toUtf8().constData(), f);
    std::fflush(f);
    m_parts.finish();
}

}  // namespace zrv::collect
