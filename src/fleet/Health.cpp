#include "Health.h"

#include "fleet/CallResult.h"
#include "fleet/Roster.h"
#include "modem/ModemDialogue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace zrv::fleet {

namespace {

constexpr double kDay = 86400.0;
// A fall fitted over less than a day is the noise of one reading; an offset
// compared over less than six hours is the clock's one-second step.
constexpr double kFallSpanS = kDay;
constexpr double kDriftSpanS = 6 * 3600.0;
// Calls in a row that found no device: the line, not a bad moment.
constexpr int kFailedInARow = 3;

std::string iso(const QDateTime& t) { return t.toUTC().toString(Qt::ISODateWithMs).toStdString(); }

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

struct Judge {
    const Station& station;
    const StationHistory& history;
    const CallResult& call;
    std::map<std::string, Finding> found;
    std::set<std::string> judged;

    void look(const char* kind) { judged.insert(kind); }
    void raise(const char* kind, const char* severity, std::string text, std::map<std::string, double> values,
               std::string since = {})
    {
        judged.insert(kind);
        found[kind] = {kind, severity, since.empty() ? iso(call.started) : since, std::move(text), std::move(values)};
    }

    void battery()
    {
        const HealthRules& r = station.health;
        if (call.onBattery) {
            look(kind::kOnBattery);
            if (*call.onBattery && r.onBatteryWarns) raise(kind::kOnBattery, kWarning, "питание от батареи", {});
        }
        if (!call.measurements || !plausibleVolts(call.measurements->vbat)) return;
        const double v = call.measurements->vbat;
        look(kind::kBatteryLow);
        if (v < r.batteryWarningV) {
            const bool critical = v < r.batteryCriticalV;
            raise(kind::kBatteryLow, critical ? kCritical : kWarning,
                  "батарея " + fixed(v, 2) + " В, порог " + fixed(critical ? r.batteryCriticalV : r.batteryWarningV, 2) + " В",
                  {{"volts", v}, {"threshold", critical ? r.batteryCriticalV : r.batteryWarningV}});
        }
        // Least squares over the last 30 days of readings, this one included.
        std::vector<std::pair<double, double>> points{{0.0, v}};
        for (const PastCall& p : history.calls) {
            const double age = double(p.started.secsTo(call.started));
            if (age < 0 || age > 30 * kDay || !p.vbat || !plausibleVolts(*p.vbat)) continue;
            points.emplace_back(-age, *p.vbat);
        }
        const double span = -std::min_element(points.begin(), points.end())->first;
        if (points.size() < 3 || span < kFallSpanS) return;
        double mx = 0, my = 0;
        for (const auto& [x, y] : points) mx += x, my += y;
        mx /= double(points.size());
        my /= double(points.size());
        double sxy = 0, sxx = 0;
        for (const auto& [x, y] : points) sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx);
        if (sxx <= 0) return;
        const double per30 = -sxy / sxx * 30 * kDay;  // volts lost per 30 days
        look(kind::kBatteryFalling);
        if (per30 > r.batteryFallV)
            raise(kind::kBatteryFalling, kWarning,
                  "батарея садится на " + fixed(per30, 2) + " В за 30 дней (порог " + fixed(r.batteryFallV, 2) + ")",
                  {{"volts_per_30d", per30}, {"threshold", r.batteryFallV}, {"volts", v}});
    }

    void clock()
    {
        if (!call.clockOffsetS || !plausibleOffset(*call.clockOffsetS)) return;
        const long long off = *call.clockOffsetS;
        look(kind::kClockOffset);
        if (std::llabs(off) > station.clockToleranceS && !call.clockSet)
            raise(kind::kClockOffset, std::llabs(off) >= 3600 ? kCritical : kWarning,
                  "часы расходятся на " + std::to_string(off) + " с (допуск " + std::to_string(station.clockToleranceS) +
                      " с)",
                  {{"offset_seconds", double(off)}, {"tolerance_seconds", double(station.clockToleranceS)}});
        // Against the newest call far enough back; a clock set by that call
        // started again from nought.
        for (const PastCall& p : history.calls) {
            const double age = double(p.started.secsTo(call.started));
            if (age < kDriftSpanS || !p.clockOffsetS || !plausibleOffset(*p.clockOffsetS)) continue;
            const double base = p.clockSet ? 0.0 : double(*p.clockOffsetS);
            const double perDay = (double(off) - base) / (age / kDay);
            look(kind::kClockDrift);
            if (std::fabs(perDay) > station.health.clockDriftSPerDay)
                raise(kind::kClockDrift, kWarning,
                      "часы уходят на " + fixed(perDay, 1) + " с в сутки (порог " + fixed(station.health.clockDriftSPerDay, 1) +
                          ")",
                      {{"seconds_per_day", perDay}, {"threshold", station.health.clockDriftSPerDay}});
            break;
        }
    }

