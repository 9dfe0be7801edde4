// The traffic monitor's words and the trend store's thinning.

#include "diagnostics/TrafficLog.h"
#include "diagnostics/TrendStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zrv;
using namespace zrv::diagnostics;

namespace {

TransactionRecord record(uint8_t function, TransactOutcome outcome, std::vector<uint8_t> reply = {},
                         uint8_t exceptionCode = 0)
{
    TransactionRecord r;
    r.slave = 1;
    r.function = function;
    r.outcome = outcome;
    r.reply = std::move(reply);
    r.exceptionCode = exceptionCode;
    return r;
}

}  // namespace

TEST(TrafficText, OutcomesInTheOperatorsWords)
{
    using O = TransactOutcome;
    EXPECT_EQ(outcomeText(record(3, O::Ok)), "OK");
    EXPECT_EQ(outcomeText(record(3, O::Timeout)), "нет ответа");
    EXPECT_EQ(outcomeText(record(3, O::CrcError)), "ошибка CRC");
    EXPECT_EQ(outcomeText(record(4, O::Exception, {}, 2)), "исключение 02");
    EXPECT_EQ(outcomeText(record(4, O::Exception, {}, 0x0B)), "исключение 0B");
    // A refused reply: short of what its header promised, longer, or a
    // header that cannot start the reply at all.
    EXPECT_EQ(outcomeText(record(3, O::Malformed, {0x01, 0x03, 0x02, 0x00})), "неполный ответ");
    EXPECT_EQ(outcomeText(record(3, O::Malformed, {0x01})), "неполный ответ");
    EXPECT_EQ(outcomeText(record(3, O::Malformed, {0x01, 0x03, 0x02, 0, 5, 0xAA, 0xBB, 0x55})), "лишние байты");
    EXPECT_EQ(outcomeText(record(3, O::Malformed, {0x02, 0x03, 0x02, 0, 5, 0xAA, 0xBB})), "неверный ответ");
    EXPECT_EQ(outcomeText(record(5, O::EchoMismatch)), "эхо не совпадает");
    EXPECT_EQ(outcomeText(record(5, O::PortLost)), "порт потерян");
    EXPECT_EQ(outcomeText(record(5, O::NotSent)), "не отправлено");
}

TEST(TrafficText, WhatEachFunctionAsked)
{
    EXPECT_EQ(requestSummary(1, 0, 16), "нач. 0, кол. 16");
    EXPECT_EQ(requestSummary(2, 0, 24), "нач. 0, кол. 24");
    EXPECT_EQ(requestSummary(3, 0, 114), "нач. 0, кол. 114");
    EXPECT_EQ(requestSummary(4, 512, 125), "нач. 512, кол. 125");
    EXPECT_EQ(requestSummary(16, 10, 6), "нач. 10, кол. 6");
    EXPECT_EQ(requestSummary(5, 15, 0xFF00), "катушка 15 = ВКЛ");
    EXPECT_EQ(requestSummary(5, 9, 0), "катушка 9 = ВЫКЛ");
    EXPECT_EQ(requestSummary(5, 2, 1), "катушка 2 = 0001");
    EXPECT_EQ(hexBytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(hexBytes({}), "");
    EXPECT_EQ(hexBytes({1, 2, 3}, 2), "01 02 …");
    EXPECT_EQ(durationText(std::chrono::microseconds(412345)), "412.3");

    TrafficRow row{std::chrono::system_clock::now(), record(4, TransactOutcome::Exception, {0x01, 0x84, 0x02, 0xC2, 0xC1}, 2)};
    row.record.start = 512;
    row.record.countOrValue = 0;
    row.record.request = {0x01, 0x04, 0x02, 0x00, 0x00, 0x00, 0x70, 0x72};
    const std::string line = rowLine(row);
    EXPECT_NE(line.find("\t1\t4\tнач. 512, кол. 0\t01 04 02 00 00 00 70 72\t01 84 02 C2 C1\tисключение 02\t0.0"),
              std::string::npos)
        << line;
}

TEST(TrafficLog, BoundedAndCounted)
{
    TrafficLog log(3);
    for (int i = 0; i < 5; ++i) {
        TrafficRow row{{}, record(3, i == 1 ? TransactOutcome::Timeout : TransactOutcome::Ok)};
        row.record.start = uint16_t(i);
        EXPECT_EQ(log.append(row), i < 3 ? 0u : 1u);
    }
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log.at(0).record.start, 2);  // the oldest two went
    EXPECT_EQ(log.at(2).record.start, 4);
    EXPECT_EQ(log.count(TransactOutcome::Ok), 4);  // counted since the clear, dropped rows too
    EXPECT_EQ(log.countsText(), "OK: 4   нет ответа: 1");
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(log.countsText(), "OK: 0");
}

namespace {
// What the trend window draws of a series over [t0, t1] on `columns` columns.
std::vector<TrendPoint> thinned(const TrendStore& store, int series, double t0, double t1, int columns)
{
    ThinnedSeries thin;
    thin.rebuild(store, series, t0, t1, ThinnedSeries::widthFor(t0, t1, columns));
    return thin.points();
}
}  // namespace

