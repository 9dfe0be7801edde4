#include "WebServer.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrlQuery>

#include <sys/stat.h>

namespace zrv::web {

namespace {

// Each worker keeps one connection to the store, made again after a
// failure (a server restarted, a file replaced).
struct WorkerStore {
    std::string source;
    std::unique_ptr<fleet::StoreConnection> db;
    dev_t device = 0;
    ino_t inode = 0;
};
thread_local WorkerStore t_store;

// An SQLite file is followed by its path: one moved away, restored from a
// backup or replaced is read as what the path now holds (an open
// connection would go on reading the old file unseen).
bool sameFile(const WorkerStore& s, const std::string& source)
{
    if (fleet::isPostgresSource(source)) return true;
    struct stat st{};
    return ::stat(source.c_str(), &st) == 0 && st.st_dev == s.device && st.st_ino == s.inode;
}

fleet::StoreConnection* workerStore(const std::string& source, std::string* why)
{
    if (t_store.db && t_store.source == source && sameFile(t_store, source)) return t_store.db.get();
    t_store.db.reset();
    struct stat st{};
    const bool file = !fleet::isPostgresSource(source) && ::stat(source.c_str(), &st) == 0;
    t_store.db = fleet::openStoreForReading(source, why);
    t_store.source = source;
    t_store.device = file ? st.st_dev : 0;
    t_store.inode = file ? st.st_ino : 0;
    return t_store.db.get();
}

void dropWorkerStore() { t_store.db.reset(); }

// Built into the program: control rooms are often offline. By exact path
// only, so that no path reaches anything else.
struct Asset {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr Asset kAssets[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/assets/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/assets/style.css", ":/web/style.css", "text/css; charset=utf-8"},
    {"/assets/icon.svg", ":/web/icon.svg", "image/svg+xml"},
};

// No script but the program's own file, no style inline, nothing from
// anywhere else; not to be framed.
constexpr char kPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::optional<int> daysOf(const QUrlQuery& q, int fallback, int most)
{
    if (!q.hasQueryItem(QStringLiteral("days"))) return fallback;
    bool ok = false;
    const int d = q.queryItemValue(QStringLiteral("days")).toInt(&ok);
    if (!ok || d < 1 || d > most) return std::nullopt;
    return d;
}

std::optional<QDateTime> timeOf(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid()) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        if (!d.isValid()) return std::nullopt;
        t = QDateTime(d, QTime(0, 0), Qt::LocalTime);
    }
    return t;
}

}  // namespace

WebServer::WebServer(WebOptions options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    m_pool.setMaxThreadCount(std::max(1, m_options.workers));
    m_pool.setExpiryTimeout(-1);  // each keeps its connection
    m_server.setMissingHandler(
        [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) { handle(request, std::move(responder)); });
    m_poller.setInterval(int(m_options.poll.count()));
    connect(&m_poller, &QTimer::timeout, this, &WebServer::poll);
}

WebServer::~WebServer()
{
    m_poller.stop();
    m_pool.clear();
    m_pool.waitForDone();
}

bool WebServer::listen(std::string* why)
{
    m_listener = new Listener(m_options.listener, m_options.tls);
    if (!m_listener->listen(m_options.host, m_options.port)) {
        if (why)
            *why = m_options.host.toString().toStdString() + ":" + std::to_string(m_options.port) + ": " +
                   m_listener->errorString().toStdString();
        delete m_listener;
        m_listener = nullptr;
        return false;
    }
    m_port = m_listener->serverPort();
    m_server.bind(m_listener);
    m_poller.start();
    poll();
    return true;
}

WebServer::Response WebServer::text(int status, const QString& words)
{
    Response r;
    r.status = status;
    r.type = "text/plain; charset=utf-8";
    r.body = words.toUtf8();
    return r;
}

