#include "Ports.h"

#include "collect/Printout.h"
#include "collect/StationCall.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

namespace zrv::collect {

Ports::Ports(const Roster& roster, Cursors cursors, int jobs, bool live, QString stateDir, FILE* err, QObject* parent)
    : QObject(parent),
      m_roster(roster),
      m_cursors(std::move(cursors)),
      m_jobs(std::max(1, jobs)),
      m_live(live),
      m_stateDir(std::move(stateDir)),
      m_err(err)
{
}

Ports::~Ports()
{
    for (auto& p : m_ports)
        if (p->lockFd >= 0) ::close(p->lockFd);
}

QString Ports::lockPathFor(const QString& stateDir, const std::string& port)
{
    QString name = QString::fromStdString(port);
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-')) c = QLatin1Char('_');
    const QFileInfo runLock(QStringLiteral("/run/lock"));
    const QString folder = runLock.isDir() && runLock.isWritable() ? runLock.filePath() : stateDir;
    return folder + QStringLiteral("/zrvcollect-") + name + QStringLiteral(".lock");
}

Ports::Port& Ports::named(const std::string& name)
{
    const auto it = std::find_if(m_ports.begin(), m_ports.end(), [&](const auto& p) { return p->name == name; });
    if (it != m_ports.end()) return **it;
    m_ports.push_back(std::make_unique<Port>());
    m_ports.back()->name = name;
    return *m_ports.back();
}

bool Ports::idle() const
{
    return std::none_of(m_ports.begin(), m_ports.end(), [](const auto& p) { return p->busy(); });
}

int Ports::calling() const
{
    int n = 0;
    for (const auto& p : m_ports) n += p->call != nullptr;
    return n;
}

void Ports::start()
{
    int running = 0;
    for (auto& p : m_ports) running += p->running;
    for (auto& p : m_ports) {
        if (running >= m_jobs) break;
        if (p->running || (p->queue.empty() && !p->call)) continue;
        p->running = true;
        ++running;
        const QString lock = lockPathFor(m_stateDir, p->name);
        p->lockFd = ::open(lock.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (p->lockFd < 0 || ::flock(p->lockFd, LOCK_EX | LOCK_NB) != 0) {
            // Another collector calls on this port now: its stations are
            // not broken into that call.
            const bool say = m_driver->lockRefused(*p, lock);
            p->queue.clear();
            if (say) std::fprintf(m_err, "%s: порт занят другим сборщиком, станции порта пропущены\n", p->name.c_str());
            QMetaObject::invokeMethod(this, [this, port = p.get()] { done(*port); }, Qt::QueuedConnection);
            continue;
        }
        p->lockedUntilMs = 0;
        next(*p);
    }
}

void Ports::next(Port& port)
{
    if (port.call) return;
    if (m_stopping) port.queue.clear();
    if (port.queue.empty()) return done(port);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    auto ready = std::find_if(port.queue.begin(), port.queue.end(), [now](const Pending& p) { return p.notBeforeMs <= now; });
    if (ready == port.queue.end()) {
        qint64 soonest = port.queue.front().notBeforeMs;
        for (const Pending& p : port.queue) soonest = std::min(soonest, p.notBeforeMs);
        port.phase = QStringLiteral("ожидание повтора");
        QTimer::singleShot(int(std::max<qint64>(1, soonest - now)), this, [this, &port] { next(port); });
        return;
    }
    const Pending job = *ready;
    port.queue.erase(ready);
    port.current = job.station;
    port.calling = m_roster.stations[job.station];
    if (!port.calling.pool.empty()) port.calling.port = port.name;
    const Station& station = port.calling;
    port.call = std::make_unique<StationCall>(CallPlan{station, job.attempt, m_cursors(station.name)},
                                              [&port](const QString& phase) { port.phase = phase; });
    connect(port.call.get(), &StationCall::finished, this,
            [this, &port] { QMetaObject::invokeMethod(this, [this, &port] { finished(port); }, Qt::QueuedConnection); });
    m_driver->starting(port, station, job.attempt);
    port.call->start();
}

void Ports::finished(Port& port)
{
    if (!port.call) return;
    CallResult r = port.call->result();
    const Station station = port.calling;
    // The session may still be closing its thread: let it go once back in
    // the event loop.
    port.call.release()->deleteLater();
    const std::optional<qint64> again = m_driver->ended(port, r, station);
    if (again) port.queue.push_back({port.current, r.attempt + 1, QDateTime::currentMSecsSinceEpoch() + *again * 1000});
    else ++port.done;
    if (!m_live) {
        std::fprintf(m_err, "%s\n", callLine(port.name, r, again).toUtf8().constData());
        std::fflush(m_err);
    }
    next(port);
}

void Ports::done(Port& port)
{
    if (!port.running) return;
    port.running = false;
    if (port.lockFd >= 0) {
        ::close(port.lockFd);
        port.lockFd = -1;
    }
    port.phase = QStringLiteral("готово");
    start();
    m_driver->portIdle();
}

void Ports::stop()
{
    m_stopping = true;
    for (auto& p : m_ports) {
        p->queue.clear();
        if (p->call) p->call->stop();
    }
    for (auto& p : m_ports)
        if (!p->call && p->running) done(*p);
}

void Ports::redraw()
{
    if (!m_live) return;
    std::vector<PortLine> lines;
    for (const auto& p : m_ports)
        lines.push_back({p->name, p->done, p->total, p->call ? m_roster.stations[p->current].name : std::string(), p->phase});
    std::fputs(liveLines(lines, m_drawnLines).constData(), m_err);
    m_drawnLines = int(m_ports.size());
    std::fflush(m_err);
}

}  // namespace zrv::collect
