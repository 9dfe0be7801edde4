#include "Servers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kPgBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

QString makeDir(const char* name)
{
    QByteArray pattern = QByteArray("/tmp/") + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return {};
    return QString::fromLocal8Bit(pattern);
}

}  // namespace

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
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

bool PgServer::start(QString* why)
{
    if (m_dir.isEmpty()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    if (::geteuid() == 0) {
        const passwd* pg = ::getpwnam("postgres");
        if (!pg || ::chown(m_dir.toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0) {
            *why = QStringLiteral("no postgres user to run the server as");
            return false;
        }
    }
    m_port = freeLoopbackPort();
    if (!run(kPgBin + "initdb", {"-D", m_dir + "/data", "-A", "trust", "-U", "postgres", "-E", "UTF8", "--locale=C",
                                 "--no-sync"},
             why))
        return false;
    if (!restart(why)) return false;
    return run(kPgBin + "createdb", {"-h", "127.0.0.1", "-p", QString::number(m_port), "-U", "postgres", "zrv"}, why);
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

QString PgServer::url() const { return QStringLiteral("postgresql://postgres@127.0.0.1:%1/zrv").arg(m_port); }

MosquittoBroker::MosquittoBroker() : m_dir(makeDir("zrv-mqtt")) {}

MosquittoBroker::~MosquittoBroker()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        for (int i = 0; i < 50 && ::kill(pid_t(m_pid), 0) == 0; ++i) QThread::msleep(20);
    }
    if (!m_dir.isEmpty()) QDir(m_dir).removeRecursively();
}

bool MosquittoBroker::start(QString* why)
{
    m_port = freeLoopbackPort();
    QFile conf(m_dir + "/mosquitto.conf");
    if (!conf.open(QIODevice::WriteOnly)) {
        *why = conf.errorString();
        return false;
    }
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(m_port).toUtf8());
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
