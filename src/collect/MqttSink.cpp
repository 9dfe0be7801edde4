#include "MqttSink.h"

#include "collect/CallJson.h"
#include "fleet/Secrets.h"
#include "text/SystemError.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace zrv::collect {

using zrv::fleet::readSecretFile;
using zrv::fleet::privateFile;

struct MqttCallbacks {
    static void onConnect(mosquitto*, void* self, int rc)
    {
        auto* s = static_cast<MqttSink*>(self);
        s->m_connectResult = rc;
        s->m_connected = rc == 0;
    }
    static void onDisconnect(mosquitto*, void* self, int) { static_cast<MqttSink*>(self)->m_connected = false; }
    static void onPublish(mosquitto*, void* self, int mid)
    {
        auto& u = static_cast<MqttSink*>(self)->m_unacked;
        u.erase(std::remove(u.begin(), u.end(), mid), u.end());
    }
};

namespace {
QString hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return QStringLiteral("unknown");
    return QString::fromLocal8Bit(name);
}

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}
}  // namespace

namespace {

bool mqttParse(StoreUrl& u, const QUrl* url, std::string* why)
{
    const auto fail = [why](const std::string& w) {
        if (why) *why = w;
        return false;
    };
    const std::string shown = u.display().toStdString();
    auto m = std::make_shared<MqttOptions>();
    m->tls = url->scheme() == QLatin1String("mqtts");
    m->host = url->host();
    m->port = url->port(m->tls ? 8883 : 1883);
    m->prefix = url->path().mid(1);
    if (m->prefix.isEmpty()) m->prefix = QStringLiteral("zrv");
    if (m->host.isEmpty()) return fail("mqtt: нужен узел (mqtt://УЗЕЛ:ПОРТ/ПРЕФИКС)");
    for (const auto& [key, value] : QUrlQuery(*url).queryItems(QUrl::FullyDecoded)) {
        QString* field = key == QLatin1String("cafile")          ? &m->cafile
                         : key == QLatin1String("capath")        ? &m->capath
                         : key == QLatin1String("certfile")      ? &m->certfile
                         : key == QLatin1String("keyfile")       ? &m->keyfile
                         : key == QLatin1String("password_file") ? &m->passwordFile
                                                                 : nullptr;
        if (!field) return fail(shown + ": непонятный параметр \"" + key.toStdString() + "\"");
        *field = value;
    }
    if (!m->tls && (!m->cafile.isEmpty() || !m->certfile.isEmpty() || !m->keyfile.isEmpty()))
        return fail(shown + ": сертификаты действуют только с mqtts://");
    if (m->certfile.isEmpty() != m->keyfile.isEmpty()) return fail(shown + ": certfile и keyfile задаются вместе");
    // Secrets are the owner's alone: refused now, before any round.
    for (const QString& secret : {m->keyfile, m->passwordFile}) {
        std::string problem;
        if (!secret.isEmpty() && !privateFile(secret.toStdString(), &problem)) return fail(problem);
    }
    if (m->tls && m->cafile.isEmpty() && m->capath.isEmpty()) m->capath = QStringLiteral("/etc/ssl/certs");
    u.options = std::move(m);
    return true;
}

}  // namespace

OutputKind mqttOutput()
{
    return {{QStringLiteral("mqtt"), QStringLiteral("mqtts")},
            {QStringLiteral("mqtt://"), QStringLiteral("mqtts://")},
            true,
            mqttParse,
            [](const StoreUrl& url) -> std::unique_ptr<Sink> { return std::make_unique<MqttSink>(url); },
            false};
}

MqttSink::MqttSink(StoreUrl url)
    : m_url(std::move(url)), m_mqtt(m_url.as<MqttOptions>() ? *m_url.as<MqttOptions>() : MqttOptions{})
{
    m_presenceTopic = m_mqtt.prefix + QStringLiteral("/collector/") + topicLevel(hostName().toStdString());
}

MqttSink::~MqttSink() { close(); }

