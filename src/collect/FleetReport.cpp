#include "FleetReport.h"

#include "fleet/StoreReader.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>

namespace zrv::collect {

namespace {

using fleet::StoreRow;

std::optional<double> real(const StoreRow& r, std::size_t i)
{
    const double v = i < r.size() ? fleet::storeReal(r[i]) : std::nan("");
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::string text(const StoreRow& r, std::size_t i)
{
    if (i >= r.size() || !r[i]) return {};
    // Rows may come from a damaged or foreign writer: one line, bounded.
    std::string s = r[i]->substr(0, 200);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

QString when(std::optional<double> t)
{
    if (!t || std::fabs(*t) > 1e11) return QStringLiteral("-");
    return QDateTime::fromMSecsSinceEpoch(qint64(*t * 1000), Qt::UTC).toString(Qt::ISODate);
}

QJsonValue jsonTime(std::optional<double> t)
{
    if (!t || std::fabs(*t) > 1e11) return QJsonValue::Null;
    return QDateTime::fromMSecsSinceEpoch(qint64(*t * 1000), Qt::UTC).toString(Qt::ISODate);
}

}  // namespace

int printFleetReport(const ReportOptions& o, FILE* out)
{
    const auto unknown = [&](const std::string& why) {
        if (o.json) {
            QJsonObject j{{"status", "unknown"}, {"why", QString::fromStdString(why)}};
            std::fprintf(out, "%s\n", QJsonDocument(j).toJson(QJsonDocument::Compact).constData());
        } else {
            std::fprintf(out, "ZRV FLEET UNKNOWN - %s\n", why.c_str());
        }
        return 3;
    };
    std::string why;
    auto db = fleet::openStoreForReading(o.source, &why);
    if (!db) return unknown(why);
    const auto has = db->hasTable("fleet_stations", &why);
    if (!has) return unknown(why);
    if (!*has) return unknown("в хранилище нет расписания станций: его пишет zrvcollect этой версии");

    double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    if (fleet::isPostgresSource(o.source))
        db->select("SELECT extract(epoch from clock_timestamp())", {},
                   [&](const StoreRow& r) { now = real(r, 0).value_or(now); }, &why);

    struct Problem {
        int severity;  // 1 warning, 2 critical
        QString text;
    };
    std::vector<Problem> problems;
    const auto known = [&](const std::string& name) {
        return o.knownHosts.empty() || std::find(o.knownHosts.begin(), o.knownHosts.end(), name) != o.knownHosts.end();
    };

    QJsonArray collectors;
    int alive = 0, registered = 0;
    std::vector<std::string> names;
    if (!db->select("SELECT collector, host, pid, pools, version, started, heartbeat, stopped, lease_s FROM fleet_collectors "
                    "ORDER BY collector",
                    {},
                    [&](const StoreRow& r) {
                        const std::string name = text(r, 0);
                        const auto beat = real(r, 6);
                        const auto stopped = real(r, 7);
                        names.push_back(name);
                        ++registered;
                        // Its own lease, as it said when it came (a row
                        // without one: the roster's, or two minutes).
                        const double lease = std::clamp(real(r, 8).value_or(o.leaseS), 1.0, 86400.0);
                        const bool fresh = beat && *beat >= now - lease;
                        QString state = QStringLiteral("на связи");
                        if (stopped) state = QStringLiteral("остановлен");
                        else if (!fresh) {
                            // Gone without saying so is critical for a
                            // collector of the roster; a row no collector of
                            // it wrote is a warning, whatever its age.
                            state = QStringLiteral("не отвечает");
                            problems.push_back({known(name) ? 2 : 1, QStringLiteral("сборщик %1 не отвечает с %2")
                                                       .arg(QString::fromStdString(name), when(beat))});
                        } else {
                            ++alive;
                        }
                        if (beat && *beat > now + 60)
                            problems.push_back({1, QStringLiteral("сборщик %1: сигнал из будущего (%2), часы неверны")
                                                       .arg(QString::fromStdString(name), when(beat))});
                        if (!known(name) && !stopped)
                            problems.push_back({1, QStringLiteral("сборщик %1 не назван в списке станций")
                                                       .arg(QString::fromStdString(name))});
                        collectors.append(QJsonObject{{"name", QString::fromStdString(name)},
                                                      {"host", QString::fromStdString(text(r, 1))},
                                                      {"pid", real(r, 2).value_or(0)},
                                                      {"pools", QString::fromStdString(text(r, 3))},
                                                      {"version", QString::fromStdString(text(r, 4))},
                                                      {"started", jsonTime(real(r, 5))},
                                                      {"heartbeat", jsonTime(beat)},
                                                      {"state", state}});
                    },
                    &why))
        return unknown(why);

    QJsonArray due, overdue, failing;
    int stations = 0, retired = 0;
    if (!db->select("SELECT station, every_s, next_due, lease_holder, lease_until, last_attempt, last_success, fails, "
                    "last_why FROM fleet_stations ORDER BY next_due",
                    {},
                    [&](const StoreRow& r) {
                        if (!o.stations.empty() && std::find(o.stations.begin(), o.stations.end(), text(r, 0)) == o.stations.end()) {
                            ++retired;
                            return;
                        }
                        ++stations;
                        const QString name = QString::fromStdString(text(r, 0));
                        const double every = real(r, 1).value_or(0);
                        const auto next = real(r, 2);
                        const std::string holder = text(r, 3);
                        const auto lease = real(r, 4);
                        const auto attempt = real(r, 5);
                        const auto success = real(r, 6);
                        const int fails = int(std::clamp(real(r, 7).value_or(0), 0.0, 1e6));
                        const bool leased = !holder.empty() && lease && *lease >= now;
                        if ((!next || *next <= now) && !leased) due.append(name);
                        if (every > 0 && ((success && now - *success > 2 * every) || (!success && attempt && now - *attempt > 2 * every)))
                            overdue.append(QJsonObject{{"station", name}, {"last_success", jsonTime(success)}});
                        if (fails > 0)
                            failing.append(QJsonObject{{"station", name}, {"fails", fails},
                                                       {"why", QString::fromStdString(text(r, 8))}});
                        if (!holder.empty() && lease && *lease > now + 2.0 * o.leaseS)
                            problems.push_back({1, QStringLiteral("станция %1: захват %2 до %3, дальше любого продления; "
                                                                  "его не ждут")
                                                       .arg(name, QString::fromStdString(holder), when(lease))});
                        else if (leased && std::find(names.begin(), names.end(), holder) == names.end())
                            problems.push_back({1, QStringLiteral("станция %1 захвачена неизвестным сборщиком %2")
                                                       .arg(name, QString::fromStdString(holder))});
                    },
                    &why))
        return unknown(why);
    if (!overdue.isEmpty())
        problems.push_back({1, QStringLiteral("просрочено станций: %1 (нет успешного вызова дольше двух периодов)")
                                   .arg(overdue.size())});

    // Each line's calls over the last day; a line whose every call failed
    // (three or more) is gone.
    QJsonArray lines;
    const std::string since = QDateTime::fromMSecsSinceEpoch(qint64((now - 86400) * 1000), Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
    if (!db->select("SELECT port, COUNT(*), SUM(CASE WHEN outcome NOT IN ('ok', 'stopped') THEN 1 ELSE 0 END) FROM calls "
                    "WHERE started_utc >= ? GROUP BY port ORDER BY port",
                    {since},
                    [&](const StoreRow& r) {
                        const QString port = QString::fromStdString(text(r, 0));
                        const int calls = int(real(r, 1).value_or(0));
                        const int failed = int(real(r, 2).value_or(0));
                        const double share = calls ? double(failed) / calls : 0;
                        lines.append(QJsonObject{{"line", port}, {"calls", calls}, {"failed", failed}, {"share", share}});
                        if (calls >= 3 && failed == calls)
                            problems.push_back({2, QStringLiteral("линия %1: все %2 вызовов за сутки со сбоем").arg(port, QString::number(calls))});
                    },
                    &why))
        return unknown(why);

    int severity = 0;
    for (const Problem& p : problems) severity = std::max(severity, p.severity);
    static const char* const kWord[] = {"OK", "WARNING", "CRITICAL"};
    static const char* const kJsonWord[] = {"ok", "warning", "critical"};
    if (o.json) {
        QJsonArray ps;
        for (const Problem& p : problems)
            ps.append(QJsonObject{{"severity", p.severity == 2 ? "critical" : "warning"}, {"text", p.text}});
        QJsonObject j{{"status", kJsonWord[severity]},
                      {"collectors", collectors},
                      {"stations", stations},
                      {"not_in_roster", retired},
                      {"due", due},
                      {"overdue", overdue},
                      {"failing", failing},
                      {"lines", lines},
                      {"problems", ps}};
        std::fprintf(out, "%s\n", QJsonDocument(j).toJson(QJsonDocument::Compact).constData());
        return severity;
    }
    QString t = QStringLiteral("ZRV FLEET %1 - сборщиков на связи %2 из %3, станций %4, к вызову %5, просрочено %6, со сбоем %7\n")
                    .arg(QString::fromLatin1(kWord[severity]))
                    .arg(alive)
                    .arg(registered)
                    .arg(stations)
                    .arg(due.size())
                    .arg(overdue.size())
                    .arg(failing.size());
    for (const Problem& p : problems) t += (p.severity == 2 ? QStringLiteral("критично: ") : QStringLiteral("внимание: ")) + p.text + '\n';
    if (retired) t += QStringLiteral("станций в таблице, но не в списке станций: %1 (не в счёт)\n").arg(retired);
    for (const QJsonValue& c : collectors) {
        const QJsonObject x = c.toObject();
        t += QStringLiteral("сборщик %1 (%2, pid %3): %4, сигнал %5\n")
                 .arg(x["name"].toString(), x["host"].toString())
                 .arg(qint64(x["pid"].toDouble()))
                 .arg(x["state"].toString(), x["heartbeat"].toString(QStringLiteral("-")));
    }
    for (const QJsonValue& f : failing) {
        const QJsonObject x = f.toObject();
        t += QStringLiteral("со сбоем: %1 (%2 подряд): %3\n")
                 .arg(x["station"].toString(), QString::number(x["fails"].toInt()), x["why"].toString());
    }
    for (const QJsonValue& l : lines) {
        const QJsonObject x = l.toObject();
        t += QStringLiteral("линия %1: вызовов за сутки %2, со сбоем %3 (%4 %)\n")
                 .arg(x["line"].toString())
                 .arg(x["calls"].toInt())
                 .arg(x["failed"].toInt())
                 .arg(qRound(x["share"].toDouble() * 100));
    }
    std::fputs(t.toUtf8().constData(), out);
    return severity;
}

}  // namespace zrv::collect
