// zrvcollect: unattended call rounds over a fleet of ZRV regulators.

#include "collect/CallJson.h"
#include "collect/Collector.h"
#include "collect/FleetReport.h"
#include "collect/FleetTable.h"
#include "collect/MetricsServer.h"
#include "collect/StationGauges.h"
#include "collect/FleetTypes.h"
#include "collect/StdoutSink.h"
#include "collect/Store.h"
#include "fleet/FleetStatus.h"
#include "fleet/Paths.h"
#include "session/CloseOnSignal.h"
#include "text/Version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

using zrv::fleet::readLastCalls;
using zrv::fleet::defaultStorePath;
using zrv::fleet::defaultStateDir;
using zrv::fleet::StationFindings;

using namespace zrv::collect;

namespace {

// Serving, a station without `every` is called once a day.
constexpr int kServingEveryS = 86400;

const char kUsage[] =
    "usage: zrvcollect --roster FILE [--store URL]... [--once | --every DURATION | --serve]\n"
    "                  [--jobs N] [--format jsonl|influx] [--state-dir DIR] [--textfile FILE]\n"
    "                  [--coordinate URL] [--name NAME] [--metrics [ADDR:]PORT] [--check]\n"
    "       zrvcollect --findings [--roster FILE | --store URL] [--format jsonl]\n"
    "       zrvcollect status [--roster FILE | --coordinate URL | --store URL] [--format text|json]\n"
    "       zrvcollect metrics [--roster FILE | --coordinate URL | --store URL]\n"
    "  --roster FILE      the stations to call (TOML; see zrvcollect(1))\n"
    "  --store URL        where calls go, several allowed: sqlite:PATH,\n"
    "                     postgresql://USER@HOST:PORT/DB[?sslmode=verify-full&...],\n"
    "                     postgresql:///DB?host=SOCKETDIR, mqtt[s]://[USER@]HOST:PORT[/PREFIX]\n"
    "                     [?cafile=F&certfile=F&keyfile=F&password_file=F]; passwords go in\n"
    "                     ~/.pgpass or PGPASSFILE, a password_file, or a private roster\n"
    "                     (default: sqlite:$XDG_DATA_HOME/zrvcollect/zrv.db)\n"
    "  --once             one round, then end (the default)\n"
    "  --every DURATION   a round every DURATION (30s, 15m, 1h) until stopped; a round\n"
    "                     calls the stations due by their every and hours\n"
    "  --serve            call each station as it falls due (its every, 24h when none,\n"
    "                     and hours), one call a port at a time, until SIGTERM; SIGHUP\n"
    "                     reads the roster again (a faulty one is refused, the old kept)\n"
    "  --coordinate URL   share the roster with the other collectors on it through this\n"
    "                     PostgreSQL (as [fleet] coordinate = \"...\" does); with --serve\n"
    "  --name NAME        this collector as the roster's host = names it (default: the\n"
    "                     machine's host name)\n"
    "  --jobs N           ports called at once (default 8)\n"
    "  --format F         each call on standard output: jsonl, or influx line protocol\n"
    "  --state-dir DIR    the spool and locks (default $XDG_STATE_HOME/zrvcollect)\n"
    "  --textfile FILE    the fleet's health as Prometheus metrics, rewritten after each\n"
    "                     call (for node_exporter's textfile collector: FILE ends in .prom)\n"
    "  --metrics [ADDR:]PORT  with --serve: this collector's own metrics (calls, their\n"
    "                     duration, records, spool, stores, leases, claims, lines) for\n"
    "                     Prometheus at http://ADDR:PORT/metrics (ADDR 127.0.0.1 unless\n"
    "                     given; another than loopback only with --metrics-any-address)\n"
    "  --check            read the roster and the stores, call nobody\n"
    "  --findings         the open findings of the first SQL store, and end with the\n"
    "                     monitoring plugins' status: 0 none, 1 warnings, 2 critical,\n"
    "                     3 the store could not be read\n"
    "  status             the fleet at a glance from the shared tables: collectors alive,\n"
    "                     stations due, overdue and failing, each line's failures over the\n"
    "                     last day; exit 0 well, 1 something overdue, 2 a collector or a line\n"
    "                     gone, 3 the store could not be read\n"
    "  metrics            each station's gauges from the store, whichever collector called\n"
    "                     (up, last success, battery, clock offset, every, open findings),\n"
    "                     in the Prometheus text format, for a textfile a timer writes\n"
    "  --help, --version  this text, or the version, and end\n"
    "Exit status: 0 every station ok, 1 some failed or a call neither stored nor\n"
    "spooled, 2 roster or store refused.\n";

// What needs a visit, as a monitoring plugin says it: one line of status,
// then a line per finding. The store is only read (a role that may only
// read is enough), never migrated.
int showFindings(const std::vector<std::string>& stores, Format format)
{
    for (const std::string& text : stores) {
        std::string why;
        const auto url = parseStoreUrl(QString::fromStdString(text), &why, UrlOrigin::Roster);
        // Only a database is read; a broker keeps no calls.
        const SqlOptions* sql = url ? url->as<SqlOptions>() : nullptr;
        if (!sql) continue;
        const std::string source = sql->engine == SqlOptions::Sqlite ? sql->path.toStdString() : text;
        StationFindings findings;
        if (!readLastCalls(source, &why, nullptr, nullptr, &findings)) {
            std::printf("ZRV UNKNOWN - %s\n", why.c_str());
            return 3;
        }
        int critical = 0, warning = 0;
        for (const auto& [station, list] : findings)
            for (const Finding& f : list) (f.critical() ? critical : warning) += 1;
        if (format != Format::Jsonl)
            std::printf("ZRV %s - замечаний: критичных %d, прочих %d\n",
                        critical ? "CRITICAL" : warning ? "WARNING" : "OK", critical, warning);
        for (const auto& [station, list] : findings)
            for (const Finding& f : list) {
                if (format == Format::Jsonl) {
                    QJsonObject o = findingToJson(f);
                    o["station"] = QString::fromStdString(station);
                    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
                } else {
                    std::printf("%s: %s: %s (с %s)\n", printable(QString::fromStdString(station)).toUtf8().constData(),
                                f.critical() ? "критично" : "внимание",
                                printable(QString::fromStdString(f.text)).toUtf8().constData(),
                                printable(QString::fromStdString(f.since)).toUtf8().constData());
                }
            }
        return critical ? 2 : warning ? 1 : 0;
    }
    std::printf("ZRV UNKNOWN - нет хранилища SQL (sqlite: или postgresql://)\n");
    return 3;
}

int refuse(const std::string& why)
{
    std::fprintf(stderr, "zrvcollect: %s\n", why.c_str());
    return 2;
}

// `zrvcollect status ...` and `zrvcollect metrics ...`: one way to the store.
int status(int argc, char** argv)
{
    const bool metrics = std::strcmp(argv[1], "metrics") == 0;
    std::map<std::string, int> everyS;
    ReportOptions o;
    std::string roster, coordinate, store;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return refuse(a == "--format" || a == "--roster" || a == "--store" || a == "--coordinate"
                                             ? a + " needs a value"
                                             : "status: unknown option " + a);
        const std::string v = argv[++i];
        if (a == "--roster") roster = v;
        else if (a == "--coordinate") coordinate = v;
        else if (a == "--store") store = v;
        else if (a == "--format" && !metrics && (v == "text" || v == "json")) o.json = v == "json";
        else return refuse("status: " + a + " " + v + ": see --help");
    }
    QCoreApplication app(argc, argv);
    if (!roster.empty()) {
        std::string why;
        const auto r = loadRoster(roster, &why);
        if (!r) return refuse(why);
        o.leaseS = r->leaseS;
        if (coordinate.empty()) coordinate = r->coordinate;
        if (coordinate.empty() && store.empty()) {
            for (const std::string& s : r->stores)
                if (s.rfind("sqlite:", 0) == 0 || s.rfind("postgres", 0) == 0) {
                    store = s;
                    break;
                }
        }
        const std::string me = machineHostName();
        for (const Station& s : r->stations) {
            o.stations.push_back(s.name);
            everyS[s.name] = s.everyS > 0 ? s.everyS : kServingEveryS;
            if (s.pool.empty()) o.knownHosts.push_back(ownerOf(s, me));
        }
        for (const Pool& p : r->pools)
            if (!p.host.empty()) o.knownHosts.push_back(p.host);
    }
    if (!coordinate.empty()) o.source = coordinate;
    else if (!store.empty()) o.source = store.rfind("sqlite:", 0) == 0 ? store.substr(7) : store;
    else o.source = defaultStorePath();
    if (metrics) return printStationMetrics(o, everyS, stdout, stderr);
    return printFleetReport(o, stdout);
}

