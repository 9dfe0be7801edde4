#include "Servers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUrl>

#include <utility>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
}

const QString kPgBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

QString makeDir(const char* name)
{
    QByteArray pattern = QByteArray("/tmp/") + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return {};
    return QString::fromLocal8Bit(pattern);
}

}  // namespace

namespace {
bool runTool(const QString& program, const QStringList& args, QString* why)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (why) *why = program + ": " + QString::fromLocal8Bit(p.readAllStandardError()) + p.errorString();
        return false;
    }
    return true;
}
}  // namespace

TestCertificates::TestCertificates() : m_dir(makeDir("zrv-tls")) {}

TestCertificates::~TestCertificates()
{
    if (!m_dir.isEmpty()) QDir(m_dir).removeRecursively();
}

bool TestCertificates::make(QString* why)
{
    const QString d = m_dir + "/";
    ca = d + "ca.pem";
    otherCa = d + "other-ca.pem";
    serverCert = d + "server.pem";
    serverKey = d + "server.key";
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QFile ext(d + "ext.cnf");
    if (!ext.open(QIODevice::WriteOnly)) return false;
    ext.write("subjectAltName=DNS:localhost\n");
    ext.close();
    return runTool("openssl", QStringList{"req", "-x509"} + ec + QStringList{"-keyout", d + "ca.key", "-out", ca, "-days", "2", "-subj", "/CN=zrv test CA"}, why) &&
           runTool("openssl", QStringList{"req", "-x509"} + ec + QStringList{"-keyout", d + "other.key", "-out", otherCa, "-days", "2", "-subj", "/CN=another CA"}, why) &&
           runTool("openssl", QStringList{"req"} + ec + QStringList{"-keyout", serverKey, "-out", d + "server.csr", "-subj", "/CN=localhost"}, why) &&
           runTool("openssl", {"x509", "-req", "-in", d + "server.csr", "-CA", ca, "-CAkey", d + "ca.key", "-CAcreateserial",
                               "-out", serverCert, "-days", "2", "-extfile", d + "ext.cnf"},
                   why);
}

PgServer::PgServer() : m_dir(makeDir("zrv-pg")) {}

PgServer::~PgServer()
{
    stop();
    if (!m_dir.isEmpty()) QDir(m_dir).removeRecursively();
}

bool PgServer::run(const QString& program, const QStringList& args, QString* why)
{
    QProcess p;
    if (::geteuid() == 0) p.start(QStringLiteral("runuser"), QStringList{"-u", "postgres", "--", program} + args);
    else p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (why)
            *why = program + ": " + QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput()) +
                   p.errorString();
        return false;
    }
    return true;
}