TEST(TrendStore, KeepsTheNewestDayAndThinsPerColumn)
{
    TrendStore store(1000);
    for (int i = 0; i < 2500; ++i)
        store.append(i, {float(i), float(-i), float(std::sin(i * 0.01)), 0, 0, 0});
    ASSERT_EQ(store.size(), 1000u);
    EXPECT_EQ(store.firstTime(), 1500.0);
    EXPECT_EQ(store.lastTime(), 2499.0);
    EXPECT_EQ(store.value(kP1, 0), 1500.0f);
    EXPECT_EQ(store.lowerBound(1700.5), 201u);

    // A clock going back is not a sample.
    store.append(100, {1, 1, 1, 1, 1, 1});
    EXPECT_EQ(store.size(), 1000u);

    // 1000 samples into 10 columns as the trend window thins them: at most
    // two points each, plus a column on either side (columns fall on
    // multiples of their width, so the view may cut one more); the extremes
    // kept.
    const auto pts = thinned(store, kTg, 1600, 2400, 10);
    EXPECT_LE(pts.size(), 2u * (10 + 3));
    EXPECT_GE(pts.size(), 10u);
    EXPECT_LT(pts.front().t, 1600.0);  // the line runs to the window's edges
    EXPECT_GT(pts.back().t, 2400.0);
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_LT(pts[i - 1].t, pts[i].t);
    double lo = 1e9, hi = -1e9;
    for (int i = 1600; i <= 2400; ++i) {
        lo = std::min(lo, double(float(std::sin(i * 0.01))));
        hi = std::max(hi, double(float(std::sin(i * 0.01))));
    }
    double plo = 1e9, phi = -1e9;
    for (const auto& p : pts) {
        plo = std::min(plo, p.v);
        phi = std::max(phi, p.v);
    }
    EXPECT_EQ(plo, lo);
    EXPECT_EQ(phi, hi);

    // Nothing to draw: no samples, a view before every sample, no series;
    // no columns is still a picture, not a division by zero.
    EXPECT_TRUE(thinned(TrendStore(10), kP1, 0, 10, 10).empty());
    EXPECT_TRUE(thinned(store, kP1, 0, 10, 10).empty());
    EXPECT_TRUE(thinned(store, kTrendSeriesCount, 1600, 2400, 10).empty());
    EXPECT_TRUE(thinned(store, -1, 1600, 2400, 10).empty());
    EXPECT_FALSE(thinned(store, kP1, 1600, 2400, 0).empty());
}

TEST(TrendStore, GarbageValuesAreLeftOutAndTheCsvReadsInASpreadsheet)
{
    TrendStore store;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    store.append(0.5, {1.5f, 2, 3, 4, 5, 6});
    store.append(1.5, {nan, 2, 3, 4, 5, 6});
    store.append(2.5, {std::numeric_limits<float>::infinity(), 2, 3, 4, 5, 6});
    const auto pts = thinned(store, kP1, 0, 3, 100);
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(pts[0].v, 1.5);
    const std::string csv = store.csv([](double t) { return "T" + std::to_string(int(t)); });
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBF" "Время;t, с;P1;P2;Tг;Qи;Mq;V\r\n", 0), 0u);
    EXPECT_NE(csv.find("\r\nT0;0,500;1,5;2;3;4;5;6\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\nT1;1,500;nan;2;"), std::string::npos) << csv;
}

TEST(ThinnedSeries, FollowingSampleBySampleDrawsWhatThinningAnewWouldAndStaysSmall)
{
    // Twelve hours at one a second, a view of the last 300 s in 100 columns:
    // kept up to date sample by sample, the line is the one thinned anew from
    // the store at every point checked, and never holds more than the view.
    TrendStore store(86400);
    const double width = ThinnedSeries::widthFor(0, 300, 100);
    EXPECT_GE(width, 3.0);
    EXPECT_LT(width, 3.0 * 1.2);
    EXPECT_EQ(ThinnedSeries::widthFor(0, 310, 100), width) << "a span a little longer keeps the width";
    ThinnedSeries live;
    live.rebuild(store, kP1, 0, 300, width);
    std::size_t mostColumns = 0;
    for (int i = 0; i < 43200; ++i) {
        const double t = i;
        const float v = i % 7777 == 5 ? std::numeric_limits<float>::quiet_NaN() : float(std::sin(t / 40) + 0.001 * (i % 13));
        store.append(t, {v, 0, 0, 0, 0, 0});
        const double t0 = std::max(0.0, t - 300);
        live.add(t, v);
        live.dropBefore(t0);
        mostColumns = std::max(mostColumns, live.columns());
        if (i % 4099 == 0 || i == 43199) {
            ThinnedSeries anew;
            anew.rebuild(store, kP1, t0, t, width);
            const auto a = live.points(), b = anew.points();
            ASSERT_EQ(a.size(), b.size()) << "at t = " << t;
            for (std::size_t k = 0; k < a.size(); ++k) {
                EXPECT_EQ(a[k].t, b[k].t);
                EXPECT_EQ(a[k].v, b[k].v);
            }
            double lo = 0, hi = 0;
            ASSERT_TRUE(live.range(t0, t, &lo, &hi));
            EXPECT_LE(lo, hi);
        }
    }
    // The view's columns and one on either side, whatever the hours behind.
    EXPECT_LE(mostColumns, std::size_t(300 / width) + 3);
}
