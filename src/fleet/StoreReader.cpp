#include "StoreReader.h"

#include "fleet/StoreDatabase.h"
#include "text/SystemError.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>  // its result codes, as Qt's driver reports them
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zrv::fleet {

namespace {

// How long one statement of a reader may take.
constexpr std::chrono::milliseconds kReadLimit{20'000};

// SQLite's reasons in the operator's words; the code decides, not the text.
std::string sqliteText(int code, const std::string& detail)
{
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

// The server's message without the driver's additions: its first line,
// without the "(SQLSTATE)" the driver appends.
std::string pgText(const QSqlError& e)
{
    QString m = e.databaseText();
    const QString code = QLatin1Char('(') + e.nativeErrorCode() + QLatin1Char(')');
    if (!e.nativeErrorCode().isEmpty() && m.endsWith(code)) m.chop(code.size());
    m = m.section(QLatin1Char('\n'), 0, 0).trimmed();
    for (const QLatin1String prefix : {QLatin1String("ERROR:"), QLatin1String("FATAL:")})
        if (m.startsWith(prefix)) m = m.mid(prefix.size()).trimmed();
    return m.toStdString();
}

std::string pgFailure(const QSqlError& e)
{
    const QString code = e.nativeErrorCode();
    if (code == QLatin1String("42P01") || code == QLatin1String("42703"))
        return "не хранилище zrvcollect: нет нужной таблицы или столбца";
    if (code == QLatin1String("42501")) return "нет прав на чтение: " + pgText(e);
    // A failure of the connection carries no code from the server, or one of
    // its connection classes.
    if (code.isEmpty() || code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")))
        return "соединение с PostgreSQL потеряно: " + pgText(e);
    return "PostgreSQL: " + pgText(e);
}

// A column's value as text into `out` (its room kept from the row before):
// a whole number whole, a double in the shortest text that reads back as the
// same double, a PostgreSQL numeric as the server wrote it (the query asks
// the driver for its text, not a double).
void cellText(const QVariant& v, std::string& out)
{
    char digits[32];
    switch (v.typeId()) {
    case QMetaType::Double: {
        const auto end = std::to_chars(digits, digits + sizeof digits, v.toDouble()).ptr;
        out.assign(digits, end);
        return;
    }
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt: {
        const auto end = v.typeId() == QMetaType::ULongLong || v.typeId() == QMetaType::UInt
                             ? std::to_chars(digits, digits + sizeof digits, v.toULongLong()).ptr
                             : std::to_chars(digits, digits + sizeof digits, v.toLongLong()).ptr;
        out.assign(digits, end);
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        out.assign(b.constData(), std::size_t(b.size()));
        return;
    }
    default: {
        const QByteArray utf8 = v.toString().toUtf8();
        out.assign(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    }
}

class SqlConnection : public StoreConnection {
public:
    SqlConnection(QString name, StoreAddress::Engine engine) : m_name(std::move(name)), m_engine(engine) {}
    ~SqlConnection() override { removeStoreDatabase(m_name); }

    bool select(const std::string& sql, const std::vector<std::string>& params,
                const std::function<void(const StoreRow&)>& row, std::string* why, bool* busy) override
    {
        if (busy) *busy = false;
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.setForwardOnly(true);
        q.setNumericalPrecisionPolicy(QSql::HighPrecision);
        const QString text = QString::fromStdString(sql);
        bool ok = true;
        if (params.empty()) {
            ok = q.exec(text);
        } else {
            ok = q.prepare(text);
            for (const std::string& p : params) q.addBindValue(QString::fromStdString(p));
            ok = ok && q.exec();
        }
        if (!ok) return failed(q.lastError(), why, busy);
        StoreRow values(std::size_t(std::max(0, int(q.record().count()))));
        while (q.next()) {
            for (std::size_t i = 0; i < values.size(); ++i) {
                const QVariant v = q.value(int(i));
                if (v.isNull()) {
                    values[i].reset();
                } else {
                    if (!values[i]) values[i].emplace();
                    cellText(v, *values[i]);
                }
            }
            row(values);
        }
        // A row the engine could not step to ends the loop as the last would.
        if (q.lastError().type() != QSqlError::NoError) return failed(q.lastError(), why, busy);
        return true;
    }

    std::optional<bool> hasTable(const std::string& name, std::string* why, bool* busy) override
    {
        bool found = false;
        const char* sql = m_engine == StoreAddress::Sqlite
                              ? "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"
                              : "SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() AND table_name = ?";
        if (!select(sql, {name}, [&](const StoreRow&) { found = true; }, why, busy)) return std::nullopt;
        return found;
    }

private:
    bool failed(const QSqlError& e, std::string* why, bool* busy) const
    {
        if (m_engine == StoreAddress::Sqlite) {
            const int code = e.nativeErrorCode().toInt();
            if (busy) *busy = isBusy(code);
            if (why) *why = sqliteText(code, e.databaseText().toStdString());
        } else if (why) {
            *why = pgFailure(e);
        }
        return false;
    }

    QString m_name;
    StoreAddress::Engine m_engine;
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
    StoreAddress address;
    if (isPostgresSource(source)) {
        const QUrl url(QString::fromStdString(source), QUrl::StrictMode);
        if (!url.isValid()) return fail("неверный адрес PostgreSQL");
        if (!postgresAddress(url, shownSource(source), &address, why)) return nullptr;
    } else {
        struct stat st{};
        if (::stat(source.c_str(), &st) != 0) return fail(text::systemErrorText(errno));
        if (!S_ISREG(st.st_mode)) return fail("не файл базы данных");
        address.path = QString::fromStdString(source);
    }
    const QString name = QStringLiteral("zrv-reader-") + QUuid::createUuid().toString(QUuid::Id128);
    std::string failure;
    {
        QSqlDatabase db = addStoreDatabase(address, StoreAccess::Read, kReadLimit, name);
        if (!db.isValid()) {
            failure = "драйвер базы данных не установлен";
        } else if (!db.open()) {
            const QSqlError e = db.lastError();
            failure = address.engine == StoreAddress::Postgres
                          ? "нет соединения с PostgreSQL: " + pgText(e)
                          : sqliteText(e.nativeErrorCode().toInt(), e.databaseText().toStdString());
        } else {
            for (const QString& setting : storeSessionSettings(address, StoreAccess::Read, kReadLimit))
                QSqlQuery(db).exec(setting);
        }
    }
    if (!failure.empty()) {
        removeStoreDatabase(name);
        return fail(failure);
    }
    return std::make_unique<SqlConnection>(name, address.engine);
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