QString MqttSink::topicLevel(const std::string& station)
{
    QString s = printable(QString::fromStdString(station));
    for (QChar& c : s)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#')) c = QLatin1Char('_');
    return s;
}

bool MqttSink::pump(const std::function<bool()>& until, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!until()) {
        if (t.elapsed() > timeoutMs) return false;
        const int rc = mosquitto_loop(m_mosq, 50, 1);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_CONN_LOST && rc != MOSQ_ERR_NO_CONN) return false;
        if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN) {
            m_connected = false;
            return false;
        }
    }
    return true;
}

bool MqttSink::open(SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    if (m_mosq && m_connected) return true;
    close();
    initLibrary();
    // Unique per connection: a broker drops the older of two clients with
    // one id, and one process may hold several sinks on one broker.
    const QByteArray id = QStringLiteral("zrvcollect-%1-%2-%3")
                              .arg(hostName())
                              .arg(::getpid())
                              .arg(QUuid::createUuid().toString(QUuid::Id128).left(8))
                              .toUtf8()
                              .right(64);
    m_mosq = mosquitto_new(id.constData(), true, this);
    if (!m_mosq) {
        if (why) *why = "mqtt: не хватает памяти";
        return false;
    }
    mosquitto_connect_callback_set(m_mosq, &MqttCallbacks::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttCallbacks::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttCallbacks::onPublish);
    if (!m_url.user.isEmpty()) {
        std::string password = m_url.password.toStdString();
        if (!m_mqtt.passwordFile.isEmpty() && !readSecretFile(m_mqtt.passwordFile.toStdString(), &password, why)) {
            close();
            return false;
        }
        mosquitto_username_pw_set(m_mosq, m_url.user.toUtf8().constData(), password.empty() ? nullptr : password.c_str());
    }
    if (m_mqtt.tls) {
        const auto orNull = [](const QByteArray& b) { return b.isEmpty() ? nullptr : b.constData(); };
        const QByteArray ca = m_mqtt.cafile.toLocal8Bit(), caPath = m_mqtt.capath.toLocal8Bit(),
                         cert = m_mqtt.certfile.toLocal8Bit(), key = m_mqtt.keyfile.toLocal8Bit();
        int rc = mosquitto_tls_set(m_mosq, orNull(ca), orNull(caPath), orNull(cert), orNull(key), nullptr);
        // The broker's certificate and its host name are checked unless the
        // roster says, in so many words, that they need not be.
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(m_mosq, m_url.insecureTlsAllowed ? 0 : 1, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(m_mosq, m_url.insecureTlsAllowed);
        if (rc != MOSQ_ERR_SUCCESS) {
            if (why) *why = std::string("mqtt: TLS: ") + mosquitto_strerror(rc);
            close();
            return false;
        }
    }
    const QByteArray topic = m_presenceTopic.toUtf8();
    mosquitto_will_set(m_mosq, topic.constData(), 7, "offline", 1, true);
    m_connectResult = -1;
    const int rc = mosquitto_connect(m_mosq, m_mqtt.host.toUtf8().constData(), m_mqtt.port, 30);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (why)
            *why = rc == MOSQ_ERR_TLS ? std::string("mqtt: TLS-соединение не установлено (сертификат брокера не подтверждён "
                                                    "указанным CA или выдан другому узлу)")
                   : rc == MOSQ_ERR_ERRNO ? "mqtt: " + text::systemErrorText(errno)
                                          : std::string("mqtt: ") + mosquitto_strerror(rc);
        close();
        return false;
    }
    if (!pump([this] { return m_connectResult >= 0; }, 5000) || !m_connected) {
        if (why)
            *why = m_connectResult > 0 ? std::string("mqtt: брокер отказал: ") + mosquitto_connack_string(m_connectResult)
                   : m_mqtt.tls ? std::string("mqtt: TLS-соединение не установлено (сертификат брокера не подтверждён "
                                             "указанным CA или выдан другому узлу)")
                               : std::string("mqtt: брокер не ответил");
        close();
        return false;
    }
    int mid = 0;
    mosquitto_publish(m_mosq, &mid, topic.constData(), 6, "online", 1, true);
    return true;
}