void WebServer::handle(const QHttpServerRequest& request, QHttpServerResponder&& responder)
{
    Request r;
    r.path = request.url().path();
    r.query = request.url().query(QUrl::FullyEncoded);
    r.authorization = request.value("authorization");
    r.close = request.value("connection").trimmed().toLower() == "close";
    r.gzip = request.value("accept-encoding").toLower().contains("gzip");
    r.address = request.remoteAddress().toString();
    const QPointer<QTcpSocket> socket = responder.socket();
    auto shared = std::make_shared<QHttpServerResponder>(std::move(responder));
    const auto method = request.method();
    r.head = method == QHttpServerRequest::Method::Head;
    if (method != QHttpServerRequest::Method::Get && !r.head) {
        Response refused = text(405, QStringLiteral("только чтение"));
        refused.headers.emplace_back("Allow", "GET, HEAD");
        return send(r, shared, socket, refused);
    }
    // Nothing here takes a body.
    if (!request.body().isEmpty()) return send(r, shared, socket, text(413, QStringLiteral("запрос слишком велик")));
    if (!m_options.users) return route(r, shared, socket);

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Response challenge = text(401, QStringLiteral("нужны имя и пароль"));
    challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"zrvweb\", charset=\"UTF-8\"");
    if (m_verified.contains(r.authorization)) return route(r, shared, socket);
    if (const int wait = m_throttle.waitS(r.address, now)) {
        Response slow = text(429, QStringLiteral("слишком много неверных паролей: повторите через %1 с").arg(wait));
        slow.headers.emplace_back("Retry-After", QByteArray::number(wait));
        return send(r, shared, socket, slow);
    }
    const auto credentials = basicCredentials(r.authorization);
    if (!credentials) return send(r, shared, socket, challenge);
    // The key derivation takes its time off the event loop, and is a cost:
    // an address has two guesses in the works at most, everybody 64.
    int& checking = m_checking[r.address];
    if (checking >= 2 || m_checkingAll >= 64) {
        if (checking == 0) m_checking.remove(r.address);
        Response slow = text(429, QStringLiteral("пароли проверяются: повторите через 1 с"));
        slow.headers.emplace_back("Retry-After", "1");
        return send(r, shared, socket, slow);
    }
    ++checking;
    ++m_checkingAll;
    const Users* users = &*m_options.users;
    m_pool.start([this, users, credentials, r, shared, socket, challenge] {
        const bool ok = users->check(credentials->first, credentials->second);
        QMetaObject::invokeMethod(this, [this, ok, r, shared, socket, challenge] {
            --m_checkingAll;
            if (--m_checking[r.address] <= 0) m_checking.remove(r.address);
            if (ok) {
                if (m_verified.size() > 1000) m_verified.clear();
                m_verified.insert(r.authorization, true);
                m_throttle.succeeded(r.address);
                return route(r, shared, socket);
            }
            m_throttle.failed(r.address, QDateTime::currentMSecsSinceEpoch());
            // A wrong guess is answered late: guessing goes slowly even
            // before the address is held back.
            QTimer::singleShot(1000, this, [this, r, shared, socket, challenge] { send(r, shared, socket, challenge); });
        });
    });
}

