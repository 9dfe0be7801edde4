// zrvcollect against simulated stations: a round over TCP and modem stations
// into SQLite and jsonl, a second round after the journals grew, a store that
// cannot be reached, and rosters that are refused before anything is called.

#include "Servers.h"
#include "SimServer.h"
#include "collect/CallJson.h"
#include "collect/Collector.h"
#include "collect/Spool.h"
#include "collect/Store.h"
#include "fleet/Roster.h"
#include "fleet/Schema.h"
#include "journal/JournalReading.h"
#include "journal/ReportBuilder.h"
#include "link/RegisterImage.h"
#include "setpoints/SetpointFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

#include <netdb.h>
#include <signal.h>

using namespace zrv::collect;

namespace {

// An output of a kind only this test knows ("tally:NAME"): it keeps what it
// is given, and "tally:down" cannot be reached.
struct Tally {
    std::mutex mutex;
    std::map<QString, std::vector<CallResult>> written;
};
Tally& tally()
{
    static Tally t;
    return t;
}

class TallySink : public Sink {
public:
    explicit TallySink(StoreUrl url) : m_url(std::move(url)) {}
    bool open(SinkError* error) override
    {
        if (m_url.text != QLatin1String("tally:down")) return true;
        error->why = "не отвечает";
        return false;
    }
    bool write(const CallResult& call, SinkError* error) override
    {
        if (!open(error)) return false;
        std::lock_guard<std::mutex> lock(tally().mutex);
        tally().written[m_url.text].push_back(call);
        return true;
    }
    QString name() const override { return m_url.display(); }

private:
    StoreUrl m_url;
};

QString readAll(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    QByteArray out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, qsizetype(n));
    return QString::fromUtf8(out);
}

}  // namespace

