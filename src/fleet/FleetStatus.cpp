#include "FleetStatus.h"

#include "fleet/Paths.h"
#include "fleet/Schema.h"
#include "fleet/StoreReader.h"
#include "link/PortMap.h"
#include "text/SystemError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace zrv::fleet {

namespace fs = std::filesystem;

namespace {

std::string text(const std::optional<std::string>& v) { return v.value_or(std::string()); }

// Counts come from a store anyone may have edited: outside a plain count
// they are shown as unknown rather than as a wrapped number.
std::optional<int> count(std::optional<long long> v)
{
    if (!v || *v < 0 || *v > 1'000'000'000) return std::nullopt;
    return int(*v);
}

// A value no device reports (a pressure past reason, a battery of -5 V, a
// clock ten years off) is drawn as nothing.
double orNaN(double v, bool plausible) { return plausible ? v : std::nan(""); }

}  // namespace

std::optional<long long> storeSchemaVersion(StoreConnection& db, std::string* why, bool* busy)
{
    const std::optional<bool> has = db.hasTable("zrv_schema", why, busy);
    if (!has) return std::nullopt;
    long long version = 0;
    if (*has && !db.select(kSchemaVersionQuery, {}, [&](const StoreRow& r) { version = storeInteger(r[0]).value_or(0); }, why, busy))
        return std::nullopt;
    return version;
}

std::string newerStoreRemark(long long version)
{
    if (version <= kSchemaVersion) return {};
    return "схема хранилища версии " + std::to_string(version) + " новее этой программы (" + std::to_string(kSchemaVersion) +
           "): показанное может быть неполным";
}

std::optional<qint64> recordedAtMs(const std::string& at)
{
    int y = 0, mo = 0, d = 0, hh = 0, mi = 0, ss = 0;
    if (std::sscanf(at.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &hh, &mi, &ss) != 6) return std::nullopt;
    const QDateTime t(QDate(y, mo, d), QTime(hh, mi, ss), Qt::LocalTime);
    if (!t.isValid()) return std::nullopt;
    return t.toMSecsSinceEpoch();
}

std::optional<std::map<std::string, LastCall>> readLastCalls(const std::string& source, std::string* why, bool* busy,
                                                             std::string* remark, StationFindings* findings)
{
    if (busy) *busy = false;
    if (remark) remark->clear();
    if (findings) findings->clear();
    std::string w;
    const auto fail = [&](const std::string& reason) -> std::optional<std::map<std::string, LastCall>> {
        if (why) *why = shownSource(source) + ": " + reason;
        return std::nullopt;
    };
    std::unique_ptr<StoreConnection> db = openStoreForReading(source, why, busy);
    if (!db) return std::nullopt;
    // A store a newer collector wrote: read what can be read, and say so.
    const std::optional<long long> version = storeSchemaVersion(*db, &w, busy);
    if (!version) return fail(w);
    if (remark) *remark = newerStoreRemark(*version);
    // The newest call of each station through the collector's index on
    // (station, started_utc); a retried call shares no start with its first.
    static const char kQuery[] =
        "SELECT c.station, c.started_utc, c.attempt, c.outcome, substr(c.why, 1, 4096), c.device_number, "
        "c.clock_offset_s, c.setpoint_differences, c.records_read FROM calls c JOIN (SELECT station, "
        "MAX(started_utc) AS newest FROM calls GROUP BY station) n ON c.station = n.station AND c.started_utc = n.newest";
    std::map<std::string, LastCall> calls;
    const bool read = db->select(
        kQuery, {},
        [&](const StoreRow& row) {
            LastCall c;
            c.startedUtc = text(row[1]);
            c.attempt = count(storeInteger(row[2])).value_or(1);
            c.outcome = text(row[3]);
            c.why = text(row[4]);
            const std::optional<long long> device = storeInteger(row[5]);
            c.deviceNumber = device && *device > 0 && *device <= 0xFFFF ? unsigned(*device) : 0;
            // A clock ten years off is no reading of a clock.
            c.clockOffsetS = storeInteger(row[6]);
            if (c.clockOffsetS && !plausibleOffset(*c.clockOffsetS)) c.clockOffsetS.reset();
            c.setpointDifferences = count(storeInteger(row[7]));
            c.recordsRead = count(storeInteger(row[8])).value_or(0);
            auto [at, fresh] = calls.try_emplace(text(row[0]), c);
            if (!fresh && c.attempt > at->second.attempt) at->second = c;
        },
        &w, busy);
    if (!read) return fail(w);
    if (findings) {
        // A store from before findings were judged has none to show.
        const std::optional<bool> has = db->hasTable("findings", &w, busy);
        if (!has) return fail(w);
        if (*has &&
            !db->select("SELECT station, kind, severity, since_utc, substr(text, 1, 4096), substr(detail, 1, 4096) "
                        "FROM findings WHERE cleared_utc IS NULL ORDER BY station, kind",
                        {},
                        [&](const StoreRow& row) {
                            std::vector<Finding>& list = (*findings)[text(row[0])];
                            if (list.size() >= 64) return;  // a damaged store's flood
                            Finding f;
                            f.kind = text(row[1]).substr(0, 64);
                            f.severity = text(row[2]) == kCritical ? kCritical : kWarning;
                            f.since = text(row[3]).substr(0, 64);
                            f.text = text(row[4]);
                            f.values = findingValuesFromJson(
                                QJsonDocument::fromJson(QByteArray::fromStdString(text(row[5]))).object());
                            list.push_back(std::move(f));
                        },
                        &w, busy))
            return fail(w);
    }
    return calls;
}

std::optional<HistoryRead> readStationHistory(const std::string& source, const std::string& station,
                                              const QDateTime& fromUtc, std::string* why)
{
    std::string w;
    const auto fail = [&](const std::string& reason) -> std::optional<HistoryRead> {
        if (why) *why = shownSource(source) + ": " + reason;
        return std::nullopt;
    };
    std::unique_ptr<StoreConnection> db = openStoreForReading(source, why);
    if (!db) return std::nullopt;
    const std::optional<long long> version = storeSchemaVersion(*db, &w, nullptr);
    if (!version) return fail(w);
    HistoryRead h;
    // Journal times are the device's local time, as it keeps them.
    const std::string fromLocal = fromUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString();
    const bool journal = db->select(
        "SELECT recorded_at, p1, p2 FROM journal WHERE station = ? AND recorded_at >= ? ORDER BY recorded_at", {station, fromLocal},
        [&](const StoreRow& row) {
            const std::optional<qint64> at = recordedAtMs(text(row[0]));
            if (!at) return;
            const double p1 = storeReal(row[1]), p2 = storeReal(row[2]);
            h.pressures.push_back({*at, orNaN(p1, plausiblePressure(p1)), orNaN(p2, plausiblePressure(p2))});
        },
        &w);
    if (!journal) return fail(w);
    // The cut-off limits came with the findings; an older store has none.
    const std::string limits = *version >= 3 ? "p2_max, p2_min, p1_max, p1_min" : "NULL, NULL, NULL, NULL";
    const bool calls = db->select(
        "SELECT started_utc, vbat, clock_offset_s, " + limits +
            " FROM calls WHERE station = ? AND started_utc >= ? ORDER BY started_utc",
        {station, fromUtc.toUTC().toString(Qt::ISODateWithMs).toStdString()},
        [&](const StoreRow& row) {
            const QDateTime t = QDateTime::fromString(QString::fromStdString(text(row[0])), Qt::ISODateWithMs);
            if (!t.isValid()) return;
            const std::optional<long long> off = storeInteger(row[2]);
            const auto pressure = [&](std::size_t i) { return orNaN(storeReal(row[i]), plausiblePressure(storeReal(row[i]))); };
            const double vbat = storeReal(row[1]);
            h.calls.push_back({t.toMSecsSinceEpoch(), orNaN(vbat, plausibleVolts(vbat)),
                               off && plausibleOffset(*off) ? double(*off) : std::nan(""), pressure(3), pressure(4),
                               pressure(5), pressure(6)});
        },
        &w);
    if (!calls) return fail(w);
    return h;
}

std::string rosterStorePath(const Roster& roster, const std::string& rosterPath, std::string* why)
{
    if (roster.stores.empty()) return defaultStorePath();
    for (const std::string& url : roster.stores) {
        if (url.rfind("sqlite:", 0) != 0 || url.size() == 7) continue;
        const fs::path file(url.substr(7));
        if (file.is_absolute()) return file.string();
        return (fs::absolute(fs::path(rosterPath)).parent_path() / file).lexically_normal().string();
    }
    // The control room's collectors write into one PostgreSQL: read it there.
    for (const std::string& url : roster.stores)
        if (isPostgresSource(url)) return url;
    if (why) *why = "хранилища списка не SQLite и не PostgreSQL: последние вызовы не показаны";
    return {};
}

namespace {

std::string entryPath(int com) { return (fs::path(portsDirectory()) / ("COM" + std::to_string(com))).string(); }

bool exists(const std::string& path, bool followLink)
{
    struct stat st{};
    return (followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
}

std::optional<TcpEndpoint> tcpEntryAt(int com)
{
    std::string text;
    if (!readPortEntryFile(entryPath(com), &text)) return std::nullopt;
    return parseTcpEntry(text);
}

// The device a link entry points at, as written.
std::string linkTarget(int com)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(entryPath(com), ec);
    return ec ? std::string() : target.string();
}

bool sameEndpoint(const TcpEndpoint& a, const TcpEndpoint& b) { return a.host == b.host && a.port == b.port; }

bool comLeadsTo(int com, const std::string& stationPort, const std::optional<TcpEndpoint>& tcp)
{
    if (tcp) {
        const std::optional<TcpEndpoint> there = tcpEntryAt(com);
        return there && sameEndpoint(*there, *tcp);
    }
    if (exists(entryPath(com), false)) return linkTarget(com) == stationPort;
    return defaultPortDevice(com) == stationPort;
}

std::optional<TcpEndpoint> tcpPort(const std::string& port)
{
    if (port.rfind("tcp", 0) != 0) return std::nullopt;
    return parseTcpEntry(port);
}

}  // namespace

bool stationOnCom(const std::string& stationPort, int com)
{
    if (com < 1 || com > kComPortCount) return false;
    if (const std::optional<int> n = comNumberFromName(stationPort)) return *n == com;
    const std::optional<TcpEndpoint> tcp = tcpPort(stationPort);
    if (!tcp && stationPort.rfind('/', 0) != 0) return false;
    return comLeadsTo(com, stationPort, tcp);
}

namespace {

std::string entryText(int com)
{
    std::string text;
    if (readPortEntryFile(entryPath(com), &text)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    const std::string target = linkTarget(com);
    return target.empty() ? std::string() : "-> " + target;
}

bool stillOwn(const OwnEntry& own)
{
    return own.com >= 1 && own.com <= kComPortCount && !own.content.empty() && entryText(own.com) == own.content;
}

}  // namespace

void removeOwnEntry(const OwnEntry& own)
{
    if (stillOwn(own)) ::unlink(entryPath(own.com).c_str());
}

std::optional<PortChoice> preparePort(const std::string& stationPort, const std::set<int>& reserved,
                                      const std::optional<OwnEntry>& own, std::string* why)
{
    const auto fail = [why](const std::string& w) -> std::optional<PortChoice> {
        if (why) *why = w;
        return std::nullopt;
    };
    if (const std::optional<int> n = comNumberFromName(stationPort)) return PortChoice{*n, {}};
    std::string tcpWhy;
    const std::optional<TcpEndpoint> tcp = tcpPort(stationPort);
    if (!tcp && stationPort.rfind("tcp", 0) == 0) {
        parseTcpEntry(stationPort, &tcpWhy);
        return fail("порт \"" + stationPort + "\": " + tcpWhy);
    }
    if (!tcp && stationPort.rfind('/', 0) != 0)
        return fail("порт \"" + stationPort + "\" не COMn, не путь к устройству и не \"tcp УЗЕЛ ПОРТ\"");
    for (int com = 1; com <= kComPortCount; ++com)
        if (!reserved.count(com) && comLeadsTo(com, stationPort, tcp)) return PortChoice{com, {}};

    const std::string folder = portsDirectory();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fail(folder + ": " + text::systemErrorText(ec.value()));
    // The window keeps one entry of its own, made over for each station
    // chosen: choosing station after station fills no names.
    int freed = 0;
    if (own && stillOwn(*own)) {
        ::unlink(entryPath(own->com).c_str());
        if (!reserved.count(own->com)) freed = own->com;
    }
    const std::string text = tcp ? "tcp " + tcp->host + " " + tcp->port : "-> " + stationPort;
    // Else a new entry under the highest name nothing else uses: the low
    // names are the machine's own serial ports and the operator's links.
    for (int com = freed ? freed : kComPortCount; com >= 1; --com) {
        const std::string path = entryPath(com);
        if (reserved.count(com) || exists(path, false) || (com != freed && exists(defaultPortDevice(com), true)))
            continue;
        if (tcp) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                if (errno == EEXIST) continue;  // taken meanwhile
                return fail(path + ": " + text::systemErrorText(errno));
            }
            const std::string line = text + "\n";
            const bool written = ::write(fd, line.data(), line.size()) == ssize_t(line.size());
            const int writeErrno = errno;
            ::close(fd);
            if (!written) {
                ::unlink(path.c_str());
                return fail(path + ": " + text::systemErrorText(writeErrno));
            }
            return PortChoice{com, text};
        }
        if (::symlink(stationPort.c_str(), path.c_str()) != 0) {
            if (errno == EEXIST) continue;
            return fail(path + ": " + text::systemErrorText(errno));
        }
        return PortChoice{com, text};
    }
    return fail("в папке портов " + folder + " нет свободного имени COM1..COM32 для \"" + stationPort + "\"");
}

}  // namespace zrv::fleet