    // One pressure against the device's own cut-off band; the newest
    // reading out of it speaks, the oldest says since when.
    void pressure(const char* kind, const char* name, float journal::RecordData::*recorded, float Measurements::*polled,
                  float lo, float hi)
    {
        if (!plausiblePressure(lo) || !plausiblePressure(hi) || lo >= hi) return;
        look(kind);
        struct Out {
            QDateTime at;
            float value;
        };
        std::vector<Out> outside;
        const auto check = [&](float v, const QDateTime& at) {
            if (plausiblePressure(v) && at.isValid() && (v > hi || v < lo)) outside.push_back({at, v});
        };
        for (const journal::RecordData& rec : call.records) {
            const journal::Stamp& s = rec.stamp;
            if (!s.dateValid() || !s.timeValid()) continue;
            // The device keeps local time.
            const QDateTime at(QDate(s.year, s.month, s.day), QTime(s.hours, s.minutes, s.seconds), Qt::LocalTime);
            check(rec.*recorded, at);
        }
        if (call.measurements) check((*call.measurements).*polled, call.started);
        if (outside.empty()) return;
        const auto byTime = [](const Out& a, const Out& b) { return a.at < b.at; };
        const Out first = *std::min_element(outside.begin(), outside.end(), byTime);
        const Out last = *std::max_element(outside.begin(), outside.end(), byTime);
        const bool above = last.value > hi;
        raise(kind, kCritical,
              std::string(name) + " = " + fixed(last.value, 3) + (above ? " выше " : " ниже ") + name +
                  (above ? " max " : " min ") + fixed(above ? hi : lo, 3) + " (" +
                  last.at.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString() + ")",
              {{"value", last.value}, {"limit", above ? hi : lo}, {"at", double(last.at.toSecsSinceEpoch())}},
              iso(first.at));
    }

    // No successful call for twice `every`: the schedule is not kept.
    void overdue()
    {
        if (station.everyS <= 0 || call.outcome == Outcome::Stopped) return;
        look(kind::kOverdue);
        if (call.ok()) return;
        QDateTime since = history.lastSuccess.value_or(call.started);
        if (!history.lastSuccess)
            for (const PastCall& p : history.calls) since = std::min(since, p.started);
        const qint64 without = since.secsTo(call.started);
        if (without > 2 * qint64(station.everyS))
            raise(kind::kOverdue, kWarning,
                  "нет успешного вызова " + fixed(double(without) / 3600.0, 1) + " ч (при расписании раз в " +
                      fixed(station.everyS / 3600.0, 1) + " ч)",
                  {{"seconds_without_success", double(without)}, {"every_seconds", double(station.everyS)}}, iso(since));
    }

    void setpoints()
    {
        if (!call.hasProfile) return;
        look(kind::kSetpoints);
        if (call.setpointDifferences.empty()) return;
        std::string regs;
        for (int reg : call.setpointDifferences) regs += (regs.empty() ? "" : ", ") + std::to_string(reg);
        raise(kind::kSetpoints, kWarning, "уставки отличаются от утверждённых: регистры " + regs,
              {{"registers", double(call.setpointDifferences.size())}});
    }

    void link()
    {
        const HealthRules& r = station.health;
        // The collector's stop, or a line another call held, says nothing of
        // the line's health.
        if (call.outcome == Outcome::Stopped || lineTaken(call.outcome, call.why)) return;
        long long ok = call.transactionsOk, failed = call.transactionsFailed;
        int n = 1;
        for (std::size_t i = 0; i < history.calls.size() && n < r.linkCalls; ++i, ++n) {
            ok += std::max(0, history.calls[i].transactionsOk);
            failed += std::max(0, history.calls[i].transactionsFailed);
        }
        int inARow = 0;
        if (!call.ok()) {
            inARow = 1;
            for (const PastCall& p : history.calls) {
                if (p.ok) break;
                inARow += !p.lineTaken;
            }
        }
        look(kind::kLink);
        if (inARow >= kFailedInARow) {
            raise(kind::kLink, kCritical,
                  "нет связи: " + std::to_string(inARow) + " вызова подряд без успеха" + (call.why.empty() ? "" : " (" + call.why + ")"),
                  {{"failed_calls", double(inARow)}});
            return;
        }
        const double share = ok + failed > 0 ? double(failed) / double(ok + failed) : 0.0;
        if (share > r.linkFailures)
            raise(kind::kLink, kWarning,
                  "сбоев обмена " + fixed(share * 100, 0) + " % за " + std::to_string(n) + " вызовов (порог " +
                      fixed(r.linkFailures * 100, 0) + " %)",
                  {{"failure_ratio", share}, {"threshold", r.linkFailures}});
    }
};

}  // namespace