class TestCollect : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<zrvsim::SimServer>> m_sims;
    QString m_textfile;  // metrics for the rounds, when set
    bool m_scheduled = false;  // rounds call only the stations due (as --every's do)

    zrvsim::SimServer& tcpSim(int journal, unsigned seed)
    {
        zrvsim::SimOptions o;
        o.tcp = true;
        o.journalRecords = journal;
        o.seed = seed;
        m_sims.push_back(std::make_unique<zrvsim::SimServer>(o));
        quiet(*m_sims.back());
        std::string error;
        if (!m_sims.back()->start(&error)) qFatal("%s", error.c_str());
        return *m_sims.back();
    }
    // The stations write no journal records of their own (a drifting
    // measurement would, every Log_Period): the tests grow the journals.
    static void quiet(zrvsim::SimServer& s, int poolSize = 1)
    {
        for (int i = 0; i < poolSize; ++i)
            s.withPoolDevice(i, [](zrvsim::DeviceModel& d, auto&) {
                d.holdings[zrv::reg::kLogPeriod] = 0;
                return 0;
            });
    }
    static QString tcpPort(zrvsim::SimServer& s) { return QStringLiteral("tcp 127.0.0.1 %1").arg(s.tcpPort()); }
    static void grow(zrvsim::SimServer& s, int records, int poolDevice = 0)
    {
        s.withPoolDevice(poolDevice, [records](zrvsim::DeviceModel& d, auto&) {
            for (int i = 0; i < records; ++i) d.appendRecord(d.stampNow(), {{uint16_t(i), 0xC002, 1, 2}});
            return 0;
        });
    }

    struct Round {
        std::vector<CallResult> results;
        int status = 0;
        QString out, err;
    };
    // Rounds of several collectors at once, each with its own state folder
    // (as on several machines), into the same stores.
    std::vector<Round> runRounds(const std::vector<Roster>& rosters, const QStringList& stores,
                                 Format format = Format::Jsonl)
    {
        std::vector<std::unique_ptr<Collector>> collectors;
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        std::vector<FILE*> files;
        for (std::size_t i = 0; i < rosters.size(); ++i) {
            std::string why;
            std::vector<std::unique_ptr<Sink>> sinks;
            for (const QString& store : stores) sinks.push_back(makeSink(*parseStoreUrl(store, &why)));
            CollectorOptions o;
            o.format = format;
            o.stateDir = m_dir.path() + "/state" + (i ? QString::number(i) : QString());
            o.textfile = m_textfile;
            o.scheduled = m_scheduled;
            files.push_back(std::tmpfile());
            files.push_back(std::tmpfile());
            collectors.push_back(std::make_unique<Collector>(rosters[i], std::move(sinks), o, files[2 * i], files[2 * i + 1]));
            spies.push_back(std::make_unique<QSignalSpy>(collectors.back().get(), &Collector::roundFinished));
        }
        for (auto& c : collectors) c->startRound();
        for (auto& s : spies)
            if (s->isEmpty() && !s->wait(60000)) qWarning("a round did not finish");
        std::vector<Round> out(rosters.size());
        for (std::size_t i = 0; i < rosters.size(); ++i) {
            out[i].results = collectors[i]->results();
            out[i].status = collectors[i]->exitStatus();
        }
        collectors.clear();  // the sinks close here
        for (std::size_t i = 0; i < rosters.size(); ++i) {
            out[i].out = readAll(files[2 * i]);
            out[i].err = readAll(files[2 * i + 1]);
        }
        for (FILE* f : files) std::fclose(f);
        return out;
    }
    Round runRound(const Roster& roster, const QString& store, Format format = Format::Jsonl)
    {
        return runRounds({roster}, {store}, format).front();
    }
    // The start of the n-th newest record (1: the newest) of a device.
    static uint16_t recordStart(zrvsim::SimServer& s, int n)
    {
        return s.withDevice([n](zrvsim::DeviceModel& d, auto&) {
            uint16_t start = d.inputs[d.writePosition()];
            for (int i = 1; i < n; ++i) start = d.inputs[start];
            return start;
        });
    }
    // Each record a call stored reads as the terminal's report of the same
    // ring and the same device clock has it: the newest one's entries on the
    // clock, every older one's on the stamp of the record above it (so a
    // record read into a gap of an earlier call too).
    static void storedAsTheTerminalReports(zrvsim::SimServer& s, const QString& db, const QString& callId)
    {
        const auto pieces = s.withDevice([](zrvsim::DeviceModel& d, auto&) {
            zrv::RegisterImage image;
            for (uint16_t a = 20; a <= 25; ++a) image.setInput(a, d.inputs[a]);
            zrv::journal::ReportBuilder report;
            report.header(image, 1);
            std::map<int, std::string> out;
            uint16_t end = d.writePosition(), start = d.inputs[end];
            while (out.size() < 200 && zrv::journal::inRing(start) && !out.count(start) &&
                   zrv::journal::recordLength(start, end) >= zrv::journal::kRecordHead) {
                std::vector<uint16_t> words(zrv::journal::recordLength(start, end));
                for (uint32_t i = 0; i < words.size(); ++i) words[i] = d.inputs[zrv::journal::ringAddress(start, i)];
                out[start] = report.recordPiece(zrv::journal::decodeRecord(words));
                end = start;
                start = words[0];
            }
            return out;
        });
        int compared = 0;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "texts");
            d.setDatabaseName(db);
            QVERIFY(d.open());
            QSqlQuery q(d);
            q.prepare("SELECT start_address, text FROM journal WHERE call_id = ?");
            q.addBindValue(callId);
            QVERIFY(q.exec());
            while (q.next()) {
                ++compared;
                const int start = q.value(0).toInt();
                QVERIFY2(pieces.count(start), qPrintable(QString::number(start)));
                QCOMPARE(q.value(1).toString(), QString::fromStdString(pieces.at(start)));
            }
        }
        QSqlDatabase::removeDatabase("texts");
        QVERIFY(compared > 0);
    }
    // Each line among the metrics node_exporter serves (its textfile
    // collector read the file, and found it well formed).
    static void exporterSees(const NodeExporter& exporter, const QStringList& wanted)
    {
        const QByteArray scraped = exporter.scrape();
        QVERIFY2(scraped.contains("node_textfile_scrape_error 0"), scraped.constData());
        for (const QString& line : wanted) QVERIFY2(scraped.contains(line.toUtf8()), qPrintable(line));
    }
    static void checkMetrics(const QString& file)
    {
        QProcess promtool;
        promtool.setStandardInputFile(file);
        promtool.start("promtool", {"check", "metrics"});
        QVERIFY(promtool.waitForFinished(20000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAllStandardError().constData());
    }
    static int count(const QString& db, const QString& sql, int pgPort = 0)
    {
        int n = -1;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase(pgPort ? "QPSQL" : "QSQLITE", "check");
            d.setDatabaseName(db);
            if (pgPort) {
                d.setHostName("127.0.0.1");
                d.setPort(pgPort);
                d.setUserName("postgres");
            }
            d.open();
            QSqlQuery q(d);
            if (q.exec(sql) && q.next()) n = q.value(0).toInt();
        }
        QSqlDatabase::removeDatabase("check");
        return n;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", (m_dir.path() + "/cfg").toUtf8());
    }
    void cleanupTestCase() { m_sims.clear(); }

    void aRosterIsRefusedWithItsLineBeforeAnythingIsCalled()
    {
        std::string why;
        const auto refused = [&why](const std::string& text, const std::string& where, const std::string& what) {
            why.clear();
            QVERIFY2(!parseRoster(text, "/etc/zrvcollect/stations.toml", &why), text.c_str());
            QVERIFY2(why.rfind("/etc/zrvcollect/stations.toml:" + where + ": ", 0) == 0, why.c_str());
            QVERIFY2(why.find(what) != std::string::npos, why.c_str());
        };
        const std::string one = "[[station]]\nname = \"A\"\nport = \"COM1\"\n";
        refused(one + "[[station]]\nname = \"A\"\nport = \"COM2\"\n", "5:8", "уже есть");
        refused(one + "[[station]]\nname = \"B\"\nport = \"COM40\"\n", "6:8", "COM1..COM32");
        refused(one + "[[station]]\nname = \"B\"\nport = \"tcp host\"\n", "6:8", "tcp host");
        refused(one + "adress = 3\n", "4:1", "неизвестный ключ \"adress\"");
        refused(one + "address = 300\n", "4:11", "от 1 до 247");
        refused(one + "phone = \"8-800 ABC\"\n", "4:9", "phone");
        refused("[[station]]\nname = \"A\nport = \"COM1\"\n", "2:10", "TOML");  // an unclosed string
        refused("[defaults]\nretries = 1\n", "1:1", "ни одной станции");
        // A shared roster whose pools, hosts and claims do not fit.
        const std::string pool = "[[pool]]\nname = \"north\"\nports = [\"COM5\"]\n";
        refused(pool + "[[station]]\nname = \"A\"\npool = \"south\"\nphone = \"1\"\n", "6:8", "пула \"south\" нет");
        refused(pool + "[defaults]\npool = \"south\"\n[[station]]\nname = \"A\"\nphone = \"1\"\n", "5:8", "пула \"south\"");
        refused(pool + "[[station]]\nname = \"A\"\npool = \"north\"\nport = \"COM1\"\nphone = \"1\"\n", "7:8", "и порт, и пул");
        refused(pool + "[[station]]\nname = \"A\"\npool = \"north\"\n", "4:1", "без номера");
        refused("[[pool]]\nname = \"north\"\nports = [\"COM99\"]\n" + one, "3:10", "COM1..COM32");
        refused("[[pool]]\nname = \"north\"\nports = []\n" + one, "3:9", "нет модемов");
        refused("[[pool]]\nname = \"north\"\nports = [\"COM1\"]\n" + one, "6:8", "модем пула \"north\"");
        refused("[fleet]\nlease = \"2s\"\n" + one, "2:9", "от 5s до 1h");
        refused("[fleet]\ncoordinate = \"sqlite:/x.db\"\n" + one, "2:14", "PostgreSQL");
        refused("[fleet]\ncoordinate = \"postgresql://db/zrv\"\nleader = \"a\"\n" + one, "3:1", "неизвестный ключ \"leader\"");
        {
            // Who may call what: a collector its own ports, and a pool's
            // stations where it has one of the pool's modems.
            const auto shared = parseRoster("[fleet]\ncoordinate = \"postgresql://db/zrv\"\n" + pool +
                                                "host = \"c2\"\n" + one + "host = \"c1\"\n" +
                                                "[[station]]\nname = \"B\"\npool = \"north\"\nphone = \"1\"\n"
                                                "[[station]]\nname = \"C\"\nport = \"COM2\"\n",
                                            "/etc/zrvcollect/stations.toml", &why);
            QVERIFY2(shared, why.c_str());
            const auto may = [&](const std::string& me) {
                std::string out;
                for (const Station& st : shared->stations)
                    if (mayCall(*shared, st, me, "box")) out += st.name;
                return out;
            };
            QCOMPARE(may("c1"), std::string("A"));
            QCOMPARE(may("c2"), std::string("B"));
            QCOMPARE(may("box"), std::string("C"));  // no host: the machine's
            QCOMPARE(shared->leaseS, 120);
        }

        const auto roster = parseRoster("[defaults]\nretries = 3\nretry_delay = \"2m\"\nset_clock = true\n"
                                        "stores = [\"sqlite:/tmp/x.db\"]\n" + one +
                                            "profile = \"p/a.zrvset\"\nretries = 0\n"
                                            "[[station]]\nname = \"B\"\nport = \"/dev/ttyUSB0\"\nphone = \"0,123w45\"\n",
                                        "/etc/zrvcollect/stations.toml", &why);
        QVERIFY2(roster, why.c_str());
        QCOMPARE(roster->stations.size(), std::size_t(2));
        QCOMPARE(roster->stations[0].profile, std::string("/etc/zrvcollect/p/a.zrvset"));
        QCOMPARE(roster->stations[0].retries, 0);
        QCOMPARE(roster->stations[1].retries, 3);
        QCOMPARE(roster->stations[1].retryDelayS, 120);
        QVERIFY(roster->stations[1].setClock);
        QCOMPARE(roster->stores, std::vector<std::string>{"sqlite:/tmp/x.db"});

        // The program: status 2, the line named, and the station never called.
        zrvsim::SimServer& sim = tcpSim(0, 1);
        QFile f(m_dir.path() + "/bad.toml");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[[station]]\nname = \"A\"\nport = \"%1\"\n[[station]]\nname = \"A\"\nport = \"%1\"\n")
                    .arg(tcpPort(sim))
                    .toUtf8());
        f.close();
        QProcess p;
        p.start(ZRVCOLLECT_PROGRAM, {"--roster", f.fileName(), "--store", "sqlite:" + m_dir.path() + "/never.db",
                                     "--state-dir", m_dir.path() + "/state"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(f.fileName() + ":5:8: "), "the line is named");
        QVERIFY(sim.requests().empty());
        QVERIFY(!QFile::exists(m_dir.path() + "/never.db"));
    }

    void roundsOverTcpAndModemStationsIntoEveryStore()
    {
        zrvsim::SimServer& a = tcpSim(10, 1);
        zrvsim::SimServer& clock = tcpSim(2, 2);
        zrvsim::SimServer& changed = tcpSim(1, 3);
        zrvsim::SimServer& silent = tcpSim(0, 4);
        silent.withDevice([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) {
            s.faults.silent = true;
            return 0;
        });
        clock.withDevice([](zrvsim::DeviceModel& d, auto&) {
            d.clockOffsetSeconds = 600;
            return 0;
        });
        // The approved profile of the third station, then a change on site.
        const QString profile = m_dir.path() + "/changed.zrvset";
        changed.withDevice([&profile](zrvsim::DeviceModel& d, auto&) {
            auto image = std::make_unique<zrv::RegisterImage>();
            zrv::ValveWeightArray weights{};
            for (uint16_t r = 0; r < 114; ++r) image->setHolding(r, d.holdings[r]);
            for (int v = 0; v < 8; ++v) weights[std::size_t(v)] = uint8_t(d.holdings[std::size_t(96 + v)]);
            QFile f(profile);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray::fromStdString(zrv::setpoints::formatSetpointFile(*image, weights, 127, "-", "-")));
            d.holdings[4] = uint16_t(d.holdings[4] + 5);  // TPA
            return 0;
        });
        zrvsim::SimOptions mo;
        mo.modem = true;
        mo.comNumber = 5;
        mo.journalRecords = 3;
        mo.seed = 9;
        mo.modemPool = 2;  // "00" reaches ZRV-127, "10" ZRV-128
        m_sims.push_back(std::make_unique<zrvsim::SimServer>(mo));
        zrvsim::SimServer& modem = *m_sims.back();
        quiet(modem, 2);
        std::string error;
        QVERIFY2(modem.start(&error), error.c_str());

        const QString text = QStringLiteral(
                                 "[defaults]\nclock_tolerance = 60\nretries = 0\n"
                                 "[[station]]\nname = \"А\"\nport = \"%1\"\n"
                                 "[[station]]\nname = \"Б часы\"\nport = \"%2\"\nset_clock = true\n"
                                 "[[station]]\nname = \"В уставки\"\nport = \"%3\"\nprofile = \"changed.zrvset\"\n"
                                 "[[station]]\nname = \"Г молчит\"\nport = \"%4\"\nretries = 1\nretry_delay = 0\n"
                                 "[[station]]\nname = \"Д закрыт\"\nport = \"tcp 127.0.0.1 %5\"\n"
                                 "[[station]]\nname = \"Е модем\"\nport = \"COM5\"\nphone = \"00\"\n"
                                 "[[station]]\nname = \"Ж занято\"\nport = \"COM5\"\nphone = \"5551\"\n"
                                 "[[station]]\nname = \"З модем\"\nport = \"COM5\"\nphone = \"10\"\n")
                                 .arg(tcpPort(a), tcpPort(clock), tcpPort(changed), tcpPort(silent))
                                 .arg(freeLoopbackPort());
        std::string why;
        const auto roster = parseRoster(text.toStdString(), (m_dir.path() + "/stations.toml").toStdString(), &why);
        QVERIFY2(roster, why.c_str());
        const QString db = m_dir.path() + "/store/zrv.db";
        const QString store = "sqlite:" + db;
        PgServer pg;
        MosquittoBroker broker;
        QString failure;
        QVERIFY2(pg.start(&failure), qPrintable(failure));
        QVERIFY2(broker.start(&failure), qPrintable(failure));
        const QStringList stores{store, pg.url(), QStringLiteral("mqtt://127.0.0.1:%1/fleet").arg(broker.port())};

        Round one = runRounds({*roster}, stores).front();
        QCOMPARE(one.status, 1);
        const auto& r = one.results;
        QCOMPARE(r.size(), std::size_t(8));
        QVERIFY2(r[0].ok(), r[0].why.c_str());
        QCOMPARE(r[0].records.size(), std::size_t(10));
        QVERIFY(r[0].measurements.has_value());
        QVERIFY(r[0].clockOffsetS && std::llabs(*r[0].clockOffsetS) <= 2);
        QVERIFY(r[1].ok() && r[1].clockSet);
        QVERIFY(r[1].clockOffsetS && std::llabs(*r[1].clockOffsetS - 600) <= 2);
        QVERIFY(r[2].ok() && r[2].hasProfile);
        QCOMPARE(r[2].setpointDifferences, std::vector<int>{4});
        QCOMPARE(r[3].outcome, Outcome::NoDevice);
        QCOMPARE(r[3].attempt, 2);  // tried again once
        QVERIFY(r[3].timeouts > 0 && r[3].timeouts == r[3].transactionsFailed);  // silence, not a garbled line
        QCOMPARE(r[4].outcome, Outcome::PortUnavailable);
        QVERIFY2(r[5].ok(), r[5].why.c_str());
        QCOMPARE(r[5].records.size(), std::size_t(3));
        QCOMPARE(r[6].outcome, Outcome::DialFailed);
        QVERIFY2(r[6].why.find("Занято") != std::string::npos, r[6].why.c_str());
        QVERIFY2(r[7].ok(), r[7].why.c_str());
        QCOMPARE(r[5].deviceNumber, 127u);
        QCOMPARE(r[7].deviceNumber, 128u);  // another device behind the same modem
        QCOMPARE(r[7].records.size(), std::size_t(3));
        for (const CallResult& c : r) QVERIFY(c.transactionsOk + c.transactionsFailed > 0 || !c.ok());
        // The device's clock was set: it reads true now.
        QVERIFY(std::llabs(clock.withDevice([](zrvsim::DeviceModel& d, auto&) { return d.clockOffsetSeconds; })) <= 2);

        // Every call in the store and on standard output, once.
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls"), 9);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE outcome = 'ok'"), 5);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 10 + int(r[1].records.size() + r[2].records.size()) + 3 + 3);
        QCOMPARE(count(db, "SELECT setpoint_differences FROM calls WHERE station = 'В уставки'"), 1);
        QCOMPARE(count(db, "SELECT MIN(tx_timeouts) FROM calls WHERE station = 'Г молчит'"), r[3].timeouts);
        const QStringList lines = one.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 9);
        for (const QString& l : lines) QVERIFY(callFromJson(QJsonDocument::fromJson(l.toUtf8()).object()).has_value());
        QVERIFY2(one.err.contains(QStringLiteral("Г молчит: прибор не отвечает")), qPrintable(one.err));
        // The summary: the failures by name, the clock set, the differing setpoint.
        const QStringList summary = one.err.mid(one.err.indexOf(QStringLiteral("Станция "))).split('\n');
        const auto row = [&summary](const QString& station) {
            for (const QString& l : summary)
                if (l.startsWith(station)) return l.simplified();
            return QString();
        };
        QVERIFY2(row(QStringLiteral("Б часы")).contains(QRegularExpression(QStringLiteral(" (59[89]|60[012])\\* "))),
                 qPrintable(row(QStringLiteral("Б часы"))));
        QVERIFY2(row(QStringLiteral("В уставки")).contains(QStringLiteral("успешно 1 0 1 ")), qPrintable(row("В уставки")));
        QVERIFY(row(QStringLiteral("Г молчит")).contains(QStringLiteral("прибор не отвечает")));
        QVERIFY(row(QStringLiteral("Ж занято")).contains(QStringLiteral("модем не соединился")));
        QVERIFY(one.err.contains(QStringLiteral("Станций: 8, успешно: 5, со сбоем: 3")));
        // PostgreSQL holds what SQLite holds; the broker has each station's state.
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM calls", pg.port()), 9);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM journal", pg.port()), count(db, "SELECT COUNT(*) FROM journal"));
        QProcess states;
        states.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "fleet/+/state",
                                       "-v", "-C", "8", "-W", "5"});
        QVERIFY(states.waitForFinished(10000));
        const QString retained = QString::fromUtf8(states.readAllStandardOutput());
        QCOMPARE(retained.count(QStringLiteral("/state {")), 8);
        QVERIFY(retained.contains(QStringLiteral("fleet/Ж занято/state {")) && retained.contains("\"outcome\":\"dial-failed\""));

        // The journals grow; the next round reads just the new records.
        grow(a, 2);
        grow(modem, 1, 1);
        Round two = runRounds({*roster}, stores).front();
        QCOMPARE(two.results[0].records.size(), std::size_t(2));
        QCOMPARE(two.results[5].records.size(), std::size_t(0));
        QCOMPARE(two.results[7].records.size(), std::size_t(1));
        QCOMPARE(two.results[1].records.size(), std::size_t(0));
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal WHERE station = 'А'"), 12);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal WHERE station = 'З модем'"), 4);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM journal WHERE station = 'А'", pg.port()), 12);

        // The store's folder is gone for a round: the calls wait in the
        // spool, and the next run writes them without doubles.
        Roster justA;
        justA.stations = {roster->stations[0]};
        QVERIFY(QDir().rename(m_dir.path() + "/store", m_dir.path() + "/store.away"));
        QFile blocker(m_dir.path() + "/store");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        grow(a, 3);
        Round three = runRound(justA, store);
        QCOMPARE(three.status, 0);  // the station was fine; the store waits
        QVERIFY2(three.err.contains("spool.jsonl"), qPrintable(three.err));
        QCOMPARE(three.results[0].records.size(), std::size_t(15));  // no cursor at hand: the whole ring
        QVERIFY(QFile::remove(m_dir.path() + "/store"));
        QVERIFY(QDir().rename(m_dir.path() + "/store.away", m_dir.path() + "/store"));
        grow(a, 1);
        Round four = runRound(justA, store);
        QVERIFY2(four.err.contains(QStringLiteral("из отложенных записано вызовов: 1")), qPrintable(four.err));
        QCOMPARE(four.results[0].records.size(), std::size_t(1));
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal WHERE station = 'А'"), 16);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'А'"), 4);
        QVERIFY(!QFile::exists(m_dir.path() + "/state/spool.jsonl"));
    }

    void aCallLeavesNoHoleInTheJournalTouchesNothingAndWritesValidLines()
    {
        zrvsim::SimServer& sim = tcpSim(30, 11);
        sim.withDevice([](zrvsim::DeviceModel& d, zrvsim::ModbusSlave& slave) {
            d.coils[zrv::reg::kCoilExternalControl] = 1;  // the engineer on site took control
            d.holdMeasurements = true;
            d.setInputFloat(zrv::reg::kInP1, std::numeric_limits<float>::quiet_NaN());  // 0x0000 0x7FC0
            d.setInputFloat(zrv::reg::kInP2, 1.25f);
            d.holdClock = true;  // one device clock for the collector's reading and the report it is held against
            slave.faults.silentInputAt = -1;
            return 0;
        });
        // The line fails at the 12th newest record, for this call only.
        const uint16_t twelfth = recordStart(sim, 12);
        sim.withDevice([twelfth](auto&, zrvsim::ModbusSlave& slave) { return slave.faults.silentInputAt = twelfth; });
        std::string why;
        const auto roster = parseRoster("[[station]]\nname = \"Хутор\"\nretries = 0\nport = \"" +
                                            tcpPort(sim).toStdString() + "\"\n",
                                        (m_dir.path() + "/gap.toml").toStdString(), &why);
        QVERIFY2(roster, why.c_str());
        const QString db = m_dir.path() + "/gap.db";
        Round r = runRound(*roster, "sqlite:" + db, Format::Influx);
        QCOMPARE(r.results.front().outcome, Outcome::Incomplete);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 11);
        storedAsTheTerminalReports(sim, db, r.results.front().callId);

        // Line protocol as an agent parses it: measurement,tags fields time,
        // every field a number, a quoted string or an integer; P1 left out.
        int lines = 0;
        for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
            ++lines;
            static const QString field = QStringLiteral("[a-z0-9_]+=(-?[0-9.e+-]+|-?[0-9]+i|\"[^\"]*\")");
            static const QRegularExpression valid(QStringLiteral("^zrv_(call|journal)(,[a-z_]+=[^ ,=]+)+ %1(,%1)* [0-9]+$").arg(field));
            QVERIFY2(valid.match(line).hasMatch(), qPrintable(line));
            if (line.startsWith("zrv_call")) QVERIFY2(!line.contains(",p1=") && line.contains(",p2=1.25"), qPrintable(line));
        }
        QCOMPARE(lines, 1 + 11);

        // It answers again, three records later: the new ones and the 19 the
        // first call could not reach, each stored once; the JSON says null.
        sim.withDevice([](auto&, zrvsim::ModbusSlave& slave) { return slave.faults.silentInputAt = -1; });
        grow(sim, 3);
        r = runRound(*roster, "sqlite:" + db);
        QCOMPARE(r.results.front().outcome, Outcome::Ok);
        QCOMPARE(r.results.front().records.size(), std::size_t(3 + 19));
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 33);
        storedAsTheTerminalReports(sim, db, r.results.front().callId);
        const QJsonObject call = QJsonDocument::fromJson(r.out.split('\n').front().toUtf8()).object();
        QVERIFY(call["measurements"].toObject()["p1"].isNull());
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE p1 IS NULL AND p2 IS NOT NULL"), 2);

        // Cut short again, then the ring goes round past the gap before the
        // next call: the records lost are said, in the result and the summary.
        grow(sim, 10);
        const uint16_t third = recordStart(sim, 3);
        sim.withDevice([third](auto&, zrvsim::ModbusSlave& slave) { return slave.faults.silentInputAt = third; });
        r = runRound(*roster, "sqlite:" + db);
        sim.withDevice([](zrvsim::DeviceModel& d, zrvsim::ModbusSlave& slave) {
            slave.faults.silentInputAt = -1;
            for (int i = 0; i < 110; ++i)  // records of 312 words: the ring holds 103
                d.appendRecord(d.stampNow(), std::vector<zrvsim::JournalEntry>(100, {1, 0, 2, 0}));
            return 0;
        });
        CollectorOptions o;
        o.stateDir = m_dir.path() + "/gap-state";
        std::string sinkWhy;
        std::vector<std::unique_ptr<Sink>> sinks;
        sinks.push_back(makeSink(*parseStoreUrl("sqlite:" + db, &sinkWhy)));
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        {
            Collector c(*roster, std::move(sinks), o, out, err);
            QSignalSpy done(&c, &Collector::roundFinished);
            c.startRound();
            QVERIFY(done.wait(60000));
            QCOMPARE(c.results().front().recordsLost, 8);
        }
        const QString summary = readAll(out);
        std::fclose(out);
        std::fclose(err);
        QVERIFY2(summary.contains(QStringLiteral("Хутор: около 8 записей журнала перезаписаны")), qPrintable(summary));
        QCOMPARE(count(db, "SELECT MAX(records_lost) FROM calls"), 8);

        // In all these calls not one write: external control stays on.
        for (const zrvsim::SeenRequest& q : sim.requests())
            QVERIFY2(q.frame[1] <= 4, qPrintable(QStringLiteral("function %1 sent").arg(q.frame[1])));
        QCOMPARE(sim.withDevice([](zrvsim::DeviceModel& d, auto&) { return d.coils[zrv::reg::kCoilExternalControl]; }), 1);
    }

    // A kind the program does not know, added by the test alone: the round
    // writes every call to it, spools for it when it is away, and reads the
    // journal cursors from the store that keeps them, whatever its place.
    void anOutputOfAKindOnlyTheTestKnowsTakesTheRoundsCalls()
    {
        addOutputKind({{"tally"},
                       {"tally:"},
                       false,
                       [](StoreUrl&, const QUrl*, std::string*) { return true; },
                       [](const StoreUrl& url) -> std::unique_ptr<Sink> { return std::make_unique<TallySink>(url); },
                       false});
        std::string why;
        QVERIFY(!parseStoreUrl("ftp://h/x", &why));
        QCOMPARE(QString::fromStdString(why),
                 QString("хранилище \"ftp://h/x\" не sqlite:, postgresql://, mqtt://, mqtts:// и не tally:"));

        zrvsim::SimServer& a = tcpSim(4, 41);
        zrvsim::SimServer& b = tcpSim(2, 42);
        const auto roster = parseRoster(QStringLiteral("[[station]]\nname = \"T1\"\nport = \"%1\"\n"
                                                       "[[station]]\nname = \"T2\"\nport = \"%2\"\n")
                                            .arg(tcpPort(a), tcpPort(b))
                                            .toStdString(),
                                        (m_dir.path() + "/tally.toml").toStdString(), &why);
        QVERIFY2(roster, why.c_str());
        const QString db = m_dir.path() + "/tally.db";
        const QString state = m_dir.path() + "/state";
        QFile::remove(state + "/spool.jsonl");
        const QStringList stores{"tally:up", "tally:down", "sqlite:" + db};
        const Round one = runRounds({*roster}, stores).front();
        QCOMPARE(one.status, 0);  // every call made, and each safe: on disk for the one away
        QCOMPARE(int(one.results.size()), 2);
        {
            std::lock_guard<std::mutex> lock(tally().mutex);
            const auto& got = tally().written["tally:up"];
            QCOMPARE(int(got.size()), 2);
            QStringList ids;
            for (const CallResult& c : got) ids << c.callId + QString::fromStdString(c.station) + QString::number(c.records.size());
            for (const CallResult& c : one.results)
                QVERIFY(ids.contains(c.callId + QString::fromStdString(c.station) + QString::number(c.records.size())));
            QVERIFY(tally().written["tally:down"].empty());
        }
        QVERIFY2(one.err.contains("tally:down: недоступно (не отвечает)"), qPrintable(one.err));
        Spool spool(state + "/spool.jsonl");
        QVERIFY(spool.load(&why));
        QCOMPARE(int(spool.waitingFor("tally:down").size()), 2);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 6);

        // Two new records on T1: the next round reads those alone, by the
        // cursors the database kept, though the tally comes first.
        grow(a, 2);
        const Round two = runRounds({*roster}, {"tally:up", "sqlite:" + db}).front();
        QCOMPARE(two.status, 0);
        std::map<std::string, int> read;
        for (const CallResult& c : two.results) read[c.station] = int(c.records.size());
        QCOMPARE(read["T1"], 2);
        QCOMPARE(read["T2"], 0);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 8);
        {
            std::lock_guard<std::mutex> lock(tally().mutex);
            QCOMPARE(int(tally().written["tally:up"].size()), 4);
        }
        // Not named in this run, the one away keeps what waits for it.
        Spool after(state + "/spool.jsonl");
        QVERIFY(after.load(&why));
        QCOMPARE(int(after.waitingFor("tally:down").size()), 2);
        QFile::remove(state + "/spool.jsonl");
    }

    void aSpoolThatCannotBeWrittenFailsTheRunAndLosesNothing()
    {
        // A state folder on a full file system: a small tmpfs in a mount
        // namespace of the collector's own, which any user may make.
        if (QProcess::execute("unshare", {"-rm", "true"}) != 0) QSKIP("unshare -rm (a user and mount namespace) is refused here");
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        pg.stop();
        QString stations;
        for (int i = 0; i < 6; ++i)
            stations += QStringLiteral("[[station]]\nname = \"С%1\"\nport = \"%2\"\nretries = 0\n").arg(i).arg(tcpPort(tcpSim(10, 20 + i)));
        QFile roster(m_dir.path() + "/spool.toml");
        QVERIFY(roster.open(QIODevice::WriteOnly));
        roster.write(stations.toUtf8());
        roster.close();
        const QString db = m_dir.path() + "/spool-a.db", state = m_dir.path() + "/spool-state",
                      kept = m_dir.path() + "/spool-kept";
        QVERIFY(QDir().mkpath(state) && QDir().mkpath(kept));
        const QStringList args{"--roster", roster.fileName(), "--store", "sqlite:" + db, "--store", pg.url()};
        QProcess c;
        c.start("unshare", QStringList{"-rm", "sh", "-c",
                            QStringLiteral("mount -t tmpfs -o size=16k none \"$0\" || exit 9; \"$@\"; rc=$?; "
                                           "cp -a \"$0\"/. \"%1\"/; exit $rc").arg(kept),
                            state, ZRVCOLLECT_PROGRAM, "--state-dir", state} + args);
        QVERIFY(c.waitForFinished(60000));
        const QString out = QString::fromUtf8(c.readAllStandardOutput()), err = QString::fromUtf8(c.readAllStandardError());
        QCOMPARE(c.exitCode(), 1);
        // What the summary says is spooled is what the file holds.
        QFile spool(kept + "/spool.jsonl");
        QVERIFY(spool.open(QIODevice::ReadOnly));
        const int lines = int(spool.readAll().count('\n'));
        spool.close();
        static const QRegularExpression said(QStringLiteral("отложено для хранилищ: (\\d+); НЕ СОХРАНЕНО вызовов: (\\d+)"));
        const QRegularExpressionMatch m = said.match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out + err));
        QCOMPARE(m.captured(1).toInt(), lines);
        QVERIFY2(lines >= 1 && m.captured(2).toInt() >= 1 && lines + m.captured(2).toInt() == 6, qPrintable(out));
        QVERIFY2(err.contains(QStringLiteral("курсор журнала не сдвинут")), qPrintable(err));
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 60);

        // PostgreSQL back, the spool on a disk with room: every record in
        // both stores once, the spool empty.
        QVERIFY2(pg.restart(&why), qPrintable(why));
        QProcess again;
        again.start(ZRVCOLLECT_PROGRAM, QStringList{"--state-dir", kept} + args);
        QVERIFY(again.waitForFinished(60000));
        QVERIFY2(again.exitCode() == 0, again.readAllStandardError().constData());
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 60);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM journal", pg.port()), 60);
        QVERIFY(!QFile::exists(kept + "/spool.jsonl"));
    }

    void severalCollectorsIntoOnePostgresAndAnMqttBroker()
    {
        PgServer pg;
        MosquittoBroker broker;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        QVERIFY2(broker.start(&why), qPrintable(why));
        zrvsim::SimServer& p1 = tcpSim(4, 21);
        zrvsim::SimServer& p2 = tcpSim(2, 22);
        zrvsim::SimServer& p3 = tcpSim(3, 23);
        const auto roster = [](const std::vector<std::pair<std::string, zrvsim::SimServer*>>& list) {
            Roster r;
            for (const auto& [name, sim] : list) {
                Station s;
                s.name = name;
                s.port = "tcp 127.0.0.1 " + std::to_string(sim->tcpPort());
                s.retries = 0;
                r.stations.push_back(s);
            }
            return r;
        };
        const Roster first = roster({{"P1", &p1}, {"P2/север", &p2}});
        const Roster second = roster({{"P3", &p3}});
        const QString mqtt = QStringLiteral("mqtt://127.0.0.1:%1/zrvt").arg(broker.port());
        // P3's battery is low: its finding goes into PostgreSQL with the call.
        p3.withDevice([](zrvsim::DeviceModel& d, auto&) {
            d.holdMeasurements = true;
            d.setInputFloat(zrv::reg::kInP1, 6.0f);
            d.setInputFloat(zrv::reg::kInP2, 2.0f);
            d.setInputFloat(zrv::reg::kInVbat, 3.0f);
            return 0;
        });
        QProcess sub;
        sub.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "zrvt/#", "-v", "-q", "1"});
        QVERIFY(sub.waitForStarted());
        QTest::qWait(300);  // subscribed

        const std::vector<Round> rounds = runRounds({first, second}, {pg.url(), mqtt});
        for (const Round& r : rounds) {
            QCOMPARE(r.status, 0);
            QVERIFY2(!r.err.contains(QStringLiteral("недоступно")), qPrintable(r.err));
        }
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM calls", pg.port()), 3);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM journal", pg.port()), 9);
        // Migrated once: one row per version, however many collectors started on it.
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM zrv_schema", pg.port()), zrv::fleet::kSchemaVersion);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM findings WHERE station = 'P3' AND kind = 'battery-low' "
                              "AND severity = 'critical' AND cleared_utc IS NULL", pg.port()),
                 1);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM findings", pg.port()), 1);

        // A collector whose PostgreSQL is down: the broker still gets the
        // call, the database gets it on the next run, once.
        pg.stop();
        grow(p1, 2);
        const Round down = runRounds({first}, {pg.url(), mqtt}).front();
        QCOMPARE(down.status, 0);
        QVERIFY2(down.err.contains("spool.jsonl"), qPrintable(down.err));
        QVERIFY2(pg.restart(&why), qPrintable(why));
        const Round back = runRounds({first}, {pg.url(), mqtt}).front();
        QVERIFY2(back.err.contains(QStringLiteral("из отложенных записано вызовов: 2")), qPrintable(back.err));
        QCOMPARE(back.results[0].records.size(), std::size_t(0));  // the cursor came with the replay
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM journal WHERE station = 'P1'", pg.port()), 6);
        QCOMPARE(count("zrv", "SELECT COUNT(*) FROM calls", pg.port()), 7);

        QTest::qWait(300);
        sub.terminate();
        QVERIFY(sub.waitForFinished(5000));
        const QStringList lines = QString::fromUtf8(sub.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const auto on = [&lines](const QString& topic) {
            int n = 0;
            for (const QString& l : lines) n += l.startsWith(topic + ' ');
            return n;
        };
        // While the database was down there was no cursor: the whole rings
        // again (a consumer knows a record by device, start and stamp).
        QCOMPARE(on("zrvt/P1/journal"), 4 + 6);
        QCOMPARE(on("zrvt/P2_север/journal"), 2 + 2);
        QCOMPARE(on("zrvt/P3/journal"), 3);
        QCOMPARE(on("zrvt/P1/state"), 3);
        for (const QString& l : lines)
            if (l.startsWith("zrvt/P3/state ")) {
                const QJsonObject o = QJsonDocument::fromJson(l.mid(14).toUtf8()).object();
                QCOMPARE(o["outcome"].toString(), QString("ok"));
                QCOMPARE(o["records_read"].toInt(), 3);
                QVERIFY(o["measurements"].isObject());
            }
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString& l) {
            return l.startsWith("zrvt/collector/") && l.endsWith(" offline");
        }));
        // The state stays for whoever subscribes later.
        QProcess later;
        later.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "zrvt/P3/state",
                                      "-C", "1", "-W", "5"});
        QVERIFY(later.waitForFinished(10000));
        QVERIFY(later.readAllStandardOutput().contains("\"outcome\":\"ok\""));
    }

    // Four stations over four rounds, ten days apart (the store's calls are
    // moved back between rounds): a battery that falls, a clock that drifts,
    // a journal record above the device's own P2 max, and a station that is
    // well. Each finding is opened once, shown in the store, by --findings,
    // on MQTT and in the metrics (read back through a real node_exporter),
    // and cleared everywhere by the call that no longer sees it.
    void findingsAreOpenedOnceShownEverywhereAndClearedByTheCallThatNoLongerSeesThem()
    {
        MosquittoBroker broker;
        QString why;
        QVERIFY2(broker.start(&why), qPrintable(why));
        const QString folder = m_dir.path() + "/textfile";
        QVERIFY(QDir().mkpath(folder));
        m_textfile = folder + "/zrv.prom";
        NodeExporter exporter;
        QVERIFY2(exporter.start(folder, &why), qPrintable(why));

        zrvsim::SimServer& battery = tcpSim(0, 51);
        zrvsim::SimServer& clock = tcpSim(0, 52);
        zrvsim::SimServer& pressure = tcpSim(2, 53);
        zrvsim::SimServer& well = tcpSim(2, 54);
        const auto volts = [&battery](float v) {
            battery.withDevice([v](zrvsim::DeviceModel& d, auto&) {
                d.holdMeasurements = true;
                d.setInputFloat(zrv::reg::kInP1, 6.0f);
                d.setInputFloat(zrv::reg::kInP2, 2.0f);
                d.setInputFloat(zrv::reg::kInVbat, v);
                return 0;
            });
        };
        const auto offset = [&clock](long long s) {
            clock.withDevice([s](zrvsim::DeviceModel& d, auto&) { return d.clockOffsetSeconds = s; });
        };
        Roster roster;
        for (auto [name, sim] : {std::pair{"Батарея", &battery}, {"Часы", &clock}, {"Давление", &pressure}, {"Норма", &well}}) {
            Station s;
            s.name = name;
            s.port = tcpPort(*sim).toStdString();
            s.retries = 0;
            s.clockToleranceS = 600;  // the drift speaks here, not the offset
            roster.stations.push_back(s);
        }
        const QString db = m_dir.path() + "/health.db";
        const QString mqtt = QStringLiteral("mqtt://127.0.0.1:%1/hl").arg(broker.port());
        QProcess sub;
        sub.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "hl/#", "-v", "-q", "1"});
        QVERIFY(sub.waitForStarted());
        QTest::qWait(300);
        const auto tenDaysPass = [&] {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "shift");
            d.setDatabaseName(db);
            QVERIFY(d.open());
            QSqlQuery q(d);
            QVERIFY2(q.exec("UPDATE calls SET started_utc = strftime('%Y-%m-%dT%H:%M:%fZ', started_utc, '-10 days')"),
                     qPrintable(q.lastError().text()));
            d.close();
            d = QSqlDatabase();
            QSqlDatabase::removeDatabase("shift");
        };
        const auto open = [&](const QString& where) {
            return count(db, "SELECT COUNT(*) FROM findings WHERE cleared_utc IS NULL" + where);
        };
        const auto findingsProgram = [&](QString* out) {
            QProcess p;
            p.start(ZRVCOLLECT_PROGRAM, {"--findings", "--store", "sqlite:" + db});
            p.waitForFinished(20000);
            *out = QString::fromUtf8(p.readAllStandardOutput());
            return p.exitCode();
        };

        volts(3.60f);
        offset(0);
        QCOMPARE(runRound(roster, "sqlite:" + db).status, 0);
        tenDaysPass();
        volts(3.50f);
        QCOMPARE(runRound(roster, "sqlite:" + db).status, 0);
        tenDaysPass();
        // Now: 0.45 V less in 30 days, 15 s a day, and P2 6.2 over its 5.0.
        volts(3.40f);
        offset(150);
        pressure.withDevice([](zrvsim::DeviceModel& d, auto&) {
            zrvsim::JournalStamp st = d.stampNow();
            st.p2 = 6.2f;
            d.appendRecord(st, {{0, 0xC002, 1, 2}});
            return 0;
        });
        const Round raised = runRounds({roster}, {"sqlite:" + db, mqtt}).front();
        QCOMPARE(raised.status, 0);
        QVERIFY2(raised.err.contains(QStringLiteral("Давление: замечание: P2 = 6.200 выше P2 max 5.000")), qPrintable(raised.err));
        QCOMPARE(open(""), 3);
        QCOMPARE(open(" AND station = 'Батарея' AND kind = 'battery-falling' AND severity = 'warning'"), 1);
        QCOMPARE(open(" AND station = 'Часы' AND kind = 'clock-drift'"), 1);
        QCOMPARE(open(" AND station = 'Давление' AND kind = 'pressure-p2' AND severity = 'critical'"), 1);
        QString listed;
        QCOMPARE(findingsProgram(&listed), 2);  // critical, as a monitoring plugin says it
        QVERIFY2(listed.startsWith(QStringLiteral("ZRV CRITICAL - замечаний: критичных 1, прочих 2")), qPrintable(listed));
        QVERIFY2(listed.contains(QStringLiteral("Часы: внимание: часы уходят на 15.0 с в сутки")), qPrintable(listed));

        exporterSees(exporter, {"zrv_open_findings{kind=\"pressure-p2\",severity=\"critical\",station=\"Давление\"} 1",
                                "zrv_open_findings{kind=\"battery-falling\",severity=\"warning\",station=\"Батарея\"} 1",
                                "zrv_battery_volts{station=\"Батарея\"} 3.4", "zrv_clock_offset_seconds{station=\"Часы\"} 150",
                                "zrv_up{station=\"Норма\"} 1"});
        checkMetrics(m_textfile);

        // The next call: the battery and the clock are seen again (and not
        // opened twice); the pressure, back in its band with no record
        // outside it, is cleared.
        const Round again = runRounds({roster}, {"sqlite:" + db, mqtt}).front();
        QVERIFY2(!again.err.contains(QStringLiteral(": замечание")), qPrintable(again.err));
        QVERIFY2(again.err.contains(QStringLiteral("Давление: снято замечание: P2 вне пределов отсечки")), qPrintable(again.err));
        QCOMPARE(open(""), 2);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM findings"), 3);
        exporterSees(exporter, {"zrv_open_findings{kind=\"clock-drift\",severity=\"warning\",station=\"Часы\"} 1"});
        QVERIFY(!exporter.scrape().contains("pressure-p2"));

        // A new battery, a clock set by hand, pressures back in their band.
        volts(3.90f);
        offset(0);
        const Round cleared = runRounds({roster}, {"sqlite:" + db, mqtt}).front();
        QCOMPARE(cleared.status, 0);
        QCOMPARE(open(""), 0);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM findings WHERE cleared_call IS NOT NULL"), 3);
        QCOMPARE(findingsProgram(&listed), 0);
        QVERIFY2(listed.startsWith("ZRV OK"), qPrintable(listed));
        const QByteArray scraped = exporter.scrape();
        QVERIFY(scraped.contains("zrv_up{station=\"Давление\"} 1"));
        QVERIFY2(!scraped.contains("zrv_open_findings{"), scraped.constData());
        m_textfile.clear();

        QTest::qWait(300);
        sub.terminate();
        QVERIFY(sub.waitForFinished(5000));
        const QStringList lines = QString::fromUtf8(sub.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        std::map<QString, int> events;
        QString lastHealth[4];
        const QString names[4] = {QStringLiteral("Батарея"), QStringLiteral("Часы"), QStringLiteral("Давление"), QStringLiteral("Норма")};
        for (const QString& l : lines) {
            if (l.startsWith("hl/findings ")) {
                const QJsonObject o = QJsonDocument::fromJson(l.mid(12).toUtf8()).object();
                ++events[o["event"].toString() + ' ' + o["station"].toString() + ' ' + o["kind"].toString()];
            }
            for (int i = 0; i < 4; ++i)
                if (l.startsWith("hl/" + names[i] + "/health ")) lastHealth[i] = l.mid(names[i].size() + 11);
        }
        const std::map<QString, int> expected = {
            {QStringLiteral("opened Батарея battery-falling"), 1}, {QStringLiteral("cleared Батарея battery-falling"), 1},
            {QStringLiteral("opened Часы clock-drift"), 1},         {QStringLiteral("cleared Часы clock-drift"), 1},
            {QStringLiteral("opened Давление pressure-p2"), 1},     {QStringLiteral("cleared Давление pressure-p2"), 1},
        };
        QCOMPARE(events, expected);
        for (const QString& h : lastHealth) QCOMPARE(h, QString("[]"));
        // Retained: whoever subscribes later learns the state at once.
        QProcess later;
        later.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t",
                                      QStringLiteral("hl/Норма/health"), "-C", "1", "-W", "5"});
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(later.readAllStandardOutput().trimmed(), QByteArray("[]"));
    }

    // Rounds of --every call a station once its last success is older than
    // its `every`, the most overdue first; the others wait, said so, and do
    // not count as failed.
    void scheduledRoundsCallOnlyTheStationsThatAreDue()
    {
        zrvsim::SimServer& a = tcpSim(2, 61);
        zrvsim::SimServer& b = tcpSim(2, 62);
        Roster roster;
        for (auto [name, sim] : {std::pair{"А", &a}, {"Б", &b}}) {
            Station s;
            s.name = name;
            s.port = tcpPort(*sim).toStdString();
            s.retries = 0;
            s.everyS = 3600;
            roster.stations.push_back(s);
        }
        const QString db = m_dir.path() + "/scheduled.db";
        m_scheduled = true;
        const Round first = runRound(roster, "sqlite:" + db, Format::Summary);
        QCOMPARE(first.status, 0);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls"), 2);
        const Round second = runRound(roster, "sqlite:" + db, Format::Summary);
        QCOMPARE(second.status, 0);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls"), 2);
        QVERIFY2(second.out.contains(QStringLiteral("не пора, до")) && second.out.contains(QStringLiteral("не пора: 2")),
                 qPrintable(second.out));
        // Two hours on for А only.
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "shift");
            d.setDatabaseName(db);
            QVERIFY(d.open());
            QSqlQuery q(d);
            QVERIFY(q.exec("UPDATE calls SET started_utc = strftime('%Y-%m-%dT%H:%M:%fZ', started_utc, '-2 hours') "
                           "WHERE station = 'А'"));
            d.close();
            d = QSqlDatabase();
            QSqlDatabase::removeDatabase("shift");
        }
        const Round third = runRound(roster, "sqlite:" + db, Format::Summary);
        m_scheduled = false;
        QCOMPARE(third.status, 0);
        QVERIFY(third.results[0].ok());
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'А'"), 2);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'Б'"), 1);
        QVERIFY2(third.out.contains(QStringLiteral("успешно: 1, со сбоем: 0, не пора: 1")), qPrintable(third.out));

        // A shared roster's round: the station of another collector's port
        // is neither called nor counted failed.
        roster.coordinate = "postgresql://127.0.0.1:1/none";
        roster.stations[1].host = "elsewhere";
        const Round shared = runRound(roster, "sqlite:" + db, Format::Summary);
        QCOMPARE(shared.status, 0);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'Б'"), 1);
        QVERIFY2(shared.out.contains(QStringLiteral("не здесь: порт сборщика elsewhere")) &&
                     shared.out.contains(QStringLiteral("со сбоем: 0, у других сборщиков: 1")),
                 qPrintable(shared.out));
    }

    void aBrokerThatHangsHoldsUpNoPortAndLosesNothing()
    {
        MosquittoBroker broker;
        QString why;
        QVERIFY2(broker.start(&why), qPrintable(why));
        Roster roster;
        int records = 0;
        for (int journal : {3, 2, 4}) {
            zrvsim::SimServer& sim = tcpSim(journal, unsigned(40 + journal));
            records += 2 * journal;  // each station keeps its own cursor
            for (const char* which : {"а", "б"}) {
                Station s;
                s.name = "Порт" + std::to_string(journal) + which;
                s.port = tcpPort(sim).toStdString();
                s.retries = 0;
                roster.stations.push_back(s);
            }
        }
        const QString db = m_dir.path() + "/hang.db";
        const QString mqtt = QStringLiteral("mqtt://127.0.0.1:%1/hang").arg(broker.port());
        broker.freeze(true);
        const Round hung = runRounds({roster}, {"sqlite:" + db, mqtt}).front();
        broker.freeze(false);
        QCOMPARE(hung.status, 0);
        QCOMPARE(hung.results.size(), std::size_t(6));
        for (std::size_t i = 0; i < hung.results.size(); i += 2) {
            const CallResult& first = hung.results[i];
            const CallResult& second = hung.results[i + 1];
            QVERIFY2(first.ok() && second.ok(), (first.why + second.why).c_str());
            // The port's next call follows at once: the broker's five
            // seconds of silence are its own thread's.
            const qint64 gap = first.started.msecsTo(second.started) - qint64(first.seconds * 1000);
            QVERIFY2(gap < 1500, qPrintable(QString("%1: %2 ms between calls").arg(first.port.c_str()).arg(gap)));
        }
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls"), 6);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), records);  // each station its own records, once
        QVERIFY2(hung.err.contains(QStringLiteral("брокер не ответил")), qPrintable(hung.err));
        Spool spool(m_dir.path() + "/state/spool.jsonl");
        std::string warning;
        QVERIFY(spool.load(&warning));
        std::string urlWhy;
        const QString brokerName = parseStoreUrl(mqtt, &urlWhy)->display();
        QCOMPARE(spool.waitingFor(brokerName).size(), std::size_t(6));

        // Thawed, the next run hands the broker every call it missed, each
        // record once, and the cursors kept in SQLite read nothing twice.
        QProcess sub;
        sub.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "hang/+/journal", "-q", "1"});
        QVERIFY(sub.waitForStarted());
        QTest::qWait(300);  // subscribed
        const Round thawed = runRounds({roster}, {"sqlite:" + db, mqtt}).front();
        QCOMPARE(thawed.status, 0);
        QVERIFY2(thawed.err.contains(QStringLiteral("из отложенных записано вызовов: 6")), qPrintable(thawed.err));
        for (const CallResult& r : thawed.results) QCOMPARE(r.records.size(), std::size_t(0));
        QTest::qWait(300);
        sub.terminate();
        QVERIFY(sub.waitForFinished(5000));
        QCOMPARE(QString::fromUtf8(sub.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).size(), records);
        QVERIFY(spool.load(&warning));
        QCOMPARE(spool.size(), std::size_t(0));
    }

    // A serving collector's own /metrics, as a real Prometheus scrapes it:
    // the target up, the calls counted as they are made, the histograms
    // with their buckets, a store that cannot be reached said as down; and
    // the addresses refused before anything is called.
    void aServingCollectorsOwnMetricsAreScrapedByPrometheus()
    {
        const int base = freeLoopbackPort();
        QProcess fleet;
        fleet.start(ZRVSIM_PROGRAM, {"--tcp", QString::number(base), "--fleet", "3", "--journal", "3"});
        QVERIFY(fleet.waitForReadyRead(10000));
        const QString rosterPath = m_dir.path() + "/metrics.toml";
        QFile roster(rosterPath);
        QVERIFY(roster.open(QIODevice::WriteOnly));
        QString text = "[defaults]\nevery = \"5s\"\nretries = 0\n";
        for (int i = 0; i < 3; ++i) text += QString("[[station]]\nname = \"M%1\"\nport = \"tcp 127.0.0.1 %2\"\n").arg(i).arg(base + i);
        roster.write(text.toUtf8());
        roster.close();
        const int port = freeLoopbackPort(), closed = freeLoopbackPort();
        const QString db = m_dir.path() + "/metrics.db";
        const QStringList common{"--serve", "--roster", rosterPath, "--state-dir", m_dir.path() + "/metrics-state"};
        QProcess c;
        c.start(ZRVCOLLECT_PROGRAM, common + QStringList{"--store", "sqlite:" + db, "--store",
                                                        QString("postgresql://zrv@127.0.0.1:%1/zrv").arg(closed),
                                                        "--metrics", QString::number(port)});
        QVERIFY(c.waitForStarted());
        // Taken, or not loopback unless asked: refused at the start.
        for (const QStringList& refused : {QStringList{"--metrics", QString::number(port)},
                                           QStringList{"--metrics", "0.0.0.0:" + QString::number(closed)}}) {
            QTest::qWait(300);
            QProcess other;
            other.start(ZRVCOLLECT_PROGRAM, QStringList{"--serve", "--roster", rosterPath, "--state-dir",
                                                        m_dir.path() + "/metrics-other"} + refused);
            QVERIFY(other.waitForFinished(10000));
            const QByteArray said = other.readAllStandardError();
            QVERIFY2(other.exitCode() == 2 && said.contains("--metrics"), said.constData());
        }

        PrometheusServer prometheus;
        QString why;
        QVERIFY2(prometheus.start(port, &why), qPrintable(why));
        const auto value = [&](const QString& expression) {
            const QJsonArray result =
                QJsonDocument::fromJson(prometheus.query(expression)).object()["data"].toObject()["result"].toArray();
            return result.isEmpty() ? -1.0 : result[0].toObject()["value"].toArray()[1].toString().toDouble();
        };
        QTRY_COMPARE_WITH_TIMEOUT(value("up{job=\"zrvcollect\"}"), 1.0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(value("sum(zrv_calls_total)") >= 3, 20000);
        const double first = value("sum(zrv_calls_total)");
        QTRY_VERIFY_WITH_TIMEOUT(value("sum(zrv_calls_total)") >= first + 3, 20000);
        QVERIFY(value("zrv_calls_total{outcome=\"ok\"}") >= first + 3);
        QCOMPARE(value("count(zrv_call_duration_seconds_bucket)"), 12.0);
        QVERIFY(value("zrv_call_duration_seconds_count") >= first + 3);
        QCOMPARE(value("zrv_store_up{store=~\"sqlite:.*\"}"), 1.0);
        QCOMPARE(value("zrv_store_up{store=~\"postgresql:.*\"}"), 0.0);
        QVERIFY(value("zrv_spool_lines") >= 1);  // what the database missed waits for it
        QCOMPARE(value("zrv_build_info"), 1.0);

        // The collector's own count against what it stored, at one moment:
        // at most a call a station ahead (counted as it ends, stored after).
        const QByteArray scraped = httpGet(port, "/metrics");
        const int stored = count(db, "SELECT COUNT(*) FROM calls");
        double counted = 0;
        for (const QByteArray& line : scraped.split('\n'))
            if (line.startsWith("zrv_calls_total{")) counted += line.mid(line.lastIndexOf(' ') + 1).toDouble();
        QVERIFY2(counted >= stored && counted <= stored + 3, qPrintable(QString("%1 counted, %2 stored").arg(counted).arg(stored)));
        QVERIFY(counted >= value("sum(zrv_calls_total)"));
        QFile file(m_dir.path() + "/scraped.prom");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(scraped);
        file.close();
        checkMetrics(file.fileName());

        ::kill(pid_t(c.processId()), SIGTERM);
        QVERIFY(c.waitForFinished(20000));
        QCOMPARE(c.exitCode(), 0);
        fleet.terminate();
        fleet.waitForFinished(5000);

        // Each station's gauges come from the store (whichever collector
        // called it), once a station, well formed; a store that is not
        // there is the plugins' 3.
        QProcess gauges;
        gauges.start(ZRVCOLLECT_PROGRAM, {"metrics", "--roster", rosterPath, "--store", "sqlite:" + db});
        QVERIFY(gauges.waitForFinished(20000));
        QCOMPARE(gauges.exitCode(), 0);
        const QByteArray printed = gauges.readAllStandardOutput();
        const double nowS = double(QDateTime::currentSecsSinceEpoch());
        for (int i = 0; i < 3; ++i) {
            const QByteArray station = "{station=\"M" + QByteArray::number(i) + "\"}";
            QCOMPARE(printed.count("zrv_up" + station + " "), 1);
            QVERIFY2(printed.contains("zrv_up" + station + " 1\n") && printed.contains("zrv_call_interval_seconds" + station + " 5\n"),
                     printed.constData());
            const qsizetype at = printed.indexOf("zrv_last_success_timestamp_seconds" + station + ' ');
            QVERIFY(at >= 0);
            const double last = printed.mid(printed.indexOf(' ', at) + 1, 20).split('\n').front().toDouble();
            QVERIFY2(last > nowS - 60 && last <= nowS + 1, printed.constData());
        }
        QFile gaugeFile(m_dir.path() + "/gauges.prom");
        QVERIFY(gaugeFile.open(QIODevice::WriteOnly));
        gaugeFile.write(printed);
        gaugeFile.close();
        checkMetrics(gaugeFile.fileName());
        gauges.start(ZRVCOLLECT_PROGRAM, {"metrics", "--store", "sqlite:" + m_dir.path() + "/nowhere.db"});
        QVERIFY(gauges.waitForFinished(20000));
        QCOMPARE(gauges.exitCode(), 3);
    }

    void theProgramStopsCleanlyOnTermAndWritesLineProtocol()
    {
        QProcess help;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        help.setProcessEnvironment(env);
        help.start(ZRVCOLLECT_PROGRAM, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().contains("--every DURATION"));

        // Two stations of one simulated fleet, and one that never answers.
        const int base = freeLoopbackPort();
        QProcess fleet, mute;
        const QString connections = m_dir.path() + "/connections.log";
        fleet.start(ZRVSIM_PROGRAM,
                    {"--tcp", QString::number(base), "--fleet", "2", "--journal", "5", "--connections", connections});
        const int silentPort = freeLoopbackPort();
        mute.start(ZRVSIM_PROGRAM, {"--tcp", QString::number(silentPort), "--silent"});
        QVERIFY(fleet.waitForReadyRead(10000) && mute.waitForReadyRead(10000));
        QTest::qWait(200);
        QFile roster(m_dir.path() + "/term.toml");
        QVERIFY(roster.open(QIODevice::WriteOnly));
        roster.write(QStringLiteral("[[station]]\nname = \"A\"\nport = \"tcp 127.0.0.1 %1\"\n"
                                    "[[station]]\nname = \"B\"\nport = \"tcp 127.0.0.1 %2\"\n"
                                    "[[station]]\nname = \"S\"\nport = \"tcp 127.0.0.1 %3\"\nretries = 5\nretry_delay = 0\n")
                         .arg(base)
                         .arg(base + 1)
                         .arg(silentPort)
                         .toUtf8());
        roster.close();
        const QString db = m_dir.path() + "/term.db";
        QProcess c;
        c.start(ZRVCOLLECT_PROGRAM, {"--roster", roster.fileName(), "--store", "sqlite:" + db, "--format", "influx",
                                     "--state-dir", m_dir.path() + "/term-state"});
        QByteArray out;
        QElapsedTimer t;
        t.start();
        // A and B called, however many of the silent station's attempts
        // ended meanwhile (on a loaded machine two of them may end first).
        const auto bothCalled = [&] { return out.contains("zrv_call,station=A,") && out.contains("zrv_call,station=B,"); };
        while (!bothCalled() && t.elapsed() < 20000) {
            c.waitForReadyRead(200);
            out += c.readAllStandardOutput();
        }
        QVERIFY2(bothCalled(), out.constData());
        ::kill(pid_t(c.processId()), SIGTERM);
        QVERIFY(c.waitForFinished(5000));  // the silent station's request in flight, then out
        out += c.readAllStandardOutput();
        const QString err = QString::fromUtf8(c.readAllStandardError());
        QCOMPARE(c.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("остановка")), qPrintable(err));
        const int ok = count(db, "SELECT COUNT(*) FROM calls WHERE outcome = 'ok'");
        QVERIFY2(ok == 2, qPrintable(QStringLiteral("%1 calls ok; the program said:\n%2\n%3")
                                         .arg(QString::number(ok), QString::fromUtf8(out), err)));
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'S' AND outcome = 'stopped'"), 1);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM journal"), 10);
        // The fleet's log: each device reached once, its connection closed
        // before the program ended.
        QFile log(connections);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QStringList events;
        for (const QByteArray& l : log.readAll().split('\n'))
            if (!l.isEmpty()) events << QString::fromUtf8(l.mid(l.indexOf(' ') + 1));
        events.sort();
        QCOMPARE(events, (QStringList{QString("close tcp %1 ZRV-127").arg(base), QString("close tcp %1 ZRV-128").arg(base + 1),
                                      QString("open tcp %1 ZRV-127").arg(base), QString("open tcp %1 ZRV-128").arg(base + 1)}));

        // Line protocol: the call at its time, each record at its own.
        const QList<QByteArray> lines = out.split('\n');
        int records = 0;
        for (const QByteArray& l : lines) {
            if (!l.startsWith("zrv_journal,station=A,device=127 ")) continue;
            ++records;
            const QList<QByteArray> parts = l.split(' ');
            QCOMPARE(parts.size(), 3);
            QVERIFY(parts[1].contains("p1=") && parts[1].contains("entries=") && parts[1].contains("stamp=\""));
            bool ok = false;
            const qint64 ns = parts[2].toLongLong(&ok);
            QVERIFY(ok && ns > 1'600'000'000'000'000'000LL);
        }
        QCOMPARE(records, 5);
        QVERIFY(out.contains("zrv_call,station=S,outcome=stopped "));

        // TERM while a port only waits out a back-off: the program ends now.
        QVERIFY(roster.open(QIODevice::WriteOnly | QIODevice::Truncate));
        roster.write(QStringLiteral("[[station]]\nname = \"S\"\nport = \"tcp 127.0.0.1 %1\"\nretries = 1\nretry_delay = \"10m\"\n")
                         .arg(silentPort)
                         .toUtf8());
        roster.close();
        QProcess waiting;
        waiting.start(ZRVCOLLECT_PROGRAM, {"--roster", roster.fileName(), "--store", "sqlite:" + db, "--state-dir",
                                           m_dir.path() + "/term-state"});
        // The whole phrase: the port's number may itself hold "600".
        const QByteArray backOff = QStringLiteral("повтор через 600 с").toUtf8();
        QByteArray said;
        t.restart();
        while (!said.contains(backOff) && t.elapsed() < 20000) {
            waiting.waitForReadyRead(200);
            said += waiting.readAllStandardError();
        }
        QVERIFY2(said.contains(backOff), said.constData());
        ::kill(pid_t(waiting.processId()), SIGTERM);
        QVERIFY(waiting.waitForFinished(3000));
        QCOMPARE(waiting.exitCode(), 1);
        QCOMPARE(count(db, "SELECT COUNT(*) FROM calls WHERE station = 'S' AND outcome = 'no-device'"), 1);
        fleet.terminate();
        mute.terminate();
        QVERIFY(fleet.waitForFinished(5000) && mute.waitForFinished(5000));
    }

    void storesOverTlsWithCredentialsAndNoSecretShown()
    {
        // The server certificate names localhost: the clients must find it.
        addrinfo* found = nullptr;
        if (::getaddrinfo("localhost", nullptr, nullptr, &found) != 0)
            QFAIL("the name localhost does not resolve on this machine (/etc/hosts has no \"127.0.0.1 localhost\"), "
                  "so a certificate for localhost cannot be verified; an installed Debian has that line");
        ::freeaddrinfo(found);
        TestCertificates certs;
        QString why;
        QVERIFY2(certs.make(&why), qPrintable(why));
        const QString mqttPassword = "mqtt-s3cret-word", pgPassword = "pg-s3cret-word";
        MosquittoBroker broker;
        QVERIFY2(broker.start(&why, &certs, "zrv", mqttPassword), qPrintable(why));
        PgServer pg;
        QVERIFY2(pg.start(&why, &certs, pgPassword), qPrintable(why));
        zrvsim::SimServer& sim = tcpSim(2, 31);

        const QString dir = m_dir.path() + "/tls";
        QDir().mkpath(dir);
        const auto secretFile = [&dir](const QString& name, const QString& text, QFileDevice::Permissions extra = {}) {
            QFile f(dir + "/" + name);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(text.toUtf8());
            f.close();
            f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | extra);
            return f.fileName();
        };
        const QString goodPass = secretFile("mqtt.pass", mqttPassword + "\n");
        const QString wrongPass = secretFile("wrong.pass", "not-the-password\n");
        const QString pgpass = secretFile("pgpass", QStringLiteral("localhost:%1:*:postgres:%2\n").arg(pg.port()).arg(pgPassword));
        const auto mqtts = [&](const QString& host, const QString& prefix, const QString& ca, const QString& pass) {
            return QStringLiteral("mqtts://zrv@%1:%2/%3?cafile=%4&password_file=%5").arg(host).arg(broker.port()).arg(prefix, ca, pass);
        };
        const QString pgUrl = QStringLiteral("postgresql://postgres@localhost:%1/zrv?sslmode=verify-full&sslrootcert=%2")
                                  .arg(pg.port())
                                  .arg(certs.ca);
        struct Outcome {
            int status;
            QString out;
        };
        const auto collect = [&](const QStringList& stores, const QString& rosterExtra = {},
                                 QFileDevice::Permissions rosterExtraPermissions = {}) {
            QString text = "[defaults]\nretries = 0\n" + rosterExtra +
                           QStringLiteral("[[station]]\nname = \"T\"\nport = \"%1\"\n").arg(tcpPort(sim));
            const QString roster = secretFile("stations.toml", text, rosterExtraPermissions);
            QStringList args{"--roster", roster, "--state-dir", dir + "/state"};
            for (const QString& s : stores) args << "--store" << s;
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("PGPASSFILE", pgpass);
            p.setProcessEnvironment(env);
            p.start(ZRVCOLLECT_PROGRAM, args);
            p.waitForFinished(60000);
            const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            // No secret, ever, whatever happened.
            for (const QString& secret : {mqttPassword, pgPassword, QString("not-the-password")})
                if (out.contains(secret)) qWarning("a secret was shown: %s", qPrintable(out));
            return Outcome{p.exitCode(), out};
        };
        const auto retained = [&](const QString& topic) {
            QProcess sub;
            sub.start("mosquitto_sub", {"-h", "localhost", "-p", QString::number(broker.port()), "--cafile", certs.ca,
                                        "-u", "zrv", "-P", mqttPassword, "-t", topic, "-C", "1", "-W", "3"});
            sub.waitForFinished(10000);
            return QString::fromUtf8(sub.readAllStandardOutput());
        };
        const auto spooled = [&dir] {
            QFile f(dir + "/state/spool.jsonl");
            return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
        };

        // The right CA, host name and passwords: both stores take the call.
        Outcome good = collect({mqtts("localhost", "good", certs.ca, goodPass), pgUrl});
        QCOMPARE(good.status, 0);
        QVERIFY2(!good.out.contains(QStringLiteral("недоступно")), qPrintable(good.out));
        QVERIFY(retained("good/T/state").contains("\"outcome\":\"ok\""));
        QCOMPARE(spooled(), 0);
        {
            // The server takes TLS only; over it the call is there.
            QSqlDatabase plain = QSqlDatabase::addDatabase("QPSQL", "plain");
            plain.setHostName("localhost");
            plain.setPort(pg.port());
            plain.setUserName("postgres");
            plain.setPassword(pgPassword);
            plain.setDatabaseName("zrv");
            plain.setConnectOptions("sslmode=disable");
            QVERIFY(!plain.open());
            QSqlDatabase tls = QSqlDatabase::cloneDatabase(plain, "tls");
            tls.setConnectOptions("sslmode=verify-full;sslrootcert=" + certs.ca);
            QVERIFY2(tls.open(), qPrintable(tls.lastError().text()));
            QSqlQuery q(tls);
            QVERIFY(q.exec("SELECT COUNT(*) FROM calls WHERE outcome = 'ok'") && q.next());
            QCOMPARE(q.value(0).toInt(), 1);
        }
        QSqlDatabase::removeDatabase("plain");
        QSqlDatabase::removeDatabase("tls");

        // Another CA, another host name, a wrong password: refused in words,
        // nothing published, the calls kept.
        Outcome badCa = collect({mqtts("localhost", "bad-ca", certs.otherCa, goodPass)});
        QVERIFY2(badCa.out.contains("TLS"), qPrintable(badCa.out));
        Outcome badHost = collect({mqtts("127.0.0.1", "bad-host", certs.ca, goodPass)});
        QVERIFY2(badHost.out.contains("TLS"), qPrintable(badHost.out));
        Outcome badPassword = collect({mqtts("localhost", "bad-pass", certs.ca, wrongPass)});
        QVERIFY2(badPassword.out.contains(QStringLiteral("брокер отказал")), qPrintable(badPassword.out));
        QCOMPARE(spooled(), 3);
        // Only the roster's key that says so in its name lets a wrong name through.
        Outcome insecure = collect({mqtts("127.0.0.1", "insecure", certs.ca, goodPass)}, "insecure_tls_no_verify = true\n");
        QVERIFY2(!insecure.out.contains("TLS"), qPrintable(insecure.out));
        QVERIFY(retained("insecure/T/state").contains("\"outcome\":\"ok\""));
        for (const char* prefix : {"bad-ca", "bad-host", "bad-pass"}) QVERIFY(retained(QString(prefix) + "/#").isEmpty());

        // Passwords where others can read them are refused before any call.
        const int requestsBefore = int(sim.requests().size());
        Outcome onCommandLine = collect({QStringLiteral("postgresql://postgres:%1@localhost:%2/zrv").arg(pgPassword).arg(pg.port())});
        QCOMPARE(onCommandLine.status, 2);
        QVERIFY2(onCommandLine.out.contains(".pgpass"), qPrintable(onCommandLine.out));
        const QString readable = secretFile("readable.pass", mqttPassword, QFileDevice::ReadGroup);
        Outcome openPasswordFile = collect({mqtts("localhost", "x", certs.ca, readable)});
        QCOMPARE(openPasswordFile.status, 2);
        QVERIFY2(openPasswordFile.out.contains("chmod 600 " + readable), qPrintable(openPasswordFile.out));
        Outcome openRoster = collect({}, QStringLiteral("stores = [\"mqtts://zrv:%1@localhost:%2/r\"]\n").arg(mqttPassword).arg(broker.port()),
                                     QFileDevice::ReadGroup | QFileDevice::ReadOther);
        QCOMPARE(openRoster.status, 2);
        QVERIFY2(openRoster.out.contains("chmod 600"), qPrintable(openRoster.out));
        QFile::setPermissions(pgpass, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        Outcome openPgpass = collect({pgUrl});
        QCOMPARE(openPgpass.status, 2);
        QVERIFY2(openPgpass.out.contains("chmod 600 " + pgpass), qPrintable(openPgpass.out));
        QFile::setPermissions(pgpass, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(int(sim.requests().size()), requestsBefore);
        // The same roster, private, is fine.
        Outcome privateRoster = collect({}, QStringLiteral("stores = [\"mqtts://zrv:%1@localhost:%2/r?cafile=%3\"]\n")
                                                .arg(mqttPassword)
                                                .arg(broker.port())
                                                .arg(certs.ca));
        QCOMPARE(privateRoster.status, 0);
        QVERIFY(retained("r/T/state").contains("\"outcome\":\"ok\""));
        for (const Outcome* o : {&good, &badCa, &badHost, &badPassword, &onCommandLine, &openPasswordFile, &openRoster, &privateRoster})
            for (const QString& secret : {mqttPassword, pgPassword, QString("not-the-password")})
                QVERIFY2(!o->out.contains(secret), qPrintable(o->out));
    }
};

QTEST_GUILESS_MAIN(TestCollect)
#include "tst_collect.moc"
