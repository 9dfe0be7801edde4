// Collectors sharing one modem pool through PostgreSQL: stations called an
// hour against the ideal (lines x 3600 s / the wire time of a call, measured
// from the calls themselves) for 1, 2 and 3 `zrvcollect --serve` with two
// paced modems each; and the claim transaction's latency with 10,000
// stations in the shared table. A PostgreSQL 15 of its own, as the tests run
// one.

#include "../tests/collect/Servers.h"
#include "collect/FleetTable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QThread>
#include <QSqlError>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zrv::collect;

namespace {

constexpr int kModemsEach = 2;
constexpr int kPoolDevices = 40;
constexpr int kStations = 90;
constexpr int kWarmUpS = 15;
constexpr int kWindowS = 60;

struct Throughput {
    int calls = 0;          // begun in the window
    double meanSeconds = 0;  // a call on the wire, start to hang-up
    double busySeconds = 0;  // of the lines' time in the window, in calls
};

Throughput measure(PgServer& pg, const QString& db, const QDateTime& from, const QDateTime& to)
{
    Throughput t;
    const double a = from.toMSecsSinceEpoch() / 1000.0, b = to.toMSecsSinceEpoch() / 1000.0;
    double total = 0;
    int all = 0;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase("QPSQL", "bench");
        d.setHostName("127.0.0.1");
        d.setPort(pg.port());
        d.setUserName("postgres");
        d.setDatabaseName(db);
        if (d.open()) {
            QSqlQuery q(d);
            if (q.exec("SELECT started_utc, seconds FROM calls WHERE outcome = 'ok'"))
                while (q.next()) {
                    const double start = QDateTime::fromString(q.value(0).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch() / 1000.0;
                    const double seconds = q.value(1).toDouble();
                    total += seconds;
                    ++all;
                    if (start >= a && start < b) ++t.calls;
                    t.busySeconds += std::max(0.0, std::min(b, start + seconds) - std::max(a, start));
                }
        }
    }
    QSqlDatabase::removeDatabase("bench");
    t.meanSeconds = all ? total / all : 0;
    return t;
}

// One configuration: `collectors` processes, each with its own two modems of
// the one pool, on a database of their own.
void throughput(PgServer& pg, const QString& dir, int collectors)
{
    const QString db = QString("fleet%1").arg(collectors);
    QString why;
    if (!pg.sql("CREATE DATABASE " + db, &why)) {
        std::printf("createdb: %s\n", qPrintable(why));
        return;
    }
    const QString url = QString("postgresql://postgres@127.0.0.1:%1/%2").arg(pg.port()).arg(db);
    std::vector<std::unique_ptr<QProcess>> sims, procs;
    QString roster = QString("[fleet]\ncoordinate = \"%1\"\nlease = \"30s\"\n").arg(url);
    for (int c = 0; c < collectors; ++c) {
        QStringList ports;
        for (int m = 0; m < kModemsEach; ++m) {
            const int com = 1 + c * kModemsEach + m;
            ports << QString("\"COM%1\"").arg(com);
            sims.push_back(std::make_unique<QProcess>());
            sims.back()->start(ZRVSIM_PROGRAM, {"--com", QString::number(com), "--modem", "--pace", "--fleet",
                                                QString::number(kPoolDevices), "--journal", "20", "--seed", "5"});
            sims.back()->waitForReadyRead(10000);
        }
        roster += QString("[[pool]]\nname = \"P\"\nhost = \"c%1\"\nports = [%2]\n").arg(c + 1).arg(ports.join(", "));
    }
    for (int i = 0; i < kStations; ++i)
        roster += QString("[[station]]\nname = \"S%1\"\npool = \"P\"\nphone = \"%2\"\nevery = \"60s\"\n").arg(i).arg(i % kPoolDevices * 10);
    const QString path = dir + "/" + db + ".toml";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(roster.toUtf8());
    f.close();
    for (int c = 0; c < collectors; ++c) {
        procs.push_back(std::make_unique<QProcess>());
        procs.back()->setStandardErrorFile(dir + QString("/%1-c%2.err").arg(db).arg(c + 1));
        procs.back()->start(ZRVCOLLECT_PROGRAM, {"--serve", "--roster", path, "--name", QString("c%1").arg(c + 1),
                                                 "--state-dir", dir + QString("/%1-state%2").arg(db).arg(c + 1)});
    }
    QThread::sleep(kWarmUpS);
    const QDateTime from = QDateTime::currentDateTimeUtc();
    QThread::sleep(kWindowS);
    const QDateTime to = QDateTime::currentDateTimeUtc();
    for (auto& p : procs) p->terminate();
    for (auto& p : procs) p->waitForFinished(30000);
    for (auto& s : sims) {
        s->terminate();
        s->waitForFinished(5000);
    }
    const Throughput t = measure(pg, db, from, to);
    // Stations an hour as the lines' busy share of the window says, against
    // every line calling without a pause between calls.
    const int lines = collectors * kModemsEach;
    const double share = t.busySeconds / (lines * double(kWindowS));
    const double ideal = t.meanSeconds > 0 ? lines * 3600.0 / t.meanSeconds : 0;
    std::printf("%d collector(s), %d lines: a call %.1f s on the wire, %d begun in %d s: %6.0f stations/h, "
                "ideal %6.0f, ratio %.3f%s\n",
                collectors, lines, t.meanSeconds, t.calls, kWindowS, share * ideal, ideal, share,
                collectors == 3 ? " (target >= 0.90)" : "");
    std::fflush(stdout);
}

// The claim alone: one pool of 9,000 stations and 1,000 on ports of their
// own, all due; a collector with two free modems claims two of the pool, or
// a free port its one station; by one claimer, then by eight at once (each
// its own connection, as eight collectors), and as the claim was made before
// (every candidate station named in the statement) beside it.
// Each station claimed is then stored as a call would store it (due again
// a day later, its claim let go), or with `giveBack` only let go.
std::vector<double> claims(const QString& url, const std::string& name, int rounds,
                           const std::function<std::optional<std::vector<Claimed>>(FleetTable&, std::string*)>& claim,
                           bool giveBack)
{
    std::string error;
    FleetTable table(*parseStoreUrl(url, &error), name, 120);
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const auto claimed = claim(table, &error);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!claimed) {
            std::printf("claim: %s\n", error.c_str());
            return {};
        }
        std::vector<std::string> back;
        for (const Claimed& c : *claimed) {
            back.push_back(c.station);
            if (giveBack) continue;
            CallResult call;
            call.callId = QUuid::createUuid().toString(QUuid::WithoutBraces);
            call.station = c.station;
            call.started = QDateTime::currentDateTimeUtc();
            call.outcome = zrv::fleet::Outcome::Ok;
            call.collector = name;
            call.nextDue = call.started.addDays(1);
            call.leaseToken = c.token;
            SinkError stored;
            if (!table.write(call, &stored)) std::printf("store: %s\n", stored.why.c_str());
        }
        if (giveBack) table.release(back);
        // A serving collector claims once a second at most; eight of them
        // here claim a hundred times as often, and still overlap.
        QThread::msleep(10);
    }
    return ms;
}

