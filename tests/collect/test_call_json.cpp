// A call written as JSON and line protocol, and read back from a spool line
// that may have been damaged: what no call can hold is refused, a value that
// is no number is null in JSON and absent from line protocol, and no output
// carries a raw control character or a time that overflows.

#include "collect/CallJson.h"
#include "collect/Metrics.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zrv;
using namespace zrv::collect;

namespace {

CallResult sampleCall()
{
    CallResult c;
    c.callId = QStringLiteral("0f6e1c2a-1111-2222-3333-444455556666");
    c.station = "ГРП №3, \"Речная\"";
    c.port = "COM7";
    c.started = QDateTime::currentDateTimeUtc().addSecs(-60);
    c.seconds = 12.5;
    c.outcome = Outcome::Ok;
    c.deviceNumber = 127;
    c.measurements = Measurements{std::numeric_limits<float>::quiet_NaN(), 1.25f, 12.0f,
                                  std::numeric_limits<float>::infinity(), 3.6f, 0};
    c.clockOffsetS = -42;
    journal::RecordData r;
    r.key = {600, {0x1e05, 0x0906, 0x0c1a}};
    r.stamp = {6, 5, 30, 9, 12, 2026};
    r.p1 = 6.0f;
    r.p2 = std::numeric_limits<float>::quiet_NaN();
    r.t = 10.5f;
    r.q = 1000.0f;
    r.entries = 2;
    r.text = "9.12.2026 6:05:30\r\n";
    c.records.push_back(r);
    c.recordsLost = 7;
    journal::JournalCursor cursor;
    cursor.keys = {r.key};
    cursor.end = 640;
    cursor.gaps.push_back({{700, {1, 2, 3}}, journal::RecordKey{800, {4, 5, 6}}, uint16_t(900), 21});
    c.cursor = cursor;
    return c;
}

QJsonObject spoolLineWith(const std::function<void(QJsonObject&)>& damage)
{
    QJsonObject o = callToJson(sampleCall());
    damage(o);
    return o;
}

// The first record's time, as a damaged line may have it.
void setRecordTime(QJsonObject& o, const char* time)
{
    QJsonArray records = o["records"].toArray();
    QJsonObject r = records[0].toObject();
    r["time"] = time;
    records[0] = r;
    o["records"] = records;
}

}  // namespace

TEST(CallJson, ValuesThatAreNoNumberAreNullInJsonAbsentFromLineProtocolAndSurviveTheSpool)
{
    const CallResult c = sampleCall();
    const QJsonObject o = callToJson(c);
    EXPECT_TRUE(o["measurements"].toObject()["p1"].isNull());
    EXPECT_TRUE(o["measurements"].toObject()["qi"].isNull());
    EXPECT_DOUBLE_EQ(o["measurements"].toObject()["p2"].toDouble(), 1.25);
    EXPECT_TRUE(o["records"].toArray()[0].toObject()["p2"].isNull());

    const QString influx = callToInflux(c);
    EXPECT_FALSE(influx.contains(QStringLiteral("nan"), Qt::CaseInsensitive)) << influx.toStdString();
    EXPECT_FALSE(influx.contains(QStringLiteral("inf"), Qt::CaseInsensitive)) << influx.toStdString();
    EXPECT_TRUE(influx.contains(QStringLiteral(",p2=1.25,tg=12,clock_offset_s=-42i "))) << influx.toStdString();
    EXPECT_TRUE(influx.contains(QStringLiteral(",records_lost=7i"))) << influx.toStdString();
    EXPECT_TRUE(influx.contains(QStringLiteral(" p1=6,t=10.5,q=1000,entries=2i,"))) << influx.toStdString();
    // Blanks, commas and quotes of the name escaped as tags want them.
    EXPECT_TRUE(influx.startsWith(QStringLiteral("zrv_call,station=ГРП\\ №3\\,\\ \"Речная\",outcome=ok "))) << influx.toStdString();

    // Written to the spool and read back: the same call, cursor, claim and all.
    CallResult claimed = c;
    claimed.leaseToken = 4'000'000'000'123LL;
    const auto back = callFromJson(QJsonDocument::fromJson(QJsonDocument(callToJson(claimed)).toJson()).object());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->leaseToken, claimed.leaseToken);
    EXPECT_FALSE(callFromJson(o)->leaseToken);
    EXPECT_TRUE(std::isnan(back->measurements->p1));
    EXPECT_FLOAT_EQ(back->measurements->p2, 1.25f);
    EXPECT_TRUE(std::isnan(back->records[0].p2));
    EXPECT_EQ(back->cursor, c.cursor);
    EXPECT_EQ(back->recordsLost, 7);
    EXPECT_EQ(back->clockOffsetS, -42);
    EXPECT_EQ(callToInflux(*back), influx);
}

