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
#include <QThread>

#include <algorithm>
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
// a free port its one station.
void claimLatency(PgServer& pg)
{
    QString why;
    pg.sql("CREATE DATABASE claims", &why);
    std::string error;
    auto url = parseStoreUrl(QString("postgresql://postgres@127.0.0.1:%1/claims").arg(pg.port()), &error);
    FleetTable table(*url, "bench", 120);
    Enrolment e;
    e.collector = "bench";
    e.host = "bench";
    e.pools = {"P"};
    std::vector<std::string> pool;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "S" + std::to_string(i);
        e.stations.push_back({name, i < 9000 ? "P" : "", i < 9000 ? "" : "bench", 86400, 1000.0 + i});
        if (i < 9000) pool.push_back(name);
    }
    if (!table.enrol(e, &error)) {
        std::printf("enrol: %s\n", error.c_str());
        return;
    }
    const auto timed = [&](const std::vector<ClaimGroup>& groups, const char* what) {
        std::vector<double> ms;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            const auto claimed = table.claim(groups, &error);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            if (!claimed) {
                std::printf("claim: %s\n", error.c_str());
                return;
            }
            std::vector<std::string> back;
            for (const Claimed& c : *claimed) back.push_back(c.station);
            table.release(back);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("claim with 10000 stations in the table, %s: median %.1f ms, 95th %.1f ms\n", what, ms[ms.size() / 2],
                    ms[ms.size() * 95 / 100]);
    };
    timed({{"pool P", pool, 2}}, "two of a 9000-station pool");
    timed({{"COM1", {"S9500"}, 1}}, "a port's own station");
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
    for (int collectors = 1; collectors <= 3; ++collectors) throughput(pg, dir.path(), collectors);
    return 0;
}
