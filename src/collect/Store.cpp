#include "Store.h"

#include "collect/CallJson.h"
#include "fleet/FleetStatus.h"
#include "fleet/Schema.h"
#include "fleet/Secrets.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

#include <QJsonObject>

#include <libpq-fe.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace zrv::collect {

using zrv::fleet::privateFile;
using zrv::fleet::kWhyRead;

namespace {

// A device's float that is no number (NaN, infinite) is stored as NULL, in
// SQLite and PostgreSQL alike, as the JSON output writes null and the line
// protocol leaves the field out: one meaning, "no value read".
QVariant finiteOrNull(float v) { return std::isfinite(v) ? QVariant(double(v)) : QVariant(); }

}  // namespace

namespace {

bool sqliteParse(StoreUrl& u, const QUrl*, std::string* why)
{
    auto sql = std::make_shared<SqlOptions>();
    sql->engine = SqlOptions::Sqlite;
    sql->path = u.text.mid(u.scheme.size() + 1);
    if (sql->path.isEmpty()) {
        if (why) *why = "sqlite: нужен путь к файлу базы";
        return false;
    }
    u.options = std::move(sql);
    return true;
}

bool postgresParse(StoreUrl& u, const QUrl* url, std::string* why)
{
    const auto fail = [why](const std::string& w) {
        if (why) *why = w;
        return false;
    };
    const std::string shown = u.display().toStdString();
    const QUrlQuery query(*url);
    if (query.hasQueryItem(QStringLiteral("password")))
        return fail(shown + ": пароль в адресе: запишите его в ~/.pgpass или PGPASSFILE");
    auto sql = std::make_shared<SqlOptions>();
    if (!fleet::postgresAddress(*url, shown, sql.get(), why)) return false;
    // libpq would pass over a password file others can read with a
    // warning nobody sees in a service; say it plainly instead.
    const QByteArray pgpass = qgetenv("PGPASSFILE");
    const QString passFile = !pgpass.isEmpty() ? QString::fromLocal8Bit(pgpass) : QDir::homePath() + QStringLiteral("/.pgpass");
    std::string problem;
    if (QFileInfo::exists(passFile) && !privateFile(passFile.toStdString(), &problem)) return fail(problem);
    if (sql->database.isEmpty() && !query.hasQueryItem(QStringLiteral("service")))
        return fail("postgresql: нужно имя базы (postgresql://ПОЛЬЗОВАТЕЛЬ@УЗЕЛ:ПОРТ/БАЗА)");
    u.options = std::move(sql);
    return true;
}

std::unique_ptr<Sink> makeSqlStore(const StoreUrl& url) { return std::make_unique<SqlStore>(url); }

}  // namespace

OutputKind sqliteOutput()
{
    return {{QStringLiteral("sqlite")}, {QStringLiteral("sqlite:")}, false, sqliteParse, makeSqlStore, true};
}

OutputKind postgresOutput()
{
    return {{QStringLiteral("postgresql"), QStringLiteral("postgres")},
            {QStringLiteral("postgresql://")},
            true,
            postgresParse,
            makeSqlStore,
            true};
}

SqlStore::SqlStore(StoreUrl url)
    : m_url(std::move(url)), m_sql(m_url.as<SqlOptions>() ? *m_url.as<SqlOptions>() : SqlOptions{}), m_connection(QStringLiteral("zrvcollect-") + QUuid::createUuid().toString(QUuid::Id128))
{
}

SqlStore::~SqlStore() { close(); }

QSqlDatabase SqlStore::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

void SqlStore::setStatementLimit(std::chrono::milliseconds limit)
{
    m_limit = std::max(limit, std::chrono::milliseconds(1000));
}