// What the service manager is told (nothing when not run by one).
void notify(const QString& state)
{
    sd_notify(0, state.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "status") == 0 || std::strcmp(argv[1], "metrics") == 0)) return status(argc, argv);
    std::string rosterPath;
    std::string coordinate, name;
    bool serve = false;
    std::vector<std::string> storeArgs;
    int every = 0;
    int jobs = 8;
    bool check = false;
    bool findings = false;
    QString textfile;
    std::string metrics;
    bool metricsAnyAddress = false;
    Format format = Format::Summary;
    QString stateDir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto value = [&]() -> std::string {
            if (!next) {
                std::fprintf(stderr, "zrvcollect: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            ++i;
            return next;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("zrvcollect %s\n", kZrvVersion);
            return 0;
        }
        if (a == "--roster") rosterPath = value();
        else if (a == "--store") storeArgs.push_back(value());
        else if (a == "--once") every = 0, serve = false;
        else if (a == "--serve") serve = true;
        else if (a == "--coordinate") coordinate = value();
        else if (a == "--name") name = value();
        else if (a == "--every") {
            const auto d = parseDuration(value());
            if (!d) return refuse("--every: a duration such as 30s, 15m or 1h");
            every = *d;
        } else if (a == "--jobs") {
            const std::string v = value();
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 256) return refuse("--jobs: a number from 1 to 256");
            jobs = int(n);
        } else if (a == "--format") {
            const std::string v = value();
            if (v == "jsonl") format = Format::Jsonl;
            else if (v == "influx") format = Format::Influx;
            else return refuse("--format: jsonl or influx");
        } else if (a == "--state-dir") stateDir = QString::fromStdString(value());
        else if (a == "--check") check = true;
        else if (a == "--findings") findings = true;
        else if (a == "--textfile") textfile = QString::fromStdString(value());
        else if (a == "--metrics") metrics = value();
        else if (a == "--metrics-any-address") metricsAnyAddress = true;
        else {
            std::fputs(kUsage, stderr);
            return refuse("unknown option " + a);
        }
    }
    if (findings && rosterPath.empty()) {
        QCoreApplication app(argc, argv);
        if (storeArgs.empty()) storeArgs.push_back("sqlite:" + defaultStorePath());
        return showFindings(storeArgs, format);
    }
    if (rosterPath.empty()) {
        std::fputs(kUsage, stderr);
        return refuse("--roster FILE is needed");
    }

    std::optional<MetricsAddress> metricsAddress;
    if (!metrics.empty()) {
        std::string why;
        if (!serve) return refuse("--metrics: только с --serve (обход раз за разом сообщает о себе через --textfile)");
        if (!(metricsAddress = parseMetricsAddress(metrics, metricsAnyAddress, &why))) return refuse(why);
    }

    QCoreApplication app(argc, argv);
    std::string why;
    const auto loadFor = [&](std::string* why) -> std::optional<Roster> {
        auto r = loadRoster(rosterPath, why);
        if (!r) return r;
        if (!coordinate.empty()) r->coordinate = coordinate;
        // Serving, a station without `every` is called once a day.
        if (serve)
            for (Station& s : r->stations)
                if (s.everyS == 0) s.everyS = kServingEveryS;
        return r;
    };
    auto roster = loadFor(&why);
    if (!roster) return refuse(why);
    if (!roster->coordinate.empty() && !serve)
        std::fprintf(stderr, "zrvcollect: общий список (coordinate) делится только в --serve; этот запуск вызывает "
                             "станции своих портов и пулов сам\n");
    const std::string machine = machineHostName();
    if (name.empty()) name = machine;
    const UrlOrigin origin = storeArgs.empty() ? UrlOrigin::Roster : UrlOrigin::CommandLine;
    if (storeArgs.empty()) storeArgs = roster->stores;
    // A shared roster's database is where its calls go when nothing else
    // is named (see below).
    if (storeArgs.empty() && !(serve && !roster->coordinate.empty())) storeArgs.push_back("sqlite:" + defaultStorePath());
    if (findings) return showFindings(storeArgs, format);
    std::optional<StoreUrl> fleetUrl;
    if (serve && !roster->coordinate.empty()) {
        // A password in --coordinate is refused, as one in --store is.
        fleetUrl = parseStoreUrl(QString::fromStdString(roster->coordinate), &why,
                                 coordinate.empty() ? UrlOrigin::Roster : UrlOrigin::CommandLine);
        const SqlOptions* sql = fleetUrl ? fleetUrl->as<SqlOptions>() : nullptr;
        if (!sql || sql->engine != SqlOptions::Postgres) return refuse("coordinate: " + (fleetUrl ? "не PostgreSQL" : why));
        // The schedule moves in the transaction that stores the call: the
        // shared database is a store, and the first (its journal cursors
        // are the ones every collector reads).
        const auto same = std::find_if(storeArgs.begin(), storeArgs.end(), [&](const std::string& s) {
            const auto u = parseStoreUrl(QString::fromStdString(s), &why, origin);
            return u && u->display() == fleetUrl->display();
        });
        if (same != storeArgs.end()) storeArgs.erase(same);
    }
    std::vector<std::unique_ptr<Sink>> sinks;
    std::vector<std::optional<StoreUrl>> urls;
    if (fleetUrl) urls.push_back(fleetUrl);
    for (const std::string& s : storeArgs) {
        urls.push_back(parseStoreUrl(QString::fromStdString(s), &why, origin));
        if (!urls.back()) return refuse(why);
    }
    for (std::optional<StoreUrl>& url : urls) {
        url->insecureTlsAllowed = roster->insecureTlsNoVerify;
        auto sink = makeSink(*url);
        if (fleetUrl && &url == &urls.front())
            static_cast<SqlStore&>(*sink).setStatementLimit(FleetTable::statementLimit(roster->leaseS));
        // A store that cannot be reached is no refusal: its calls are
        // spooled. One that refuses its schema is.
        // A database written by a newer collector is refused before anything
        // is called (a broker has no schema); the check's connection is let
        // go here, and the store opened again on its own thread.
        if (checkedAtStart(*url)) {
            SinkError error;
            if (!sink->open(&error) && error.kind == SinkError::SchemaNewer)
                return refuse(url->display().toStdString() + ": " + error.why);
            sink->close();
        }
        sinks.push_back(std::move(sink));
    }
    if (check) {
        std::printf("%s: %zu станций, хранилищ: %zu\n", rosterPath.c_str(), roster->stations.size(), sinks.size());
        return 0;
    }

    CollectorOptions options;
    options.jobs = jobs;
    options.format = format;
    options.stateDir = stateDir.isEmpty() ? QString::fromStdString(defaultStateDir()) : stateDir;
    options.live = ::isatty(STDERR_FILENO) == 1;
    options.textfile = textfile;
    // Rounds of --every call the stations that are due; --once calls all.
    options.scheduled = every > 0;
    options.serve = serve;
    options.name = name;
    options.machineHost = machine;
    Collector collector(*roster, std::move(sinks), options, stdout, stderr);
    if (fleetUrl) collector.coordinate(std::make_unique<FleetTable>(*fleetUrl, name, roster->leaseS));

    if (serve) {
        // Taken or refused, the address is said now, before any call.
        MetricsServer metricsServer([&collector] { return collector.ownMetrics(); });
        if (metricsAddress && !metricsServer.listen(*metricsAddress, &why)) return refuse(why);
        int status = 0;
        QObject::connect(&collector, &Collector::roundFinished, &app, [&] {
            status = collector.exitStatus();
            QCoreApplication::exit(status);
        });
        // The watchdog's ping comes from the event loop itself: a collector
        // whose loop hangs stops pinging, and systemd restarts it.
        QTimer alive;
        uint64_t watchdogUs = 0;
        if (sd_watchdog_enabled(0, &watchdogUs) > 0 && watchdogUs > 0)
            alive.start(int(std::clamp<uint64_t>(watchdogUs / 2000, 100, 60'000)));
        else
            alive.start(30'000);
        QObject::connect(&alive, &QTimer::timeout, &collector, [&] {
            notify(QStringLiteral("WATCHDOG=1\nSTATUS=") + collector.statusLine());
        });
        closeOrReloadOnSignals(
            &collector,
            [&] {
                notify(QStringLiteral("STOPPING=1"));
                std::fprintf(stderr, "zrvcollect: остановка: текущие вызовы завершаются\n");
                collector.stop();
            },
            [&] {
                notify(QStringLiteral("RELOADING=1"));
                std::string why;
                if (auto fresh = loadFor(&why))
                    collector.reload(std::move(*fresh));
                else
                    std::fprintf(stderr, "zrvcollect: список станций не принят, прежний остаётся: %s\n", why.c_str());
                notify(QStringLiteral("READY=1\nSTATUS=") + collector.statusLine());
            });
        collector.serve();
        notify(QStringLiteral("READY=1\nSTATUS=") + collector.statusLine());
        return app.exec();
    }

    int status = 0;
    QTimer next;
    next.setSingleShot(true);
    qint64 roundStarted = 0;
    QObject::connect(&next, &QTimer::timeout, &collector, [&] {
        roundStarted = QDateTime::currentMSecsSinceEpoch();
        collector.startRound();
    });
    QObject::connect(&collector, &Collector::roundFinished, &app, [&] {
        status = std::max(status, collector.exitStatus());
        if (every == 0 || collector.stopping()) return QCoreApplication::exit(status);
        status = 0;
        const qint64 due = roundStarted + qint64(every) * 1000 - QDateTime::currentMSecsSinceEpoch();
        next.start(int(std::max<qint64>(0, due)));
    });
    // Ctrl-C or a service manager's TERM: the calls in flight end cleanly.
    closeOnSignals(&collector, [&] {
        next.stop();
        if (!collector.roundRunning()) return QCoreApplication::exit(status);
        std::fprintf(stderr, "zrvcollect: остановка: текущие вызовы завершаются\n");
        collector.stop();
    });
    next.start(0);
    return app.exec();
}