bool PgServer::start(QString* why, const TestCertificates* tls, const QString& password)
{
    if (m_dir.isEmpty()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    const bool root = ::geteuid() == 0;
    const passwd* pg = root ? ::getpwnam("postgres") : nullptr;
    if (root && (!pg || ::chown(m_dir.toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0)) {
        *why = QStringLiteral("no postgres user to run the server as");
        return false;
    }
    m_port = freeLoopbackPort();
    QStringList init{"-D", m_dir + "/data", "-U", "postgres", "-E", "UTF8", "--locale=C", "--no-sync"};
    if (tls) {
        QFile pw(m_dir + "/pw");
        if (!pw.open(QIODevice::WriteOnly)) return false;
        pw.write(password.toUtf8() + "\n");
        pw.close();
        if (root && ::chown(pw.fileName().toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0) return false;
        init << "--auth-local=trust" << "--auth-host=scram-sha-256" << "--pwfile" << pw.fileName();
    } else {
        init << "-A" << "trust";
    }
    if (!run(kPgBin + "initdb", init, why)) return false;
    if (tls) {
        // The server's key must be its own; the clients must come over TLS.
        for (const auto& [from, to] : {std::pair{tls->serverCert, QString("server.pem")}, {tls->serverKey, QString("server.key")}}) {
            const QString target = m_dir + "/data/" + to;
            QFile::copy(from, target);
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            if (root && ::chown(target.toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0) return false;
        }
        QFile conf(m_dir + "/data/postgresql.conf");
        conf.open(QIODevice::Append);
        conf.write("ssl = on\nssl_cert_file = 'server.pem'\nssl_key_file = 'server.key'\n");
        conf.close();
        QFile hba(m_dir + "/data/pg_hba.conf");
        hba.open(QIODevice::WriteOnly | QIODevice::Truncate);
        hba.write("local all all trust\nhostssl all all 127.0.0.1/32 scram-sha-256\nhostssl all all ::1/128 scram-sha-256\n");
        hba.close();
    }
    if (!restart(why)) return false;
    return run(kPgBin + "createdb", {"-h", m_dir, "-p", QString::number(m_port), "-U", "postgres", "zrv"}, why);
}

bool PgServer::restart(QString* why)
{
    m_running = run(kPgBin + "pg_ctl",
                    {"-D", m_dir + "/data", "-l", m_dir + "/log", "-w", "-t", "60", "-o",
                     QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off").arg(m_port).arg(m_dir),
                     "start"},
                    why);
    return m_running;
}

void PgServer::stop()
{
    if (!m_running) return;
    run(kPgBin + "pg_ctl", {"-D", m_dir + "/data", "-m", "fast", "-w", "stop"}, nullptr);
    m_running = false;
}

bool PgServer::sql(const QString& statements, QString* why)
{
    return run(kPgBin + "psql", {"-h", m_dir, "-p", QString::number(m_port), "-U", "postgres", "-d", "zrv", "-q", "-v",
                                 "ON_ERROR_STOP=1", "-c", statements},
               why);
}

QString PgServer::url() const { return QStringLiteral("postgresql://postgres@127.0.0.1:%1/zrv").arg(m_port); }

MosquittoBroker::MosquittoBroker() : m_dir(makeDir("zrv-mqtt")) {}

MosquittoBroker::~MosquittoBroker()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGCONT);
        ::kill(pid_t(m_pid), SIGTERM);
        for (int i = 0; i < 50 && ::kill(pid_t(m_pid), 0) == 0; ++i) QThread::msleep(20);
    }
    if (!m_dir.isEmpty()) QDir(m_dir).removeRecursively();
}

void MosquittoBroker::freeze(bool frozen)
{
    if (m_pid > 0) ::kill(pid_t(m_pid), frozen ? SIGSTOP : SIGCONT);
}

bool MosquittoBroker::start(QString* why, const TestCertificates* tls, const QString& user, const QString& password)
{
    m_port = freeLoopbackPort();
    QFile conf(m_dir + "/mosquitto.conf");
    if (!conf.open(QIODevice::WriteOnly)) {
        *why = conf.errorString();
        return false;
    }
    conf.write(QStringLiteral("listener %1 127.0.0.1\npersistence false\n").arg(m_port).toUtf8());
    if (tls) {
        const QString passwords = m_dir + "/passwd";
        if (!runTool("mosquitto_passwd", {"-c", "-b", passwords, user, password}, why)) return false;
        conf.write(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\npassword_file %4\nallow_anonymous false\n")
                       .arg(tls->ca, tls->serverCert, tls->serverKey, passwords)
                       .toUtf8());
    } else {
        conf.write("allow_anonymous true\n");
    }
    // As root the broker would switch to its own user; it needs nothing of ours.
    if (::geteuid() == 0) conf.write("user root\n");
    conf.close();
    QProcess p;
    p.setProgram(QStringLiteral("/usr/sbin/mosquitto"));
    p.setArguments({"-c", conf.fileName()});
    p.setStandardOutputFile(m_dir + "/log");
    p.setStandardErrorFile(m_dir + "/log");
    if (!p.startDetached(&m_pid)) {
        *why = QStringLiteral("mosquitto did not start");
        return false;
    }
    // Ready once it accepts.
    for (int i = 0; i < 100; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (up) return true;
        QThread::msleep(50);
    }
    QFile log(m_dir + "/log");
    log.open(QIODevice::ReadOnly);
    *why = QStringLiteral("mosquitto does not accept: ") + QString::fromLocal8Bit(log.readAll());
    return false;
}

NodeExporter::~NodeExporter()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        for (int i = 0; i < 100 && ::kill(pid_t(m_pid), 0) == 0; ++i) QThread::msleep(20);
    }
}

bool NodeExporter::start(const QString& folder, QString* why)
{
    m_port = freeLoopbackPort();
    QProcess p;
    p.setProgram(QStringLiteral("/usr/bin/prometheus-node-exporter"));
    p.setArguments({QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port), "--collector.disable-defaults",
                    "--collector.textfile", "--collector.textfile.directory=" + folder});
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(folder + "/../node_exporter.log");
    if (!p.startDetached(&m_pid)) {
        *why = QStringLiteral("prometheus-node-exporter did not start");
        return false;
    }
    for (int i = 0; i < 100; ++i) {
        if (!scrape().isEmpty()) return true;
        QThread::msleep(50);
    }
    *why = QStringLiteral("prometheus-node-exporter does not answer on port %1").arg(m_port);
    return false;
}

QByteArray NodeExporter::scrape() const { return httpGet(m_port, "/metrics"); }

