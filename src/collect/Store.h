#pragma once
// Where calls end up: an SQL database (SQLite or PostgreSQL through Qt SQL,
// one schema, one code path). Every row is idempotent: a call by its id, a
// journal record by device number, start address and stamp, so a record
// read twice or a call replayed from the spool never doubles.

#include "collect/CallResult.h"

#include <QString>

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

class Sink {
public:
    virtual ~Sink() = default;
    // False and why when the store cannot be reached now.
    virtual bool open(std::string* why) = 0;
    // Writes the call's rows whole or not at all; the journal cursor stays.
    virtual bool write(const CallResult& call, std::string* why) = 0;
    // Moves the journal cursor to where the call left it, once the call is
    // safe in every store (written, or on disk in the spool): so a store that
    // missed it never has its records passed over. A call older than the one
    // that moved the cursor last leaves it.
    virtual bool saveCursor(const CallResult&, std::string*) { return true; }
    // Where the reading of each of a station's devices stands (the journal
    // cursors, by device number). Device numbers are sums of valve weights
    // and need not be unique across a fleet, so the station is part of the
    // cursor.
    virtual std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) = 0;
    // Whether journalCursor means anything here (a broker keeps no cursor).
    virtual bool keepsCursor() const { return true; }
    virtual QString name() const = 0;
};

class SqlStore : public Sink {
public:
    explicit SqlStore(StoreUrl url);
    ~SqlStore() override;
    bool open(std::string* why) override;
    bool write(const CallResult& call, std::string* why) override;
    bool saveCursor(const CallResult& call, std::string* why) override;
    std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) override;
    QString name() const override { return m_url.display(); }

    // The schema version this program writes.
    static constexpr int kSchemaVersion = 2;

private:
    bool migrate(std::string* why);
    StoreUrl m_url;
    QString m_connection;
    bool m_open = false;
};

std::unique_ptr<Sink> makeSink(const StoreUrl& url);

}  // namespace zrv::collect
