#include "Listener.h"

#include <QSslSocket>
#include <QTimer>

namespace zrv::web {

namespace {
constexpr char kReceived[] = "zrvReceived";
}

Listener::Listener(ListenerLimits limits, std::optional<QSslConfiguration> tls, QObject* parent)
    : QTcpServer(parent), m_limits(limits), m_tls(std::move(tls))
{
}

void Listener::answered(QTcpSocket* socket)
{
    if (socket) socket->setProperty(kReceived, qint64(0));
}

void Listener::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = nullptr;
    if (m_tls) {
        auto* ssl = new QSslSocket(this);
        if (!ssl->setSocketDescriptor(descriptor)) {
            delete ssl;
            return;
        }
        ssl->setSslConfiguration(*m_tls);
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    if (m_connections >= m_limits.maxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    socket->setProperty(kReceived, qint64(0));
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(int(m_limits.idle.count()));
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start();
    // Connected before the HTTP server's own reader, so this sees each
    // piece before it is taken.
    const qint64 bound = m_limits.maxRequestBytes;
    connect(socket, &QIODevice::readyRead, socket, [socket, idle, bound] {
        if (socket->property("zrvRefused").toBool()) {
            socket->readAll();
            return;
        }
        idle->start();
        const qint64 received = socket->property(kReceived).toLongLong() + socket->bytesAvailable();
        socket->setProperty(kReceived, received);
        if (received <= bound) return;
        socket->readAll();
        socket->setProperty("zrvRefused", true);
        static const QByteArray tooLarge =
            "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 38\r\n"
            "Connection: close\r\n\r\nзапрос слишком велик";
        socket->write(tooLarge);
        // Closed once the answer is out; what the server has buffered of
        // the request goes with the socket.
        socket->disconnectFromHost();
    });
    connect(socket, &QTcpSocket::bytesWritten, idle, [idle] { idle->start(); });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

}  // namespace zrv::web
