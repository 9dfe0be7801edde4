#include "StoreReader.h"

#include "text/SystemError.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zrv::fleet {

namespace {

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

bool isBusy(int code) { return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED; }

class SqliteConnection : public StoreConnection {
public:
    explicit SqliteConnection(sqlite3* db) : m_db(db) {}
    ~SqliteConnection() override { sqlite3_close_v2(m_db); }

    bool select(const std::string& sql, const std::vector<std::string>& params,
                const std::function<void(const StoreRow&)>& row, std::string* why, bool* busy) override
    {
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(m_db, sql.c_str(), int(sql.size()), &st, nullptr);
        const auto failed = [&](int code) {
            if (busy) *busy = isBusy(code);
            if (why) *why = sqliteText(code, m_db);
            sqlite3_finalize(st);
            return false;
        };
        if (rc != SQLITE_OK) return failed(rc);
        for (std::size_t i = 0; i < params.size(); ++i)
            sqlite3_bind_text(st, int(i + 1), params[i].data(), int(params[i].size()), SQLITE_TRANSIENT);
        StoreRow values(std::size_t(sqlite3_column_count(st)));
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            for (std::size_t i = 0; i < values.size(); ++i) {
                const unsigned char* t = sqlite3_column_text(st, int(i));
                if (t) values[i].emplace(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, int(i))));
                else values[i].reset();
            }
            row(values);
        }
        if (rc != SQLITE_DONE) return failed(rc);
        sqlite3_finalize(st);
        return true;
    }

    std::optional<bool> hasTable(const std::string& name, std::string* why, bool* busy) override
    {
        bool found = false;
        if (!select("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", {name},
                    [&](const StoreRow&) { found = true; }, why, busy))
            return std::nullopt;
        return found;
    }

private:
    sqlite3* m_db;
};

std::string pgText(const char* message)
{
    std::string m = message ? message : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

class PgConnection : public StoreConnection {
public:
    explicit PgConnection(PGconn* c) : m_conn(c) {}
    ~PgConnection() override { PQfinish(m_conn); }

    bool select(const std::string& sql, const std::vector<std::string>& params,
                const std::function<void(const StoreRow&)>& row, std::string* why, bool* busy) override
    {
        if (busy) *busy = false;
        // libpq numbers its parameters.
        std::string text;
        int n = 0;
        for (char c : sql) text += c == '?' ? "$" + std::to_string(++n) : std::string(1, c);
        std::vector<const char*> values;
        for (const std::string& p : params) values.push_back(p.c_str());
        PGresult* r = PQexecParams(m_conn, text.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            if (why) {
                const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
                const std::string code = state ? state : "";
                *why = code == "42P01" || code == "42703" ? "не хранилище zrvcollect: нет нужной таблицы или столбца"
                       : code == "42501"                  ? "нет прав на чтение: " + pgText(PQresultErrorMessage(r))
                       : PQstatus(m_conn) != CONNECTION_OK ? "соединение с PostgreSQL потеряно: " + pgText(PQerrorMessage(m_conn))
                                                           : "PostgreSQL: " + pgText(PQresultErrorMessage(r));
            }
            PQclear(r);
            return false;
        }
        const int rows = PQntuples(r), columns = PQnfields(r);
        StoreRow out(std::size_t(columns > 0 ? columns : 0));
        for (int i = 0; i < rows; ++i) {
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(r, i, c)) out[std::size_t(c)].reset();
                else out[std::size_t(c)].emplace(PQgetvalue(r, i, c), std::size_t(PQgetlength(r, i, c)));
            }
            row(out);
        }
        PQclear(r);
        return true;
    }

    std::optional<bool> hasTable(const std::string& name, std::string* why, bool* busy) override
    {
        bool found = false;
        if (!select("SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() AND table_name = ?",
                    {name}, [&](const StoreRow&) { found = true; }, why, busy))
            return std::nullopt;
        return found;
    }

private:
    PGconn* m_conn;
};

}  // namespace

bool isPostgresSource(const std::string& source)
{
    return source.rfind("postgresql://", 0) == 0 || source.rfind("postgres://", 0) == 0;
}

std::string shownSource(const std::string& source)
{
    if (!isPostgresSource(source)) return source;
    const std::size_t start = source.find("://") + 3;
    const std::size_t end = source.find_first_of("/?#", start);
    const std::string authority = source.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t at = authority.rfind('@');
    const std::size_t colon = authority.find(':');
    if (at == std::string::npos || colon == std::string::npos || colon > at) return source;
    return source.substr(0, start + colon) + source.substr(start + at);
}

std::unique_ptr<StoreConnection> openStoreForReading(const std::string& source, std::string* why, bool* busy)
{
    if (busy) *busy = false;
    const auto fail = [&](const std::string& w) -> std::unique_ptr<StoreConnection> {
        if (why) *why = shownSource(source) + ": " + w;
        return nullptr;
    };
    if (isPostgresSource(source)) {
        // The URL as libpq reads it, with a bound on the wait: a window
        // waits for no server that does not answer.
        const char* keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
        const char* values[] = {source.c_str(), "5", "zrvterm", nullptr};
        PGconn* c = PQconnectdbParams(keys, values, 1);
        if (!c) return fail("не хватает памяти");
        if (PQstatus(c) != CONNECTION_OK) {
            const std::string w = "нет соединения с PostgreSQL: " + pgText(PQerrorMessage(c));
            PQfinish(c);
            return fail(w);
        }
        // This window only reads; should the role be able to write, the
        // session still cannot, and no query waits on a lock for long.
        PGresult* r = PQexec(c, "SET default_transaction_read_only = on; SET statement_timeout = '20s'");
        PQclear(r);
        return std::make_unique<PgConnection>(c);
    }
    struct stat st{};
    if (::stat(source.c_str(), &st) != 0) return fail(text::systemErrorText(errno));
    if (!S_ISREG(st.st_mode)) return fail("не файл базы данных");
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(source.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        const std::string w = sqliteText(opened, raw);
        sqlite3_close_v2(raw);
        return fail(w);
    }
    // The collector may be writing its round: wait a moment, not the
    // operator's whole window.
    sqlite3_busy_timeout(raw, 500);
    return std::make_unique<SqliteConnection>(raw);
}

std::optional<long long> storeInteger(const std::optional<std::string>& v)
{
    if (!v || v->empty() || v->size() > 20) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(v->c_str(), &end, 10);
    if (errno != 0 || *end) return std::nullopt;
    return n;
}

double storeReal(const std::optional<std::string>& v)
{
    if (!v || v->empty() || v->size() > 40) return std::nan("");
    char* end = nullptr;
    const double d = std::strtod(v->c_str(), &end);
    return *end ? std::nan("") : d;
}

}  // namespace zrv::fleet
