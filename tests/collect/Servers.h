#pragma once
// Real servers from Debian's packages, each in a private folder on a free
// loopback port, stopped and removed at the end: PostgreSQL 15 (run as the
// postgres user when we are root: it refuses root) and Mosquitto.

#include <QString>
#include <QStringList>

class PgServer {
public:
    PgServer();
    ~PgServer();
    // initdb, start, createdb; false and why when any of it fails.
    bool start(QString* why);
    void stop();
    bool restart(QString* why);
    int port() const { return m_port; }
    QString url() const;

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
    bool start(QString* why);
    int port() const { return m_port; }

private:
    QString m_dir;
    int m_port = 0;
    qint64 m_pid = 0;
};

// A free TCP port on 127.0.0.1 at the moment of asking.
int freeLoopbackPort();
