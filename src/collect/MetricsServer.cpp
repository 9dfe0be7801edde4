#include "MetricsServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponse>

namespace zrv::collect {

std::optional<MetricsAddress> parseMetricsAddress(const std::string& text, bool anyAddress, std::string* why)
{
    const auto fail = [&](const std::string& w) -> std::optional<MetricsAddress> {
        if (why) *why = "--metrics " + text + ": " + w;
        return std::nullopt;
    };
    MetricsAddress out;
    std::string host, port = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    }
    bool ok = false;
    const uint n = QString::fromStdString(port).toUInt(&ok);
    if (!ok || n < 1 || n > 65535) return fail("нужен порт от 1 до 65535 (АДРЕС:ПОРТ)");
    out.port = quint16(n);
    if (!host.empty()) {
        if (host == "localhost") out.host = QHostAddress(QHostAddress::LocalHost);
        else if (!out.host.setAddress(QString::fromStdString(host))) return fail("не адрес IP");
    }
    if (!out.host.isLoopback() && !anyAddress)
        return fail("адрес не петлевой: метрики увидит любой, кто до него достанет; если так и задумано, "
                    "добавьте --metrics-any-address");
    return out;
}

MetricsServer::MetricsServer(std::function<QByteArray()> render)
{
    m_server.route("/metrics", QHttpServerRequest::Method::Get, [render](const QHttpServerRequest&) {
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", render());
    });
}

bool MetricsServer::listen(const MetricsAddress& address, std::string* why)
{
    m_port = m_server.listen(address.host, address.port);
    if (m_port == 0 && why)
        *why = "--metrics " + address.host.toString().toStdString() + ":" + std::to_string(address.port) +
               ": порт занят или недоступен";
    return m_port != 0;
}

}  // namespace zrv::collect
