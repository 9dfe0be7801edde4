#pragma once
// The one way into the collector's store, for the collector that writes it
// and for everybody who reads it (the stations window, `status`, the
// reports, the gauges, the web console): Qt SQL over an SQLite file or over
// PostgreSQL. Qt's PostgreSQL driver is libpq, so libpq's own ways hold
// (~/.pgpass or PGPASSFILE when no password is given, PGSERVICE, sslmode and
// the other parameters of a URL's query).

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <chrono>
#include <string>

class QUrl;

namespace zrv::fleet {

struct StoreAddress {
    enum Engine { Sqlite, Postgres } engine = Sqlite;
    QString path;  // sqlite: the file
    QString host;  // postgresql
    int port = 0;
    QString database;
    QString user, password;
    // libpq's own parameters from the query (sslmode, sslrootcert, service,
    // ...), as "key='value' ..." for the driver.
    QString pgOptions;
};

// A postgresql:// URL's parts into `out` (its user and password are the
// caller's, as the URL's authority holds them). False and why, naming the
// URL as `shown`: a password in the query (it belongs in ~/.pgpass), or a
// parameter that is no libpq keyword.
bool postgresAddress(const QUrl& url, const std::string& shown, StoreAddress* out, std::string* why);

enum class StoreAccess {
    Write,  // the collector: waits its turn for a shared SQLite file
    Read,   // everybody else: never writes, never waits long
};

// The connection `name` (of this thread), set up for `access` and not yet
// open; invalid when the driver is not installed. `limit`: how long one
// statement may take; the connection's start is bounded by a part of it.
QSqlDatabase addStoreDatabase(const StoreAddress& address, StoreAccess access, std::chrono::milliseconds limit,
                              const QString& name);

// What a new PostgreSQL session is told before its first statement: the
// server ends a statement past the limit itself, a reader's session cannot
// write, and notices are no news for a log.
QStringList storeSessionSettings(const StoreAddress& address, StoreAccess access, std::chrono::milliseconds limit);

// Closes and forgets the connection `name`, once nothing holds it any more.
void removeStoreDatabase(const QString& name);

}  // namespace zrv::fleet