TEST(CallJson, ASpoolLineHoldingWhatNoCallCanHoldIsRefusedAndNothingOverflows)
{
    const std::vector<std::pair<const char*, std::function<void(QJsonObject&)>>> damaged = {
        {"a start in year 9999", [](QJsonObject& o) { o["started"] = "9999-01-01T00:00:00.000Z"; }},
        {"a start before 2000", [](QJsonObject& o) { o["started"] = "1677-01-01T00:00:00.000Z"; }},
        {"a record in year 2300", [](QJsonObject& o) { setRecordTime(o, "2300-01-01T00:00:00"); }},
        {"a record with a time that is no time", [](QJsonObject& o) { setRecordTime(o, "вчера"); }},
        {"a clock offset of 2^63", [](QJsonObject& o) { o["clock_offset_s"] = 9.3e18; }},
        {"a count that is text", [](QJsonObject& o) { o["transactions_ok"] = "many"; }},
        {"a negative count", [](QJsonObject& o) { o["timeouts"] = -1; }},
        {"an attempt of a billion", [](QJsonObject& o) { o["attempt"] = 1e9; }},
        {"a claim's number that is no whole number", [](QJsonObject& o) { o["lease"] = 2.5; }},
        {"a claim's number below zero", [](QJsonObject& o) { o["lease"] = -1; }},
        {"a measurement that is text",
         [](QJsonObject& o) {
             QJsonObject m = o["measurements"].toObject();
             m["p2"] = "1,25";
             o["measurements"] = m;
         }},
    };
    for (const auto& [what, damage] : damaged) EXPECT_FALSE(callFromJson(spoolLineWith(damage))) << what;

    // A call made in the program with such times still writes no line whose
    // nanoseconds overflow: that line is left out, the rest stays.
    CallResult c = sampleCall();
    c.started = QDateTime(QDate(9999, 1, 1), QTime(0, 0), Qt::UTC);
    const QString influx = callToInflux(c);
    EXPECT_FALSE(influx.contains(QStringLiteral("zrv_call,")));
    EXPECT_TRUE(influx.startsWith(QStringLiteral("zrv_journal,")));
}

TEST(CallJson, NoOutputCarriesARawControlCharacter)
{
    CallResult c = sampleCall();
    c.station = "ГРП\nx\t\x1b[2J";
    c.records[0].text = "line\r\n";
    const QString influx = callToInflux(c);
    const QStringList lines = influx.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 2) << influx.toStdString();
    for (const QChar ch : influx)
        EXPECT_TRUE(ch == QLatin1Char('\n') || ch.unicode() >= 0x20) << "control character " << int(ch.unicode());
    EXPECT_EQ(printable(QStringLiteral("a\u0085b\u007fc")), QStringLiteral("a\uFFFDb\uFFFDc"));
}

TEST(CallJson, ANameHoldingPercentAndDigitsTakesNoNumbersPlace)
{
    // Found by the fuzzer: "%0", "%1" in a station's name were taken for
    // places of the numbers that followed it, and the line said device=0.165i.
    CallResult c = sampleCall();
    c.station = "plain";
    const QString plain = callToInflux(c);
    c.station = "ГРП 50%1%2 %7";
    QString named = callToInflux(c);
    EXPECT_EQ(named.replace(QStringLiteral("ГРП\\ 50%1%2\\ %7"), QStringLiteral("plain")), plain) << named.toStdString();
}