bool MqttSink::write(const CallResult& call, SinkError* error)
{
    std::string* why = error ? &error->why : nullptr;
    if (!open(error)) return false;
    const QString base = m_mqtt.prefix + QLatin1Char('/') + topicLevel(call.station);
    QJsonObject state = callToJson(call);
    // The state is small: the records go to the journal topic one by one.
    state.remove(QStringLiteral("records"));
    state.remove(QStringLiteral("health"));  // a topic of its own
    state["records_read"] = int(call.records.size());
    if (call.hasProfile) state["setpoint_difference_count"] = int(call.setpointDifferences.size());
    const auto publish = [this](const QString& topic, const QJsonDocument& doc, bool retain) {
        const QByteArray t = topic.toUtf8();
        const QByteArray payload = doc.toJson(QJsonDocument::Compact);
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, t.constData(), int(payload.size()), payload.constData(), 1, retain);
        if (rc == MOSQ_ERR_SUCCESS) m_unacked.push_back(mid);
        return rc;
    };
    m_unacked.clear();
    int rc = MOSQ_ERR_SUCCESS;
    // Oldest first, so a consumer sees the journal in the order it was written.
    for (auto it = call.records.rbegin(); it != call.records.rend() && rc == MOSQ_ERR_SUCCESS; ++it) {
        QJsonObject r = recordToJson(*it);
        r["station"] = QString::fromStdString(call.station);
        r["device"] = int(call.deviceNumber);
        r["call"] = call.callId;
        rc = publish(base + QStringLiteral("/journal"), QJsonDocument(r), false);
        // Keep the outgoing queue short on a long journal.
        if (m_unacked.size() > 200) pump([this] { return m_unacked.size() < 50; }, 10000);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = publish(base + QStringLiteral("/state"), QJsonDocument(state), true);
    // What needs a visit: the station's open findings, retained (an empty
    // list when it is well), and each one opened or cleared as an event.
    const auto event = [&](const Finding& f, const char* what) {
        QJsonObject o = findingToJson(f);
        o["station"] = QString::fromStdString(call.station);
        o["event"] = QLatin1String(what);
        o["call"] = call.callId;
        o["at"] = call.started.toString(Qt::ISODateWithMs);
        return publish(m_mqtt.prefix + QStringLiteral("/findings"), QJsonDocument(o), false);
    };
    for (const Finding& f : call.health.opened)
        if (rc == MOSQ_ERR_SUCCESS) rc = event(f, "opened");
    for (const Finding& f : call.health.cleared)
        if (rc == MOSQ_ERR_SUCCESS) rc = event(f, "cleared");
    if (rc == MOSQ_ERR_SUCCESS) {
        QJsonArray open;
        for (const Finding& f : call.health.open) open.append(findingToJson(f));
        rc = publish(base + QStringLiteral("/health"), QJsonDocument(open), true);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        if (why) *why = std::string("mqtt: ") + mosquitto_strerror(rc);
        close();
        return false;
    }
    if (!pump([this] { return m_unacked.empty(); }, 10000)) {
        if (why) *why = "mqtt: брокер не подтвердил сообщения";
        close();
        return false;
    }
    return true;
}

void MqttSink::close()
{
    if (!m_mosq) return;
    if (m_connected) {
        // A clean disconnect sends no will: say offline ourselves.
        const QByteArray topic = m_presenceTopic.toUtf8();
        int mid = 0;
        m_unacked.clear();
        if (mosquitto_publish(m_mosq, &mid, topic.constData(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
            m_unacked.push_back(mid);
            pump([this] { return m_unacked.empty(); }, 2000);
        }
        mosquitto_disconnect(m_mosq);
        mosquitto_loop(m_mosq, 50, 1);
    }
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_connected = false;
}

}  // namespace zrv::collect
