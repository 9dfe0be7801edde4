// The stations window over a large fleet: how long the window thread waits
// while the collector's store and the change record are read again (a
// refresh, or opening the roster), against the 100 ms within which a click
// still feels answered, and how long until the rows are shown. The store has the collector's own schema
// (made by its SqlStore) with 200 stations and 2,500 calls each; the change
// record is twice the 16 MiB the window reads at most. Then a station's
// history: 100,000 journal records and 1,000 calls over the last 90 days,
// read aside and thinned to the chart's width: how long the window thread
// waits (against 50 ms) and how long the charts take to draw (against 100 ms).

#include "BenchStore.h"
#include "session/ChangeRecord.h"
#include "session/Session.h"
#include "stations/ui/History_form.h"
#include "stations/ui/Stations_form.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QApplication app(argc, argv);
    constexpr int kStations = 200;
    const int callsEach = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2500;

    const QString db = dir.path() + "/zrv.db";
    sqlite3* raw = beginBenchStore(db, "bench_stations");
    if (!raw) return 1;
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO calls (call_id, station, port, started_utc, seconds, attempt, outcome, why, "
                       "device_number, clock_offset_s, records_read, setpoint_differences) "
                       "VALUES (?, ?, 'tcp 10.0.0.1 4001', ?, 12.5, 1, ?, ?, 127, ?, ?, ?)",
                       -1, &insert, nullptr);
    QString roster = "[defaults]\nstores = [\"sqlite:" + db + "\"]\n";
    for (int s = 0; s < kStations; ++s) {
        const QByteArray name = QString("ГРП-%1").arg(s).toUtf8();
        roster += QString("[[station]]\nname = \"ГРП-%1\"\nport = \"tcp 10.0.%2.%3 4001\"\n").arg(s).arg(s / 250).arg(s % 250 + 1);
        for (int c = 0; c < callsEach; ++c) {
            const QByteArray id = QString("%1-%2").arg(s).arg(c).toUtf8();
            // Every fifteen minutes back from the start of the year.
            const QByteArray at = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(c) * 900)
                                      .toString(Qt::ISODateWithMs).toUtf8();
            const bool failed = (c + s) % 17 == 0;
            sqlite3_bind_text(insert, 1, id.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, at.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, failed ? "no-device" : "ok", -1, SQLITE_STATIC);
            if (failed) sqlite3_bind_text(insert, 5, "нет ответа", -1, SQLITE_STATIC);
            else sqlite3_bind_null(insert, 5);
            sqlite3_bind_int(insert, 6, c % 40 - 20);
            sqlite3_bind_int(insert, 7, c % 3);
            sqlite3_bind_int(insert, 8, s % 5 == 0 ? 2 : 0);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    QFile rosterFile(dir.path() + "/stations.toml");
    rosterFile.open(QIODevice::WriteOnly);
    rosterFile.write(roster.toUtf8());
    rosterFile.close();

    // A change record at the size the window reads at most.
    const QString changes = dir.path() + "/changes.jsonl";
    {
        zrv::ChangeEntry e;
        e.port = "COM32";
        e.device = 127;
        e.what = "setpoints";
        e.before = "{\"4\":88,\"5\":90,\"12\":16384,\"13\":17000}";
        e.after = "{\"4\":95,\"5\":91,\"12\":16400,\"13\":17010}";
        e.outcome = "ok";
        const std::string line = zrv::changeLine(e) + "\n";
        QFile f(changes);
        f.open(QIODevice::WriteOnly);
        QByteArray block;
        while (block.size() < (1 << 20)) block += QByteArray::fromStdString(line);
        for (int i = 0; i < 32; ++i) f.write(block);  // twice what is read
    }

    zrv::Session session;
    zrv::Session::Options options = session.options();
    options.changeRecordPath = changes;
    session.setOptions(options);
    QMdiArea area;
    area.resize(1100, 700);
    area.show();
    auto* window = new TStations(&area, session);
    window->resize(1000, 600);
    window->showNormal();
    QApplication::processEvents();

    // The window thread's longest gap between two ticks of a 2 ms timer while
    // a refresh is read and shown: what an operator's click would wait.
    QElapsedTimer sinceTick;
    double longestGap = 0;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    // Starts a read and waits until `shown` says it is on the screen.
    const auto measure = [&](auto* reader, auto shown, const std::function<void()>& start, double* gap,
                             double* untilShown) {
        QEventLoop loop;
        const auto done = QObject::connect(reader, shown, &loop, &QEventLoop::quit);
        longestGap = 0;
        ticker.start();
        sinceTick.start();
        QElapsedTimer all;
        all.start();
        start();
        loop.exec();
        *untilShown = double(all.nsecsElapsed()) / 1e6;
        ticker.stop();
        QObject::disconnect(done);
        *gap = longestGap;
    };
    double openGap = 0, openMs = 0;
    measure(window, &TStations::refreshed, [&] { window->openRoster(rosterFile.fileName()); }, &openGap, &openMs);
    window->Table->setCurrentCell(0, 0);

    double worstGap = 0, worstShown = 0;
    const int rounds = 5;
    for (int i = 0; i < rounds; ++i) {
        double gap = 0, shown = 0;
        measure(window, &TStations::refreshed, [&] { window->refresh(); }, &gap, &shown);
        worstGap = std::max(worstGap, gap);
        worstShown = std::max(worstShown, shown);
    }
    // "Журнал изменений" over the same record, read twice: the second time
    // the first reading's rows are let go as well.
    auto* changeLog = new TChangeLog(&area, session);
    double logGap = 0, logShown = 0;
    for (int i = 0; i < 2; ++i) {
        double gap = 0, shown = 0;
        measure(changeLog, &TChangeLog::reloaded, [&] { i == 0 ? changeLog->showNormal() : changeLog->reload(); }, &gap,
                &shown);
        logGap = std::max(logGap, gap);
        logShown = std::max(logShown, shown);
    }

    // Damaged texts: the newest call's reason of 5 MB and a change line of
    // 10 MB. Cells hold a line of them; the line is set aside.
    {
        sqlite3* w = nullptr;
        sqlite3_open(db.toUtf8().constData(), &w);
        const QByteArray huge(5 << 20, 'x');
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(w, "UPDATE calls SET why = ?, outcome = 'no-device' WHERE station = 'ГРП-0' AND "
                              "started_utc = (SELECT MAX(started_utc) FROM calls WHERE station = 'ГРП-0')",
                           -1, &st, nullptr);
        sqlite3_bind_text(st, 1, huge.constData(), int(huge.size()), SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_finalize(st);
        sqlite3_close(w);
        QFile f(changes);
        f.open(QIODevice::Append);
        f.write("{\"what\":\"clock\",\"port\":\"COM32\",\"device\":127,\"before\":\"" + QByteArray(10 << 20, 'y') +
                "\"}\n");
    }
    double damagedGap = 0, damagedShown = 0, damagedLogGap = 0, damagedLogShown = 0;
    measure(window, &TStations::refreshed, [&] { window->refresh(); }, &damagedGap, &damagedShown);
    measure(changeLog, &TChangeLog::reloaded, [&] { changeLog->reload(); }, &damagedLogGap, &damagedLogShown);

    // A station's history of 100,000 records over 90 days.
    constexpr int kRecords = 100000;
    {
        sqlite3* w = nullptr;
        sqlite3_open(db.toUtf8().constData(), &w);
        sqlite3_exec(w, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(w, "INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, p1, p2) "
                              "VALUES (127, ?, ?, ?, 'ГРП-1', ?, ?)", -1, &st, nullptr);
        const QDateTime start = QDateTime::currentDateTime().addDays(-89);
        for (int i = 0; i < kRecords; ++i) {
            const QByteArray stamp = QByteArray::number(i, 16);
            const QByteArray at = start.addSecs(qint64(i) * 77).toString("yyyy-MM-ddTHH:mm:ss").toUtf8();
            sqlite3_bind_int(st, 1, 512 + i % 30000);
            sqlite3_bind_text(st, 2, stamp.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, at.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(st, 4, 6.0 + 0.3 * std::sin(i / 500.0));
            sqlite3_bind_double(st, 5, 2.0 + 0.2 * std::sin(i / 300.0) + (i % 9973 == 0 ? 4.0 : 0.0));
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_prepare_v2(w, "INSERT INTO calls (call_id, station, started_utc, outcome, vbat, clock_offset_s, p2_max, "
                              "p2_min, p1_max, p1_min) VALUES (?, 'ГРП-1', ?, 'ok', ?, ?, 5.0, 0.5, 12.0, 1.0)", -1, &st, nullptr);
        for (int i = 0; i < 1000; ++i) {
            const QByteArray id = "h" + QByteArray::number(i);
            const QByteArray at = QDateTime::currentDateTimeUtc().addSecs(-qint64(i) * 7700).toString(Qt::ISODateWithMs).toUtf8();
            sqlite3_bind_text(st, 1, id.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, at.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(st, 3, 3.6 - i * 0.0003);
            sqlite3_bind_int(st, 4, i % 60);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(w, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(w);
    }
    window->refresh();
    {
        QEventLoop loop;
        QObject::connect(window, &TStations::refreshed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Shown once to exist, then each span read and drawn.
    window->showHistory(window->rowOf("ГРП-1"));
    TStationHistory* history = window->history();
    history->resize(900, 560);
    {
        QEventLoop loop;
        QObject::connect(history, &TStationHistory::drawn, &loop, &QEventLoop::quit);
        loop.exec();
    }
    double historyGap = 0, historyShown = 0, drawMs = 0;
    history->Span->setCurrentIndex(0);
    measure(history, &TStationHistory::drawn, [&] { history->Span->setCurrentIndex(2); }, &historyGap, &historyShown);
    QElapsedTimer drawing;
    drawing.start();
    for (QChartView* v : {history->Pressures, history->Battery, history->Clock}) v->grab();
    drawMs = double(drawing.nsecsElapsed()) / 1e6;

    std::printf("stations window: %d stations, %d calls in the store, change record %.0f MiB\n", kStations,
                kStations * callsEach, double(QFile(changes).size()) / (1 << 20));
    std::printf("  rows shown: %d\n", window->Table->rowCount());
    std::printf("  opening the roster: shown after %.0f ms; window thread's longest wait %.1f ms (%.2f of 100 ms)\n",
                openMs, openGap, openGap / 100);
    std::printf("  refresh (worst of %d): shown after %.0f ms; window thread's longest wait %.1f ms (%.2f of 100 ms)\n",
                rounds, worstShown, worstGap, worstGap / 100);
    std::printf("  change record window (%d rows shown): shown after %.0f ms; window thread's longest wait %.1f ms "
                "(%.2f of 100 ms)\n",
                changeLog->Table->rowCount(), logShown, logGap, logGap / 100);
    std::printf("  a 5 MB reason in the store: refresh shown after %.0f ms; window thread's longest wait %.1f ms "
                "(%.2f of 100 ms)\n",
                damagedShown, damagedGap, damagedGap / 100);
    std::printf("  a 10 MB change line: change record shown after %.0f ms; window thread's longest wait %.1f ms "
                "(%.2f of 100 ms)\n",
                damagedLogShown, damagedLogGap, damagedLogGap / 100);
    std::printf("  a station's history, 90 days (%s): shown after %.0f ms; window thread's longest wait %.1f ms "
                "(%.2f of 50 ms); the three charts drawn in %.1f ms (%.2f of 100 ms), %lld points of P2 for %d records\n",
                history->State->text().toUtf8().constData(), historyShown, historyGap, historyGap / 50, drawMs, drawMs / 100,
                qlonglong(history->P2->count()), kRecords);
    return 0;
}
