// zrvweb against a store that zrvcollect filled from simulated stations: in
// Debian's chromium (tests/web/browser.mjs), first over SQLite, then over
// PostgreSQL through a role that may only SELECT; and what it refuses.

#include "Servers.h"
#include "fleet/Outcome.h"
#include "support/LoopbackPort.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <crypt.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

namespace {

const QString kXss = QStringLiteral("<img src=x onerror=alert(1)>");
const QString kReport = QStringLiteral("</script><script>alert(2)</script> вход 1");

struct HttpAnswer {
    int status = 0;
    QByteArray head, body;
};

// One request over a fresh connection, plain or TLS (the test's own
// certificate is not checked: it is loopback and made here).
HttpAnswer http(int port, const QByteArray& request, bool tls = false)
{
    HttpAnswer a;
    QSslSocket s;
    if (tls) {
        s.setPeerVerifyMode(QSslSocket::VerifyNone);
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
        if (!s.waitForEncrypted(10000)) return a;
    } else {
        s.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        if (!s.waitForConnected(5000)) return a;
    }
    s.write(request);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 15000) {
        if (!s.waitForReadyRead(500) && s.state() != QAbstractSocket::ConnectedState) break;
        got += s.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0) continue;
        const QByteArray head = got.left(end);
        const qsizetype at = head.toLower().indexOf("content-length:");
        const qsizetype length = at < 0 ? 0 : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (got.size() >= end + 4 + length) break;
    }
    got += s.readAll();
    const qsizetype end = got.indexOf("\r\n\r\n");
    a.head = got.left(end);
    a.body = end < 0 ? QByteArray() : got.mid(end + 4);
    a.status = got.startsWith("HTTP/1.1 ") ? got.mid(9, 3).toInt() : 0;
    return a;
}

QByteArray get(const QByteArray& path, const QByteArray& extra = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "Connection: close\r\n\r\n";
}

}  // namespace

