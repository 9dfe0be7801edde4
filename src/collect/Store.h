#pragma once
// Where calls end up: an SQL database (SQLite or PostgreSQL through Qt SQL,
// one schema, one code path). Every row is idempotent: a call by its id, a
// journal record by its station, device number, start address and stamp, so a record
// read twice or a call replayed from the spool never doubles.

#include "collect/FleetTypes.h"
#include "collect/StatementDeadline.h"

#include <QSqlDatabase>
#include <QString>

class QSqlError;
class QSqlQuery;

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zrv::collect {

// A store as the command line or the roster names it.
struct StoreUrl {
    enum Kind { Sqlite, Postgres, Mqtt } kind = Sqlite;
    QString text;      // as given (may hold a password: never show it)
    QString path;      // sqlite: the file
    QString host;      // postgresql, mqtt
    int port = 0;
    QString user, database, password;
    // PostgreSQL: libpq's own parameters from the query (sslmode,
    // sslrootcert, service, ...), as "key='value' ..." for the driver.
    QString pgOptions;
    // MQTT: mqtts:// is TLS, verified against the system's CA store or
    // `cafile`/`capath`, with an optional client certificate and key; the
    // password comes from `password_file` (or the roster's URL).
    QString prefix;
    bool tls = false;
    bool tlsNoVerify = false;  // only by the roster's insecure_tls_no_verify
    QString cafile, capath, certfile, keyfile, passwordFile;

    // The URL without its password, for messages, the summary and the spool.
    QString display() const;
};

enum class UrlOrigin { CommandLine, Roster };

// "sqlite:PATH", "postgresql://USER@HOST:PORT/DB[?PARAM=VALUE...]",
// "postgresql:///DB?host=SOCKETDIR", "mqtt[s]://[USER@]HOST:PORT[/PREFIX][?PARAM=VALUE...]";
// nothing and why for anything else. A password written in a URL on the
// command line is refused (every user sees it in ps), and so is a secret
// file that others may read.
std::optional<StoreUrl> parseStoreUrl(const QString& text, std::string* why,
                                      UrlOrigin origin = UrlOrigin::Roster);

// Why a store did not take what it was given.
struct SinkError {
    enum Kind {
        Unreachable,  // not now: its calls are spooled and written later
        SchemaNewer,  // a newer collector's store: left alone for good
    } kind = Unreachable;
    std::string why;  // in words, for the operator
};

// A store: open, write, close. The collector gives each one a thread of its
// own (see SinkThread.h), so every function here may take its time.
class Sink {
public:
    virtual ~Sink() = default;
    // False and why when the store cannot be reached now.
    virtual bool open(SinkError* error) = 0;
    // Writes the call's rows whole or not at all; the journal cursor stays.
    virtual bool write(const CallResult& call, SinkError* error) = 0;
    // Moves the journal cursor to where the call left it, once the call is
    // safe in every store (written, or on disk in the spool): so a store that
    // missed it never has its records passed over. A call older than the one
    // that moved the cursor last leaves it.
    virtual bool saveCursor(const CallResult&, SinkError*) { return true; }
    // Lets go of the connection (on the thread that opened it).
    virtual void close() {}
    // Where the reading of each of a station's devices stands (the journal
    // cursors, by device number). Device numbers are sums of valve weights
    // and need not be unique across a fleet, so the station is part of the
    // cursor.
    virtual std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) = 0;
    // What the store remembers of a station for judging its next call
    // (see Health.h); nothing from a store that keeps no history.
    virtual std::optional<StationHistory> history(const std::string&) { return std::nullopt; }
    // Whether journalCursors means anything here (a broker keeps no cursor).
    virtual bool keepsCursor() const { return true; }
    // Whether a call it could not take is spooled for it (standard output
    // has no later).
    virtual bool spools() const { return true; }
    virtual QString name() const = 0;
};

class SqlStore : public Sink {
public:
    explicit SqlStore(StoreUrl url);
    ~SqlStore() override;
    bool open(SinkError* error) override;
    bool write(const CallResult& call, SinkError* error) override;
    bool saveCursor(const CallResult& call, SinkError* error) override;
    void close() override;
    std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) override;
    std::optional<StationHistory> history(const std::string& station) override;
    QString name() const override { return m_url.display(); }

    // How long one statement may keep a PostgreSQL connection waiting
    // before the database counts as unreachable (see StatementDeadline.h);
    // before the store is first opened.
    void setStatementLimit(std::chrono::milliseconds limit);

protected:
    // The connection, on the thread that opened it.
    QSqlDatabase database() const;
    const StoreUrl& url() const { return m_url; }
    // Each statement within the limit. errorText says a statement that ran
    // past it in words, and any other failure as the driver put it.
    bool prepare(QSqlQuery& q, const QString& sql);
    bool exec(QSqlQuery& q);
    bool exec(QSqlQuery& q, const QString& sql);
    bool begin(QSqlDatabase& db);
    bool commit(QSqlDatabase& db);
    void rollback(QSqlDatabase& db);
    QString errorText(const QSqlError& error) const;

private:
    bool bounded(const std::function<bool()>& statement);
    bool migrate(SinkError* error);
    bool writeFindings(const CallResult& call, QString* error);
    bool moveSchedule(QSqlQuery& q, const CallResult& call);
    StoreUrl m_url;
    QString m_connection;
    bool m_open = false;
    std::chrono::milliseconds m_limit{30'000};
    std::unique_ptr<StatementDeadline> m_deadline;  // PostgreSQL's alone
    bool m_timedOut = false;  // the last statement ran past the limit
    bool m_migrating = false;
};

std::unique_ptr<Sink> makeSink(const StoreUrl& url);

// Each call on standard output as it is stored: one JSON line, or InfluxDB
// line protocol.
enum class Format { Summary, Jsonl, Influx };
class StdoutSink : public Sink {
public:
    StdoutSink(Format format, FILE* out) : m_format(format), m_out(out) {}
    bool open(SinkError*) override { return true; }
    bool write(const CallResult& call, SinkError* error) override;
    std::map<unsigned, journal::JournalCursor> journalCursors(const std::string&) override { return {}; }
    bool keepsCursor() const override { return false; }
    bool spools() const override { return false; }
    QString name() const override { return QStringLiteral("stdout"); }

private:
    Format m_format;
    FILE* m_out;
};

}  // namespace zrv::collect
