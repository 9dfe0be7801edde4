// Judging a call: what raises a finding, what clears it, and what is too
// far from any device to do either; the roster's thresholds.

#include "fleet/CallResult.h"
#include "fleet/Health.h"
#include "fleet/Roster.h"
#include "fleet/Schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace zrv::fleet;

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);

CallResult okCall(float vbat, long long offset)
{
    CallResult c;
    c.callId = "c";
    c.station = "S";
    c.started = kNow;
    c.outcome = Outcome::Ok;
    c.measurements = zrv::Measurements{6.0f, 2.0f, 10.0f, 100.0f, vbat, 0.9f};
    c.onBattery = false;
    c.clockOffsetS = offset;
    c.transactionsOk = 20;
    return c;
}

PastCall past(int daysAgo, std::optional<double> vbat, std::optional<long long> offset, bool ok = true)
{
    PastCall p;
    p.started = kNow.addDays(-daysAgo);
    p.ok = ok;
    p.vbat = vbat;
    p.clockOffsetS = offset;
    p.transactionsOk = ok ? 20 : 0;
    return p;
}

std::set<std::string> kinds(const std::vector<Finding>& fs)
{
    std::set<std::string> out;
    for (const Finding& f : fs) out.insert(f.kind);
    return out;
}

}  // namespace

