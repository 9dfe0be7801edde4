#include "StoreDatabase.h"

#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace zrv::fleet {

namespace {

// libpq quotes values in single quotes with backslash escapes.
QString pgValue(QString v)
{
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

}  // namespace

bool postgresAddress(const QUrl& url, const std::string& shown, StoreAddress* out, std::string* why)
{
    StoreAddress a;
    a.engine = StoreAddress::Postgres;
    a.host = url.host();
    a.port = url.port(5432);
    a.database = url.path().mid(1);
    a.user = url.userName();
    a.password = url.password();
    QStringList options;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host")) {
            a.host = value;
            continue;
        }
        // A key goes to libpq as written, so it may hold nothing that would
        // end it or start another.
        if (key.isEmpty() || value.contains(QLatin1Char(';')) ||
            !std::all_of(key.begin(), key.end(), [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); })) {
            if (why) *why = shown + ": непонятный параметр \"" + key.toStdString() + "\"";
            return false;
        }
        options << key + QLatin1Char('=') + pgValue(value);
    }
    a.pgOptions = options.join(QLatin1Char(' '));
    *out = std::move(a);
    return true;
}

QSqlDatabase addStoreDatabase(const StoreAddress& a, StoreAccess access, std::chrono::milliseconds limit,
                              const QString& name)
{
    QSqlDatabase db = QSqlDatabase::contains(name)
                          ? QSqlDatabase::database(name, false)
                          : QSqlDatabase::addDatabase(
                                a.engine == StoreAddress::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), name);
    if (!db.isValid()) return db;
    if (a.engine == StoreAddress::Sqlite) {
        db.setDatabaseName(a.path);
        // Several collectors may share one file: a writer waits for the
        // other's write; a reader waits a moment, not the operator's window.
        db.setConnectOptions(access == StoreAccess::Write
                                 ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000")
                                 : QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=500"));
        return db;
    }
    db.setHostName(a.host);
    if (a.port) db.setPort(a.port);
    db.setUserName(a.user);
    db.setPassword(a.password);
    db.setDatabaseName(a.database);
    QStringList options;
    if (access == StoreAccess::Write) {
        // A database that stops answering is noticed within the statement
        // limit: the connection's start by libpq's own time-out, a peer
        // gone quiet by TCP keepalives and the kernel's time-out for data
        // never acknowledged, anything else by the collector's watcher (see
        // StatementDeadline.h).
        const long long limitS = std::max<long long>(1, (limit.count() + 999) / 1000);
        options << QStringLiteral("connect_timeout=%1").arg(std::clamp<long long>(limitS, 2, 5))
                << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=%1").arg(std::max<long long>(1, limitS / 2))
                << QStringLiteral("keepalives_interval=1")
                << QStringLiteral("keepalives_count=%1").arg(std::max<long long>(1, limitS / 2))
                << QStringLiteral("tcp_user_timeout=%1").arg(limit.count());
    } else {
        // A window waits for no server that does not answer.
        options << QStringLiteral("connect_timeout=5") << QStringLiteral("application_name=zrvterm");
    }
    // libpq's parameters (sslmode, sslrootcert, service, ...) follow as
    // written, and override these.
    if (!a.pgOptions.isEmpty()) options << a.pgOptions;
    db.setConnectOptions(options.join(QLatin1Char(';')));
    return db;
}

QStringList storeSessionSettings(const StoreAddress& a, StoreAccess access, std::chrono::milliseconds limit)
{
    if (a.engine != StoreAddress::Postgres) return {};
    if (access == StoreAccess::Write)
        // "already exists, skipping" and the like are no news for a log;
        // the server ends a statement that waits too long (a lock) itself.
        return {QStringLiteral("SET client_min_messages TO warning"),
                QStringLiteral("SET statement_timeout = %1").arg(limit.count())};
    // A reader only reads; should its role be able to write, the session
    // still cannot, and no query waits on a lock for long.
    return {QStringLiteral("SET default_transaction_read_only = on"),
            QStringLiteral("SET statement_timeout = %1").arg(limit.count())};
}

void removeStoreDatabase(const QString& name)
{
    if (!QSqlDatabase::contains(name)) return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

}  // namespace zrv::fleet