class TestWeb : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;
    int m_simPort = 0;

    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }

    QString writeRoster(const QString& name, const QStringList& stations)
    {
        QString toml;
        const QStringList all = {QStringLiteral("ГРП-1"), kXss, QStringLiteral("ГРП-3"), QStringLiteral("ГРП-4"), QStringLiteral("ГРП-5")};
        for (int i = 0; i < all.size(); ++i)
            if (stations.contains(all[i]))
                toml += QStringLiteral("[[station]]\nname = \"%1\"\nport = \"tcp 127.0.0.1 %2\"\n").arg(all[i]).arg(m_simPort + i);
        if (stations.contains(QStringLiteral("Молчит")))
            toml += QStringLiteral("[[station]]\nname = \"Молчит\"\nport = \"tcp 127.0.0.1 %1\"\nretries = 0\n").arg(freeLoopbackPort());
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(toml.toUtf8());
        return f.fileName();
    }

    bool collect(const QString& roster, const QString& store)
    {
        QProcess c;
        c.start(ZRVCOLLECT_PROGRAM, {"--roster", roster, "--store", store, "--once", "--state-dir", path("state")});
        if (!c.waitForFinished(120000)) return false;
        return c.exitStatus() == QProcess::NormalExit && c.exitCode() <= 1;
    }

    static QStringList column(QSqlDatabase& db, const QString& sql, const QVariantList& binds = {})
    {
        QSqlQuery q(db);
        q.prepare(sql);
        for (const QVariant& b : binds) q.addBindValue(b);
        QStringList out;
        if (!q.exec()) qWarning() << q.lastError().text() << sql;
        while (q.next()) out << q.value(0).toString();
        return out;
    }

    // What needs a visit beside the real findings (every station is on
    // battery): two critical, three warnings, at ages that order them.
    static bool addFixture(QSqlDatabase& db)
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        struct F {
            QString station, kind, severity, text;
            int daysAgo;
        };
        const F findings[] = {{QStringLiteral("ГРП-3"), "battery-low", "critical", QStringLiteral("батарея разряжена: 3.1 В"), 3},
                              {QStringLiteral("ГРП-1"), "pressure-p2", "critical", QStringLiteral("P2 у предела отсечки"), 1},
                              {QStringLiteral("Молчит"), "link", "warning", QStringLiteral("линия: сбоев 40 %"), 10},
                              {QStringLiteral("ГРП-4"), "clock-offset", "warning", QStringLiteral("часы ушли на 300 с"), 5},
                              {kXss, "clock-drift", "warning", QStringLiteral("часы уходят на 20 с в сутки"), 2}};
        QSqlQuery q(db);
        int n = 0;
        for (const F& f : findings) {
            q.prepare("INSERT INTO findings (finding_id, station, kind, severity, since_utc, seen_utc, text, detail) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
            const QString since = now.addDays(-f.daysAgo).toString(Qt::ISODateWithMs);
            for (const QVariant& v : QVariantList{QStringLiteral("fixture-%1").arg(++n), f.station, f.kind, f.severity, since, since,
                                                  f.text, QStringLiteral("{\"offset_s\":300}")})
                q.addBindValue(v);
            if (!q.exec()) return false;
        }
        // A record whose report text would end a script, were it put in as markup.
        q.prepare("INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, p1, p2, t, q, "
                  "entries, text) VALUES (127, 9999, 'fixture', ?, ?, 'fixture', 6.05, 1.45, 20.5, 10.0, 1, ?)");
        q.addBindValue(QDateTime::currentDateTime().addSecs(-3600).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
        q.addBindValue(QStringLiteral("ГРП-1"));
        q.addBindValue(kReport);
        return q.exec();
    }

    // What the pages must show, read from the store by the test itself.
    static QJsonObject expectations(QSqlDatabase& db)
    {
        QJsonObject e;
        QJsonArray stations, failing;
        struct Row {
            QString name;
            QVariant p2;
        };
        std::vector<Row> byP2;
        for (const QString& name : {QStringLiteral("ГРП-1"), kXss, QStringLiteral("ГРП-3"), QStringLiteral("ГРП-4"),
                                    QStringLiteral("ГРП-5"), QStringLiteral("Молчит")}) {
            QSqlQuery q(db);
            q.prepare("SELECT outcome, p2 FROM calls WHERE station = ? ORDER BY started_utc DESC LIMIT 1");
            q.addBindValue(name);
            q.exec();
            q.next();
            const std::string outcome = q.value(0).toString().toStdString();
            QJsonArray findings;
            for (const QString& t : column(db, "SELECT text FROM findings WHERE station = ? AND cleared_utc IS NULL", {name}))
                findings.append(t);
            stations.append(QJsonObject{{"name", name}, {"outcomeText", QString::fromStdString(zrv::fleet::outcomeWords(outcome))},
                                        {"findings", findings}});
            if (outcome != "ok") failing.append(name);
            byP2.push_back({name, q.value(1)});
        }
        e["stations"] = stations;
        e["failing"] = failing;
        e["filter"] = QJsonObject{{"text", "грп"}, {"names", QJsonArray{"ГРП-1", "ГРП-3", "ГРП-4", "ГРП-5"}}};
        // Empty first, then the least.
        std::stable_sort(byP2.begin(), byP2.end(), [](const Row& a, const Row& b) {
            if (a.p2.isNull() != b.p2.isNull()) return a.p2.isNull();
            return !a.p2.isNull() && a.p2.toDouble() < b.p2.toDouble();
        });
        QJsonArray order;
        for (const Row& r : byP2) order.append(r.name);
        e["byP2"] = order;  // every battery reads alike: the sort is checked on P2
        e["live"] = QStringLiteral("ГРП-5");

        const QString from = QDateTime::currentDateTime().addDays(-7).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        QSqlQuery q(db);
        q.prepare("SELECT MIN(p1), MAX(p1), MIN(p2), MAX(p2) FROM journal WHERE station = ? AND recorded_at >= ?");
        q.addBindValue(QStringLiteral("ГРП-1"));
        q.addBindValue(from);
        q.exec();
        q.next();
        QJsonObject series{{"P1", QJsonArray{q.value(0).toDouble(), q.value(1).toDouble()}},
                           {"P2", QJsonArray{q.value(2).toDouble(), q.value(3).toDouble()}}};
        q.prepare("SELECT MIN(p1_max), MAX(p1_max), MIN(p2_min), MAX(p2_min) FROM calls WHERE station = ?");
        q.addBindValue(QStringLiteral("ГРП-1"));
        q.exec();
        q.next();
        series["P1 max"] = QJsonArray{q.value(0).toDouble(), q.value(1).toDouble()};
        series["P2 min"] = QJsonArray{q.value(2).toDouble(), q.value(3).toDouble()};
        e["chart"] = QJsonObject{{"station", "ГРП-1"}, {"series", series}};
        e["report"] = QJsonObject{{"from", QDate::currentDate().addDays(-1).toString(Qt::ISODate)},
                                  {"to", QDate::currentDate().addDays(1).toString(Qt::ISODate)},
                                  {"text", kReport}};
        QJsonArray visits;
        q.prepare("SELECT station, text FROM findings WHERE cleared_utc IS NULL "
                  "ORDER BY CASE WHEN severity = 'critical' THEN 0 ELSE 1 END, since_utc, station, kind");
        q.exec();
        while (q.next()) visits.append(q.value(0).toString() + " / " + q.value(1).toString());
        e["visits"] = visits;
        return e;
    }

    QProcess* startWeb(const QStringList& args, int* port, QString* said = nullptr)
    {
        auto* web = new QProcess(this);
        *port = freeLoopbackPort();
        web->start(ZRVWEB_PROGRAM, QStringList{"--listen", QStringLiteral("127.0.0.1:%1").arg(*port), "--poll", "0.5"} + args);
        QByteArray err;
        QElapsedTimer t;
        t.start();
        while (!err.contains("zrvweb: http") && t.elapsed() < 10000 && web->state() != QProcess::NotRunning) {
            web->waitForReadyRead(200);
            err += web->readAllStandardError();
        }
        if (said) *said = QString::fromUtf8(err);
        return web;
    }

    static QSqlDatabase pgConnection(const QString& name, int port, const QString& user)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName("127.0.0.1");
        db.setPort(port);
        db.setUserName(user);
        db.setDatabaseName("zrv");
        return db;
    }

    static void stop(QProcess* p)
    {
        p->terminate();
        if (!p->waitForFinished(5000)) p->kill();
        p->waitForFinished(2000);
    }

    // The whole fleet in the browser over one store.
    void inTheBrowser(QSqlDatabase& owner, const QString& collectStore, const QStringList& webArgs, const QString& shots)
    {
        QVERIFY(addFixture(owner));
        const QJsonObject expect = expectations(owner);
        QFile e(path(shots + "-expect.json"));
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.write(QJsonDocument(expect).toJson());
        e.close();
        int port = 0;
        QProcess* web = startWeb(webArgs, &port);
        QVERIFY(web->state() == QProcess::Running);
        const QString out = QCoreApplication::applicationDirPath() + "/web-shots/" + shots;
        QDir().mkpath(out);
        QProcess node;
        node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        node.start("node", {WEB_TESTS_DIR "/browser.mjs", QStringLiteral("http://127.0.0.1:%1/").arg(port), e.fileName(), out});
        QByteArray said;
        QElapsedTimer t;
        t.start();
        while (!said.contains("READY-FOR-CALL") && node.state() != QProcess::NotRunning && t.elapsed() < 90000) {
            node.waitForReadyRead(200);
            said += node.readAllStandardOutput();
        }
        QVERIFY2(said.contains("READY-FOR-CALL"), said.constData());
        // A collector stores one more call while the page is open.
        QVERIFY(collect(writeRoster("live.toml", {QStringLiteral("ГРП-5")}), collectStore));
        node.write("CALLED\n");
        QVERIFY(node.waitForFinished(90000));
        said += node.readAllStandardOutput();
        QVERIFY2(node.exitCode() == 0 && said.contains("OK"), said.constData());
        stop(web);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_simPort = freeLoopbackPort();
        m_sim.start(ZRVSIM_PROGRAM, {"--tcp", QString::number(m_simPort), "--fleet", "5", "--battery", "--journal", "30",
                                     "--journal-every", "2"});
        QVERIFY(m_sim.waitForReadyRead(10000));
        QTest::qWait(2500);  // a few records of today's
    }

    void cleanupTestCase()
    {
        m_sim.terminate();
        m_sim.waitForFinished(5000);
    }

    void theBrowserShowsTheFleetASqliteStoreHolds()
    {
        const QString db = path("zrv.db");
        const QString roster = writeRoster("fleet.toml", {QStringLiteral("ГРП-1"), kXss, QStringLiteral("ГРП-3"),
                                                           QStringLiteral("ГРП-4"), QStringLiteral("ГРП-5"), QStringLiteral("Молчит")});
        QVERIFY(collect(roster, "sqlite:" + db));
        {
            QSqlDatabase owner = QSqlDatabase::addDatabase("QSQLITE", "owner");
            owner.setDatabaseName(db);
            QVERIFY(owner.open());
            inTheBrowser(owner, "sqlite:" + db, {"--roster", roster, "--store", db}, "sqlite");
        }
        QSqlDatabase::removeDatabase("owner");
    }

    void theBrowserShowsTheFleetFromPostgresThroughARoleThatOnlySelects()
    {
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        const QString roster = writeRoster("fleet-pg.toml", {QStringLiteral("ГРП-1"), kXss, QStringLiteral("ГРП-3"),
                                                              QStringLiteral("ГРП-4"), QStringLiteral("ГРП-5"), QStringLiteral("Молчит")});
        QDir(path("state")).removeRecursively();
        QVERIFY(collect(roster, pg.url()));
        QVERIFY2(pg.sql("CREATE ROLE viewer LOGIN; GRANT USAGE ON SCHEMA public TO viewer; "
                        "GRANT SELECT ON ALL TABLES IN SCHEMA public TO viewer;",
                        &why),
                 qPrintable(why));
        {
            QSqlDatabase owner = pgConnection("owner", pg.port(), "postgres");
            QVERIFY(owner.open());
            const QString viewer = QStringLiteral("postgresql://viewer@127.0.0.1:%1/zrv").arg(pg.port());
            inTheBrowser(owner, pg.url(), {"--roster", roster, "--store", viewer}, "postgresql");
            // The role could not have written had the console tried.
            QSqlDatabase v = pgConnection("viewer", pg.port(), "viewer");
            QVERIFY(v.open());
            QSqlQuery q(v);
            QVERIFY(!q.exec("DELETE FROM calls"));
            v.close();
        }
        QSqlDatabase::removeDatabase("viewer");
        QSqlDatabase::removeDatabase("owner");
    }

    void refusesWhatIsNotSafeAndKeepsServingWhatItRead()
    {
        const QString db = path("zrv.db");
        QVERIFY(QFile::exists(db));
        // Another address than loopback: not without TLS and users.
        QProcess p;
        p.start(ZRVWEB_PROGRAM, {"--store", db, "--listen", "0.0.0.0:1"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains("--tls-cert") && err.contains("--users"), qPrintable(err));

        // A users file others may read: refused with what mends it.
        const QByteArray salt = crypt_gensalt("$y$", 0, nullptr, 0);
        QVERIFY(!salt.isEmpty());
        const QByteArray hash = crypt("верный пароль", salt.constData());
        QFile users(path("users"));
        QVERIFY(users.open(QIODevice::WriteOnly));
        users.write("# dispatchers\nduty:" + hash + "\n");
        users.close();
        ::chmod(users.fileName().toLocal8Bit().constData(), 0644);
        p.start(ZRVWEB_PROGRAM, {"--store", db, "--users", users.fileName()});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("chmod 600 " + users.fileName()));
        ::chmod(users.fileName().toLocal8Bit().constData(), 0600);

        TestCertificates certs;
        QString why;
        QVERIFY2(certs.make(&why), qPrintable(why));
        int port = 0;
        QProcess* web = startWeb({"--store", db, "--tls-cert", certs.serverCert, "--tls-key", certs.serverKey, "--users",
                                  users.fileName()},
                                 &port, &why);
        QVERIFY2(web->state() == QProcess::Running && why.contains("https://"), qPrintable(why));
        const QByteArray right = "Authorization: Basic " + QByteArray("duty:верный пароль").toBase64() + "\r\n";
        const QByteArray wrong = "Authorization: Basic " + QByteArray("duty:неверный").toBase64() + "\r\n";
        QElapsedTimer t;
        t.start();
        HttpAnswer a;
        while (t.elapsed() < 10000 && (a = http(port, get("/api/fleet", right), true)).status != 200) QTest::qWait(200);
        QCOMPARE(a.status, 200);
        QVERIFY(a.head.contains("Strict-Transport-Security") && a.head.contains("script-src 'self'"));
        QCOMPARE(http(port, get("/api/fleet"), true).status, 401);
        // Guessing is held back: after a few wrong passwords even the right
        // one waits.
        for (int i = 0; i < 5; ++i) QCOMPARE(http(port, get("/api/fleet", wrong), true).status, 401);
        a = http(port, get("/api/fleet", "Authorization: Basic " + QByteArray("duty:ещё раз").toBase64() + "\r\n"), true);
        QCOMPARE(a.status, 429);
        QVERIFY(a.head.contains("Retry-After:"));
        // What was already checked still reads.
        QCOMPARE(http(port, get("/api/visits", right), true).status, 200);
        stop(web);

        web = startWeb({"--store", db}, &port);
        t.restart();
        while (t.elapsed() < 10000 && (a = http(port, get("/api/fleet"))).status != 200) QTest::qWait(200);
        QCOMPARE(a.status, 200);
        const QByteArray fleet = a.body;
        // A client that stalls mid-request, and one that asks and never
        // reads its answer, hold up nobody.
        QTcpSocket stalled, deaf;
        stalled.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        deaf.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY(stalled.waitForConnected(5000) && deaf.waitForConnected(5000));
        stalled.write("GET /api/fleet HTTP/1.1\r\nHost: 127.");
        deaf.setReadBufferSize(1);
        for (int i = 0; i < 50; ++i) deaf.write(get("/api/fleet").replace("Connection: close\r\n", ""));
        stalled.flush();
        deaf.flush();
        for (int i = 0; i < 5; ++i) QCOMPARE(http(port, get("/api/visits")).status, 200);
        // A request of 10 MB is cut off as it comes, and the server serves on.
        QByteArray huge = "POST /api/fleet HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 10485760\r\n\r\n";
        huge += QByteArray(10 * 1024 * 1024, 'x');
        QCOMPARE(http(port, huge).status, 413);
        QCOMPARE(http(port, get("/api/fleet")).status, 200);
        // A range of years, a path outside the assets, a station nobody has.
        const QByteArray grp1 = QUrl::toPercentEncoding(QStringLiteral("ГРП-1"));
        QCOMPARE(http(port, get("/api/journal?name=" + grp1 + "&from=2020-01-01&to=2026-01-01")).status, 400);
        QCOMPARE(http(port, get("/api/chart.svg?name=" + grp1 + "&series=pressure&days=3650")).status, 400);
        QCOMPARE(http(port, get("/api/journal?name=" + grp1 + "&from=2026-01-01&to=2026-01-08")).status, 200);
        for (const QByteArray& outside : {QByteArray("/assets/../../../etc/passwd"), QByteArray("/assets/%2e%2e/%2e%2e/etc/passwd"),
                                          QByteArray("/assets/"), QByteArray("/etc/passwd")}) {
            a = http(port, get(outside));
            QCOMPARE(a.status, 404);
            QVERIFY(!a.body.contains("root:"));
        }
        QCOMPARE(http(port, get("/api/station?name=nobody")).status, 404);
        QCOMPARE(http(port, get("/api/station?name=" + grp1)).status, 200);

        // The store goes away: the page says so, and serves what it read.
        QVERIFY(QFile::rename(db, db + ".away"));
        t.restart();
        QJsonObject state;
        while (t.elapsed() < 10000 && (state = QJsonDocument::fromJson(http(port, get("/api/state")).body).object())["problem"].isNull())
            QTest::qWait(200);
        QVERIFY2(state["problem"].toString().contains(QStringLiteral("показано прочитанное")), qPrintable(state["problem"].toString()));
        a = http(port, get("/api/fleet"));
        QCOMPARE(a.status, 200);
        QCOMPARE(QJsonDocument::fromJson(a.body).object()["stations"].toArray(),
                 QJsonDocument::fromJson(fleet).object()["stations"].toArray());
        // Damaged: said so too.
        QFile damaged(db);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(8192, '\x5a'));
        damaged.close();
        t.restart();
        while (t.elapsed() < 10000 &&
               !(state = QJsonDocument::fromJson(http(port, get("/api/state")).body).object())["problem"].toString().contains(
                   QStringLiteral("не база данных")))
            QTest::qWait(200);
        QVERIFY2(state["problem"].toString().contains(QStringLiteral("не база данных")), qPrintable(state["problem"].toString()));
        QCOMPARE(http(port, get("/api/fleet")).status, 200);
        QVERIFY(QFile::remove(db));
        QVERIFY(QFile::rename(db + ".away", db));
        t.restart();
        while (t.elapsed() < 10000 && !(state = QJsonDocument::fromJson(http(port, get("/api/state")).body).object())["problem"].isNull())
            QTest::qWait(200);
        QVERIFY(state["problem"].isNull());
        stop(web);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
