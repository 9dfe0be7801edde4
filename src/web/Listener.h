#pragma once
// The console's listening socket, plain or TLS, that watches each
// connection before the HTTP server reads it: a request larger than the
// bound is answered 413 and cut off as it arrives (the server would buffer
// it whole), a connection silent past the idle time is closed, and beyond
// the most connections at once a new one is refused.

#include <QSslConfiguration>
#include <QTcpServer>

#include <chrono>
#include <optional>

namespace zrv::web {

struct ListenerLimits {
    qint64 maxRequestBytes = 64 * 1024;  // headers and body of one request
    std::chrono::milliseconds idle{60'000};
    int maxConnections = 512;
};

class Listener : public QTcpServer {
    Q_OBJECT
public:
    Listener(ListenerLimits limits, std::optional<QSslConfiguration> tls, QObject* parent = nullptr);
    // A response was sent on this socket: the next request has its own bound.
    static void answered(QTcpSocket* socket);
    int connections() const { return m_connections; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ListenerLimits m_limits;
    std::optional<QSslConfiguration> m_tls;
    int m_connections = 0;
};

}  // namespace zrv::web
