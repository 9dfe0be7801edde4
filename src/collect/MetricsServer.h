#pragma once
// The serving collector's own /metrics over HTTP (Qt HTTP Server, on the
// collector's event loop). Each scrape renders what the collector already
// holds; nothing else is served.

#include <QByteArray>
#include <QHostAddress>
#include <QHttpServer>

#include <functional>
#include <optional>
#include <string>

namespace zrv::collect {

struct MetricsAddress {
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 0;
};

// "PORT", ":PORT", "HOST:PORT" or "[V6]:PORT"; the host as an address
// (127.0.0.1 when none). Nothing and why for anything else, and for an
// address other than loopback unless `anyAddress` (it shows the fleet's
// lines and stores to whoever reaches it).
std::optional<MetricsAddress> parseMetricsAddress(const std::string& text, bool anyAddress, std::string* why);

class MetricsServer {
public:
    explicit MetricsServer(std::function<QByteArray()> render);
    // False and why when the port is taken or cannot be had.
    bool listen(const MetricsAddress& address, std::string* why);
    quint16 port() const { return m_port; }

private:
    QHttpServer m_server;
    quint16 m_port = 0;
};

}  // namespace zrv::collect
