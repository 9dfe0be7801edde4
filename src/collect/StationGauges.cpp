#include "StationGauges.h"

#include "collect/Metrics.h"
#include "fleet/StoreReader.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <tuple>

namespace zrv::collect {

namespace {

using fleet::StoreRow;

std::string cell(const StoreRow& r, std::size_t i) { return i < r.size() && r[i] ? r[i]->substr(0, 256) : std::string(); }

QByteArray stationLabel(const std::string& station, const QByteArray& more = {})
{
    return "{station=\"" + labelValue(QString::fromStdString(station)).toUtf8() + '"' + more + '}';
}

struct Gauges {
    bool up = false;
    double lastSuccess = std::nan(""), volts = std::nan(""), offset = std::nan(""), every = std::nan("");
    std::map<std::pair<std::string, std::string>, int> findings;  // kind, severity
};

// The newest row of each station among those `where` keeps, through the
// collector's index on (station, started_utc).
std::string newest(const std::string& columns, const std::string& where)
{
    return "SELECT c.station, " + columns + " FROM calls c JOIN (SELECT station, MAX(started_utc) AS newest FROM calls" +
           (where.empty() ? "" : " WHERE " + where) +
           " GROUP BY station) n ON c.station = n.station AND c.started_utc = n.newest";
}

}  // namespace

int printStationMetrics(const ReportOptions& o, const std::map<std::string, int>& everyS, FILE* out, FILE* err)
{
    const auto unreadable = [&](const std::string& why) {
        std::fprintf(err, "zrvcollect metrics: %s\n", why.c_str());
        return 3;
    };
    std::string why;
    auto db = fleet::openStoreForReading(o.source, &why);
    if (!db) return unreadable(why);
    std::map<std::string, Gauges> g;
    const std::set<std::string> roster(o.stations.begin(), o.stations.end());
    const auto station = [&](const StoreRow& r) -> Gauges* {
        const std::string name = cell(r, 0);
        if (!roster.empty() && !roster.count(name)) return nullptr;  // no longer the fleet's
        return &g[name];
    };
    const auto at = [](const std::string& iso, double seconds) {
        const QDateTime t = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODateWithMs);
        if (!t.isValid()) return std::nan("");
        return double(t.toMSecsSinceEpoch()) / 1000.0 + (std::isfinite(seconds) ? std::clamp(seconds, 0.0, 86400.0) : 0.0);
    };
    const bool read =
        db->select(newest("c.outcome, c.clock_offset_s", ""), {},
                   [&](const StoreRow& r) {
                       if (Gauges* s = station(r)) {
                           s->up = cell(r, 1) == "ok";
                           const double off = fleet::storeReal(r[2]);
                           // The same bounds as the findings judge by (clamped first: a
                           // wild value from the store must not overflow the cast).
                           const bool plausible =
                               std::isfinite(off) && plausibleOffset(static_cast<long long>(std::clamp(off, -1e12, 1e12)));
                           s->offset = plausible ? off : std::nan("");
                       }
                   },
                   &why) &&
        db->select(newest("c.started_utc, c.seconds", "outcome = 'ok'"), {},
                   [&](const StoreRow& r) {
                       if (Gauges* s = station(r)) s->lastSuccess = at(cell(r, 1), fleet::storeReal(r[2]));
                   },
                   &why) &&
        db->select(newest("c.vbat", "vbat IS NOT NULL"), {},
                   [&](const StoreRow& r) {
                       const double v = fleet::storeReal(r[1]);
                       if (Gauges* s = station(r)) s->volts = plausibleVolts(v) ? v : std::nan("");
                   },
                   &why);
    if (!read) return unreadable(why);
    for (const char* table : {"findings", "fleet_stations"}) {
        const auto has = db->hasTable(table, &why);
        if (!has) return unreadable(why);
        if (!*has) continue;
        const bool ok = std::string(table) == "findings"
                            ? db->select("SELECT station, kind, severity FROM findings WHERE cleared_utc IS NULL", {},
                                         [&](const StoreRow& r) {
                                             if (Gauges* s = station(r))
                                                 ++s->findings[{cell(r, 1).substr(0, 64),
                                                                cell(r, 2) == "critical" ? "critical" : "warning"}];
                                         },
                                         &why)
                            : db->select("SELECT station, every_s FROM fleet_stations", {},
                                         [&](const StoreRow& r) {
                                             const double e = fleet::storeReal(r[1]);
                                             if (Gauges* s = station(r); s && e > 0) s->every = e;
                                         },
                                         &why);
        if (!ok) return unreadable(why);
    }
    // The roster's word on how often, where one is given; a station of the
    // roster no call has reached yet shows as down.
    for (const std::string& name : o.stations) g[name];
    for (const auto& [name, every] : everyS)
        if (g.count(name) && every > 0) g[name].every = every;

    QByteArray text;
    const auto family = [&](const char* name, const char* help, const std::function<void(const std::string&, const Gauges&)>& each) {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
        for (const auto& [station, s] : g) each(station, s);
    };
    family("zrv_up", "Whether the station's last call succeeded (1) or failed (0).",
           [&](const std::string& n, const Gauges& s) { text += "zrv_up" + stationLabel(n) + (s.up ? " 1\n" : " 0\n"); });
    family("zrv_last_success_timestamp_seconds", "When the station's last successful call ended, Unix time.",
           [&](const std::string& n, const Gauges& s) {
               if (std::isfinite(s.lastSuccess))
                   text += "zrv_last_success_timestamp_seconds" + stationLabel(n) + ' ' + metricValue(s.lastSuccess) + '\n';
           });
    family("zrv_battery_volts", "Battery voltage read by the station's last call that read it.",
           [&](const std::string& n, const Gauges& s) { text += "zrv_battery_volts" + stationLabel(n) + ' ' + metricValue(s.volts) + '\n'; });
    family("zrv_clock_offset_seconds", "Device clock minus host clock at the station's last call.",
           [&](const std::string& n, const Gauges& s) {
               text += "zrv_clock_offset_seconds" + stationLabel(n) + ' ' + metricValue(s.offset) + '\n';
           });
    family("zrv_call_interval_seconds", "How often the station should be called successfully (its every).",
           [&](const std::string& n, const Gauges& s) {
               if (std::isfinite(s.every)) text += "zrv_call_interval_seconds" + stationLabel(n) + ' ' + metricValue(s.every) + '\n';
           });
    family("zrv_open_findings", "Open findings of the station by kind and severity.",
           [&](const std::string& n, const Gauges& s) {
               for (const auto& [key, count] : s.findings)
                   text += "zrv_open_findings" +
                           stationLabel(n, ",kind=\"" + labelValue(QString::fromStdString(key.first)).toUtf8() +
                                               "\",severity=\"" + QByteArray(key.second.c_str()) + '"') +
                           ' ' + QByteArray::number(count) + '\n';
           });
    std::fputs(text.constData(), out);
    return 0;
}

}  // namespace zrv::collect