QByteArray httpGet(int port, const QByteArray& path)
{
    const int fd = connectLoopback(port);
    if (fd < 0) return {};
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const QByteArray request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::write(fd, request.constData(), std::size_t(request.size())) != request.size()) {
        ::close(fd);
        return {};
    }
    // Read to the end of the body its length gives (a server may keep the
    // connection open all the same), or to the end of the stream.
    QByteArray reply;
    char buf[8192];
    ssize_t n;
    qsizetype wanted = -1;
    while ((wanted < 0 || reply.size() < wanted) && (n = ::read(fd, buf, sizeof buf)) > 0) {
        reply.append(buf, n);
        const qsizetype end = reply.indexOf("\r\n\r\n");
        if (wanted < 0 && end >= 0) {
            const QByteArray head = reply.left(end).toLower();
            const qsizetype at = head.indexOf("content-length:");
            if (at >= 0) wanted = end + 4 + head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        }
    }
    ::close(fd);
    const qsizetype body = reply.indexOf("\r\n\r\n");
    if (!reply.startsWith("HTTP/1.0 200") && !reply.startsWith("HTTP/1.1 200")) return {};
    return body < 0 ? QByteArray() : reply.mid(body + 4);
}

Forwarder::Forwarder(int target) : m_target(target)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_listen, 64) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { loop(); });
}

Forwarder::~Forwarder()
{
    m_stopping = true;
    m_thread.join();
    ::close(m_listen);
}

void Forwarder::loop()
{
    std::vector<std::pair<int, int>> pairs;  // client, server
    while (!m_stopping) {
        if (m_frozen) {
            QThread::msleep(20);
            continue;
        }
        std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
        for (const auto& [client, server] : pairs) {
            fds.push_back({client, POLLIN, 0});
            fds.push_back({server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = client >= 0 ? connectLoopback(m_target) : -1;
            if (server >= 0) pairs.emplace_back(client, server);
            else if (client >= 0) ::close(client);
        }
        std::vector<std::size_t> closed;
        for (std::size_t i = 0; i < pairs.size() && !m_frozen; ++i) {
            for (int side = 0; side < 2; ++side) {
                const pollfd& p = fds[1 + 2 * i + std::size_t(side)];
                if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char buf[16384];
                const ssize_t n = ::read(p.fd, buf, sizeof buf);
                const int to = side == 0 ? pairs[i].second : pairs[i].first;
                bool ok = n > 0;
                for (ssize_t done = 0; ok && done < n;) {
                    const ssize_t w = ::write(to, buf + done, std::size_t(n - done));
                    ok = w > 0;
                    done += std::max<ssize_t>(w, 0);
                }
                if (!ok && (closed.empty() || closed.back() != i)) closed.push_back(i);
            }
        }
        for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
            ::close(pairs[*it].first);
            ::close(pairs[*it].second);
            pairs.erase(pairs.begin() + std::ptrdiff_t(*it));
        }
    }
    for (const auto& [client, server] : pairs) {
        ::close(client);
        ::close(server);
    }
}

PrometheusServer::PrometheusServer() : m_dir(makeDir("zrv-prometheus")) {}

PrometheusServer::~PrometheusServer()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        for (int i = 0; i < 250 && ::kill(pid_t(m_pid), 0) == 0; ++i) QThread::msleep(20);
    }
    if (!m_dir.isEmpty()) QDir(m_dir).removeRecursively();
}

bool PrometheusServer::start(int target, QString* why)
{
    m_port = freeLoopbackPort();
    QFile conf(m_dir + "/prometheus.yml");
    if (!conf.open(QIODevice::WriteOnly)) {
        *why = conf.errorString();
        return false;
    }
    conf.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                              "scrape_configs:\n  - job_name: zrvcollect\n    static_configs:\n"
                              "      - targets: ['127.0.0.1:%1']\n")
                   .arg(target)
                   .toUtf8());
    conf.close();
    QProcess p;
    p.setProgram(QStringLiteral("/usr/bin/prometheus"));
    p.setArguments({"--config.file=" + m_dir + "/prometheus.yml", "--storage.tsdb.path=" + m_dir + "/data",
                    QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port)});
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(m_dir + "/prometheus.log");
    if (!p.startDetached(&m_pid)) {
        *why = QStringLiteral("prometheus did not start");
        return false;
    }
    for (int i = 0; i < 300; ++i) {
        if (!httpGet(m_port, "/-/ready").isEmpty()) return true;
        QThread::msleep(50);
    }
    QFile log(m_dir + "/prometheus.log");
    log.open(QIODevice::ReadOnly);
    *why = QStringLiteral("prometheus does not answer on port %1: ").arg(m_port) + QString::fromUtf8(log.readAll().right(2000));
    return false;
}

QByteArray PrometheusServer::query(const QString& expression) const
{
    return httpGet(m_port, "/api/v1/query?query=" + QUrl::toPercentEncoding(expression));
}
