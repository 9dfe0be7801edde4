// Collectors that share one roster through PostgreSQL, as processes: three
// `zrvcollect --serve` over sixty simulated stations (TCP, and two modem
// pools), one killed in the middle of a call, the database stopped and
// started again under them; and a journal whose records are each station's.

#include "Servers.h"
#include "collect/FleetTable.h"
#include "collect/Store.h"
#include "fleet/Schema.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <limits>
#include <map>

using namespace zrv::collect;

namespace {

// The first of n loopback ports in a row that are all free now.
int freePortRun(int n)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int base = freeLoopbackPort();
        bool all = base > 0 && base + n < 65535;
        for (int i = 1; all && i < n; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(base + i));
            all = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
        }
        if (all) return base;
    }
    return 0;
}

qint64 msOf(const QString& iso)
{
    return QDateTime::fromString(iso, Qt::ISODateWithMs).toMSecsSinceEpoch();
}

// What a service manager hears on its notification socket.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const QByteArray p = path.toLocal8Bit();
        std::memcpy(a.sun_path, p.constData(), std::min<std::size_t>(p.size(), sizeof a.sun_path - 1));
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~NotifySocket() { ::close(m_fd); }
    QString heard()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0) m_heard += QString::fromUtf8(buf, int(n)) + '\n';
        return m_heard;
    }
    const QString& path() const { return m_path; }

private:
    QString m_path, m_heard;
    int m_fd = -1;
};

}  // namespace