QByteArray WebServer::storeState() const
{
    QJsonObject o;
    o["source"] = QString::fromStdString(fleet::shownSource(m_options.source));
    o["serial"] = double(m_snapshotSerial);
    o["readAt"] = m_readAt.isValid() ? QJsonValue(m_readAt.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
    o["problem"] = m_problem.isEmpty() ? QJsonValue() : QJsonValue(m_problem);
    if (m_snapshot && !m_snapshot->remark.empty()) o["remark"] = QString::fromStdString(m_snapshot->remark);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

WebServer::Response WebServer::fleetPart(QByteArray FleetSnapshot::*part, QByteArray FleetSnapshot::*gzipped,
                                         const QByteArray& type) const
{
    if (!m_snapshot) {
        Response r = text(503, m_problem.isEmpty() ? QStringLiteral("хранилище ещё не прочитано") : m_problem);
        r.headers.emplace_back("Retry-After", "2");
        return r;
    }
    // As read, whatever the store's state now (/api/state says that).
    Response r;
    r.type = type;
    r.body = (*m_snapshot).*part;
    if (gzipped) r.gzipped = (*m_snapshot).*gzipped;
    return r;
}

void WebServer::route(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket)
{
    const QString& path = request.path;
    for (const Asset& a : kAssets) {
        if (path != QLatin1String(a.path)) continue;
        QFile f(QString::fromLatin1(a.resource));
        Response r;
        r.type = a.type;
        if (f.open(QIODevice::ReadOnly)) r.body = f.readAll();
        return send(request, responder, socket, r);
    }
    if (path == QLatin1String("/api/state")) {
        Response r;
        r.body = storeState();
        return send(request, responder, socket, r);
    }
    if (path == QLatin1String("/api/fleet")) return send(request, responder, socket, fleetPart(&FleetSnapshot::fleetJson, &FleetSnapshot::fleetGzip, "application/json; charset=utf-8"));
    if (path == QLatin1String("/api/visits"))
        return send(request, responder, socket, fleetPart(&FleetSnapshot::visitsJson, &FleetSnapshot::visitsGzip, "application/json; charset=utf-8"));
    if (path == QLatin1String("/api/visits.csv")) {
        Response r = fleetPart(&FleetSnapshot::visitsCsv, nullptr, "text/csv; charset=utf-8");
        if (r.status == 200) r.headers.emplace_back("Content-Disposition", "attachment; filename=\"zrv-visits.csv\"");
        return send(request, responder, socket, r);
    }
    const bool station = path == QLatin1String("/api/station"), journal = path == QLatin1String("/api/journal"),
               journalCsv = path == QLatin1String("/api/journal.csv"), chart = path == QLatin1String("/api/chart.svg");
    if (!station && !journal && !journalCsv && !chart) return send(request, responder, socket, text(404, QStringLiteral("нет такой страницы")));

    const QUrlQuery q(request.query);
    const std::string name = q.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).toStdString();
    if (!m_snapshot) return send(request, responder, socket, fleetPart(&FleetSnapshot::fleetJson, nullptr, "application/json"));
    if (!m_snapshot->stations.count(name)) return send(request, responder, socket, text(404, QStringLiteral("нет такой станции")));
    const RangeLimits limits = m_options.limits;
    const std::string source = m_options.source;
    const auto failed = [](const std::string& why) {
        dropWorkerStore();
        return text(503, QString::fromStdString(why));
    };
    // What the answer depends on, and nothing else (a page adds its own
    // parameter to tell the browser that a picture changed).
    QString key = path;
    for (const char* k : {"name", "days", "series", "from", "to"})
        key += QLatin1Char('\n') + q.queryItemValue(QLatin1String(k), QUrl::FullyDecoded);
    if (station || chart) {
        const auto days = daysOf(q, 7, limits.maxDays);
        if (!days) return send(request, responder, socket, text(400, QStringLiteral("срок: от 1 до %1 дней").arg(limits.maxDays)));
        if (station)
            return off(request, responder, socket, key, [=] {
                std::string why;
                fleet::StoreConnection* db = workerStore(source, &why);
                const auto body = db ? readStation(*db, name, *days, limits, &why) : std::nullopt;
                if (!body) return failed(why);
                Response r;
                r.body = *body;
                return r;
            });
        const std::string series = q.queryItemValue(QStringLiteral("series")).toStdString();
        if (series != "pressure" && series != "battery" && series != "clock")
            return send(request, responder, socket, text(400, QStringLiteral("график: pressure, battery или clock")));
        return off(request, responder, socket, key, [=] {
            std::string why;
            fleet::StoreConnection* db = workerStore(source, &why);
            const auto body = db ? readChart(*db, name, series, *days, QDateTime::currentDateTime(), &why) : std::nullopt;
            if (!body) return failed(why);
            Response r;
            r.type = "image/svg+xml";
            r.body = *body;
            return r;
        });
    }
    const auto from = timeOf(q.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded));
    const auto to = timeOf(q.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded));
    if (!from || !to || *to <= *from)
        return send(request, responder, socket, text(400, QStringLiteral("нужны from и to (ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTчч:мм:сс), from раньше to")));
    if (from->msecsTo(*to) > qint64(limits.maxDays) * 86'400'000)
        return send(request, responder, socket, text(400, QStringLiteral("срок не больше %1 дней").arg(limits.maxDays)));
    const TableFormat format = journalCsv ? TableFormat::Csv : TableFormat::Json;
    return off(request, responder, socket, key, [=, f = *from, t = *to] {
        std::string why;
        fleet::StoreConnection* db = workerStore(source, &why);
        const auto body =
            db ? readJournal(*db, name, f, t, format == TableFormat::Csv ? limits.maxCsvRows : limits.maxJournalRows, format, &why)
               : std::nullopt;
        if (!body) return failed(why);
        Response r;
        r.body = *body;
        if (format == TableFormat::Csv) {
            r.type = "text/csv; charset=utf-8";
            r.headers.emplace_back("Content-Disposition", "attachment; filename=\"zrv-journal.csv\"");
        }
        return r;
    });
}

void WebServer::off(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket,
                    const QString& key, Work work)
{
    const auto answered = m_answers.constFind(key);
    if (answered != m_answers.cend() && answered->first == m_generation) return send(request, responder, socket, answered->second);
    auto& waiting = m_reading[key];
    waiting.push_back({request, responder, socket});
    if (waiting.size() > 1) return;
    // A queue longer than this is a flood: it is refused, not kept.
    if (m_reading.size() > 256) {
        const std::vector<Waiting> all = m_reading.take(key);
        for (const Waiting& w : all) send(w.request, w.responder, w.socket, text(503, QStringLiteral("сервер занят")));
        return;
    }
    const std::string generation = m_generation;
    m_pool.start([this, key, work, generation] {
        Response r = work();
        if (r.status == 200 && r.body.size() > 2048) r.gzipped = gzip(r.body);
        QMetaObject::invokeMethod(this, [this, key, r, generation] {
            if (r.status == 200) {
                if (m_answers.size() > 128) m_answers.clear();
                m_answers.insert(key, {generation, r});
            }
            const std::vector<Waiting> all = m_reading.take(key);
            for (const Waiting& w : all) send(w.request, w.responder, w.socket, r);
        });
    });
}

