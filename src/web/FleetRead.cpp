#include "FleetRead.h"

#include "fleet/Findings.h"
#include "fleet/FleetStatus.h"
#include "fleet/Health.h"
#include "fleet/Outcome.h"
#include "web/ChartSvg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace zrv::web {

using fleet::StoreConnection;
using fleet::StoreRow;

namespace {

std::string text(const std::optional<std::string>& v) { return v.value_or(std::string()); }
QString qtext(const std::optional<std::string>& v) { return QString::fromStdString(v.value_or(std::string())); }

// A number as JSON: null for nothing, and for what no device reports.
QJsonValue real(const std::optional<std::string>& v, bool (*plausible)(double) = nullptr)
{
    const double d = fleet::storeReal(v);
    if (!std::isfinite(d) || (plausible && !plausible(d))) return QJsonValue();
    return d;
}

// Stored times are text the store kept; only what reads as a time is one.
qint64 utcMs(const std::string& iso)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODateWithMs);
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

QString localText(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

QJsonValue isoFromSeconds(const std::optional<std::string>& v)
{
    const double s = fleet::storeReal(v);
    if (!std::isfinite(s) || s <= 0 || s > 1e11) return QJsonValue();
    return QDateTime::fromMSecsSinceEpoch(qint64(s * 1000), Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject findingJson(const StoreRow& row, std::size_t at)
{
    // kind, severity, since, text, detail
    QJsonObject f;
    const std::string kind = text(row[at]).substr(0, 64);
    f["kind"] = QString::fromStdString(kind);
    f["kindText"] = QString::fromStdString(fleet::kindText(kind));
    f["severity"] = text(row[at + 1]) == fleet::kCritical ? fleet::kCritical : fleet::kWarning;
    f["since"] = QString::fromStdString(text(row[at + 2]).substr(0, 64));
    f["text"] = qtext(row[at + 3]);
    const auto values = fleet::findingValuesFromJson(QJsonDocument::fromJson(QByteArray::fromStdString(text(row[at + 4]))).object());
    QJsonObject v;
    for (const auto& [name, value] : values)
        v[QString::fromStdString(name)] = std::isfinite(value) ? QJsonValue(value) : QJsonValue();
    f["values"] = v;
    return f;
}

// What to take or do about a finding, for the visit list.
QString advice(const QString& kind)
{
    if (kind == QLatin1String(fleet::kind::kBatteryLow) || kind == QLatin1String(fleet::kind::kBatteryFalling))
        return QStringLiteral("взять батарею на замену");
    if (kind == QLatin1String(fleet::kind::kOnBattery)) return QStringLiteral("проверить внешнее питание");
    if (kind == QLatin1String(fleet::kind::kClockOffset) || kind == QLatin1String(fleet::kind::kClockDrift))
        return QStringLiteral("установить часы прибора; при уходе проверить часы");
    if (kind == QLatin1String(fleet::kind::kPressureP1) || kind == QLatin1String(fleet::kind::kPressureP2))
        return QStringLiteral("проверить давление и пределы отсечки на месте");
    if (kind == QLatin1String(fleet::kind::kSetpoints)) return QStringLiteral("взять профиль уставок, записать уставки");
    if (kind == QLatin1String(fleet::kind::kLink)) return QStringLiteral("проверить линию связи и модем");
    if (kind == QLatin1String(fleet::kind::kOverdue)) return QStringLiteral("выяснить, почему станция не вызывается");
    return QStringLiteral("осмотреть станцию");
}

}  // namespace

QByteArray gzip(const QByteArray& data)
{
    z_stream z{};
    // 15 + 16: a window of 32 KiB, with gzip's header and trailer.
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int done = deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return done == Z_STREAM_END ? out : QByteArray();
}

QByteArray csvField(const QString& text)
{
    QString t = text;
    t.remove(QLatin1Char('\r'));
    if (!t.isEmpty() && QStringLiteral("=+-@\t").contains(t.front())) {
        // A number stays a number; anything else a spreadsheet would run.
        bool number = false;
        t.toDouble(&number);
        if (!number) t.prepend(QLatin1Char('\''));
    }
    if (t.contains(QLatin1Char(',')) || t.contains(QLatin1Char('"')) || t.contains(QLatin1Char('\n')) ||
        t.contains(QLatin1Char(';')))
        t = QLatin1Char('"') + t.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    return t.toUtf8();
}

std::optional<std::string> readGeneration(StoreConnection& db, bool postgres, std::string* why, bool* busy)
{
    std::string g;
    const auto add = [&](const StoreRow& r) {
        for (const auto& c : r) g += text(c) + '/';
    };
    if (!postgres) {
        if (!db.select("SELECT MAX(rowid) FROM calls", {}, add, why, busy)) return std::nullopt;
        return g;
    }
    // The statistics follow a commit within a second or so; the schedules
    // move in the call's own transaction (not every call moves one).
    if (!db.select("SELECT n_tup_ins, n_tup_upd FROM pg_stat_user_tables WHERE relname = 'calls' AND schemaname = current_schema()",
                   {}, add, why, busy))
        return std::nullopt;
    const std::optional<bool> shared = db.hasTable("fleet_stations", why, busy);
    if (!shared) return std::nullopt;
    if (*shared && !db.select("SELECT COUNT(*), MAX(last_attempt), SUM(fails) FROM fleet_stations", {}, add, why, busy))
        return std::nullopt;
    return g;
}

std::optional<FleetSnapshot> readFleet(StoreConnection& db, const fleet::Roster* roster, const QDateTime& now,
                                       std::string* why, bool* busy)
{
    const std::optional<long long> version = fleet::storeSchemaVersion(db, why, busy);
    if (!version) return std::nullopt;
    FleetSnapshot snap;
    snap.remark = fleet::newerStoreRemark(*version);

    struct Row {
        QJsonObject o;
        QJsonArray findings;
        std::string lastSuccess;
        std::optional<double> nextDue, every, success;
        bool known = false;
    };
    std::map<std::string, Row> rows;
    if (roster)
        for (const fleet::Station& s : roster->stations) {
            Row& r = rows[s.name];
            r.known = true;
            r.o["line"] = QString::fromStdString(s.port);
            if (s.everyS > 0) r.every = s.everyS;
        }
    const auto row = [&](const std::string& name) -> Row* {
        const auto it = rows.find(name);
        if (it != rows.end()) return &it->second;
        if (roster) return nullptr;
        return &rows[name];
    };

    const std::string collector = *version >= 4 ? "c.collector" : "NULL";
    // Each station's newest call by probes of the calls' own index: the
    // stations one after another (each the least name past the one before),
    // then each one's newest start, rather than by grouping every call the
    // store ever kept. SQLite and PostgreSQL both take it.
    const std::string query =
        "WITH RECURSIVE s(station) AS (SELECT MIN(station) FROM calls UNION ALL "
        "SELECT (SELECT MIN(m.station) FROM calls m WHERE m.station > s.station) FROM s WHERE s.station IS NOT NULL), "
        "n(station, newest) AS (SELECT s.station, (SELECT MAX(m.started_utc) FROM calls m WHERE m.station = s.station) "
        "FROM s WHERE s.station IS NOT NULL) "
        "SELECT c.station, c.started_utc, c.attempt, c.outcome, substr(c.why, 1, 4096), c.port, c.vbat, c.clock_offset_s, "
        "c.p1, c.p2, c.setpoint_differences, " + collector +
        " FROM n JOIN calls c ON c.station = n.station AND c.started_utc = n.newest";
    std::map<std::string, long long> attempts;
    if (!db.select(
            query, {},
            [&](const StoreRow& c) {
                const std::string name = text(c[0]);
                Row* r = row(name);
                if (!r) return;
                // A retried call shares no start with its first; two rows of
                // one start keep the later attempt.
                const long long attempt = fleet::storeInteger(c[2]).value_or(1);
                auto [at, fresh] = attempts.try_emplace(name, attempt);
                if (!fresh && attempt <= at->second) return;
                at->second = attempt;
                QJsonObject last;
                last["started"] = qtext(c[1]);
                last["outcome"] = qtext(c[3]);
                last["outcomeText"] = QString::fromStdString(fleet::outcomeWords(text(c[3])));
                last["why"] = qtext(c[4]);
                last["attempt"] = attempt;
                last["collector"] = c[11] ? QJsonValue(qtext(c[11])) : QJsonValue();
                r->o["last"] = last;
                if (!r->o.contains("line")) r->o["line"] = qtext(c[5]);
                r->o["vbat"] = real(c[6], fleet::plausibleVolts);
                const auto off = fleet::storeInteger(c[7]);
                r->o["clockOffsetS"] = off && fleet::plausibleOffset(*off) ? QJsonValue(double(*off)) : QJsonValue();
                r->o["p1"] = real(c[8], fleet::plausiblePressure);
                r->o["p2"] = real(c[9], fleet::plausiblePressure);
                const auto diff = fleet::storeInteger(c[10]);
                r->o["setpointDifferences"] = diff && *diff >= 0 && *diff < 100000 ? QJsonValue(double(*diff)) : QJsonValue();
            },
            why, busy))
        return std::nullopt;

    // Each station's last success, for "overdue": the schedule keeps it; a
    // store from before the schedules is asked its calls.
    if (*version < 4 && !db.select("SELECT station, MAX(started_utc) FROM calls WHERE outcome = 'ok' GROUP BY station", {},
                                   [&](const StoreRow& c) {
                                       if (Row* r = row(text(c[0]))) r->success = double(utcMs(text(c[1]))) / 1000.0;
                                   },
                                   why, busy))
        return std::nullopt;

    QJsonArray visits;
    QByteArray csv = "station,severity,kind,since,text,values,todo\n";
    std::vector<std::pair<QJsonObject, std::string>> visitRows;
    if (*version >= 3 &&
        !db.select("SELECT station, kind, severity, since_utc, substr(text, 1, 4096), substr(detail, 1, 4096) "
                   "FROM findings WHERE cleared_utc IS NULL ORDER BY station, kind",
                   {},
                   [&](const StoreRow& f) {
                       Row* r = row(text(f[0]));
                       if (!r || r->findings.size() >= 64) return;  // a damaged store's flood
                       const QJsonObject finding = findingJson(f, 1);
                       r->findings.append(finding);
                       QJsonObject v = finding;
                       v["station"] = qtext(f[0]);
                       v["todo"] = advice(finding["kind"].toString());
                       visitRows.emplace_back(v, text(f[0]));
                   },
                   why, busy))
        return std::nullopt;

    QJsonArray collectors;
    if (*version >= 4) {
        const double nowS = double(now.toMSecsSinceEpoch()) / 1000.0;
        if (!db.select("SELECT station, next_due, every_s, last_success FROM fleet_stations", {},
                       [&](const StoreRow& s) {
                           Row* r = row(text(s[0]));
                           if (!r) return;
                           const double next = fleet::storeReal(s[1]);
                           if (std::isfinite(next)) r->nextDue = next;
                           const double every = fleet::storeReal(s[2]);
                           if (std::isfinite(every) && every > 0) r->every = every;
                           const double success = fleet::storeReal(s[3]);
                           if (std::isfinite(success) && success > 0) r->success = success;
                       },
                       why, busy))
            return std::nullopt;
        if (!db.select("SELECT collector, host, heartbeat, stopped, lease_s FROM fleet_collectors ORDER BY collector", {},
                       [&](const StoreRow& c) {
                           QJsonObject o;
                           o["name"] = qtext(c[0]);
                           o["host"] = qtext(c[1]);
                           o["heartbeat"] = isoFromSeconds(c[2]);
                           const double beat = fleet::storeReal(c[2]);
                           const double lease = std::clamp(std::isfinite(fleet::storeReal(c[4])) ? fleet::storeReal(c[4])
                                                                                             : double(roster ? roster->leaseS : 120),
                                                           1.0, 86400.0);
                           if (c[3]) o["state"] = QStringLiteral("остановлен");
                           else if (std::isfinite(beat) && beat >= nowS - lease) o["state"] = QStringLiteral("на связи");
                           else o["state"] = QStringLiteral("не отвечает");
                           collectors.append(o);
                       },
                       why, busy))
            return std::nullopt;
    }

    const double nowS = double(now.toMSecsSinceEpoch()) / 1000.0;
    QJsonArray stations;
    for (auto& [name, r] : rows) {
        r.o["name"] = QString::fromStdString(name);
        r.o["findings"] = r.findings;
        if (!r.nextDue && r.every && r.success) r.nextDue = *r.success + *r.every;
        r.o["nextDue"] = r.nextDue ? QJsonValue(QDateTime::fromMSecsSinceEpoch(qint64(*r.nextDue * 1000), Qt::UTC)
                                                    .toString(Qt::ISODateWithMs))
                                   : QJsonValue();
        // No success for longer than two periods, as `zrvcollect status` says.
        const double lastTry = r.o["last"].toObject()["started"].isString()
                                   ? double(utcMs(r.o["last"].toObject()["started"].toString().toStdString())) / 1000.0
                                   : 0;
        r.o["overdue"] = r.every && ((r.success && nowS - *r.success > 2 * *r.every) ||
                                     (!r.success && lastTry > 0 && nowS - lastTry > 2 * *r.every));
        snap.stations.insert(name);
        stations.append(r.o);
    }
    // Critical first, then the oldest first.
    std::stable_sort(visitRows.begin(), visitRows.end(), [](const auto& a, const auto& b) {
        const bool ca = a.first["severity"].toString() == QLatin1String(fleet::kCritical);
        const bool cb = b.first["severity"].toString() == QLatin1String(fleet::kCritical);
        if (ca != cb) return ca;
        return a.first["since"].toString() < b.first["since"].toString();
    });
    for (const auto& [v, station] : visitRows) {
        visits.append(v);
        QStringList values;
        const QJsonObject vals = v["values"].toObject();
        for (auto it = vals.begin(); it != vals.end(); ++it)
            values << it.key() + QLatin1Char('=') + (it.value().isDouble() ? QString::number(it.value().toDouble()) : QString());
        csv += csvField(QString::fromStdString(station)) + ',' + csvField(v["severity"].toString()) + ',' +
               csvField(v["kind"].toString()) + ',' + csvField(v["since"].toString()) + ',' + csvField(v["text"].toString()) +
               ',' + csvField(values.join(QLatin1Char(' '))) + ',' + csvField(v["todo"].toString()) + '\n';
    }
    QJsonObject fleetDoc{{"stations", stations}, {"collectors", collectors}, {"readAt", now.toUTC().toString(Qt::ISODateWithMs)}};
    if (!snap.remark.empty()) fleetDoc["remark"] = QString::fromStdString(snap.remark);
    snap.fleetJson = QJsonDocument(fleetDoc).toJson(QJsonDocument::Compact);
    snap.visitsJson = QJsonDocument(QJsonObject{{"visits", visits}, {"readAt", now.toUTC().toString(Qt::ISODateWithMs)}})
                          .toJson(QJsonDocument::Compact);
    snap.visitsCsv = csv;
    return snap;
}

std::optional<QByteArray> readStation(StoreConnection& db, const std::string& station, int days, const RangeLimits& limits,
                                      std::string* why)
{
    const std::optional<long long> version = fleet::storeSchemaVersion(db, why);
    if (!version) return std::nullopt;
    const QDateTime from = QDateTime::currentDateTimeUtc().addDays(-days);
    QJsonArray calls;
    const std::string extra = *version >= 4 ? "collector" : "NULL";
    std::string differing;
    bool haveDiffering = false;
    if (!db.select("SELECT started_utc, attempt, outcome, substr(why, 1, 4096), seconds, vbat, clock_offset_s, p1, p2, "
                   "records_read, setpoint_differences, substr(differing_registers, 1, 4096), " + extra +
                       " FROM calls WHERE station = ? AND started_utc >= ? ORDER BY started_utc DESC LIMIT " +
                       std::to_string(limits.maxCalls),
                   {station, from.toString(Qt::ISODateWithMs).toStdString()},
                   [&](const StoreRow& c) {
                       QJsonObject o;
                       o["started"] = qtext(c[0]);
                       o["attempt"] = double(fleet::storeInteger(c[1]).value_or(1));
                       o["outcome"] = qtext(c[2]);
                       o["outcomeText"] = QString::fromStdString(fleet::outcomeWords(text(c[2])));
                       o["why"] = qtext(c[3]);
                       o["seconds"] = real(c[4]);
                       o["vbat"] = real(c[5], fleet::plausibleVolts);
                       const auto off = fleet::storeInteger(c[6]);
                       o["clockOffsetS"] = off && fleet::plausibleOffset(*off) ? QJsonValue(double(*off)) : QJsonValue();
                       o["p1"] = real(c[7], fleet::plausiblePressure);
                       o["p2"] = real(c[8], fleet::plausiblePressure);
                       o["recordsRead"] = double(fleet::storeInteger(c[9]).value_or(0));
                       o["setpointDifferences"] = real(c[10]);
                       o["collector"] = c[12] ? QJsonValue(qtext(c[12])) : QJsonValue();
                       // The newest call that compared the setpoints says
                       // how they differ now.
                       if (!haveDiffering && c[10]) {
                           haveDiffering = true;
                           differing = text(c[11]);
                       }
                       calls.append(o);
                   },
                   why))
        return std::nullopt;
    QJsonArray registers;
    for (const QString& r : QString::fromStdString(differing).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = r.trimmed().toInt(&ok);
        if (ok && n >= 0 && n <= 0xFFFF && registers.size() < 1000) registers.append(n);
    }
    QJsonArray findings;
    if (*version >= 3 &&
        !db.select("SELECT kind, severity, since_utc, substr(text, 1, 4096), substr(detail, 1, 4096), seen_utc, cleared_utc "
                   "FROM findings WHERE station = ? ORDER BY since_utc DESC LIMIT 500",
                   {station},
                   [&](const StoreRow& f) {
                       QJsonObject o = findingJson(f, 0);
                       o["seen"] = qtext(f[5]);
                       o["cleared"] = f[6] ? QJsonValue(qtext(f[6])) : QJsonValue();
                       findings.append(o);
                   },
                   why))
        return std::nullopt;
    QJsonObject doc{{"name", QString::fromStdString(station)},
                    {"days", days},
                    {"calls", calls},
                    {"callsCut", calls.size() >= limits.maxCalls},
                    {"setpointsCompared", haveDiffering},
                    {"differingRegisters", registers},
                    {"findings", findings}};
    return QJsonDocument(doc).toJson(QJsonDocument::Compact);
}

std::optional<QByteArray> readJournal(StoreConnection& db, const std::string& station, const QDateTime& from,
                                      const QDateTime& to, int rows, TableFormat format, std::string* why)
{
    QJsonArray records;
    QByteArray csv = "recorded_at,p1,p2,t,q,entries,text\n";
    int n = 0;
    bool more = false;
    // One row past the bound says whether there were more.
    if (!db.select("SELECT recorded_at, p1, p2, t, q, entries, substr(text, 1, 8192) FROM journal "
                   "WHERE station = ? AND recorded_at >= ? AND recorded_at < ? ORDER BY recorded_at LIMIT " +
                       std::to_string(rows + 1),
                   {station, localText(from).toStdString(), localText(to).toStdString()},
                   [&](const StoreRow& r) {
                       if (n++ >= rows) {
                           more = true;
                           return;
                       }
                       if (format == TableFormat::Csv) {
                           csv += csvField(qtext(r[0]));
                           for (std::size_t i = 1; i <= 5; ++i) csv += ',' + csvField(qtext(r[i]));
                           csv += ',' + csvField(qtext(r[6])) + '\n';
                           return;
                       }
                       QJsonObject o;
                       o["at"] = qtext(r[0]);
                       o["p1"] = real(r[1]);
                       o["p2"] = real(r[2]);
                       o["t"] = real(r[3]);
                       o["q"] = real(r[4]);
                       o["entries"] = real(r[5]);
                       o["text"] = qtext(r[6]);
                       records.append(o);
                   },
                   why))
        return std::nullopt;
    if (format == TableFormat::Csv) return csv;
    return QJsonDocument(QJsonObject{{"records", records}, {"more", more}}).toJson(QJsonDocument::Compact);
}

std::optional<QByteArray> readChart(StoreConnection& db, const std::string& station, const std::string& series, int days,
                                    const QDateTime& now, std::string* why)
{
    const std::optional<long long> version = fleet::storeSchemaVersion(db, why);
    if (!version) return std::nullopt;
    Chart chart;
    chart.toMs = now.toMSecsSinceEpoch();
    chart.fromMs = now.addDays(-days).toMSecsSinceEpoch();
    const QDateTime from = now.addDays(-days);
    const std::string fromUtc = from.toUTC().toString(Qt::ISODateWithMs).toStdString();
    const auto plausibleOrNaN = [](double v, bool (*ok)(double)) { return ok(v) ? v : std::nan(""); };
    if (series == "pressure") {
        chart.title = QStringLiteral("Давления P1 и P2 по журналу");
        chart.unit = QStringLiteral("кгс/см²");
        // Buckets of ten minutes for a week, of an hour beyond: about a
        // thousand or two a span, each keeping its least and greatest.
        const int key = days <= 7 ? 15 : 13;
        const std::string p = "CASE WHEN %1 > -1 AND %1 < 1000 THEN %1 END";
        const auto plausible = [&](const char* column) {
            std::string s = p;
            for (std::size_t at; (at = s.find("%1")) != std::string::npos;) s.replace(at, 2, column);
            return s;
        };
        ChartSeries p1{QStringLiteral("P1"), QStringLiteral("#1f5fbf"), false, false, false, {}};
        ChartSeries p2{QStringLiteral("P2"), QStringLiteral("#c0392b"), false, false, false, {}};
        if (!db.select("SELECT MIN(recorded_at), MIN(" + plausible("p1") + "), MAX(" + plausible("p1") + "), MIN(" +
                           plausible("p2") + "), MAX(" + plausible("p2") + ") FROM journal WHERE station = ? AND recorded_at >= ? "
                           "GROUP BY substr(recorded_at, 1, " + std::to_string(key) + ") ORDER BY 1",
                       {station, localText(from).toStdString()},
                       [&](const StoreRow& r) {
                           const auto at = fleet::recordedAtMs(text(r[0]));
                           if (!at) return;
                           p1.points.push_back({*at, fleet::storeReal(r[1]), fleet::storeReal(r[2])});
                           p2.points.push_back({*at, fleet::storeReal(r[3]), fleet::storeReal(r[4])});
                       },
                       why))
            return std::nullopt;
        chart.series.push_back(std::move(p1));
        chart.series.push_back(std::move(p2));
        if (*version >= 3) {
            ChartSeries limits[4] = {{QStringLiteral("P1 max"), QStringLiteral("#1f5fbf"), true, true, false, {}},
                                     {QStringLiteral("P1 min"), QStringLiteral("#6f9fdf"), true, true, false, {}},
                                     {QStringLiteral("P2 max"), QStringLiteral("#c0392b"), true, true, false, {}},
                                     {QStringLiteral("P2 min"), QStringLiteral("#e08070"), true, true, false, {}}};
            if (!db.select("SELECT started_utc, p1_max, p1_min, p2_max, p2_min FROM calls WHERE station = ? AND started_utc >= ? "
                           "ORDER BY started_utc LIMIT 20000",
                           {station, fromUtc},
                           [&](const StoreRow& r) {
                               const qint64 at = utcMs(text(r[0]));
                               if (!at) return;
                               for (int i = 0; i < 4; ++i) {
                                   const double v = plausibleOrNaN(fleet::storeReal(r[std::size_t(i + 1)]), fleet::plausiblePressure);
                                   // A call that read no limits leaves the
                                   // line as it was.
                                   if (std::isfinite(v)) limits[i].points.push_back({at, v, v});
                               }
                           },
                           why))
                return std::nullopt;
            for (ChartSeries& s : limits) {
                if (s.points.empty()) continue;
                // A device keeps its limits until they are set again: the
                // first reading of the span stands for the time before it.
                s.points.insert(s.points.begin(), {chart.fromMs, s.points.front().lo, s.points.front().hi});
                chart.series.push_back(std::move(s));
            }
        }
    } else if (series == "battery" || series == "clock") {
        const bool battery = series == "battery";
        chart.title = battery ? QStringLiteral("Напряжение батареи") : QStringLiteral("Уход часов прибора");
        chart.unit = battery ? QStringLiteral("В") : QStringLiteral("с");
        ChartSeries s{battery ? QStringLiteral("Vбат") : QStringLiteral("часы"), battery ? QStringLiteral("#2e8b57")
                                                                                       : QStringLiteral("#8e44ad"),
                      false, false, true, {}};
        if (!db.select(std::string("SELECT started_utc, ") + (battery ? "vbat" : "clock_offset_s") +
                           " FROM calls WHERE station = ? AND started_utc >= ? ORDER BY started_utc LIMIT 20000",
                       {station, fromUtc},
                       [&](const StoreRow& r) {
                           const qint64 at = utcMs(text(r[0]));
                           if (!at) return;
                           double v = fleet::storeReal(r[1]);
                           if (battery) v = plausibleOrNaN(v, fleet::plausibleVolts);
                           else if (!std::isfinite(v) || !fleet::plausibleOffset((long long)v)) v = std::nan("");
                           // A call without the value draws no point, and no gap.
                           if (std::isfinite(v)) s.points.push_back({at, v, v});
                       },
                       why))
            return std::nullopt;
        chart.series.push_back(std::move(s));
    } else {
        if (why) *why = "нет такого графика";
        return std::nullopt;
    }
    return chartSvg(chart);
}

}  // namespace zrv::web
