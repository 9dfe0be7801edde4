// zrvweb under a control room's load: a store of 10,000 stations (a call
// each, every tenth with a finding) and one station with 100,000 journal
// records and 2,160 calls over 90 days; 50 clients at once asking for the
// fleet, then for that station's history (its page and its 90-day pressure
// chart). The 95th percentile against 100 ms for the fleet and 300 ms for the
// history; the history also cold (each request a span not asked before, so
// nothing read before helps); and the server's memory over a thousand more
// requests against what it held after the first hundred.

#include "BenchStore.h"
#include "support/LoopbackPort.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One GET over its own connection: the status and the bytes of the answer.
int get(int port, const std::string& path, std::size_t* bytes)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return 0;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Encoding: gzip, deflate\r\nConnection: close\r\n\r\n";
    ::send(s, request.data(), request.size(), 0);
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) got.append(buf, std::size_t(n));
    ::close(s);
    if (bytes) *bytes = got.size();
    return got.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(got.c_str() + 9) : 0;
}

long rssKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

struct Round {
    double p50 = 0, p95 = 0, worst = 0;
    int failed = 0;
};

// `clients` threads, each making `each` requests of path(client, i).
template <typename Path>
Round load(int port, int clients, int each, Path path)
{
    std::vector<double> ms;
    std::mutex m;
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            std::vector<double> mine;
            for (int i = 0; i < each; ++i) {
                const auto t0 = std::chrono::steady_clock::now();
                if (get(port, path(c, i), nullptr) != 200) ++failed;
                mine.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            }
            std::lock_guard<std::mutex> lock(m);
            ms.insert(ms.end(), mine.begin(), mine.end());
        });
    for (auto& t : threads) t.join();
    std::sort(ms.begin(), ms.end());
    Round r;
    r.p50 = ms[ms.size() / 2];
    r.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    r.worst = ms.back();
    r.failed = failed;
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString db = dir.path() + "/zrv.db";
    sqlite3* raw = beginBenchStore(db, "bench_web");
    if (!raw) return 1;
    constexpr int kStations = 10'000, kRecords = 100'000, kCalls = 2160;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    sqlite3_stmt* call = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO calls (call_id, station, port, started_utc, attempt, outcome, why, device_number, p1, p2, "
                       "vbat, clock_offset_s, p1_max, p1_min, p2_max, p2_min) "
                       "VALUES (?, ?, ?, ?, 1, ?, ?, 127, 6.0, 1.4, 3.6, ?, 12, 1, 5, 0.5)",
                       -1, &call, nullptr);
    const auto addCall = [&](const QByteArray& id, const QByteArray& station, const QDateTime& at, bool failed) {
        const QByteArray when = at.toString(Qt::ISODateWithMs).toUtf8();
        sqlite3_bind_text(call, 1, id.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(call, 2, station.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(call, 3, "tcp 10.0.0.1 4001", -1, SQLITE_STATIC);
        sqlite3_bind_text(call, 4, when.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(call, 5, failed ? "no-device" : "ok", -1, SQLITE_STATIC);
        if (failed) sqlite3_bind_text(call, 6, "нет ответа", -1, SQLITE_STATIC);
        else sqlite3_bind_null(call, 6);
        sqlite3_bind_int(call, 7, int(id.size() % 40) - 20);
        sqlite3_step(call);
        sqlite3_reset(call);
    };
    sqlite3_stmt* finding = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO findings (finding_id, station, kind, severity, since_utc, seen_utc, text, detail) "
                       "VALUES (?, ?, 'battery-low', ?, ?, ?, 'батарея разряжена: 3.3 В', '{\"vbat\":3.3}')",
                       -1, &finding, nullptr);
    for (int s = 0; s < kStations; ++s) {
        const QByteArray name = QString("ГРП-%1").arg(s).toUtf8();
        addCall("c" + QByteArray::number(s), name, now.addSecs(-s), s % 13 == 0);
        if (s % 10 == 0) {
            const QByteArray since = now.addDays(-(s % 30)).toString(Qt::ISODateWithMs).toUtf8();
            sqlite3_bind_text(finding, 1, ("f" + QByteArray::number(s)).constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(finding, 2, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(finding, 3, s % 20 == 0 ? "critical" : "warning", -1, SQLITE_STATIC);
            sqlite3_bind_text(finding, 4, since.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(finding, 5, since.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_step(finding);
            sqlite3_reset(finding);
        }
    }
    // The station with a history: a call an hour, a record every 78 s.
    const QByteArray busy = "ГРП-1";
    for (int c = 0; c < kCalls; ++c) addCall("h" + QByteArray::number(c), busy, now.addSecs(-qint64(c) * 3600 - 7200), false);
    sqlite3_stmt* record = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, p1, p2, t, q, "
                       "entries, text) VALUES (127, ?, ?, ?, ?, 'h0', ?, ?, 12.5, 100, 1, 'вход 1')",
                       -1, &record, nullptr);
    const QDateTime local = QDateTime::currentDateTime();
    for (int r = 0; r < kRecords; ++r) {
        const QByteArray at = local.addSecs(-qint64(r) * 78).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toUtf8();
        sqlite3_bind_int(record, 1, r % 65536);
        sqlite3_bind_text(record, 2, QByteArray::number(r).constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(record, 3, at.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(record, 4, busy.constData(), -1, SQLITE_STATIC);
        sqlite3_bind_double(record, 5, 6.0 + 0.5 * std::sin(r / 500.0));
        sqlite3_bind_double(record, 6, 1.4 + 0.1 * std::cos(r / 300.0));
        sqlite3_step(record);
        sqlite3_reset(record);
    }
    for (sqlite3_stmt* s : {call, finding, record}) sqlite3_finalize(s);
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(raw);

    const int port = freeLoopbackPort();
    QProcess web;
    web.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    web.start(ZRVWEB_PROGRAM, {"--store", db, "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    if (!web.waitForStarted(5000)) return 1;
    const auto started = std::chrono::steady_clock::now();
    std::size_t fleetBytes = 0;
    while (get(port, "/api/fleet", &fleetBytes) != 200) {
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60)) {
            std::fprintf(stderr, "bench_web: the fleet was not served within a minute\n");
            return 1;
        }
        QThread::msleep(100);
    }
    const double firstRead = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("bench_web: %d stations, a history of %d records and %d calls over 90 days; the fleet read in %.2f s, "
                "its JSON %.2f MiB as sent (gzip)\n",
                kStations, kRecords, kCalls, firstRead, double(fleetBytes) / (1 << 20));

    const std::string station = "name=%D0%93%D0%A0%D0%9F-1";
    const Round fleet = load(port, 50, 10, [](int, int) { return std::string("/api/fleet"); });
    const Round history = load(port, 50, 10, [&](int, int i) {
        return i % 2 ? "/api/chart.svg?" + station + "&series=pressure&days=90" : "/api/station?" + station + "&days=90";
    });
    // Every request a span nobody asked for yet: each one read from the store.
    const Round cold = load(port, 50, 2, [&](int c, int i) {
        return "/api/chart.svg?" + station + "&series=pressure&days=" + std::to_string(31 + (c * 2 + i) % 62) + "&c=" +
               std::to_string(c * 2 + i);
    });
    std::printf("bench_web: fleet, 50 clients x 10: p50 %.1f ms, p95 %.1f ms, worst %.1f ms, failed %d; p95 / 100 ms = %.2f\n",
                fleet.p50, fleet.p95, fleet.worst, fleet.failed, fleet.p95 / 100.0);
    std::printf("bench_web: history, 50 clients x 10: p50 %.1f ms, p95 %.1f ms, worst %.1f ms, failed %d; p95 / 300 ms = %.2f\n",
                history.p50, history.p95, history.worst, history.failed, history.p95 / 300.0);
    std::printf("bench_web: history cold (100 different spans at once): p50 %.1f ms, p95 %.1f ms, worst %.1f ms, failed %d; "
                "p95 / 300 ms = %.2f\n",
                cold.p50, cold.p95, cold.worst, cold.failed, cold.p95 / 300.0);

    const long before = rssKiB(web.processId());
    load(port, 10, 100, [&](int c, int i) {
        return (i + c) % 3 == 0 ? std::string("/api/fleet")
                                : (i % 3 == 1 ? "/api/station?" + station + "&days=" + std::to_string(1 + i % 90)
                                              : "/api/visits");
    });
    const long after = rssKiB(web.processId());
    std::printf("bench_web: memory %ld KiB after the first rounds, %ld KiB after 1000 more requests: ratio %.2f\n", before,
                after, before ? double(after) / double(before) : 0.0);
    web.terminate();
    web.waitForFinished(5000);
    return 0;
}