void WebServer::send(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket, Response r)
{
    // The client went away meanwhile: nothing to write to.
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
    static const QHash<int, QByteArray> reasons = {{200, "OK"},
                                                   {400, "Bad Request"},
                                                   {401, "Unauthorized"},
                                                   {404, "Not Found"},
                                                   {405, "Method Not Allowed"},
                                                   {413, "Payload Too Large"},
                                                   {429, "Too Many Requests"},
                                                   {503, "Service Unavailable"}};
    const bool gzipped = request.gzip && !r.gzipped.isEmpty();
    const QByteArray& body = gzipped ? r.gzipped : r.body;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasons.value(r.status, "Error") + "\r\n";
    const auto header = [&](const QByteArray& k, const QByteArray& v) { head += k + ": " + v + "\r\n"; };
    header("Content-Type", r.type);
    header("Content-Length", QByteArray::number(body.size()));
    if (!r.gzipped.isEmpty()) header("Vary", "Accept-Encoding");
    if (gzipped) header("Content-Encoding", "gzip");
    header("Content-Security-Policy", kPolicy);
    header("X-Content-Type-Options", "nosniff");
    header("X-Frame-Options", "DENY");
    header("Referrer-Policy", "no-referrer");
    header("Cache-Control", "no-store");
    if (m_options.tls) header("Strict-Transport-Security", "max-age=31536000");
    for (const auto& [k, v] : r.headers) header(k, v);
    if (request.close) header("Connection", "close");
    head += "\r\n";
    // Written whole to the socket's buffer: a client that reads slowly
    // holds its own bytes, and nobody's turn.
    socket->write(head);
    if (!request.head) socket->write(body);
    Listener::answered(socket);
    if (request.close) socket->disconnectFromHost();
    (void)responder;
}

void WebServer::poll()
{
    if (m_polling) return;
    m_polling = true;
    const std::string source = m_options.source, known = m_generation;
    const fleet::Roster* roster = m_options.roster ? &*m_options.roster : nullptr;
    // The collectors' heartbeats move without a call: read whole at least
    // this often.
    const bool stale = !m_fullReadAt.isValid() || m_fullReadAt.secsTo(QDateTime::currentDateTimeUtc()) >= 30;
    m_pool.start([this, source, known, roster, stale] {
        std::string why;
        bool busy = false;
        std::optional<std::string> generation;
        std::optional<FleetSnapshot> snap;
        fleet::StoreConnection* db = workerStore(source, &why);
        if (db) generation = readGeneration(*db, fleet::isPostgresSource(source), &why, &busy);
        if (generation && (*generation != known || stale)) {
            snap = readFleet(*db, roster, QDateTime::currentDateTimeUtc(), &why, &busy);
            if (!snap) generation.reset();
            else {
                snap->fleetGzip = gzip(snap->fleetJson);
                snap->visitsGzip = gzip(snap->visitsJson);
            }
        }
        if (!generation) dropWorkerStore();
        QMetaObject::invokeMethod(this, [this, generation, snap = std::move(snap), why, busy]() mutable {
            m_polling = false;
            if (!generation) {
                const QString at = m_readAt.isValid() ? m_readAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) : QString();
                m_problem = (busy ? QStringLiteral("Хранилище занято сборщиком") : QStringLiteral("Хранилище не прочитано: %1").arg(QString::fromStdString(why))) +
                            (at.isEmpty() ? QString() : QStringLiteral("; показано прочитанное в %1").arg(at));
            } else {
                m_problem.clear();
                m_readAt = QDateTime::currentDateTimeUtc();
                if (snap) {
                    m_snapshot = std::make_shared<const FleetSnapshot>(std::move(*snap));
                    m_fullReadAt = m_readAt;
                    ++m_snapshotSerial;
                    if (*generation != m_generation) m_answers.clear();
                    m_generation = *generation;
                }
            }
            if (!m_firstReadSaid) {
                m_firstReadSaid = true;
                emit firstRead();
            }
        });
    });
}

}  // namespace zrv::web
