#include "FleetTable.h"

#include "text/Version.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace zrv::collect {

namespace {

// The database's clock, in the unit the tables keep.
const QString kNow = QStringLiteral("extract(epoch from clock_timestamp())");

QString placeholders(std::size_t n)
{
    QStringList marks;
    for (std::size_t i = 0; i < n; ++i) marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

// PostgreSQL's literal of a text array: every element quoted, so that a
// station name holding a comma, brace or quote stays one element.
QString textArray(const std::vector<std::string>& items)
{
    QString out = QStringLiteral("{");
    for (const std::string& item : items) {
        if (out.size() > 1) out += QLatin1Char(',');
        out += QLatin1Char('"');
        for (const QChar c : QString::fromStdString(item)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\')) out += QLatin1Char('\\');
            out += c;
        }
        out += QLatin1Char('"');
    }
    return out + QLatin1Char('}');
}

QString joined(const std::vector<std::string>& list)
{
    QStringList out;
    for (const std::string& s : list) out << QString::fromStdString(s);
    return out.join(QLatin1Char(','));
}

}  // namespace

FleetTable::FleetTable(StoreUrl url, std::string collector, int leaseS)
    : SqlStore(std::move(url)), m_collector(std::move(collector)), m_leaseS(leaseS)
{
    setStatementLimit(statementLimit(leaseS));
}

std::chrono::milliseconds FleetTable::statementLimit(int leaseS)
{
    // Half a lease: a collector cut off from the table knows it, and goes
    // on with its own ports alone, before its claims lapse.
    return std::chrono::milliseconds(std::clamp(leaseS * 500, 2'000, 30'000));
}

bool FleetTable::run(const std::function<bool(QSqlQuery&)>& work, std::string* why)
{
    SinkError error;
    if (!open(&error)) {
        if (why) *why = error.why;
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase db = database();
        QSqlQuery q(db);
        ok = begin(db) && work(q) && commit(db);
        if (!ok) {
            if (why) *why = errorText(q.lastError().isValid() ? q.lastError() : db.lastError()).toStdString();
            if (db.isOpen()) rollback(db);
        }
    }
    // The server may have gone (restarted): connect anew next time.
    if (!ok) close();
    return ok;
}

bool FleetTable::enrol(const Enrolment& e, std::string* why)
{
    return run(
        [&](QSqlQuery& q) {
            prepare(q, QStringLiteral("INSERT INTO fleet_collectors (collector, host, pid, pools, version, started, lease_s, heartbeat, "
                                      "stopped) VALUES (?, ?, ?, ?, ?, ?, ?, %1, NULL) ON CONFLICT (collector) DO UPDATE SET "
                                      "host = excluded.host, pid = excluded.pid, pools = excluded.pools, lease_s = excluded.lease_s, "
                                      "version = excluded.version, started = excluded.started, "
                                      "heartbeat = excluded.heartbeat, stopped = NULL")
                          .arg(kNow));
            q.addBindValue(QString::fromStdString(e.collector));
            q.addBindValue(QString::fromStdString(e.host));
            q.addBindValue(e.pid);
            q.addBindValue(joined(e.pools));
            q.addBindValue(QString::fromLatin1(kZrvVersion));
            q.addBindValue(e.started);
            q.addBindValue(m_leaseS);
            if (!exec(q)) return false;
            if (e.fresh) {
                prepare(q, QStringLiteral("UPDATE fleet_stations SET lease_holder = NULL, lease_until = NULL "
                                          "WHERE lease_holder = ?"));
                q.addBindValue(QString::fromStdString(e.collector));
                if (!exec(q)) return false;
            }
            // Who may call a station, when and how often is the roster's; when
            // it is due is the table's, once it has the station.
            prepare(q, QStringLiteral("INSERT INTO fleet_stations (station, pool, host, every_s, next_due, port, hours_from, "
                                      "hours_to, enrolled, retired) VALUES (?, ?, ?, ?, ?, ?, ?, ?, extract(epoch from now()), 0) "
                                      "ON CONFLICT (station) DO UPDATE SET pool = excluded.pool, host = excluded.host, "
                                      "every_s = excluded.every_s, port = excluded.port, hours_from = excluded.hours_from, "
                                      "hours_to = excluded.hours_to, enrolled = excluded.enrolled, retired = 0"));
            const QVariant none;
            for (const Enrolment::Row& r : e.stations) {
                q.addBindValue(QString::fromStdString(r.station));
                q.addBindValue(r.pool.empty() ? none : QVariant(QString::fromStdString(r.pool)));
                q.addBindValue(r.host.empty() ? none : QVariant(QString::fromStdString(r.host)));
                q.addBindValue(r.everyS);
                q.addBindValue(r.nextDue);
                q.addBindValue(r.port.empty() || !r.pool.empty() ? none : QVariant(QString::fromStdString(r.port)));
                q.addBindValue(r.window ? QVariant(r.window->first) : none);
                q.addBindValue(r.window ? QVariant(r.window->second) : none);
                if (!exec(q)) return false;
            }
            // A station of this collector's ports or pools that its roster no
            // longer names (or a row no roster wrote) is claimed by nobody.
            // now() is the transaction's start: the same for every row above.
            prepare(q, QStringLiteral("UPDATE fleet_stations SET retired = 1 WHERE ((host = ? AND pool IS NULL)%1) "
                                      "AND (enrolled IS NULL OR enrolled < extract(epoch from now()))")
                           .arg(e.pools.empty() ? QString()
                                                : QStringLiteral(" OR pool IN (%1)").arg(placeholders(e.pools.size()))));
            q.addBindValue(QString::fromStdString(e.collector));
            for (const std::string& p : e.pools) q.addBindValue(QString::fromStdString(p));
            // The claim's plan wants to know the table's size and spread (a
            // pool's stations in due order through its index, rather than
            // all of them sorted): a freshly filled table has no statistics
            // until autovacuum gets to it. A role that does not own the table
            // is only warned, and autovacuum does it later.
            return exec(q) && exec(q, QStringLiteral("ANALYZE fleet_stations"));
        },
        why);
}

std::optional<std::vector<Claimed>> FleetTable::claim(const std::vector<ClaimGroup>& groups, std::string* why)
{
    auto out = claimTransaction(groups, why);
    if (out) readClaimed(*out);
    return out;
}

void FleetTable::readClaimed(std::vector<Claimed>& claimed)
{
    // Read after the claim's commit: the last call of another collector is in.
    for (Claimed& c : claimed) {
        c.cursors = journalCursors(c.station);
        c.history = history(c.station);
    }
}

std::optional<std::vector<Claimed>> FleetTable::claimTransaction(const std::vector<ClaimGroup>& groups, std::string* why)
{
    std::vector<const ClaimGroup*> asked;
    for (const ClaimGroup& g : groups)
        if (g.count >= 1) asked.push_back(&g);
    std::vector<Claimed> out;
    if (asked.empty()) return out;
    // One group (a free port, or a pool's free modems: nearly every claim)
    // is one statement, a transaction of its own, and one round trip: no
    // BEGIN and COMMIT around it, and the statement prepared once for the
    // connection. Several groups are claimed together or not at all, so
    // that a failure leaves no lease nobody calls.
    if (asked.size() == 1) {
        SinkError error;
        if (!open(&error)) {
            if (why) *why = error.why;
            return std::nullopt;
        }
        if (claimGroup(*asked.front(), out, why)) return out;
        // The server may have gone (restarted): connect anew next time.
        close();
        return std::nullopt;
    }
    std::string failed;
    const bool ok = run(
        [&](QSqlQuery&) {
            for (const ClaimGroup* g : asked)
                if (!claimGroup(*g, out, &failed)) return false;
            return true;
        },
        why);
    // The statement's own words, not the transaction's.
    if (!ok && why && !failed.empty()) *why = failed;
    if (!ok) return std::nullopt;
    return out;
}

bool FleetTable::claimGroup(const ClaimGroup& g, std::vector<Claimed>& out, std::string* why)
{
    std::unique_ptr<QSqlQuery>& q = g.pool.empty() ? m_claimByPort : m_claimByPool;
    if (!q) {
        // By what the table knows (the pool, or this collector's port),
        // through the index that serves it. A lease further ahead than any
        // collector renews one is no lease (a damaged row, or a clock gone
        // wrong): it is taken. The stations picked are an array, not a
        // join: whether the server plans for these values or once for any,
        // the update finds its rows by their key.
        const QString which = g.pool.empty() ? QStringLiteral("host = ? AND port = ? AND pool IS NULL")
                                             : QStringLiteral("pool = ?");
        auto prepared = std::make_unique<QSqlQuery>(database());
        if (!prepare(*prepared,
                     QStringLiteral("UPDATE fleet_stations SET lease_holder = ?, lease_until = %1 + ?, "
                                    "lease_token = COALESCE(lease_token, 0) + 1 "
                                    "WHERE station = ANY (ARRAY(SELECT station FROM fleet_stations WHERE %2 AND retired = 0 "
                                    "AND (next_due <= %1 OR next_due IS NULL) AND (lease_holder IS NULL OR "
                                    "lease_until IS NULL OR lease_until < %1 OR lease_until > %1 + 2 * ?) "
                                    "AND (hours_from IS NULL OR hours_to IS NULL OR (hours_from < hours_to AND ? >= hours_from "
                                    "AND ? < hours_to) OR (hours_from >= hours_to AND (? >= hours_from OR ? < hours_to))) "
                                    "AND NOT (station = ANY (CAST(? AS TEXT[]))) "
                                    "ORDER BY next_due, station LIMIT ? FOR UPDATE SKIP LOCKED)) "
                                    "RETURNING station, lease_token")
                         .arg(kNow, which))) {
            if (why) *why = errorText(prepared->lastError()).toStdString();
            return false;
        }
        q = std::move(prepared);
    }
    q->addBindValue(QString::fromStdString(m_collector));
    q->addBindValue(m_leaseS);
    if (g.pool.empty()) {
        q->addBindValue(QString::fromStdString(m_collector));
        q->addBindValue(QString::fromStdString(g.port));
    } else {
        q->addBindValue(QString::fromStdString(g.pool));
    }
    q->addBindValue(m_leaseS);
    for (int i = 0; i < 4; ++i) q->addBindValue(g.minute);
    q->addBindValue(textArray(g.exclude));
    q->addBindValue(g.count);
    if (!exec(*q)) {
        if (why) *why = errorText(q->lastError()).toStdString();
        return false;
    }
    while (q->next()) out.push_back({g.key, q->value(0).toString().toStdString(), q->value(1).toLongLong(), {}, {}});
    q->finish();
    return true;
}

void FleetTable::close()
{
    // Prepared on the connection being closed.
    m_claimByPool.reset();
    m_claimByPort.reset();
    SqlStore::close();
}

bool FleetTable::renew(const std::vector<std::string>& calling, std::string* why)
{
    return run(
        [&](QSqlQuery& q) {
            prepare(q, QStringLiteral("UPDATE fleet_collectors SET heartbeat = %1, stopped = NULL WHERE collector = ?").arg(kNow));
            q.addBindValue(QString::fromStdString(m_collector));
            if (!exec(q)) return false;
            if (calling.empty()) return true;
            prepare(q, QStringLiteral("UPDATE fleet_stations SET lease_until = %1 + ? WHERE lease_holder = ? AND station IN (%2)")
                          .arg(kNow, placeholders(calling.size())));
            q.addBindValue(m_leaseS);
            q.addBindValue(QString::fromStdString(m_collector));
            for (const std::string& s : calling) q.addBindValue(QString::fromStdString(s));
            return exec(q);
        },
        why);
}

void FleetTable::release(const std::vector<std::string>& stations)
{
    if (stations.empty()) return;
    run(
        [&](QSqlQuery& q) {
            prepare(q, QStringLiteral("UPDATE fleet_stations SET lease_holder = NULL, lease_until = NULL "
                                      "WHERE lease_holder = ? AND station IN (%1)")
                          .arg(placeholders(stations.size())));
            q.addBindValue(QString::fromStdString(m_collector));
            for (const std::string& s : stations) q.addBindValue(QString::fromStdString(s));
            return exec(q);
        },
        nullptr);
}

void FleetTable::leave()
{
    run(
        [&](QSqlQuery& q) {
            prepare(q, QStringLiteral("UPDATE fleet_collectors SET stopped = %1 WHERE collector = ?").arg(kNow));
            q.addBindValue(QString::fromStdString(m_collector));
            if (!exec(q)) return false;
            prepare(q, QStringLiteral("UPDATE fleet_stations SET lease_holder = NULL, lease_until = NULL WHERE lease_holder = ?"));
            q.addBindValue(QString::fromStdString(m_collector));
            return exec(q);
        },
        nullptr);
}

}  // namespace zrv::collect
