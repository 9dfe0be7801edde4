#pragma once
// An SQL database as an output (SQLite or PostgreSQL, reached the one way
// every program reaches the store: fleet/StoreDatabase.h; one schema, one
// code path), and the one that keeps journal cursors and each
// station's history. Every row is idempotent: a call by its id, a
// journal record by its station, device number, start address and stamp, so a record
// read twice or a call replayed from the spool never doubles.

#include "collect/Output.h"
#include "collect/StatementDeadline.h"
#include "fleet/StoreDatabase.h"

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

// What an SQL store's URL says beyond the address: where the database is
// and how libpq is to reach it.
struct SqlOptions : OutputOptions, fleet::StoreAddress {};

class SqlStore : public Sink, public CursorKeeper {
public:
    explicit SqlStore(StoreUrl url);
    ~SqlStore() override;
    bool open(SinkError* error) override;
    bool write(const CallResult& call, SinkError* error) override;
    void close() override;
    QString name() const override { return m_url.display(); }
    CursorKeeper* cursors() override { return this; }
    bool saveCursor(const CallResult& call, SinkError* error) override;
    std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) override;
    std::optional<StationHistory> history(const std::string& station) override;

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
    SqlOptions m_sql;
    QString m_connection;
    bool m_open = false;
    std::chrono::milliseconds m_limit{30'000};
    std::unique_ptr<StatementDeadline> m_deadline;  // PostgreSQL's alone
    bool m_timedOut = false;  // the last statement ran past the limit
    bool m_migrating = false;
};

}  // namespace zrv::collect