TEST(Health, ValuesNoDeviceReportsNeitherRaiseNorClear)
{
    Station s;
    StationHistory h;
    h.open = {{kind::kBatteryLow, kCritical, "2026-11-01T00:00:00.000Z", "батарея 3.0", {}},
              {kind::kClockOffset, kWarning, "2026-11-01T00:00:00.000Z", "часы", {}}};
    // A history of nonsense: it fits no fall and no drift.
    h.calls = {past(5, -5.0, 400'000'000), past(10, std::nan(""), 0), past(20, 99.0, -400'000'000)};
    CallResult c = okCall(std::nanf(""), 3'000'000'000LL);
    const Health judged = judgeCall(s, h, c);
    EXPECT_EQ(kinds(judged.open), (std::set<std::string>{kind::kBatteryLow, kind::kClockOffset}));
    EXPECT_TRUE(judged.opened.empty());
    EXPECT_TRUE(judged.cleared.empty());
    EXPECT_EQ(judged.open.front().since, "2026-11-01T00:00:00.000Z");

    // A plausible reading that is well clears them, and keeps since on what stays.
    c = okCall(3.6f, 0);
    const Health well = judgeCall(s, h, c);
    EXPECT_EQ(kinds(well.cleared), (std::set<std::string>{kind::kBatteryLow, kind::kClockOffset}));
    EXPECT_TRUE(well.open.empty());
    c = okCall(3.1f, 0);
    const Health low = judgeCall(s, h, c);
    ASSERT_EQ(low.open.size(), 1u);
    EXPECT_TRUE(low.open[0].critical());
    EXPECT_EQ(low.open[0].since, "2026-11-01T00:00:00.000Z");
    EXPECT_TRUE(low.opened.empty());
}

TEST(Health, DriftCountsFromAClockSetAndTheLineFromCallsInARow)
{
    Station s;
    s.clockToleranceS = 600;
    StationHistory h;
    // Set ten days ago (offset read 500 s, then set): 120 s since is 12 s a day.
    PastCall set = past(10, 3.6, 500);
    set.clockSet = true;
    h.calls = {past(0, 3.6, 119), set};
    h.calls[0].started = kNow.addSecs(-3600);  // an hour back: too near to count
    Health judged = judgeCall(s, h, okCall(3.6f, 120));
    ASSERT_EQ(kinds(judged.open), std::set<std::string>{kind::kClockDrift});
    EXPECT_NEAR(judged.open[0].values.at("seconds_per_day"), 12.0, 0.01);

    // Two failed calls before this failed one: no line to speak of.
    h = {};
    h.calls = {past(1, {}, {}, false), past(2, {}, {}, false), past(3, 3.6, 0)};
    CallResult failed;
    failed.started = kNow;
    failed.outcome = Outcome::NoDevice;
    failed.why = "нет ответа на запросы";
    judged = judgeCall(s, h, failed);
    ASSERT_EQ(judged.opened.size(), 1u);
    EXPECT_EQ(judged.opened[0].kind, kind::kLink);
    EXPECT_TRUE(judged.opened[0].critical());
    // A collector stopped mid-call says nothing of the line, nor does a dial
    // the modem answered BUSY (the line held by another collector's call):
    // neither this one, nor one among the calls in a row.
    failed.outcome = Outcome::Stopped;
    EXPECT_TRUE(judgeCall(s, h, failed).open.empty());
    CallResult busy = failed;
    busy.outcome = Outcome::DialFailed;
    busy.why = "Занято";
    EXPECT_TRUE(judgeCall(s, h, busy).open.empty());
    StationHistory withBusy = h;
    remember(withBusy, busy, {});
    EXPECT_TRUE(withBusy.calls.front().lineTaken && !withBusy.calls.front().ok);
    withBusy.calls.erase(withBusy.calls.begin() + 1);  // one failure, then the busy dial
    failed.outcome = Outcome::NoDevice;
    EXPECT_TRUE(judgeCall(s, withBusy, failed).opened.empty());
    busy.why = "Нет несущей";  // no carrier is the line's own fault
    remember(withBusy, busy, {});
    EXPECT_EQ(kinds(judgeCall(s, withBusy, failed).opened), std::set<std::string>{kind::kLink});
    // A quarter of the exchanges failed over the last calls: a warning.
    h.calls = {past(1, 3.6, 0), past(2, 3.6, 0)};
    CallResult shaky = okCall(3.6f, 0);
    shaky.transactionsOk = 25;
    shaky.transactionsFailed = 35;
    judged = judgeCall(s, h, shaky);
    ASSERT_EQ(judged.open.size(), 1u);
    EXPECT_EQ(judged.open[0].severity, kWarning);
    EXPECT_NEAR(judged.open[0].values.at("failure_ratio"), 0.35, 1e-9);
}

TEST(Health, TheRosterSetsThresholdsForAllAndForOne)
{
    std::string why;
    const auto roster = parseRoster("[health]\nbattery_warning = 3.5\nlink_calls = 4\n"
                                    "[[station]]\nname = \"A\"\nport = \"COM1\"\n"
                                    "[[station]]\nname = \"B\"\nport = \"COM2\"\nhealth = { battery_warning = 3.3, on_battery = false }\n",
                                    "r.toml", &why);
    ASSERT_TRUE(roster) << why;
    EXPECT_DOUBLE_EQ(roster->stations[0].health.batteryWarningV, 3.5);
    EXPECT_DOUBLE_EQ(roster->stations[1].health.batteryWarningV, 3.3);
    EXPECT_EQ(roster->stations[1].health.linkCalls, 4);
    EXPECT_FALSE(roster->stations[1].health.onBatteryWarns);
    EXPECT_FALSE(parseRoster("[health]\nlink_failures = 1.5\n[[station]]\nname = \"A\"\nport = \"COM1\"\n", "r.toml", &why));
    EXPECT_EQ(why, "r.toml:2:17: link_failures: ожидалось число от 0 до 1");
    EXPECT_FALSE(parseRoster("[[station]]\nname = \"A\"\nport = \"COM1\"\nhealth = { battery = 3 }\n", "r.toml", &why));
    EXPECT_EQ(why, "r.toml:4:12: неизвестный ключ \"battery\" в health");
}

TEST(Schedule, DueStationsComeMostOverdueFirstWithinTheirHoursAndAFailureBacksOff)
{
    std::string why;
    auto roster = parseRoster("[defaults]\nevery = \"1h\"\nretry_delay = \"10m\"\n"
                              "[[station]]\nname = \"ok\"\nport = \"COM1\"\n"
                              "[[station]]\nname = \"late\"\nport = \"COM2\"\n"
                              "[[station]]\nname = \"never\"\nport = \"COM3\"\n"
                              "[[station]]\nname = \"failing\"\nport = \"COM4\"\n"
                              "[[station]]\nname = \"night\"\nport = \"COM5\"\nhours = \"22:00-06:00\"\n"
                              "[[station]]\nname = \"always\"\nport = \"COM6\"\nevery = \"7d\"\nhours = \"\"\n",
                              "r.toml", &why);
    ASSERT_TRUE(roster) << why;
    // At noon, local time.
    const QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::LocalTime).toUTC();
    const auto success = [&](int minutesAgo) {
        StationHistory h;
        PastCall p;
        p.started = now.addSecs(-60 * minutesAgo);
        p.ok = true;
        h.calls = {p};
        h.lastSuccess = p.started;
        return h;
    };
    std::map<std::string, StationHistory> histories = {
        {"ok", success(30)}, {"late", success(300)}, {"night", success(600)}, {"always", success(60 * 24 * 8)}};
    // Failed twice in a row, the last 15 minutes ago: 20 minutes of back-off.
    StationHistory failing = success(120);
    PastCall f;
    f.started = now.addSecs(-60 * 15);
    failing.calls.insert(failing.calls.begin(), {f, f});
    failing.calls[1].started = now.addSecs(-60 * 40);
    histories["failing"] = failing;
    const auto names = [&](const std::vector<std::size_t>& idx) {
        std::vector<std::string> out;
        for (std::size_t i : idx) out.push_back(roster->stations[i].name);
        return out;
    };
    EXPECT_EQ(names(dueStations(*roster, histories, now)), (std::vector<std::string>{"never", "always", "late"}));
    EXPECT_EQ(dueAt(roster->stations[3], failing, now), f.started.addSecs(20 * 60));
    EXPECT_EQ(names(dueStations(*roster, histories, now.addSecs(6 * 60))),
              (std::vector<std::string>{"never", "always", "late", "failing"}));
    // At 23:00 the night station may be called too, by how long it is overdue.
    const QDateTime night = QDateTime(QDate(2026, 12, 8), QTime(23, 0), Qt::LocalTime).toUTC();
    EXPECT_EQ(names(dueStations(*roster, histories, night)),
              (std::vector<std::string>{"never", "always", "night", "late", "failing", "ok"}));

    // A station that has not succeeded for twice its `every` is overdue.
    CallResult failed;
    failed.started = now;
    failed.outcome = Outcome::NoDevice;
    const Health late = judgeCall(roster->stations[1], histories["late"], failed);
    ASSERT_EQ(late.opened.size(), 1u);
    EXPECT_EQ(late.opened[0].kind, kind::kOverdue);

    // Schedules that do not fit are refused where they stand.
    EXPECT_FALSE(parseRoster("[[station]]\nname = \"A\"\nport = \"COM1\"\nhours = \"25:00-06:00\"\n", "r.toml", &why));
    EXPECT_EQ(why, "r.toml:4:9: hours: ожидался промежуток местного времени вида \"22:00-06:00\"");
    EXPECT_FALSE(parseRoster("[defaults]\nevery = \"30s\"\n[[station]]\nname = \"M\"\nport = \"COM1\"\nphone = \"123\"\n",
                             "r.toml", &why));
    EXPECT_EQ(why, "r.toml:2:9: every: короче, чем может длиться вызов станции \"M\" (не меньше 60 с через модем)");
    EXPECT_FALSE(parseRoster("[[station]]\nname = \"A\"\nport = \"COM1\"\nevery = \"often\"\n", "r.toml", &why));
    EXPECT_EQ(why, "r.toml:4:9: every: ожидалась длительность вида \"15m\", \"24h\" или \"7d\"");
}
