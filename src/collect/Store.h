#pragma once
// Where calls end up: an SQL database (SQLite or PostgreSQL through Qt SQL,
// one schema, one code path). Every row is idempotent: a call by its id, a
// journal record by device number, start address and stamp, so a record
// read twice or a call replayed from the spool never doubles.

#include "collect/CallResult.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace zrv::collect {

// A store as the command line or the roster names it.
struct StoreUrl {
    enum Kind { Sqlite, Postgres, Mqtt } kind = Sqlite;
    QString text;      // as given
    QString path;      // sqlite: the file
    QString host;      // postgresql, mqtt
    int port = 0;
    QString user, database, password;  // postgresql
    QString prefix;    // mqtt topic prefix
};
// "sqlite:PATH", "postgresql://USER@HOST:PORT/DB", "postgresql:///DB?host=SOCKETDIR",
// "mqtt://HOST:PORT[/PREFIX]"; nothing and why for anything else.
std::optional<StoreUrl> parseStoreUrl(const QString& text, std::string* why);

class Sink {
public:
    virtual ~Sink() = default;
    // False and why when the store cannot be reached now.
    virtual bool open(std::string* why) = 0;
    // Writes the call whole or not at all.
    virtual bool write(const CallResult& call, std::string* why) = 0;
    // Records already held from a station's device, newest first (the
    // journal cursor). Device numbers are sums of valve weights and need not
    // be unique across a fleet, so the station is part of the cursor.
    virtual journal::RecordKeys knownRecords(const std::string& station, unsigned deviceNumber) = 0;
    // Whether knownRecords means anything here (a broker keeps no cursor).
    virtual bool keepsCursor() const { return true; }
    virtual QString name() const = 0;
};

class SqlStore : public Sink {
public:
    explicit SqlStore(StoreUrl url);
    ~SqlStore() override;
    bool open(std::string* why) override;
    bool write(const CallResult& call, std::string* why) override;
    journal::RecordKeys knownRecords(const std::string& station, unsigned deviceNumber) override;
    QString name() const override { return m_url.text; }

    // The schema version this program writes.
    static constexpr int kSchemaVersion = 1;

private:
    bool migrate(std::string* why);
    StoreUrl m_url;
    QString m_connection;
    bool m_open = false;
};

std::unique_ptr<Sink> makeSink(const StoreUrl& url);

}  // namespace zrv::collect
