#include "Store.h"

#include "collect/CallJson.h"
#include "collect/MqttSink.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>

namespace zrv::collect {

std::optional<StoreUrl> parseStoreUrl(const QString& text, std::string* why)
{
    const auto fail = [why](const std::string& w) -> std::optional<StoreUrl> {
        if (why) *why = w;
        return std::nullopt;
    };
    StoreUrl u;
    u.text = text;
    if (text.startsWith(QLatin1String("sqlite:"))) {
        u.kind = StoreUrl::Sqlite;
        u.path = text.mid(7);
        if (u.path.isEmpty()) return fail("sqlite: нужен путь к файлу базы");
        return u;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) return fail("неверный адрес хранилища \"" + text.toStdString() + "\"");
    if (url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres")) {
        u.kind = StoreUrl::Postgres;
        u.host = url.host();
        u.port = url.port(5432);
        u.user = url.userName();
        u.password = url.password();
        u.database = url.path().mid(1);
        const QUrlQuery q(url);
        if (q.hasQueryItem(QStringLiteral("host"))) u.host = q.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
        if (u.database.isEmpty()) return fail("postgresql: нужно имя базы (postgresql://ПОЛЬЗОВАТЕЛЬ@УЗЕЛ:ПОРТ/БАЗА)");
        return u;
    }
    if (url.scheme() == QLatin1String("mqtt")) {
        u.kind = StoreUrl::Mqtt;
        u.host = url.host();
        u.port = url.port(1883);
        u.prefix = url.path().mid(1);
        if (u.prefix.isEmpty()) u.prefix = QStringLiteral("zrv");
        if (u.host.isEmpty()) return fail("mqtt: нужен узел (mqtt://УЗЕЛ:ПОРТ/ПРЕФИКС)");
        return u;
    }
    return fail("хранилище \"" + text.toStdString() + "\" не sqlite:, postgresql:// и не mqtt://");
}

SqlStore::SqlStore(StoreUrl url)
    : m_url(std::move(url)), m_connection(QStringLiteral("zrvcollect-") + QUuid::createUuid().toString(QUuid::Id128))
{
}

SqlStore::~SqlStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool SqlStore::open(std::string* why)
{
    if (m_open) return true;
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(m_url.kind == StoreUrl::Sqlite ? QStringLiteral("QSQLITE")
                                                                                     : QStringLiteral("QPSQL"),
                                                      m_connection);
    if (!db.isValid()) {
        if (why) *why = "драйвер базы данных не установлен";
        return false;
    }
    if (m_url.kind == StoreUrl::Sqlite) {
        const QString folder = QFileInfo(m_url.path).absolutePath();
        if (!QDir().mkpath(folder)) {
            if (why) *why = "не удалось создать папку " + folder.toStdString();
            return false;
        }
        db.setDatabaseName(m_url.path);
        // Several collectors may share one file: wait for the other's write.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(m_url.host);
        if (m_url.port) db.setPort(m_url.port);
        db.setUserName(m_url.user);
        db.setPassword(m_url.password);
        db.setDatabaseName(m_url.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    }
    if (!db.open()) {
        if (why) *why = db.lastError().text().toStdString();
        return false;
    }
    if (!migrate(why)) {
        db.close();
        return false;
    }
    m_open = true;
    return true;
}

bool SqlStore::migrate(std::string* why)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto fail = [&](const QSqlQuery& failed) {
        if (why) *why = failed.lastError().text().toStdString();
        db.rollback();
        return false;
    };
    // SQLite: take the write lock at once, so that a second collector on the
    // same new file waits here rather than fail on a table made meanwhile.
    const bool begun = m_url.kind == StoreUrl::Sqlite ? q.exec(QStringLiteral("BEGIN IMMEDIATE")) : db.transaction();
    if (!begun) {
        if (why) *why = (m_url.kind == StoreUrl::Sqlite ? q.lastError() : db.lastError()).text().toStdString();
        return false;
    }
    // Several collectors may start on one new PostgreSQL database at once:
    // one migrates, the others wait and find it done. (SQLite's write lock
    // does the same for a shared file.)
    if (m_url.kind == StoreUrl::Postgres && !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7274201)")))
        return fail(q);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS zrv_schema (version INTEGER NOT NULL)"))) return fail(q);
    int version = 0;
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM zrv_schema"))) return fail(q);
    if (q.next() && !q.value(0).isNull()) version = q.value(0).toInt();
    if (version > kSchemaVersion) {
        db.rollback();
        if (why) *why = "схема базы версии " + std::to_string(version) + " новее этой программы (" +
                        std::to_string(kSchemaVersion) + ")";
        return false;
    }
    // Each step brings the schema from version i to i + 1.
    const std::vector<std::vector<QString>> steps = {
        {
            QStringLiteral("CREATE TABLE calls (call_id TEXT PRIMARY KEY, station TEXT NOT NULL, port TEXT, "
                           "started_utc TEXT NOT NULL, seconds DOUBLE PRECISION, attempt INTEGER, outcome TEXT NOT NULL, "
                           "why TEXT, device_number INTEGER, p1 DOUBLE PRECISION, p2 DOUBLE PRECISION, "
                           "tg DOUBLE PRECISION, qi DOUBLE PRECISION, vbat DOUBLE PRECISION, clock_offset_s BIGINT, "
                           "device_time TEXT, clock_set INTEGER, records_read INTEGER, setpoint_differences INTEGER, "
                           "differing_registers TEXT, journal_cut_short INTEGER, tx_ok INTEGER, tx_failed INTEGER, "
                           "tx_timeouts INTEGER, tx_crc_errors INTEGER, tx_exceptions INTEGER, tx_other INTEGER)"),
            QStringLiteral("CREATE INDEX calls_station ON calls (station, started_utc)"),
            QStringLiteral("CREATE TABLE journal (device_number INTEGER NOT NULL, start_address INTEGER NOT NULL, "
                           "stamp TEXT NOT NULL, recorded_at TEXT, station TEXT, call_id TEXT, p1 DOUBLE PRECISION, "
                           "p2 DOUBLE PRECISION, t DOUBLE PRECISION, q DOUBLE PRECISION, entries INTEGER, text TEXT, "
                           "PRIMARY KEY (device_number, start_address, stamp))"),
            QStringLiteral("CREATE TABLE cursors (station TEXT NOT NULL, device_number INTEGER NOT NULL, "
                           "keys TEXT NOT NULL, updated_utc TEXT, PRIMARY KEY (station, device_number))"),
        },
    };
    for (int v = version; v < kSchemaVersion; ++v) {
        for (const QString& sql : steps[std::size_t(v)])
            if (!q.exec(sql)) return fail(q);
        q.prepare(QStringLiteral("INSERT INTO zrv_schema (version) VALUES (?)"));
        q.addBindValue(v + 1);
        if (!q.exec()) return fail(q);
    }
    if (!db.commit()) {
        if (why) *why = db.lastError().text().toStdString();
        return false;
    }
    return true;
}

journal::RecordKeys SqlStore::knownRecords(const std::string& station, unsigned deviceNumber)
{
    if (!m_open) return {};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT keys FROM cursors WHERE station = ? AND device_number = ?"));
    q.addBindValue(QString::fromStdString(station));
    q.addBindValue(int(deviceNumber));
    if (!q.exec() || !q.next()) return {};
    return journal::parseRecordKeys(q.value(0).toString().toStdString());
}

bool SqlStore::write(const CallResult& c, std::string* why)
{
    if (!m_open && !open(why)) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto fail = [&](const QString& error) {
        if (why) *why = error.toStdString();
        db.rollback();
        // The connection may be gone (a restarted server): open anew next time.
        m_open = false;
        db.close();
        return false;
    };
    if (!db.transaction()) return fail(db.lastError().text());
    q.prepare(QStringLiteral(
        "INSERT INTO calls (call_id, station, port, started_utc, seconds, attempt, outcome, why, device_number, "
        "p1, p2, tg, qi, vbat, clock_offset_s, device_time, clock_set, records_read, setpoint_differences, "
        "differing_registers, journal_cut_short, tx_ok, tx_failed, tx_timeouts, tx_crc_errors, tx_exceptions, tx_other) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
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
        q.addBindValue(c.measurements ? QVariant(double((*c.measurements).*f)) : none);
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
    if (!q.exec()) return fail(q.lastError().text());

    q.prepare(QStringLiteral("INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, "
                             "p1, p2, t, q, entries, text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                             "ON CONFLICT (device_number, start_address, stamp) DO NOTHING"));
    for (const journal::RecordData& r : c.records) {
        const QString at = stampIso(r.stamp);
        q.addBindValue(int(c.deviceNumber));
        q.addBindValue(int(r.key.start));
        q.addBindValue(stampKey(r.key));
        q.addBindValue(at.isEmpty() ? none : QVariant(at));
        q.addBindValue(QString::fromStdString(c.station));
        q.addBindValue(c.callId);
        q.addBindValue(double(r.p1));
        q.addBindValue(double(r.p2));
        q.addBindValue(double(r.t));
        q.addBindValue(double(r.q));
        q.addBindValue(r.entries);
        q.addBindValue(QString::fromStdString(r.text));
        if (!q.exec()) return fail(q.lastError().text());
    }

    // The cursor: this call's records before those already known, so the
    // next call stops at the newest one held.
    if (!c.records.empty() && c.deviceNumber) {
        journal::RecordKeys fresh;
        for (const journal::RecordData& r : c.records) fresh.push_back(r.key);
        QSqlQuery k(db);
        k.prepare(QStringLiteral("SELECT keys, updated_utc FROM cursors WHERE station = ? AND device_number = ?"));
        k.addBindValue(QString::fromStdString(c.station));
        k.addBindValue(int(c.deviceNumber));
        if (!k.exec()) return fail(k.lastError().text());
        journal::RecordKeys older;
        QString olderAt;
        if (k.next()) {
            older = journal::parseRecordKeys(k.value(0).toString().toStdString());
            olderAt = k.value(1).toString();
        }
        // A call replayed from the spool after a newer one was stored must
        // not move the cursor back: the later call's records stay first.
        const QString at = c.started.toString(Qt::ISODateWithMs);
        const bool replayedLate = !olderAt.isEmpty() && olderAt > at;
        const journal::RecordKeys merged = replayedLate ? journal::mergeRecordKeys(older, fresh, journal::kKeysKept)
                                                        : journal::mergeRecordKeys(fresh, older, journal::kKeysKept);
        q.prepare(QStringLiteral("INSERT INTO cursors (station, device_number, keys, updated_utc) VALUES (?, ?, ?, ?) "
                                 "ON CONFLICT (station, device_number) DO UPDATE SET keys = excluded.keys, "
                                 "updated_utc = excluded.updated_utc"));
        q.addBindValue(QString::fromStdString(c.station));
        q.addBindValue(int(c.deviceNumber));
        q.addBindValue(QString::fromStdString(journal::formatRecordKeys(merged)));
        q.addBindValue(replayedLate ? olderAt : at);
        if (!q.exec()) return fail(q.lastError().text());
    }
    if (!db.commit()) return fail(db.lastError().text());
    return true;
}

std::unique_ptr<Sink> makeSink(const StoreUrl& url)
{
    if (url.kind == StoreUrl::Mqtt) return std::make_unique<MqttSink>(url);
    return std::make_unique<SqlStore>(url);
}

}  // namespace zrv::collect