TEST(Metrics, UnknownValuesAreNaNNamesAreEscapedAndAnUnwritableFolderIsSaidOnce)
{
    Roster roster;
    Station quoted;
    quoted.name = "ГРП \"7\" \\ юг";
    quoted.port = "COM1";
    Station never = quoted;
    never.name = "Новая";
    roster.stations = {quoted, never};
    StationHistory h;
    PastCall p;
    p.started = QDateTime::currentDateTimeUtc();
    p.ok = true;
    p.vbat = -5.0;  // no battery reads that
    p.clockOffsetS = 12;
    p.transactionsOk = 3;
    p.transactionsFailed = 1;
    h.calls = {p};
    h.open = {{"battery-low", "critical", "2026-12-01T00:00:00.000Z", "", {}}};
    const QString text = QString::fromUtf8(renderMetrics(roster, {{quoted.name, h}}));
    EXPECT_TRUE(text.contains("zrv_up{station=\"ГРП \\\"7\\\" \\\\ юг\"} 1\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("zrv_battery_volts{station=\"ГРП \\\"7\\\" \\\\ юг\"} NaN\n"));
    EXPECT_TRUE(text.contains("zrv_clock_offset_seconds{station=\"ГРП \\\"7\\\" \\\\ юг\"} 12\n"));
    EXPECT_TRUE(text.contains("zrv_up{station=\"Новая\"} 0\n"));
    EXPECT_TRUE(text.contains("zrv_battery_volts{station=\"Новая\"} NaN\n"));
    EXPECT_TRUE(text.contains("zrv_line_failure_ratio{line=\"COM1\"} 0.25\n"));
    EXPECT_TRUE(text.contains("zrv_open_findings{station=\"ГРП \\\"7\\\" \\\\ юг\",kind=\"battery-low\",severity=\"critical\"} 1\n"));
    // One HELP and TYPE per family, before its samples.
    EXPECT_EQ(text.count("# TYPE zrv_up gauge\n"), 1);
    EXPECT_LT(text.indexOf("# TYPE zrv_up gauge"), text.indexOf("zrv_up{"));

    int told = 0;
    std::string said;
    {
        MetricsFile file("/proc/zrv-none/zrv.prom", [&](const std::string& why) {
            ++told;
            said = why;
        });
        file.post("a 1\n");
        file.flush();
        file.post("a 2\n");
    }
    EXPECT_EQ(told, 1);
    EXPECT_NE(said.find("/proc/zrv-none/zrv.prom"), std::string::npos);
}

TEST(CallJson, WhatACallJudgedComesBackFromTheSpoolAndADamagedFindingRefusesTheLine)
{
    CallResult c;
    c.callId = "id-1";
    c.station = "S";
    c.started = QDateTime::currentDateTimeUtc();
    c.outcome = Outcome::Ok;
    c.limits = CallResult::Limits{5.0f, 0.5f, 12.0f, std::nanf("")};
    c.onBattery = true;
    const Finding f{"pressure-p2", "critical", "2026-12-01T10:00:00.000Z", "P2 = 6.2", {{"value", 6.2}}};
    c.health.open = {f};
    c.health.opened = {f};
    c.health.judged = {"pressure-p2", "link"};
    QJsonObject o = callToJson(c);
    const auto back = callFromJson(o);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->health.open.size(), 1u);
    EXPECT_EQ(back->health.open[0].since, f.since);
    EXPECT_DOUBLE_EQ(back->health.open[0].values.at("value"), 6.2);
    EXPECT_EQ(back->health.judged, c.health.judged);
    EXPECT_TRUE(std::isnan(back->limits->p1Min));
    EXPECT_TRUE(*back->onBattery);
    QJsonObject health = o["health"].toObject();
    QJsonArray open = health["open"].toArray();
    QJsonObject damaged = open[0].toObject();
    damaged["severity"] = "mild";
    open[0] = damaged;
    health["open"] = open;
    o["health"] = health;
    EXPECT_FALSE(callFromJson(o));
}
