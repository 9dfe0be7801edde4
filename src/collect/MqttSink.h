#pragma once
// An MQTT broker as a sink: per station a retained state
// (<prefix>/<station>/state: the last call, its outcome, measurements, clock
// offset, setpoint differences) and each new journal record
// (<prefix>/<station>/journal, QoS 1). The collector's own presence is
// <prefix>/collector/<host> "online", "offline" as its last will.
//
// A call counts as written once the broker has acknowledged every message
// of it; otherwise it goes to the spool and is published again later (QoS 1
// is at least once: a consumer knows a record by device, start and stamp).

#include "collect/Output.h"

#include <functional>
#include <vector>

struct mosquitto;

namespace zrv::collect {

// What an MQTT URL says beyond the address: mqtts:// is TLS, verified
// against the system's CA store or `cafile`/`capath`, with an optional
// client certificate and key; the password comes from `password_file` (or
// the roster's URL).
struct MqttOptions : OutputOptions {
    QString host;
    int port = 0;
    QString prefix;
    bool tls = false;
    QString cafile, capath, certfile, keyfile, passwordFile;
};

class MqttSink : public Sink {
public:
    explicit MqttSink(StoreUrl url);
    ~MqttSink() override;
    bool open(SinkError* error) override;
    bool write(const CallResult& call, SinkError* error) override;
    void close() override;
    QString name() const override { return m_url.display(); }

    // A station's name as one topic level: no '/', '+' or '#'.
    static QString topicLevel(const std::string& station);

private:
    bool pump(const std::function<bool()>& until, int timeoutMs);

    StoreUrl m_url;
    MqttOptions m_mqtt;
    mosquitto* m_mosq = nullptr;
    QString m_presenceTopic;
    bool m_connected = false;
    int m_connectResult = -1;
    std::vector<int> m_unacked;  // message ids the broker has not acknowledged

    friend struct MqttCallbacks;
};

}  // namespace zrv::collect
