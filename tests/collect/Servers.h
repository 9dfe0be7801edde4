#pragma once
// Real servers from Debian's packages, each in a private folder on a free
// loopback port, stopped and removed at the end: PostgreSQL 15 (run as the
// postgres user when we are root: it refuses root) and Mosquitto.

#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

#include "support/LoopbackPort.h"

// A test CA and a server certificate for "localhost" only (so 127.0.0.1 is
// another host name), and a second CA that signed nothing of ours; made
// with openssl in a private folder.
class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    bool make(QString* why);
    QString ca, otherCa, serverCert, serverKey;

private:
    QString m_dir;
};

class PgServer {
public:
    PgServer();
    ~PgServer();
    // initdb, start, createdb; false and why when any of it fails. With
    // certificates: TLS only (hostssl), scram-sha-256 with `password`.
    bool start(QString* why, const TestCertificates* tls = nullptr, const QString& password = {});
    void stop();
    bool restart(QString* why);
    int port() const { return m_port; }
    QString url() const;
    // Statements run in the database as its owner, stopping at the first error.
    bool sql(const QString& statements, QString* why);

private:
    bool run(const QString& program, const QStringList& args, QString* why);
    QString m_dir;
    int m_port = 0;
    bool m_running = false;
};

class MosquittoBroker {
public:
    MosquittoBroker();
    ~MosquittoBroker();
    // With certificates: TLS, and only `user` with `password` may connect.
    bool start(QString* why, const TestCertificates* tls = nullptr, const QString& user = {},
               const QString& password = {});
    int port() const { return m_port; }
    // A broker that hangs: it still accepts connections (the kernel does)
    // but never answers one, until thawed.
    void freeze(bool frozen);

private:
    QString m_dir;
    int m_port = 0;
    qint64 m_pid = 0;
};


// The body of GET path on 127.0.0.1:port when it answers 200; empty else.
QByteArray httpGet(int port, const QByteArray& path);

// Prometheus scraping one target on 127.0.0.1 every second, with a scrape
// config and a data folder of its own.
class PrometheusServer {
public:
    PrometheusServer();
    ~PrometheusServer();
    bool start(int target, QString* why);
    // The JSON of an instant query.
    QByteArray query(const QString& expression) const;

private:
    QString m_dir;
    int m_port = 0;
    qint64 m_pid = 0;
};

// node_exporter with only its textfile collector, reading `folder`.
class NodeExporter {
public:
    ~NodeExporter();
    bool start(const QString& folder, QString* why);
    // Its /metrics as served; empty when it did not answer.
    QByteArray scrape() const;

private:
    int m_port = 0;
    qint64 m_pid = 0;
};

// A TCP forwarder on a free loopback port in front of a server, that the
// test can freeze: frozen, it keeps every connection open and answers
// nothing (the kernel still accepts and acknowledges), as a WAN link, a
// firewall that dropped its state or a VPN that hangs does.
class Forwarder {
public:
    explicit Forwarder(int target);
    ~Forwarder();
    int port() const { return m_port; }
    void freeze(bool frozen) { m_frozen = frozen; }

private:
    void loop();
    int m_target, m_port = 0, m_listen = -1;
    std::atomic<bool> m_frozen{false}, m_stopping{false};
    std::thread m_thread;
};
