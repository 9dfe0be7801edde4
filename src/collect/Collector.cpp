#include "Collector.h"

#include "collect/StdoutSink.h"
#include "fleet/Schedule.h"

#include <QFileInfo>

namespace zrv::collect {

void CollectorParts::writeMetrics()
{
    if (metrics) metrics->post(renderMetrics(roster, fanout->histories()));
}

std::vector<std::string> CollectorParts::stationNames() const
{
    std::vector<std::string> names;
    for (const Station& s : roster.stations) names.push_back(s.name);
    return names;
}

void CollectorParts::settle(CallResult& r, const Station& station)
{
    StationHistory& history = fanout->history(r.station);
    r.health = judgeCall(station, history, r);
    remember(history, r, r.health);
    r.collector = options.name;
    // When it is due again goes with the call into the stores (a call the
    // collector stopped before it was made leaves it due now).
    const QDateTime now = QDateTime::currentDateTimeUtc();
    r.nextDue = r.outcome == Outcome::Stopped ? now : std::max(now, dueAt(station, history, now));
    own.called(r);
}

void CollectorParts::store(const CallResult& r)
{
    fanout->store(r);
    writeMetrics();
}

void CollectorParts::lastLines()
{
    redraw.stop();
    ports->redraw();
}

void CollectorParts::finish()
{
    running = false;
    if (finished) finished();
}

Collector::Collector(Roster roster, std::vector<std::unique_ptr<Sink>> sinks, CollectorOptions options, FILE* out,
                     FILE* err, QObject* parent)
    : QObject(parent), m_round(m_parts)
{
    m_parts.roster = std::move(roster);
    m_parts.options = std::move(options);
    m_parts.out = out;
    m_parts.err = err;
    const CollectorOptions& o = m_parts.options;
    std::vector<std::unique_ptr<SinkThread>> outputs;
    if (o.format != Format::Summary)
        outputs.push_back(std::make_unique<SinkThread>(std::make_unique<StdoutSink>(o.format, out), o.sinkQueue));
    for (auto& sink : sinks) {
        outputs.push_back(std::make_unique<SinkThread>(std::move(sink), o.sinkQueue));
        // Connected from the start, as a broker's presence says; a store
        // that cannot be reached now is tried again by each write.
        outputs.back()->post([t = outputs.back().get()](Sink& s) {
            SinkError ignored;
            t->markUp(s.open(&ignored));
        });
    }
    m_parts.fanout = std::make_unique<Fanout>(std::move(outputs), o.stateDir + QStringLiteral("/spool.jsonl"), err, this);
    m_parts.fanout->settled = [this](const CallResult& call, bool everywhere) {
        m_parts.own.settled(call, everywhere);
        if (m_driver) m_driver->endIfOver();
    };
    if (!o.textfile.isEmpty())
        m_parts.metrics = std::make_unique<MetricsFile>(o.textfile, [err](const std::string& why) {
            std::fprintf(err, "метрики не записаны (%s); вызовы продолжаются\n", why.c_str());
            std::fflush(err);
        });
    m_parts.ports = std::make_unique<Ports>(
        m_parts.roster, [this](const std::string& station) { return m_parts.fanout->cursors(station); }, o.jobs, o.live,
        o.stateDir, err);
    m_parts.redraw.setInterval(250);
    connect(&m_parts.redraw, &QTimer::timeout, m_parts.ports.get(), &Ports::redraw);
    m_parts.finished = [this] { emit roundFinished(); };
}

Collector::~Collector()
{
    // The table's jobs answer to the serving driver: done with first.
    m_serve.reset();
}

int Collector::exitStatus() const
{
    if (m_parts.fanout->unsaved() > 0) return 1;
    if (m_driver && m_driver == m_serve.get()) return 0;
    return m_round.failed() ? 1 : 0;
}

void Collector::startRound()
{
    if (m_parts.running) return;
    m_parts.running = true;
    m_driver = &m_round;
    m_parts.ports->setDriver(&m_round);
    m_round.start();
}

void Collector::stop()
{
    m_parts.ports->stop();
    if (m_driver) m_driver->stop();
}

void Collector::coordinate(std::unique_ptr<FleetTable> table)
{
    m_serve = std::make_unique<ServeDriver>(m_parts, std::move(table));
}

void Collector::serve()
{
    if (m_parts.running) return;
    if (!m_serve) m_serve = std::make_unique<ServeDriver>(m_parts, nullptr);
    m_parts.running = true;
    m_driver = m_serve.get();
    m_parts.ports->setDriver(m_serve.get());
    m_serve->start();
}

void Collector::reload(Roster roster)
{
    Roster& now = m_parts.roster;
    if (roster.coordinate != now.coordinate || roster.leaseS != now.leaseS)
        std::fprintf(m_parts.err, "coordinate и lease меняются только с перезапуском сборщика; прежние остаются\n");
    roster.coordinate = now.coordinate;
    roster.leaseS = now.leaseS;
    // A station gone from the roster is forgotten; the calls running end
    // with the station they began with (see Ports::Port::calling).
    now = std::move(roster);
    if (m_serve) m_serve->reload();
    m_parts.writeMetrics();
    std::fprintf(m_parts.err, "список станций прочитан заново: станций %zu\n", now.stations.size());
    std::fflush(m_parts.err);
}

QByteArray Collector::ownMetrics() const
{
    ServiceMetrics::Now now;
    for (const auto& sink : m_parts.fanout->outputs())
        if (sink->spools()) now.stores.push_back({sink->name(), sink->queued(), sink->up()});
    if (m_serve && m_serve->shared()) now.sharedDatabase = m_serve->online();
    now.leases = m_serve ? m_serve->leases() : 0;
    now.spoolLines = m_parts.fanout->spool().size();
    now.spoolBytes = QFileInfo(m_parts.fanout->spool().path()).size();
    return m_parts.own.render(now);
}

QString Collector::statusLine() const
{
    QString line = QStringLiteral("станций %1, идёт вызовов %2, сделано %3, со сбоем %4")
                       .arg(m_parts.roster.stations.size())
                       .arg(m_parts.ports->calling())
                       .arg(m_serve ? m_serve->callsDone() : 0)
                       .arg(m_serve ? m_serve->callsFailed() : 0);
    if (m_serve && m_serve->shared())
        line += m_serve->online() ? QStringLiteral("; общий список доступен") : QStringLiteral("; общий список недоступен");
    return line;
}

}  // namespace zrv::collect