void printLatency(const char* what, int claimers, std::vector<double> ms)
{
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("claim, %s, %d claimer%s: median %.2f ms, 99th %.2f ms\n", what, claimers, claimers > 1 ? "s" : "",
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]);
    std::fflush(stdout);
}

// The statement the claim was before: the candidates as bind values.
std::optional<std::vector<Claimed>> claimByList(const std::string& connection, const std::string& name, const QString& url,
                                                const std::vector<std::string>& candidates, int count, std::string* why)
{
    std::vector<Claimed> out;
    {
        QSqlDatabase d = QSqlDatabase::database(QString::fromStdString("list-" + connection), false);
        if (!d.isValid()) {
            std::string error;
            const auto u = parseStoreUrl(url, &error);
            d = QSqlDatabase::addDatabase("QPSQL", QString::fromStdString("list-" + connection));
            const SqlOptions* sql = u->as<SqlOptions>();
            d.setHostName(sql->host);
            d.setPort(sql->port);
            d.setUserName(u->user);
            d.setDatabaseName(sql->database);
        }
        if (!d.isOpen() && !d.open()) {
            *why = "no connection";
            return std::nullopt;
        }
        QStringList marks;
        for (std::size_t i = 0; i < candidates.size(); ++i) marks << "?";
        const QString now = "extract(epoch from clock_timestamp())";
        d.transaction();
        QSqlQuery q(d);
        q.prepare(QString("UPDATE fleet_stations SET lease_holder = ?, lease_until = %1 + 120 WHERE station IN (SELECT station "
                          "FROM fleet_stations WHERE station IN (%2) AND COALESCE(next_due, 0) <= %1 AND (lease_holder IS NULL "
                          "OR lease_until IS NULL OR lease_until < %1 OR lease_until > %1 + 240) ORDER BY next_due, station "
                          "LIMIT ? FOR UPDATE SKIP LOCKED) RETURNING station")
                      .arg(now, marks.join(',')));
        q.addBindValue(QString::fromStdString(name));
        for (const std::string& c : candidates) q.addBindValue(QString::fromStdString(c));
        q.addBindValue(count);
        if (!q.exec()) {
            *why = q.lastError().text().toStdString();
            d.rollback();
            return std::nullopt;
        }
        while (q.next()) out.push_back({"pool P", q.value(0).toString().toStdString(), 0, {}, {}});
        d.commit();
    }
    return out;
}

