#pragma once
// zrvweb's server: the pages and their JSON over Qt HTTP Server on the
// program's event loop. The event loop only routes, checks and writes: every
// read of the store (and every password check) runs on a worker with a
// connection of its own, so that a slow store, a large history or a slow
// client holds up nobody else. The fleet is read whole by a poll and served
// from what was last read, which a store that fails keeps showing.

#include "fleet/Roster.h"
#include "web/FleetRead.h"
#include "web/Listener.h"
#include "web/Users.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QPointer>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTcpSocket;

namespace zrv::web {

struct WebOptions {
    std::string source;  // an SQLite path or a PostgreSQL URL
    std::optional<fleet::Roster> roster;
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 8080;
    std::optional<QSslConfiguration> tls;
    std::optional<Users> users;
    std::chrono::milliseconds poll{2000};
    int workers = 4;
    RangeLimits limits;
    ListenerLimits listener;
};

class WebServer : public QObject {
    Q_OBJECT
public:
    explicit WebServer(WebOptions options, QObject* parent = nullptr);
    ~WebServer() override;
    // False and why when the address cannot be had.
    bool listen(std::string* why);
    quint16 port() const { return m_port; }

signals:
    // The store was read (or failed to be) for the first time.
    void firstRead();

private:
    struct Response {
        int status = 200;
        QByteArray type = "application/json; charset=utf-8";
        QByteArray body;
        QByteArray gzipped;  // the body, compressed once, for clients that take it
        std::vector<std::pair<QByteArray, QByteArray>> headers;
    };
    struct Request {
        QString path;
        QString query;
        QByteArray authorization;
        QString address;
        bool head = false;
        bool close = false;  // the client asked to close after the answer
        bool gzip = false;   // the client takes gzip
    };
    using Responder = std::shared_ptr<QHttpServerResponder>;
    using Work = std::function<Response()>;

    void handle(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void route(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket);
    void send(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket, Response response);
    // Work on a worker; the answer written on the event loop. Requests for
    // the same thing while it is being read share the one reading, and its
    // answer stays until the store has a new call.
    void off(const Request& request, const Responder& responder, const QPointer<QTcpSocket>& socket, const QString& key,
             Work work);
    void poll();
    Response fleetPart(QByteArray FleetSnapshot::*part, QByteArray FleetSnapshot::*gzipped, const QByteArray& type) const;
    QByteArray storeState() const;
    static Response text(int status, const QString& words);

    WebOptions m_options;
    QHttpServer m_server;
    Listener* m_listener = nullptr;
    quint16 m_port = 0;
    QThreadPool m_pool;
    QTimer m_poller;
    bool m_polling = false;
    std::shared_ptr<const FleetSnapshot> m_snapshot;
    std::string m_generation;
    qint64 m_snapshotSerial = 0;
    QDateTime m_readAt, m_fullReadAt;
    QString m_problem;
    bool m_firstReadSaid = false;
    LoginThrottle m_throttle;
    QHash<QByteArray, bool> m_verified;  // Authorization headers already checked
    QHash<QString, int> m_checking;      // password checks running, by address
    int m_checkingAll = 0;
    struct Waiting {
        Request request;
        Responder responder;
        QPointer<QTcpSocket> socket;
    };
    QHash<QString, std::vector<Waiting>> m_reading;
    QHash<QString, std::pair<std::string, Response>> m_answers;  // by key: the generation it was read at
};

}  // namespace zrv::web