bool SqlStore::bounded(const std::function<bool()>& statement)
{
    bool ok = false;
    if (!m_deadline) {
        m_timedOut = false;
        return statement();
    }
    // Bringing a large store's schema forward may take minutes, and must
    // not be cut short for it; a database that hangs is still noticed.
    const std::chrono::milliseconds limit = m_migrating ? std::max(m_limit, std::chrono::milliseconds(15 * 60'000)) : m_limit;
    const bool fired = m_deadline->run(limit, [&] { ok = statement(); });
    // What fails on a connection shut down under a statement fails for
    // that reason too.
    m_timedOut = fired || (m_timedOut && !ok);
    return ok && !fired;
}

bool SqlStore::exec(QSqlQuery& q) { return bounded([&] { return q.exec(); }); }
// The driver prepares on the server: a round trip like any statement.
bool SqlStore::prepare(QSqlQuery& q, const QString& sql) { return bounded([&] { return q.prepare(sql); }); }
bool SqlStore::exec(QSqlQuery& q, const QString& sql) { return bounded([&] { return q.exec(sql); }); }
bool SqlStore::begin(QSqlDatabase& db) { return bounded([&] { return db.transaction(); }); }
bool SqlStore::commit(QSqlDatabase& db) { return bounded([&] { return db.commit(); }); }
void SqlStore::rollback(QSqlDatabase& db) { bounded([&] { return db.rollback(); }); }

QString SqlStore::errorText(const QSqlError& error) const
{
    if (m_timedOut)
        return QStringLiteral("база данных не ответила за %1 с: связь с ней пропала или зависла")
            .arg(QString::number(double(m_limit.count()) / 1000.0, 'g', 3));
    return error.text();
}

void SqlStore::close()
{
    m_open = false;
    if (m_deadline) m_deadline->watch(-1);
    fleet::removeStoreDatabase(m_connection);
}

bool SqlStore::open(SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    if (m_open) return true;
    if (m_sql.engine == SqlOptions::Sqlite) {
        const QString folder = QFileInfo(m_sql.path).absolutePath();
        if (!QDir().mkpath(folder)) {
            if (why) *why = "не удалось создать папку " + folder.toStdString();
            return false;
        }
    }
    QSqlDatabase db = fleet::addStoreDatabase(m_sql, fleet::StoreAccess::Write, m_limit, m_connection);
    if (!db.isValid()) {
        if (why) *why = "драйвер базы данных не установлен";
        return false;
    }
    m_timedOut = false;
    if (!db.open()) {
        if (why) *why = errorText(db.lastError()).toStdString();
        return false;
    }
    if (m_sql.engine == SqlOptions::Postgres) {
        if (!m_deadline) m_deadline = std::make_unique<StatementDeadline>();
        const QVariant handle = db.driver()->handle();
        // The driver's handle is libpq's connection, whichever name its
        // type was declared under.
        const bool libpq = handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                                qstrcmp(handle.typeName(), "pg_conn*") == 0);
        PGconn* pg = libpq ? *static_cast<PGconn* const*>(handle.constData()) : nullptr;
        m_deadline->watch(pg ? PQsocket(pg) : -1);
        QSqlQuery settings(db);
        for (const QString& setting : fleet::storeSessionSettings(m_sql, fleet::StoreAccess::Write, m_limit)) {
            if (!exec(settings, setting)) {
                if (why) *why = errorText(settings.lastError()).toStdString();
                settings = QSqlQuery();
                db = QSqlDatabase();
                close();
                return false;
            }
        }
    }
    m_migrating = true;
    const bool migrated = migrate(error);
    m_migrating = false;
    if (!migrated) {
        if (m_deadline) m_deadline->watch(-1);
        db.close();
        return false;
    }
    m_open = true;
    return true;
}

bool SqlStore::migrate(SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto fail = [&](const QSqlQuery& failed) {
        if (why) *why = errorText(failed.lastError()).toStdString();
        rollback(db);
        return false;
    };
    // SQLite: take the write lock at once, so that a second collector on the
    // same new file waits here rather than fail on a table made meanwhile.
    const bool begun = m_sql.engine == SqlOptions::Sqlite ? exec(q, QStringLiteral("BEGIN IMMEDIATE")) : begin(db);
    if (!begun) {
        if (why) *why = errorText(m_sql.engine == SqlOptions::Sqlite ? q.lastError() : db.lastError()).toStdString();
        return false;
    }
    // Several collectors may start on one new PostgreSQL database at once:
    // one migrates, the others wait and find it done. (SQLite's write lock
    // does the same for a shared file.)
    if (m_sql.engine == SqlOptions::Postgres && (!exec(q, QStringLiteral("SET LOCAL statement_timeout = 0")) ||
                                             !exec(q, QStringLiteral("SELECT pg_advisory_xact_lock(7274201)"))))
        return fail(q);
    if (!exec(q, QString::fromLatin1(fleet::kCreateSchemaTable))) return fail(q);
    int version = 0;
    if (!exec(q, QString::fromLatin1(fleet::kSchemaVersionQuery))) return fail(q);
    if (q.next() && !q.value(0).isNull()) version = q.value(0).toInt();
    if (version > fleet::kSchemaVersion) {
        rollback(db);
        if (error) *error = {SinkError::SchemaNewer, fleet::newerSchemaText(version)};
        return false;
    }
    for (int v = version; v < fleet::kSchemaVersion; ++v) {
        for (const std::string& sql : fleet::schemaSteps()[std::size_t(v)])
            if (!exec(q, QString::fromStdString(sql))) return fail(q);
        prepare(q, QString::fromLatin1(fleet::kAddSchemaVersion));
        q.addBindValue(v + 1);
        if (!exec(q)) return fail(q);
    }
    if (!commit(db)) {
        if (why) *why = errorText(db.lastError()).toStdString();
        return false;
    }
    return true;
}

std::map<unsigned, journal::JournalCursor> SqlStore::journalCursors(const std::string& station)
{
    std::map<unsigned, journal::JournalCursor> out;
    if (!m_open) return out;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    prepare(q, QStringLiteral("SELECT device_number, keys, journal_end, gaps FROM cursors WHERE station = ?"));
    q.addBindValue(QString::fromStdString(station));
    if (!exec(q)) return out;
    while (q.next()) {
        bool ok = false;
        const int device = q.value(0).toInt(&ok);
        if (!ok || device <= 0) continue;
        journal::JournalCursor c;
        c.keys = journal::parseRecordKeys(q.value(1).toString().toStdString());
        const int end = q.value(2).toInt(&ok);
        if (ok && !q.value(2).isNull() && end >= 0 && end <= 0xFFFF && journal::inRing(uint16_t(end))) c.end = uint16_t(end);
        c.gaps = journal::parseGaps(q.value(3).toString().toStdString());
        out[unsigned(device)] = std::move(c);
    }
    return out;
}

bool SqlStore::saveCursor(const CallResult& c, SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    if (!c.cursor || !c.deviceNumber) return true;
    if (!m_open && !open(error)) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // A call replayed from the spool after a newer one moved the cursor
    // must not move it back.
    const QString at = c.started.toString(Qt::ISODateWithMs);
    prepare(q, QStringLiteral("INSERT INTO cursors (station, device_number, keys, updated_utc, journal_end, gaps) "
                              "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (station, device_number) DO UPDATE SET "
                              "keys = excluded.keys, updated_utc = excluded.updated_utc, "
                              "journal_end = excluded.journal_end, gaps = excluded.gaps "
                              "WHERE cursors.updated_utc IS NULL OR cursors.updated_utc <= excluded.updated_utc"));
    q.addBindValue(QString::fromStdString(c.station));
    q.addBindValue(int(c.deviceNumber));
    q.addBindValue(QString::fromStdString(journal::formatRecordKeys(c.cursor->keys)));
    q.addBindValue(at);
    q.addBindValue(c.cursor->end ? QVariant(int(*c.cursor->end)) : QVariant());
    q.addBindValue(QString::fromStdString(journal::formatGaps(c.cursor->gaps)));
    if (!exec(q)) {
        if (why) *why = errorText(q.lastError()).toStdString();
        m_open = false;
        if (m_deadline) m_deadline->watch(-1);
        db.close();
        return false;
    }
    return true;
}

bool SqlStore::write(const CallResult& c, SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    if (!m_open && !open(error)) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto fail = [&](const QString& error) {
        if (why) *why = error.toStdString();
        rollback(db);
        // The connection may be gone (a restarted server): open anew next time.
        m_open = false;
        if (m_deadline) m_deadline->watch(-1);
        db.close();
        return false;
    };
    if (!begin(db)) return fail(errorText(db.lastError()));
    prepare(q, QStringLiteral(
        "INSERT INTO calls (call_id, station, port, started_utc, seconds, attempt, outcome, why, device_number, "
        "p1, p2, tg, qi, vbat, clock_offset_s, device_time, clock_set, records_read, setpoint_differences, "
        "differing_registers, journal_cut_short, tx_ok, tx_failed, tx_timeouts, tx_crc_errors, tx_exceptions, tx_other, "
        "records_lost, on_battery, p2_max, p2_min, p1_max, p1_min, collector) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (call_id) DO NOTHING"));
    const QVariant none;
    q.addBindValue(c.callId);
    q.addBindValue(QString::fromStdString(c.station));
    q.addBindValue(QString::fromStdString(c.port));
    q.addBindValue(c.started.toString(Qt::ISODateWithMs));
    q.addBindValue(c.seconds);
    q.addBindValue(c.attempt);
    q.addBindValue(QString::fromLatin1(outcomeName(c.outcome)));
    q.addBindValue(c.why.empty() ? none : QVariant(QString::fromStdString(c.why)));
    q.addBindValue(c.deviceNumber ? QVariant(int(c.deviceNumber)) : none);
    for (float Measurements::*f : {&Measurements::p1, &Measurements::p2, &Measurements::tg, &Measurements::qi, &Measurements::vbat})
        q.addBindValue(c.measurements ? finiteOrNull((*c.measurements).*f) : none);
    q.addBindValue(c.clockOffsetS ? QVariant(qlonglong(*c.clockOffsetS)) : none);
    q.addBindValue(c.deviceTime.isEmpty() ? none : QVariant(c.deviceTime));
    q.addBindValue(int(c.clockSet));
    q.addBindValue(int(c.records.size()));
    q.addBindValue(c.hasProfile ? QVariant(int(c.setpointDifferences.size())) : none);
    QStringList regs;
    for (int r : c.setpointDifferences) regs << QString::number(r);
    q.addBindValue(c.hasProfile ? QVariant(regs.join(QLatin1Char(','))) : none);
    q.addBindValue(int(c.journalCutShort));
    q.addBindValue(c.transactionsOk);
    q.addBindValue(c.transactionsFailed);
    for (int n : {c.timeouts, c.crcErrors, c.exceptions, c.otherFailures}) q.addBindValue(n);
    q.addBindValue(c.recordsLost);
    q.addBindValue(c.onBattery ? QVariant(int(*c.onBattery)) : none);
    for (float CallResult::Limits::*f : {&CallResult::Limits::p2Max, &CallResult::Limits::p2Min, &CallResult::Limits::p1Max,
                                         &CallResult::Limits::p1Min})
        q.addBindValue(c.limits ? finiteOrNull((*c.limits).*f) : none);
    q.addBindValue(c.collector.empty() ? none : QVariant(QString::fromStdString(c.collector)));
    if (!exec(q)) return fail(errorText(q.lastError()));

    prepare(q, QStringLiteral("INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, "
                              "p1, p2, t, q, entries, text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                              "ON CONFLICT (station, device_number, start_address, stamp) DO NOTHING"));
    for (const journal::RecordData& r : c.records) {
        const QString at = stampIso(r.stamp);
        q.addBindValue(int(c.deviceNumber));
        q.addBindValue(int(r.key.start));
        q.addBindValue(stampKey(r.key));
        q.addBindValue(at.isEmpty() ? none : QVariant(at));
        q.addBindValue(QString::fromStdString(c.station));
        q.addBindValue(c.callId);
        for (float v : {r.p1, r.p2, r.t, r.q}) q.addBindValue(finiteOrNull(v));
        q.addBindValue(r.entries);
        q.addBindValue(QString::fromStdString(r.text));
        if (!exec(q)) return fail(errorText(q.lastError()));
    }

    QString findingsError;
    if (!writeFindings(c, &findingsError)) return fail(findingsError);
    if (c.nextDue && !moveSchedule(q, c)) return fail(errorText(q.lastError()));

    if (!commit(db)) return fail(errorText(db.lastError()));
    return true;
}

// In the call's own transaction: when the station is due next, and the
// claim its collector held on it let go. A call replayed from the spool after
// a newer one moved the schedule leaves it (and a claim taken since). A call
// made under a claim moves the schedule only while that claim is still the
// station's last: its collector may have been paused or cut off past the
// lease, and another have taken the station meanwhile; its rows are stored
// all the same. A call made without a claim (a round, a port's own station)
// leaves a station another collector holds a live claim on.
bool SqlStore::moveSchedule(QSqlQuery& q, const CallResult& c)
{
    const double at = double(c.started.toMSecsSinceEpoch()) / 1000.0;
    // A call stopped before it reached the device says nothing of it: the
    // failures in a row stand as they were.
    const int fails = c.ok() ? 0 : c.outcome == Outcome::Stopped ? -1 : 1;
    const QString ours = c.leaseToken ? QStringLiteral("fleet_stations.lease_token = ?")
                                      : QStringLiteral("fleet_stations.lease_holder = excluded.last_collector");
    const QString mayMove = c.leaseToken
                                ? QStringLiteral("fleet_stations.lease_token = ?")
                                : QStringLiteral("(fleet_stations.lease_holder IS NULL OR fleet_stations.lease_holder = "
                                                 "excluded.last_collector OR fleet_stations.lease_until IS NULL OR "
                                                 "fleet_stations.lease_until < ?)");
    prepare(q, QStringLiteral(
        "INSERT INTO fleet_stations (station, next_due, last_attempt, last_success, fails, last_outcome, last_why, "
        "last_collector) VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (station) DO UPDATE SET "
        "next_due = excluded.next_due, last_attempt = excluded.last_attempt, "
        "last_success = COALESCE(excluded.last_success, fleet_stations.last_success), "
        "fails = CASE excluded.fails WHEN 0 THEN 0 WHEN 1 THEN fleet_stations.fails + 1 ELSE fleet_stations.fails END, "
        "last_outcome = excluded.last_outcome, last_why = excluded.last_why, last_collector = excluded.last_collector, "
        "lease_until = CASE WHEN %1 THEN NULL ELSE fleet_stations.lease_until END, "
        "lease_holder = CASE WHEN %1 THEN NULL ELSE fleet_stations.lease_holder END "
        "WHERE (fleet_stations.last_attempt IS NULL OR fleet_stations.last_attempt <= excluded.last_attempt) AND %2")
                  .arg(ours, mayMove));
    const QVariant none;
    q.addBindValue(QString::fromStdString(c.station));
    q.addBindValue(double(c.nextDue->toMSecsSinceEpoch()) / 1000.0);
    q.addBindValue(at);
    q.addBindValue(c.ok() ? QVariant(at) : none);
    q.addBindValue(fails);
    q.addBindValue(QString::fromLatin1(outcomeName(c.outcome)));
    q.addBindValue(c.why.empty() ? none : QVariant(QString::fromStdString(c.why)));
    q.addBindValue(QString::fromStdString(c.collector));
    if (c.leaseToken) {
        for (int i = 0; i < 3; ++i) q.addBindValue(*c.leaseToken);
    } else {
        q.addBindValue(double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    }
    return exec(q);
}

// In the call's own transaction: the findings follow the call or neither is
// stored. A call replayed from the spool after a newer one judged the
// station leaves the findings as the newer one left them.
bool SqlStore::writeFindings(const CallResult& c, QString* error)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    const auto failed = [&] {
        *error = errorText(q.lastError());
        return false;
    };
    const QString station = QString::fromStdString(c.station);
    const QString at = c.started.toString(Qt::ISODateWithMs);
    prepare(q, QStringLiteral("SELECT COUNT(*) FROM findings WHERE station = ? AND (seen_utc > ? OR cleared_utc > ?)"));
    q.addBindValue(station);
    q.addBindValue(at);
    q.addBindValue(at);
    if (!exec(q)) return failed();
    if (q.next() && q.value(0).toLongLong() > 0) return true;
    std::set<std::string> open;
    for (const Finding& f : c.health.open) {
        open.insert(f.kind);
        const QString detail =
            QString::fromUtf8(QJsonDocument(findingValuesToJson(f.values)).toJson(QJsonDocument::Compact));
        // At most one open row of a kind: a finding already open is only
        // seen again.
        prepare(q, QStringLiteral("INSERT INTO findings (finding_id, station, kind, severity, since_utc, seen_utc, opened_call, "
                                  "text, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"));
        q.addBindValue(c.callId + QLatin1Char(':') + QString::fromStdString(f.kind));
        q.addBindValue(station);
        q.addBindValue(QString::fromStdString(f.kind));
        q.addBindValue(QString::fromStdString(f.severity));
        q.addBindValue(QString::fromStdString(f.since));
        q.addBindValue(at);
        q.addBindValue(c.callId);
        q.addBindValue(QString::fromStdString(f.text));
        q.addBindValue(detail);
        if (!exec(q)) return failed();
        prepare(q, QStringLiteral("UPDATE findings SET severity = ?, seen_utc = ?, text = ?, detail = ? "
                                  "WHERE station = ? AND kind = ? AND cleared_utc IS NULL"));
        q.addBindValue(QString::fromStdString(f.severity));
        q.addBindValue(at);
        q.addBindValue(QString::fromStdString(f.text));
        q.addBindValue(detail);
        q.addBindValue(station);
        q.addBindValue(QString::fromStdString(f.kind));
        if (!exec(q)) return failed();
    }
    for (const std::string& kind : c.health.judged) {
        if (open.count(kind)) continue;
        prepare(q, QStringLiteral("UPDATE findings SET cleared_utc = ?, cleared_call = ? "
                                  "WHERE station = ? AND kind = ? AND cleared_utc IS NULL"));
        q.addBindValue(at);
        q.addBindValue(c.callId);
        q.addBindValue(station);
        q.addBindValue(QString::fromStdString(kind));
        if (!exec(q)) return failed();
    }
    return true;
}

namespace {

Finding findingFromRow(const QSqlQuery& q, int first)
{
    Finding f;
    f.kind = q.value(first).toString().toStdString();
    f.severity = q.value(first + 1).toString().toStdString();
    f.since = q.value(first + 2).toString().toStdString();
    f.text = q.value(first + 3).toString().left(kWhyRead).toStdString();
    f.values = findingValuesFromJson(QJsonDocument::fromJson(q.value(first + 4).toString().toUtf8()).object());
    if (f.severity != kCritical) f.severity = kWarning;  // a word no program wrote is the milder one
    return f;
}

}  // namespace

std::optional<StationHistory> SqlStore::history(const std::string& station)
{
    if (!m_open) return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    const QString name = QString::fromStdString(station);
    StationHistory h;
    prepare(q, QStringLiteral("SELECT started_utc, outcome, vbat, clock_offset_s, clock_set, tx_ok, tx_failed, seconds, why "
                              "FROM calls WHERE station = ? AND started_utc >= ? ORDER BY started_utc DESC LIMIT 1000"));
    q.addBindValue(name);
    q.addBindValue(QDateTime::currentDateTimeUtc().addDays(-31).toString(Qt::ISODateWithMs));
    if (!exec(q)) return std::nullopt;
    while (q.next()) {
        PastCall p;
        p.started = QDateTime::fromString(q.value(0).toString(), Qt::ISODateWithMs);
        if (!p.started.isValid()) continue;
        p.ok = q.value(1).toString() == QLatin1String(kOkWord);
        bool ok = false;
        const double v = q.value(2).toDouble(&ok);
        if (ok && !q.value(2).isNull()) p.vbat = v;
        const qlonglong off = q.value(3).toLongLong(&ok);
        if (ok && !q.value(3).isNull()) p.clockOffsetS = off;
        p.clockSet = q.value(4).toInt() != 0;
        p.transactionsOk = std::clamp(q.value(5).toInt(), 0, 1'000'000);
        p.transactionsFailed = std::clamp(q.value(6).toInt(), 0, 1'000'000);
        const std::optional<Outcome> outcome = outcomeNamed(q.value(1).toString().toStdString());
        p.lineTaken = outcome && lineTaken(*outcome, q.value(8).toString().toStdString());
        h.calls.push_back(p);
    }
    prepare(q, QStringLiteral("SELECT started_utc, seconds FROM calls WHERE station = ? AND outcome = ? "
                              "ORDER BY started_utc DESC LIMIT 1"));
    q.addBindValue(name);
    q.addBindValue(QString::fromLatin1(kOkWord));
    if (!exec(q)) return std::nullopt;
    if (q.next()) {
        const QDateTime at = QDateTime::fromString(q.value(0).toString(), Qt::ISODateWithMs);
        const double seconds = q.value(1).toDouble();
        if (at.isValid()) h.lastSuccess = at.addMSecs(qint64(std::clamp(seconds, 0.0, 86400.0) * 1000));
    }
    prepare(q, QStringLiteral("SELECT kind, severity, since_utc, text, detail FROM findings "
                              "WHERE station = ? AND cleared_utc IS NULL ORDER BY kind"));
    q.addBindValue(name);
    if (!exec(q)) return std::nullopt;
    while (q.next()) h.open.push_back(findingFromRow(q, 0));
    return h;
}

}  // namespace zrv::collect