void claimLatency(PgServer& pg)
{
    QString why;
    pg.sql("CREATE DATABASE claims", &why);
    std::string error;
    const QString url = QString("postgresql://postgres@127.0.0.1:%1/claims").arg(pg.port());
    FleetTable table(*parseStoreUrl(url, &error), "bench", 120);
    Enrolment e;
    e.collector = "bench";
    e.host = "bench";
    e.pools = {"P"};
    std::vector<std::string> pool;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "S" + std::to_string(i);
        e.stations.push_back({name, i < 9000 ? "P" : "", i < 9000 ? "" : "bench", 86400, 1000.0 + i,
                              i < 9000 ? "" : "tcp 10.0.0.1 " + std::to_string(i), std::nullopt});
        if (i < 9000) pool.push_back(name);
    }
    if (!table.enrol(e, &error)) {
        std::printf("enrol: %s\n", error.c_str());
        return;
    }
    const int minute = 600;
    const auto byPool = [&](FleetTable& t, std::string* w) {
        return t.claimTransaction({{"pool P", "P", "", 2, minute, {}}}, w);
    };
    const auto byPort = [&](FleetTable& t, std::string* w) {
        return t.claimTransaction({{"tcp 10.0.0.1 9500", "", "tcp 10.0.0.1 9500", 1, minute, {}}}, w);
    };
    const auto byPoolAndRead = [&](FleetTable& t, std::string* w) {
        return t.claim({{"pool P", "P", "", 2, minute, {}}}, w);
    };
    const auto atOnce = [&](int claimers, int rounds, const auto& claim, bool giveBack = false) {
        std::vector<std::vector<double>> each(static_cast<std::size_t>(claimers));
        std::vector<std::thread> threads;
        for (int c = 0; c < claimers; ++c)
            threads.emplace_back([&, c] { each[std::size_t(c)] = claims(url, "bench", rounds, claim, giveBack); });
        for (std::thread& t : threads) t.join();
        std::vector<double> all;
        for (const auto& v : each) all.insert(all.end(), v.begin(), v.end());
        return all;
    };
    for (const int claimers : {1, 8}) {
        printLatency("before (every candidate named), two of a 9000-station pool", claimers,
                     atOnce(claimers, 40, [&](FleetTable& t, std::string* w) {
                         static std::atomic<int> threads{0};
                         thread_local const std::string connection = "list" + std::to_string(threads++);
                         (void)t;
                         // Held by the name the claimer lets its claims go by.
                         return claimByList(connection, "bench", url, pool, 2, w);
                     }, true));
        printLatency("two of a 9000-station pool", claimers, atOnce(claimers, 200, byPool));
        printLatency("a port's own station", claimers, atOnce(claimers, 200, byPort, true));
        printLatency("two of the pool, then their cursors and history", claimers, atOnce(claimers, 200, byPoolAndRead));
    }

    // A collector dies holding a station: another, claiming once a second
    // as a serving collector does, takes it this long after its lease lapsed.
    FleetTable dead(*parseStoreUrl(url, &error), "dead", 5);
    FleetTable heir(*parseStoreUrl(url, &error), "bench", 5);
    const auto held = dead.claim({{"pool P", "P", "", 1, minute, {}}}, &error);
    if (!held || held->empty()) {
        std::printf("takeover: nothing claimed (%s)\n", error.c_str());
        return;
    }
    const qint64 lapse = QDateTime::currentMSecsSinceEpoch() + 5000;
    std::vector<std::string> taken;
    while (QDateTime::currentMSecsSinceEpoch() < lapse + 10'000) {
        const auto claimed = heir.claim({{"pool P", "P", "", 2, minute, {}}}, &error);
        bool found = false;
        for (const Claimed& c : claimed.value_or(std::vector<Claimed>{})) {
            taken.push_back(c.station);
            found = found || c.station == held->front().station;
        }
        if (found) {
            std::printf("takeover of a dead collector's station: %.2f s after its lease lapsed (lease 5 s, target <= 1 s)\n",
                        double(QDateTime::currentMSecsSinceEpoch() - lapse) / 1000.0);
            break;
        }
        heir.release(taken);
        taken.clear();
        QThread::msleep(1000);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").toUtf8());
    PgServer pg;
    QString why;
    if (!pg.start(&why)) {
        std::printf("PostgreSQL did not start: %s\n", qPrintable(why));
        return 1;
    }
    claimLatency(pg);
    // --claims: the claim's figures alone, without the three minutes of calls.
    if (app.arguments().contains(QStringLiteral("--claims"))) return 0;
    for (int collectors = 1; collectors <= 3; ++collectors) throughput(pg, dir.path(), collectors);
    return 0;
}
