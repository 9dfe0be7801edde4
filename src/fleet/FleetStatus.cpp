#include "FleetStatus.h"

#include "fleet/Paths.h"
#include "fleet/Schema.h"

#include "link/PortMap.h"
#include "text/SystemError.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace zrv::fleet {

namespace fs = std::filesystem;

namespace {

std::string columnText(sqlite3_stmt* st, int i)
{
    const unsigned char* t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, i))) : std::string();
}

std::optional<long long> columnInteger(sqlite3_stmt* st, int i)
{
    if (sqlite3_column_type(st, i) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(st, i);
}

// Counts come from a file anyone may have edited: outside a plain count they
// are shown as unknown rather than as a wrapped number.
std::optional<int> count(std::optional<long long> v)
{
    if (!v || *v < 0 || *v > 1'000'000'000) return std::nullopt;
    return int(*v);
}

// SQLite's reasons in the operator's words; the code decides, not the text.
std::string sqliteText(int code, sqlite3* db)
{
    const std::string detail = db ? sqlite3_errmsg(db) : "";
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "хранилище занято другой программой (сборщиком)";
    case SQLITE_NOTADB: return "это не база данных SQLite";
    case SQLITE_CORRUPT: return "база данных повреждена";
    case SQLITE_CANTOPEN: return "файл базы не открывается";
    case SQLITE_PERM:
    case SQLITE_AUTH: return "нет прав на чтение базы";
    case SQLITE_IOERR: return "ошибка чтения с диска";
    case SQLITE_NOMEM: return "не хватает памяти";
    case SQLITE_ERROR:
        if (detail.find("no such table") != std::string::npos || detail.find("no such column") != std::string::npos)
            return "не хранилище zrvcollect: нет нужной таблицы или столбца";
        return "ошибка в запросе к базе";
    default: return "ошибка SQLite, код " + std::to_string(code);
    }
}

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};

}  // namespace

std::optional<std::map<std::string, LastCall>> readLastCalls(const std::string& path, std::string* why, bool* busy,
                                                             std::string* remark)
{
    if (busy) *busy = false;
    const auto fail = [&](const std::string& w) -> std::optional<std::map<std::string, LastCall>> {
        if (why) *why = path + ": " + w;
        return std::nullopt;
    };
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return fail(text::systemErrorText(errno));
    if (!S_ISREG(st.st_mode)) return fail("не файл базы данных");
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<sqlite3, CloseDb> db(raw);
    if (opened != SQLITE_OK) return fail(sqliteText(opened, raw));
    // The collector may be writing its round: wait a moment, not the
    // operator's whole window.
    sqlite3_busy_timeout(db.get(), 500);
    const auto failed = [&](int code) {
        if (busy) *busy = (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
        return fail(sqliteText(code, db.get()));
    };
    // A store a newer collector wrote: read what can be read, and say so.
    if (remark) remark->clear();
    {
        sqlite3_stmt* v = nullptr;
        int rc = sqlite3_prepare_v2(db.get(), kSchemaVersionQuery, -1, &v, nullptr);
        std::unique_ptr<sqlite3_stmt, Finalize> version(v);
        if (rc == SQLITE_OK && (rc = sqlite3_step(v)) == SQLITE_ROW && sqlite3_column_type(v, 0) == SQLITE_INTEGER) {
            const long long n = sqlite3_column_int64(v, 0);
            if (n > kSchemaVersion && remark)
                *remark = "схема хранилища версии " + std::to_string(n) + " новее этой программы (" +
                          std::to_string(kSchemaVersion) + "): показанное может быть неполным";
        } else if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED || (rc & 0xFF) == SQLITE_NOTADB) {
            return failed(rc);
        }
    }
    // The newest call of each station through the collector's index on
    // (station, started_utc); a retried call shares no start with its first.
    static const char kQuery[] =
        "SELECT c.station, c.started_utc, c.attempt, c.outcome, substr(c.why, 1, 4096), c.device_number, "
        "c.clock_offset_s, c.setpoint_differences, c.records_read FROM calls c JOIN (SELECT station, "
        "MAX(started_utc) AS newest FROM calls GROUP BY station) n ON c.station = n.station AND c.started_utc = n.newest";
    sqlite3_stmt* rawSt = nullptr;
    const int prepared = sqlite3_prepare_v2(db.get(), kQuery, -1, &rawSt, nullptr);
    if (prepared != SQLITE_OK) return failed(prepared);
    std::unique_ptr<sqlite3_stmt, Finalize> query(rawSt);
    std::map<std::string, LastCall> calls;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
        LastCall c;
        const std::string station = columnText(query.get(), 0);
        c.startedUtc = columnText(query.get(), 1);
        c.attempt = count(columnInteger(query.get(), 2)).value_or(1);
        c.outcome = columnText(query.get(), 3);
        c.why = columnText(query.get(), 4);
        const std::optional<long long> device = columnInteger(query.get(), 5);
        c.deviceNumber = device && *device > 0 && *device <= 0xFFFF ? unsigned(*device) : 0;
        // A clock ten years off is no reading of a clock.
        c.clockOffsetS = columnInteger(query.get(), 6);
        if (c.clockOffsetS && (*c.clockOffsetS > 315'360'000 || *c.clockOffsetS < -315'360'000)) c.clockOffsetS.reset();
        c.setpointDifferences = count(columnInteger(query.get(), 7));
        c.recordsRead = count(columnInteger(query.get(), 8)).value_or(0);
        auto [at, fresh] = calls.try_emplace(station, c);
        if (!fresh && c.attempt > at->second.attempt) at->second = c;
    }
    if (step != SQLITE_DONE) return failed(step);
    return calls;
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
    if (why) *why = "хранилища списка не SQLite: последние вызовы не показаны";
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