class TestFleetServe : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_pgPort = 0;

    QList<QStringList> rows(const QString& sql)
    {
        QList<QStringList> out;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QPSQL", "check");
            d.setHostName("127.0.0.1");
            d.setPort(m_pgPort);
            d.setUserName("postgres");
            d.setDatabaseName("zrv");
            if (d.open()) {
                QSqlQuery q(d);
                if (q.exec(sql))
                    while (q.next()) {
                        QStringList r;
                        for (int i = 0; i < q.record().count(); ++i) r << q.value(i).toString();
                        out << r;
                    }
                else
                    qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            }
        }
        QSqlDatabase::removeDatabase("check");
        return out;
    }

    // Each connection a zrvsim log shows, by device: [open, close) in ms.
    static std::map<QString, std::vector<std::pair<qint64, qint64>>> connections(const QString& file, QStringList* overlaps)
    {
        std::map<QString, std::vector<std::pair<qint64, qint64>>> out;
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w.size() < 5) continue;
            const QString device = QString::fromUtf8(w[2] + ' ' + w[3] + ' ' + w[4]);
            const qint64 at = msOf(QString::fromUtf8(w[0]));
            auto& list = out[device];
            if (w[1] == "open") {
                // A device is reached by one call at a time.
                if (!list.empty() && list.back().second == 0)
                    *overlaps << QString("%1: %2 opened again at %3 while open").arg(file, device, QString::fromUtf8(w[0]));
                list.emplace_back(at, 0);
            } else if (!list.empty() && list.back().second == 0) {
                list.back().second = at;
            }
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The modems' COMn links go to a ports folder of this test's own.
        qputenv("XDG_CONFIG_HOME", (m_dir.path() + "/cfg").toUtf8());
    }

    void aCallMovesItsScheduleAndLetsItsClaimGoInItsOwnTransaction()
    {
        // A store of the schema before, with a call in it: brought forward
        // as it is opened.
        const QString db = m_dir.path() + "/v3.db";
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "old");
            d.setDatabaseName(db);
            QVERIFY(d.open());
            QSqlQuery q(d);
            QVERIFY(q.exec(zrv::fleet::kCreateSchemaTable));
            for (int v = 0; v < 3; ++v) {
                for (const std::string& sql : zrv::fleet::schemaSteps()[std::size_t(v)])
                    QVERIFY2(q.exec(QString::fromStdString(sql)), qPrintable(q.lastError().text()));
                QVERIFY(q.exec(QString("INSERT INTO zrv_schema VALUES (%1)").arg(v + 1)));
            }
            QVERIFY(q.exec("INSERT INTO calls (call_id, station, started_utc, outcome) VALUES ('old', 'A', "
                           "'2026-11-01T08:00:00.000Z', 'ok')"));
            QVERIFY(q.exec("INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, entries) "
                           "VALUES (127, 10, '0b01:0807:0d1a', '2026-11-01T08:07:13', 'A', 'old', 1)"));
        }
        QSqlDatabase::removeDatabase("old");

        std::string why;
        SqlStore store(*parseStoreUrl("sqlite:" + db, &why));
        SinkError error;
        QVERIFY2(store.open(&error), error.why.c_str());
        const QDateTime t0 = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 600, Qt::UTC);
        const auto call = [&](const char* id, int minutes, zrv::fleet::Outcome outcome, int nextS) {
            CallResult c;
            c.callId = id;
            c.station = "A";
            c.started = t0.addSecs(minutes * 60);
            c.outcome = outcome;
            c.collector = "c2";
            c.nextDue = c.started.addSecs(nextS);
            return c;
        };
        QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "new");
        d.setDatabaseName(db);
        QVERIFY(d.open());
        QSqlQuery q(d);
        const auto row = [&] {
            q.exec("SELECT next_due, fails, lease_holder, last_collector, last_success IS NOT NULL FROM fleet_stations "
                   "WHERE station = 'A'");
            q.next();
            const QString r = QString("%1 %2 %3 %4 %5")
                                  .arg(qRound64(q.value(0).toDouble() - t0.toSecsSinceEpoch()))
                                  .arg(q.value(1).toInt())
                                  .arg(q.value(2).toString(), q.value(3).toString())
                                  .arg(q.value(4).toInt());
            q.finish();  // no read left open under the store's writes
            return r;
        };
        // Two failures in a row count, a stopped call does not; a success
        // clears them. The claim of the collector that made the call goes,
        // another's stays.
        QVERIFY2(store.write(call("f1", 0, zrv::fleet::Outcome::NoDevice, 30), &error), error.why.c_str());
        QVERIFY(q.exec("UPDATE fleet_stations SET lease_holder = 'c2', lease_until = 1e12"));
        QVERIFY2(store.write(call("f2", 1, zrv::fleet::Outcome::NoDevice, 60), &error), error.why.c_str());
        QCOMPARE(row(), QString("120 2  c2 0"));
        QVERIFY2(store.write(call("s", 2, zrv::fleet::Outcome::Stopped, 0), &error), error.why.c_str());
        QCOMPARE(row(), QString("120 2  c2 0"));
        // Another collector's live claim: a call made without a claim, or
        // under an earlier claim of the station (its collector paused or cut
        // off past the lease), is stored but moves neither the schedule nor
        // the claim. The holder's own call does, and lets its claim go.
        QVERIFY(q.exec("UPDATE fleet_stations SET lease_holder = 'c3', lease_until = 1e12, lease_token = 7"));
        QVERIFY2(store.write(call("ok", 3, zrv::fleet::Outcome::Ok, 3600), &error), error.why.c_str());
        QCOMPARE(row(), QString("120 2 c3 c2 0"));
        CallResult stale = call("stale", 3, zrv::fleet::Outcome::Ok, 3600);
        stale.leaseToken = 6;
        QVERIFY2(store.write(stale, &error), error.why.c_str());
        QCOMPARE(row(), QString("120 2 c3 c2 0"));
        CallResult held = call("held", 3, zrv::fleet::Outcome::Ok, 3600);
        held.collector = "c3";
        held.leaseToken = 7;
        QVERIFY2(store.write(held, &error), error.why.c_str());
        QCOMPARE(row(), QString("3780 0  c3 1"));
        int n = 0;
        // A call replayed from a spool after a newer one leaves the schedule.
        QVERIFY2(store.write(call("late", 1, zrv::fleet::Outcome::NoDevice, 30), &error), error.why.c_str());
        QCOMPARE(row(), QString("3780 0  c3 1"));
        QVERIFY(q.exec("SELECT COUNT(*) FROM calls WHERE collector = 'c2'") && q.next());
        QCOMPARE(q.value(0).toInt(), 6);
        q.finish();

        // Identical regulators share a device number: a record two of them
        // wrote at the same place and second is each station's own.
        for (const char* station : {"B", "C", "C"}) {
            CallResult c = call(station, 4, zrv::fleet::Outcome::Ok, 60);
            c.callId = QString("rec-") + station + QString::number(n++);
            c.station = station;
            c.deviceNumber = 127;
            zrv::journal::RecordData r;
            r.key.start = 10;
            r.key.stamp = {0x0B01, 0x0807, 0x0D1A};
            c.records = {r};
            QVERIFY2(store.write(c, &error), error.why.c_str());
        }
        QVERIFY(q.exec("SELECT station, COUNT(*) FROM journal GROUP BY station ORDER BY station"));
        QStringList kept;
        while (q.next()) kept << q.value(0).toString() + "=" + q.value(1).toString();
        QCOMPARE(kept, (QStringList{"A=1", "B=1", "C=1"}));
        q.finish();
        d.close();
        d = QSqlDatabase();
        QSqlDatabase::removeDatabase("new");
    }

    void rowsADamagedOrNewerCollectorWroteStopNobody()
    {
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        m_pgPort = pg.port();
        const QString rosterPath = m_dir.path() + "/damaged.toml";
        QFile f(rosterPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QString("[fleet]\ncoordinate = \"%1\"\nlease = \"10s\"\n"
                        "[[pool]]\nname = \"P\"\nhost = \"c9\"\nports = [\"COM5\"]\n"
                        "[[station]]\nname = \"S1\"\npool = \"P\"\nphone = \"1\"\n"
                        "[[station]]\nname = \"S2\"\npool = \"P\"\nphone = \"2\"\n"
                        "[[station]]\nname = \"S3\"\nport = \"COM1\"\nhost = \"c9\"\n"
                        "[[station]]\nname = \"S4, \\\"q\\\" {\\\\}\"\npool = \"P\"\nphone = \"4\"\n")
                    .arg(pg.url())
                    .toUtf8());
        f.close();
        std::string error;
        FleetTable table(*parseStoreUrl(pg.url(), &error), "c9", 10);
        Enrolment e;
        e.collector = e.host = "c9";
        e.pools = {"P"};
        e.fresh = true;
        for (const char* s : {"S1", "S2", "S3"})
            e.stations.push_back({s, s[1] == '3' ? "" : "P", s[1] == '3' ? "c9" : "", 60, 1000, "COM1", std::nullopt});
        // Due first, and named as no list may split or quote it wrongly.
        const std::string awkward = "S4, \"q\" {\\}";
        e.stations.push_back({awkward, "P", "", 60, 5, "", std::nullopt});
        // What the claim picks by, besides: a pool station the roster has
        // since dropped (enrolled once, then no more), one outside its hours
        // at the claim's minute, and another collector's station on a port
        // of the same name, due before all of them.
        Enrolment before = e;
        before.stations.push_back({"S6", "P", "", 60, 10, "", std::nullopt});
        QVERIFY2(table.enrol(before, &error), error.c_str());
        e.stations.push_back({"S5", "P", "", 60, 10, "", std::pair{8 * 60, 17 * 60}});
        e.stations.push_back({"S7", "", "c7", 60, 10, "COM1", std::nullopt});
        QVERIFY2(table.enrol(e, &error), error.c_str());
        // A newer collector's column, a lease a thousand years ahead, a live
        // lease of a collector nobody knows, and a heartbeat from the future.
        QVERIFY2(pg.sql("ALTER TABLE fleet_stations ADD COLUMN priority INTEGER DEFAULT 5;"
                        "ALTER TABLE fleet_collectors ADD COLUMN region TEXT;"
                        "UPDATE fleet_stations SET lease_holder = 'ghost', lease_until = extract(epoch from now()) + 3e10 "
                        "WHERE station = 'S1';"
                        "UPDATE fleet_stations SET lease_holder = 'c8', lease_until = extract(epoch from now()) + 8 "
                        "WHERE station = 'S2';"
                        "INSERT INTO fleet_collectors (collector, host, pid, heartbeat) "
                        "VALUES ('ghost', 'nowhere', 1, extract(epoch from now()) + 3600);"
                        // and one the roster does not name, silent for 100 s
                        "INSERT INTO fleet_collectors (collector, host, pid, lease_s, heartbeat) "
                        "VALUES ('stranger', 'elsewhere', 2, 10, extract(epoch from now()) - 100);"
                        // and a station since taken out of the roster
                        "INSERT INTO fleet_stations (station, every_s, next_due, last_attempt, last_success) "
                        "VALUES ('S0', 60, 0, 1000, 1000)",
                        &why),
                 qPrintable(why));
        // Being called here already: what is left of the pool is nothing.
        const auto none = table.claim({{"pool P", "P", "", 2, 20 * 60, {awkward, "S1"}}}, &error);
        QVERIFY2(none, error.c_str());
        QVERIFY(none->empty());
        const auto claimed =
            table.claim({{"pool P", "P", "", 2, 20 * 60, {awkward}}, {"COM1", "", "COM1", 1, 20 * 60, {}}}, &error);
        QVERIFY2(claimed, error.c_str());
        QStringList names;
        for (const Claimed& c : *claimed) names << QString::fromStdString(c.station);
        names.sort();
        QCOMPARE(names, (QStringList{"S1", "S3"}));  // S2's lease is live; S1's is no lease; S5, S6 and S7 not ours now

        QProcess status;
        status.start(ZRVCOLLECT_PROGRAM, {"status", "--roster", rosterPath, "--format", "json"});
        QVERIFY(status.waitForFinished(20000));
        const QByteArray out = status.readAllStandardOutput();
        QCOMPARE(status.exitCode(), 1);
        const QJsonObject report = QJsonDocument::fromJson(out).object();
        QCOMPARE(report["status"].toString(), QString("warning"));
        QCOMPARE(report["stations"].toInt(), 4);
        QCOMPARE(report["not_in_roster"].toInt(), 4);  // S0, and S5, S6, S7 enrolled above
        QVERIFY(report["overdue"].toArray().isEmpty());
        const QString problems = QString::fromUtf8(QJsonDocument(report["problems"].toArray()).toJson());
        for (const char* said : {"станция S2 захвачена неизвестным сборщиком c8", "сборщик ghost не назван в списке станций",
                                 "сборщик ghost: сигнал из будущего", "сборщик stranger не отвечает",
                                 "сборщик stranger не назван в списке станций"})
            QVERIFY2(problems.contains(QString::fromUtf8(said)), qPrintable(problems));
        // Not the store: unreadable is the plugin's 3.
        pg.stop();
        status.start(ZRVCOLLECT_PROGRAM, {"status", "--coordinate", pg.url()});
        QVERIFY(status.waitForFinished(20000));
        QCOMPARE(status.exitCode(), 3);
        QVERIFY(status.readAllStandardOutput().startsWith("ZRV FLEET UNKNOWN - "));
    }

    void threeCollectorsShareOneRosterThroughPostgres()
    {
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        m_pgPort = pg.port();

        // 40 stations on TCP (each collector owns its own), and two modem
        // pools: A on c1 and c2, B on c2 and c3. A pool's modems reach the
        // same devices (the same seed: the same journals).
        const int tcpStations = 40, poolA = 8, poolB = 12;
        const int base = freePortRun(tcpStations);
        QVERIFY(base > 0);
        const QString logs = m_dir.path() + "/logs";
        QDir().mkpath(logs);
        std::vector<std::unique_ptr<QProcess>> sims;
        const auto sim = [&](const QStringList& args) {
            sims.push_back(std::make_unique<QProcess>());
            sims.back()->start(ZRVSIM_PROGRAM, args);
            return sims.back()->waitForReadyRead(10000);
        };
        QVERIFY(sim({"--tcp", QString::number(base), "--fleet", QString::number(tcpStations), "--journal", "4", "--seed", "3",
                     "--connections", logs + "/tcp.log"}));
        const struct {
            int com;
            int fleet;
            int seed;
        } modems[] = {{11, poolA, 50}, {12, poolA, 50}, {13, poolB, 70}, {14, poolB, 70}};
        for (const auto& m : modems)
            QVERIFY(sim({"--com", QString::number(m.com), "--modem", "--fleet", QString::number(m.fleet), "--journal", "4",
                         "--seed", QString::number(m.seed), "--connections", logs + QString("/com%1.log").arg(m.com)}));

        const int leaseS = 8, tcpEvery = 6, poolEvery = 60;
        QString roster = QString("[fleet]\ncoordinate = \"%1\"\nlease = \"%2s\"\n[defaults]\nevery = \"%3s\"\n"
                                 "[[pool]]\nname = \"A\"\nhost = \"c1\"\nports = [\"COM11\"]\n"
                                 "[[pool]]\nname = \"A\"\nhost = \"c2\"\nports = [\"COM12\"]\n"
                                 "[[pool]]\nname = \"B\"\nhost = \"c2\"\nports = [\"COM13\"]\n"
                                 "[[pool]]\nname = \"B\"\nhost = \"c3\"\nports = [\"COM14\"]\n")
                             .arg(pg.url())
                             .arg(leaseS)
                             .arg(tcpEvery);
        std::map<QString, QString> owner;  // TCP station: its collector
        for (int i = 0; i < tcpStations; ++i) {
            const QString name = QString("T%1").arg(i), host = QString("c%1").arg(i % 3 + 1);
            owner[name] = host;
            roster += QString("[[station]]\nname = \"%1\"\nport = \"tcp 127.0.0.1 %2\"\nhost = \"%3\"\n").arg(name).arg(base + i).arg(host);
        }
        // The digits before the last choose the pool's device.
        for (int i = 0; i < poolA; ++i)
            roster += QString("[[station]]\nname = \"A%1\"\npool = \"A\"\nphone = \"%2\"\nevery = \"%3s\"\n").arg(i).arg(i * 10).arg(poolEvery);
        for (int i = 0; i < poolB; ++i)
            roster += QString("[[station]]\nname = \"B%1\"\npool = \"B\"\nphone = \"%2\"\nevery = \"%3s\"\n").arg(i).arg(i * 10).arg(poolEvery);
        const QString rosterPath = m_dir.path() + "/fleet.toml";
        const auto writeRoster = [&](const QString& text) {
            QFile f(rosterPath);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text.toUtf8());
        };
        writeRoster(roster);

        NotifySocket notify(m_dir.path() + "/notify");
        std::map<QString, std::unique_ptr<QProcess>> c;
        std::map<QString, QString> err;
        for (const QString name : {"c1", "c2", "c3"}) {
            auto p = std::make_unique<QProcess>();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (name == "c2") {
                env.insert("NOTIFY_SOCKET", notify.path());
                env.insert("WATCHDOG_USEC", "1000000");
            }
            p->setProcessEnvironment(env);
            p->start(ZRVCOLLECT_PROGRAM, {"--serve", "--roster", rosterPath, "--name", name, "--jobs", "16", "--state-dir",
                                          m_dir.path() + "/state-" + name});
            QVERIFY(p->waitForStarted());
            c[name] = std::move(p);
        }
        const auto pump = [&](int ms) {
            QElapsedTimer t;
            t.start();
            do {
                for (auto& [name, p] : c) {
                    if (p->state() == QProcess::Running) p->waitForReadyRead(20);
                    err[name] += QString::fromUtf8(p->readAllStandardError());
                }
                notify.heard();  // as a service manager does, or the pings would wait
                QThread::msleep(10);
            } while (t.elapsed() < ms);
        };
        const auto waitFor = [&](const std::function<bool()>& done, int ms) {
            QElapsedTimer t;
            t.start();
            while (!done() && t.elapsed() < ms) pump(200);
            return done();
        };
        const QDateTime began = QDateTime::currentDateTimeUtc();

        // c1 is killed in the middle of a call through its modem.
        QVERIFY(waitFor([&] { return QDateTime::currentDateTimeUtc() > began.addSecs(10); }, 20000));
        const qsizetype seen = err["c1"].size();
        QVERIFY2(waitFor([&] { return err["c1"].indexOf("COM11: вызов", seen) >= 0; }, 60000), qPrintable(err["c1"]));
        const qsizetype at = err["c1"].indexOf("COM11: вызов ", seen) + 13;
        const QString killed = err["c1"].mid(at, err["c1"].indexOf('\n', at) - at);
        pump(1500);
        QVERIFY2(!err["c1"].mid(at).contains(killed + ": "), "the call ended before the kill");
        ::kill(pid_t(c["c1"]->processId()), SIGKILL);
        const qint64 killMs = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(c["c1"]->waitForFinished(5000));

        // Within a lease and a period another collector calls it, and not
        // before the lease has lapsed.
        QString takenAt;
        QVERIFY2(waitFor(
                     [&] {
                         const auto r = rows(QString("SELECT started_utc FROM calls WHERE station = '%1' AND outcome = 'ok' "
                                                     "AND collector <> 'c1' ORDER BY started_utc")
                                                 .arg(killed));
                         for (const QStringList& x : r)
                             if (msOf(x[0]) > killMs && takenAt.isEmpty()) takenAt = x[0];
                         return !takenAt.isEmpty();
                     },
                     (leaseS + poolEvery + 10) * 1000),
                 qPrintable(killed + ": " + rows("SELECT * FROM fleet_stations WHERE station = '" + killed + "'").value(0).join(' ') +
                            "\n" + err["c2"].right(3000)));
        QVERIFY2(msOf(takenAt) >= killMs + (leaseS - 3) * 1000, qPrintable(takenAt));

        // The database goes away and comes back.
        pg.stop();
        const qint64 downMs = QDateTime::currentMSecsSinceEpoch();
        pump(12000);
        QVERIFY2(pg.restart(&why), qPrintable(why));
        const qint64 upMs = QDateTime::currentMSecsSinceEpoch();
        QVERIFY2(err["c2"].contains("общий список станций недоступен"), qPrintable(err["c2"]));

        // A faulty roster on SIGHUP is refused and the old one kept.
        writeRoster(roster + "[[station]]\nname = \"X\"\npool = \"Z\"\nphone = \"10\"\n");
        ::kill(pid_t(c["c2"]->processId()), SIGHUP);
        QVERIFY2(waitFor([&] { return err["c2"].contains("список станций не принят, прежний остаётся"); }, 10000),
                 qPrintable(err["c2"]));
        QVERIFY(err["c2"].contains("пула \"Z\" нет ни у одного сборщика"));
        writeRoster(roster);

        // Every station reached at least once (c1's own ports aside, which
        // died with it), the spools written.
        const auto allCalled = [&] {
            const auto r = rows("SELECT COUNT(DISTINCT station) FROM calls WHERE outcome = 'ok'");
            return !r.isEmpty() && r[0][0].toInt() >= tcpStations + poolA + poolB - 1;
        };
        QVERIFY2(waitFor(allCalled, 90000), qPrintable(rows("SELECT COUNT(DISTINCT station) FROM calls WHERE outcome = 'ok'")[0][0]));
        pump(std::max<qint64>(0, upMs + 2 * leaseS * 1000 - QDateTime::currentMSecsSinceEpoch()));

        // The fleet at a glance: c1 gone is critical.
        QProcess status;
        status.start(ZRVCOLLECT_PROGRAM, {"status", "--roster", rosterPath, "--format", "json"});
        QVERIFY(status.waitForFinished(20000));
        QCOMPARE(status.exitCode(), 2);
        const QJsonObject report = QJsonDocument::fromJson(status.readAllStandardOutput()).object();
        QCOMPARE(report["status"].toString(), QString("critical"));
        std::map<QString, QString> states;
        for (const QJsonValue& v : report["collectors"].toArray()) states[v["name"].toString()] = v["state"].toString();
        QCOMPARE(states, (std::map<QString, QString>{{"c1", "не отвечает"}, {"c2", "на связи"}, {"c3", "на связи"}}));
        QCOMPARE(report["stations"].toInt(), tcpStations + poolA + poolB);
        QVERIFY(QJsonDocument(report["problems"].toArray()).toJson().contains("c1"));

        const qint64 termMs = QDateTime::currentMSecsSinceEpoch();
        for (const QString name : {"c2", "c3"}) ::kill(pid_t(c[name]->processId()), SIGTERM);
        for (const QString name : {"c2", "c3"}) {
            QVERIFY(waitFor([&] { return c[name]->state() == QProcess::NotRunning; }, 30000));
            err[name] += QString::fromUtf8(c[name]->readAllStandardError());
            QVERIFY2(c[name]->exitCode() == 0, qPrintable(err[name]));
            QVERIFY2(!QFile::exists(m_dir.path() + "/state-" + name + "/spool.jsonl") ||
                         QFile(m_dir.path() + "/state-" + name + "/spool.jsonl").size() == 0,
                     qPrintable(err[name]));
        }
        const QString heard = notify.heard();
        for (const char* word : {"READY=1", "WATCHDOG=1", "RELOADING=1", "STOPPING=1"})
            QVERIFY2(heard.contains(word), qPrintable(heard));
        // Stopped cleanly, they are said so: only c1 is gone.
        status.start(ZRVCOLLECT_PROGRAM, {"status", "--roster", rosterPath});
        QVERIFY(status.waitForFinished(20000));
        const QString text = QString::fromUtf8(status.readAllStandardOutput());
        QCOMPARE(status.exitCode(), 2);
        QVERIFY2(text.startsWith("ZRV FLEET CRITICAL - сборщиков на связи 0 из 3") && text.contains("сборщик c1 не отвечает"),
                 qPrintable(text));

        // No device was reached by two calls at once (each log says so as
        // it is read), not even through two modems of one pool (their logs
        // together; the call killed with c1 ends at the kill, as its line
        // did), and while the database was away no pool call began.
        std::map<QString, std::vector<std::pair<qint64, qint64>>> pools;
        for (const QString& log : QDir(logs).entryList({"*.log"})) {
            QStringList overlaps;
            const auto devices = connections(logs + "/" + log, &overlaps);
            QVERIFY(!devices.empty());
            QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join('\n')));
            if (!log.startsWith("com")) continue;
            const QString pool = log == "com11.log" || log == "com12.log" ? "A " : "B ";
            for (const auto& [device, list] : devices)
                for (auto [open, close] : list) {
                    QVERIFY2(open < downMs + 1500 || open > upMs, qPrintable(log + ": " + device));
                    if (close == 0) close = log == "com11.log" ? killMs : std::numeric_limits<qint64>::max();
                    pools[pool + device].emplace_back(open, close);
                }
        }
        for (auto& [device, list] : pools) {
            std::sort(list.begin(), list.end());
            for (std::size_t i = 1; i < list.size(); ++i)
                QVERIFY2(list[i].first >= list[i - 1].second, qPrintable(device + " reached through two modems at once"));
        }
        // The owners' stations kept their schedule through all of it (the
        // calls made while the database was away are stored now), and no
        // station was called twice in its period.
        std::map<QString, std::vector<qint64>> starts;
        for (const QStringList& r : rows("SELECT station, started_utc FROM calls WHERE outcome = 'ok' ORDER BY started_utc"))
            starts[r[0]].push_back(msOf(r[1]));
        for (const auto& [station, list] : starts) {
            const bool tcp = station.startsWith('T');
            const qint64 every = (tcp ? tcpEvery : poolEvery) * 1000;
            for (std::size_t i = 1; i < list.size(); ++i) {
                QVERIFY2(list[i] - list[i - 1] >= every - 1500, qPrintable(station));
                if (tcp && owner[station] != "c1")
                    QVERIFY2(list[i] - list[i - 1] <= every + 5000, qPrintable(station + QString(" %1").arg(list[i] - list[i - 1])));
            }
            if (tcp && owner[station] == "c1") QVERIFY2(list.back() < killMs, qPrintable(station));
            // From the start to the stop.
            if (tcp && owner[station] != "c1")
                QVERIFY2(list.front() <= began.toMSecsSinceEpoch() + every && list.back() >= termMs - every - 5000,
                         qPrintable(station));
        }
        // Each device's preloaded records, once, whichever modem reached it.
        for (const QStringList& r : rows("SELECT c.station, (SELECT COUNT(*) FROM journal j WHERE j.station = c.station "
                                         "AND j.recorded_at LIKE '2026-11-%') FROM calls c WHERE c.outcome = 'ok' "
                                         "GROUP BY c.station"))
            QVERIFY2(r[1].toInt() == 4, qPrintable(r.join(' ')));
        for (auto& s : sims) {
            s->terminate();
            s->waitForFinished(5000);
        }
    }

    // As a utility's network treats it: one collector paused in the middle
    // of a pool call past its lease, then another cut off from the database
    // alone (its connections held open, nothing answered) past its lease.
    void aLateOrCutOffCollectorMovesNoScheduleAnotherHolds()
    {
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        m_pgPort = pg.port();
        const int tcpStations = 12, poolStations = 8, leaseS = 5, tcpEvery = 10, poolEvery = 60;
        const int base = freePortRun(tcpStations);
        QVERIFY(base > 0);
        std::vector<std::unique_ptr<QProcess>> sims;
        const auto sim = [&](const QStringList& args) {
            sims.push_back(std::make_unique<QProcess>());
            sims.back()->start(ZRVSIM_PROGRAM, args);
            return sims.back()->waitForReadyRead(10000);
        };
        QVERIFY(sim({"--tcp", QString::number(base), "--fleet", QString::number(tcpStations), "--journal", "4", "--seed", "5"}));
        QString roster = QString("[fleet]\ncoordinate = \"%1\"\nlease = \"%2s\"\n[defaults]\nevery = \"%3s\"\n")
                             .arg(pg.url())
                             .arg(leaseS)
                             .arg(tcpEvery);
        const QStringList names{"c1", "c2", "c3"};
        // c1's modem answers at once, the others at 9600 baud: a call that
        // takes c1's station over is still on the line when c1 comes back.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(sim(QStringList{"--com", QString::number(21 + i), "--modem", "--fleet", QString::number(poolStations),
                                    "--journal", "4", "--seed", "80"} +
                        (i ? QStringList{"--pace"} : QStringList{})));
            roster += QString("[[pool]]\nname = \"P\"\nhost = \"%1\"\nports = [\"COM%2\"]\n").arg(names[i]).arg(21 + i);
        }
        std::map<QString, QString> owner;
        for (int i = 0; i < tcpStations; ++i) {
            owner[QString("T%1").arg(i)] = names[i % 3];
            roster += QString("[[station]]\nname = \"T%1\"\nport = \"tcp 127.0.0.1 %2\"\nhost = \"%3\"\n")
                          .arg(i)
                          .arg(base + i)
                          .arg(names[i % 3]);
        }
        for (int i = 0; i < poolStations; ++i)
            roster += QString("[[station]]\nname = \"P%1\"\npool = \"P\"\nphone = \"%2\"\nevery = \"%3s\"\n").arg(i).arg(i * 10).arg(poolEvery);
        const QString rosterPath = m_dir.path() + "/late.toml";
        QFile f(rosterPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(roster.toUtf8());
        f.close();

        // Each collector reaches the database through a forwarder of its own.
        std::map<QString, std::unique_ptr<Forwarder>> link;
        std::map<QString, std::unique_ptr<QProcess>> c;
        std::map<QString, QString> err;
        for (const QString& name : names) {
            link[name] = std::make_unique<Forwarder>(pg.port());
            c[name] = std::make_unique<QProcess>();
            c[name]->start(ZRVCOLLECT_PROGRAM, {"--serve", "--roster", rosterPath, "--name", name, "--coordinate",
                                                QString("postgresql://postgres@127.0.0.1:%1/zrv").arg(link[name]->port()),
                                                "--state-dir", m_dir.path() + "/late-" + name});
            QVERIFY(c[name]->waitForStarted());
        }
        // Every station's next due time as the table holds it, watched all
        // along: it never moves backwards.
        std::map<QString, double> due;
        QStringList backwards;
        const auto pump = [&](int ms) {
            QElapsedTimer t;
            t.start();
            do {
                for (auto& [name, p] : c) {
                    if (p->state() == QProcess::Running) p->waitForReadyRead(20);
                    err[name] += QString::fromUtf8(p->readAllStandardError());
                }
                const bool made = rows("SELECT to_regclass('fleet_stations') IS NOT NULL").value(0).value(0) == "true";
                for (const QStringList& r : made ? rows("SELECT station, next_due, last_collector FROM fleet_stations")
                                                 : QList<QStringList>{}) {
                    const double next = r[1].toDouble();
                    if (due.count(r[0]) && next < due[r[0]] - 0.001)
                        backwards << QString("%1: %2 after %3 (%4)").arg(r[0]).arg(next, 0, 'f', 3).arg(due[r[0]], 0, 'f', 3).arg(r[2]);
                    due[r[0]] = std::max(due[r[0]], next);
                }
                QThread::msleep(50);
            } while (t.elapsed() < ms);
        };
        const auto waitFor = [&](const std::function<bool()>& done, int ms) {
            QElapsedTimer t;
            t.start();
            while (!done() && t.elapsed() < ms) pump(200);
            return done();
        };
        const auto calledOn = [&](const QString& name, const QString& port, qsizetype from) {
            const qsizetype at = err[name].indexOf(port + ": вызов ", from);
            if (at < 0) return QString();
            const qsizetype begin = at + port.size() + 8;
            const qsizetype end = err[name].indexOf('\n', begin);
            return end < 0 ? QString() : err[name].mid(begin, end - begin);
        };

        // c1 stops in the middle of a pool call: another collector takes
        // the station once the lease has lapsed, and calls it. c1
        // comes back while that call runs and stores its own, late: its rows
        // are kept, the schedule stays the holder's.
        QString held;
        QVERIFY2(waitFor([&] { return !(held = calledOn("c1", "COM21", 0)).isEmpty(); }, 30000), qPrintable(err["c1"]));
        ::kill(pid_t(c["c1"]->processId()), SIGSTOP);
        const qint64 pausedMs = QDateTime::currentMSecsSinceEpoch();
        const qsizetype heard2 = err["c2"].size(), heard3 = err["c3"].size();
        QString holder;
        QVERIFY2(waitFor(
                     [&] {
                         const QString line = ": вызов " + held + "\n";
                         holder = err["c2"].indexOf("COM22" + line, heard2) >= 0   ? "c2"
                                  : err["c3"].indexOf("COM23" + line, heard3) >= 0 ? "c3"
                                                                                   : "";
                         return !holder.isEmpty();
                     },
                     40000),
                 qPrintable(held + " was not taken over: " + err["c2"].mid(heard2) + err["c3"].mid(heard3)));
        QVERIFY(QDateTime::currentMSecsSinceEpoch() >= pausedMs + leaseS * 1000);
        ::kill(pid_t(c["c1"]->processId()), SIGCONT);
        const auto stored = [&](const QString& who) {
            return !rows(QString("SELECT 1 FROM calls WHERE station = '%1' AND collector = '%2'").arg(held, who)).isEmpty();
        };
        QVERIFY2(waitFor([&] { return stored("c1"); }, 20000), qPrintable(err["c1"]));
        const bool holderStillCalling = !stored(holder);
        const QStringList late = rows(QString("SELECT last_collector, lease_holder FROM fleet_stations WHERE station = '%1'").arg(held)).value(0);
        QVERIFY2(late.value(0) != "c1" && late.value(1) == holder, qPrintable(held + ": " + late.join(' ')));
        QVERIFY2(waitFor([&] { return stored(holder); }, 30000), qPrintable(err[holder]));
        pump(500);
        const QStringList after = rows(QString("SELECT last_collector, lease_holder FROM fleet_stations WHERE station = '%1'").arg(held)).value(0);
        QCOMPARE(after.value(0), holder);
        QVERIFY(holderStillCalling);  // the late call came while the station was another's

        // c2 is cut off from the database alone: it says so within the
        // lease, goes on with its own stations into its spool, and hands
        // the spool over once the link heals.
        link["c2"]->freeze(true);
        const qint64 cutMs = QDateTime::currentMSecsSinceEpoch();
        const qsizetype before = err["c2"].size();
        qint64 noticedMs = 0;
        QVERIFY2(waitFor([&] { return err["c2"].indexOf("общий список станций недоступен", before) >= 0; }, 4 * leaseS * 1000),
                 qPrintable(err["c2"].mid(before)));
        noticedMs = QDateTime::currentMSecsSinceEpoch();
        QVERIFY2(noticedMs - cutMs <= leaseS * 1000 + 500, qPrintable(QString::number(noticedMs - cutMs)));
        const QString spool = m_dir.path() + "/late-c2/spool.jsonl";
        QVERIFY2(waitFor([&] { return QFileInfo(spool).size() > 0; }, (tcpEvery + leaseS) * 1000), qPrintable(err["c2"].mid(before)));
        pump(int(std::max<qint64>(0, cutMs + 4 * leaseS * 1000 - QDateTime::currentMSecsSinceEpoch())));
        link["c2"]->freeze(false);
        QVERIFY2(waitFor([&] { return QFileInfo(spool).size() == 0; }, 6 * leaseS * 1000), qPrintable(err["c2"].right(2000)));
        pump(2 * tcpEvery * 1000);

        const qint64 endMs = QDateTime::currentMSecsSinceEpoch();
        for (auto& [name, p] : c) ::kill(pid_t(p->processId()), SIGTERM);
        for (auto& [name, p] : c) {
            QVERIFY(waitFor([&] { return p->state() == QProcess::NotRunning; }, 30000));
            QVERIFY2(p->exitCode() == 0, qPrintable(err[name]));
        }
        QVERIFY2(backwards.isEmpty(), qPrintable(backwards.join('\n')));
        // Each collector's own stations kept their period through the pause
        // and the cut (c1's aside while it was stopped): the calls c2 made
        // cut off are in the store now, each once, with every record.
        std::map<QString, std::vector<qint64>> starts;
        for (const QStringList& r : rows("SELECT station, started_utc FROM calls WHERE outcome = 'ok' AND station LIKE 'T%' "
                                         "ORDER BY started_utc"))
            starts[r[0]].push_back(msOf(r[1]));
        for (const auto& [station, list] : starts) {
            QVERIFY2(list.size() >= 4 && list.back() >= endMs - tcpEvery * 1000 - 5000, qPrintable(station));
            for (std::size_t i = 1; i < list.size(); ++i) {
                const bool paused = owner[station] == "c1" && list[i] > pausedMs && list[i - 1] < pausedMs + 3 * leaseS * 1000;
                QVERIFY2(list[i] - list[i - 1] >= tcpEvery * 1000 - 1500, qPrintable(station));
                QVERIFY2(paused || list[i] - list[i - 1] <= (tcpEvery + leaseS) * 1000,
                         qPrintable(station + QString(": %1 ms between calls").arg(list[i] - list[i - 1])));
            }
        }
        QCOMPARE(rows("SELECT COUNT(*) FROM (SELECT call_id FROM calls GROUP BY call_id HAVING COUNT(*) > 1) d").value(0).value(0), QString("0"));
        for (const QStringList& r : rows("SELECT c.station, (SELECT COUNT(*) FROM journal j WHERE j.station = c.station "
                                         "AND j.recorded_at LIKE '2026-11-%') FROM calls c WHERE c.outcome = 'ok' GROUP BY c.station"))
            QVERIFY2(r[1].toInt() == 4, qPrintable(r.join(' ')));
        for (auto& s : sims) {
            s->terminate();
            s->waitForFinished(5000);
        }
    }
};

QTEST_GUILESS_MAIN(TestFleetServe)
#include "tst_fleet_serve.moc"