bool lineTaken(Outcome outcome, const std::string& why)
{
    return outcome == Outcome::DialFailed && why == modem::resultText(modem::Result::Busy);
}

bool plausibleVolts(double v) { return std::isfinite(v) && v > 0.5 && v < 60.0; }
bool plausibleOffset(long long s) { return s > -315'360'000 && s < 315'360'000; }
bool plausiblePressure(double v) { return std::isfinite(v) && v > -1.0 && v < 1000.0; }

QJsonObject findingValuesToJson(const std::map<std::string, double>& values)
{
    QJsonObject o;
    for (const auto& [name, v] : values) o[QString::fromStdString(name)] = std::isfinite(v) ? QJsonValue(v) : QJsonValue();
    return o;
}

std::map<std::string, double> findingValuesFromJson(const QJsonObject& o)
{
    std::map<std::string, double> values;
    for (auto it = o.begin(); it != o.end() && int(values.size()) < kFindingValues; ++it)
        if (it.value().isDouble()) values[it.key().toStdString()] = it.value().toDouble();
    return values;
}

Health judgeCall(const Station& station, const StationHistory& history, const CallResult& call)
{
    Judge j{station, history, call, {}, {}};
    j.battery();
    j.clock();
    if (call.limits && !call.journalCutShort) {
        j.pressure(kind::kPressureP2, "P2", &journal::RecordData::p2, &Measurements::p2, call.limits->p2Min, call.limits->p2Max);
        j.pressure(kind::kPressureP1, "P1", &journal::RecordData::p1, &Measurements::p1, call.limits->p1Min, call.limits->p1Max);
    }
    j.setpoints();
    j.link();
    j.overdue();

    Health h;
    h.judged.assign(j.judged.begin(), j.judged.end());
    std::set<std::string> kept;
    for (const Finding& f : history.open) {
        if (!kept.insert(f.kind).second) continue;  // a damaged store's double
        const auto now = j.found.find(f.kind);
        if (now != j.found.end()) {
            Finding still = now->second;
            still.since = f.since;  // open since it was first seen
            h.open.push_back(std::move(still));
            j.found.erase(now);
        } else if (j.judged.count(f.kind)) {
            h.cleared.push_back(f);
        } else {
            h.open.push_back(f);  // not looked at this time: stays as it was
        }
    }
    for (auto& [k, f] : j.found) {
        h.opened.push_back(f);
        h.open.push_back(std::move(f));
    }
    return h;
}

void remember(StationHistory& history, const CallResult& call, const Health& health)
{
    PastCall p;
    p.started = call.started;
    p.ok = call.ok();
    if (call.measurements) p.vbat = call.measurements->vbat;
    p.clockOffsetS = call.clockOffsetS;
    p.clockSet = call.clockSet;
    p.transactionsOk = call.transactionsOk;
    p.transactionsFailed = call.transactionsFailed;
    p.lineTaken = lineTaken(call.outcome, call.why);
    history.calls.insert(history.calls.begin(), p);
    history.open = health.open;
    if (call.ok()) history.lastSuccess = call.started.addMSecs(qint64(call.seconds * 1000));
}

std::string kindText(const std::string& kind)
{
    static const std::map<std::string, std::string> words = {
        {kind::kBatteryLow, "батарея разряжена"},   {kind::kBatteryFalling, "батарея садится"},
        {kind::kOnBattery, "питание от батареи"},   {kind::kClockOffset, "часы расходятся"},
        {kind::kClockDrift, "часы уходят"},         {kind::kPressureP2, "P2 вне пределов отсечки"},
        {kind::kPressureP1, "P1 вне пределов отсечки"}, {kind::kSetpoints, "уставки не по профилю"},
        {kind::kLink, "плохая связь"},             {kind::kOverdue, "давно нет успешного вызова"},
    };
    const auto it = words.find(kind);
    return it == words.end() ? kind : it->second;
}

}  // namespace zrv::fleet
