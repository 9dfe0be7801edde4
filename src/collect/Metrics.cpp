#include "Metrics.h"

#include "text/SystemError.h"

#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace zrv::collect {

namespace {

struct Family {
    const char* name;
    const char* help;
    QByteArray lines;
};

QByteArray labels(std::initializer_list<std::pair<const char*, QString>> pairs)
{
    QByteArray out = "{";
    bool first = true;
    for (const auto& [name, v] : pairs) {
        if (!first) out += ',';
        first = false;
        out += name;
        out += "=\"" + labelValue(v).toUtf8() + '"';
    }
    return out + '}';
}

}  // namespace

QByteArray metricValue(double v)
{
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

QString labelValue(const QString& v)
{
    QString out;
    for (QChar c : v) {
        if (c == QLatin1Char('\\')) out += QLatin1String("\\\\");
        else if (c == QLatin1Char('"')) out += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n')) out += QLatin1String("\\n");
        else out += c;
    }
    return out;
}

QByteArray renderMetrics(const Roster& roster, const std::map<std::string, StationHistory>& histories)
{
    Family up{"zrv_up", "Whether the station's last call succeeded (1) or failed (0).", {}};
    Family success{"zrv_last_success_timestamp_seconds", "When the station's last successful call ended, Unix time.", {}};
    Family volts{"zrv_battery_volts", "Battery voltage read by the station's last call that read it.", {}};
    Family offset{"zrv_clock_offset_seconds", "Device clock minus host clock at the station's last clock reading.", {}};
    Family findings{"zrv_open_findings", "Open findings of the station by kind and severity.", {}};
    Family line{"zrv_line_failure_ratio", "Share of failed transactions over the last calls of the line's stations.", {}};
    struct Counts {
        long long ok = 0, failed = 0;
    };
    std::map<std::string, Counts> lines;
    static const StationHistory kNone;
    for (const Station& s : roster.stations) {
        const auto it = histories.find(s.name);
        const StationHistory& h = it == histories.end() ? kNone : it->second;
        const QByteArray station = labels({{"station", QString::fromStdString(s.name)}});
        up.lines += "zrv_up" + station + ' ' + (!h.calls.empty() && h.calls.front().ok ? "1" : "0") + '\n';
        if (h.lastSuccess && h.lastSuccess->isValid())
            success.lines += "zrv_last_success_timestamp_seconds" + station + ' ' +
                             metricValue(double(h.lastSuccess->toMSecsSinceEpoch()) / 1000.0) + '\n';
        double v = std::nan(""), off = std::nan("");
        for (const PastCall& p : h.calls)
            if (p.vbat) {
                if (plausibleVolts(*p.vbat)) v = *p.vbat;
                break;
            }
        for (const PastCall& p : h.calls)
            if (p.clockOffsetS) {
                if (plausibleOffset(*p.clockOffsetS)) off = double(*p.clockOffsetS);
                break;
            }
        volts.lines += "zrv_battery_volts" + station + ' ' + metricValue(v) + '\n';
        offset.lines += "zrv_clock_offset_seconds" + station + ' ' + metricValue(off) + '\n';
        for (const Finding& f : h.open)
            findings.lines += "zrv_open_findings" +
                              labels({{"station", QString::fromStdString(s.name)}, {"kind", QString::fromStdString(f.kind)},
                                      {"severity", QString::fromStdString(f.severity)}}) +
                              " 1\n";
        Counts& c = lines[s.port];
        int n = 0;
        for (const PastCall& p : h.calls) {
            if (n++ >= s.health.linkCalls) break;
            c.ok += std::max(0, p.transactionsOk);
            c.failed += std::max(0, p.transactionsFailed);
        }
    }
    for (const auto& [name, c] : lines)
        line.lines += "zrv_line_failure_ratio" + labels({{"line", QString::fromStdString(name)}}) + ' ' +
                      metricValue(c.ok + c.failed > 0 ? double(c.failed) / double(c.ok + c.failed) : std::nan("")) + '\n';
    QByteArray out;
    for (const Family* f : {&up, &success, &volts, &offset, &findings, &line}) {
        if (f->lines.isEmpty()) continue;
        out += QByteArray("# HELP ") + f->name + ' ' + f->help + "\n# TYPE " + f->name + " gauge\n" + f->lines;
    }
    return out;
}

bool MetricsFile::writeAtomically(const QString& path, const QByteArray& text, std::string* why)
{
    const QByteArray target = path.toLocal8Bit();
    // A name the textfile collector skips (it reads *.prom only) while half written.
    const QByteArray temp = target + ".tmp." + QByteArray::number(qint64(::getpid()));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const auto fail = [&](int error) {
        if (why) *why = path.toStdString() + ": " + text::systemErrorText(error);
        return false;
    };
    if (fd < 0) return fail(errno);
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, std::size_t(text.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temp.constData());
            return fail(error);
        }
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return fail(error);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return fail(error);
    }
    return true;
}

MetricsFile::MetricsFile(QString path, std::function<void(const std::string&)> problem)
    : m_path(std::move(path)), m_problem(std::move(problem)), m_thread([this] { run(); })
{
}

MetricsFile::~MetricsFile()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void MetricsFile::post(QByteArray text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting = std::move(text);
    }
    m_wake.notify_all();
}

void MetricsFile::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_waiting && !m_busy; });
}

void MetricsFile::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_waiting; });
        if (!m_waiting) return;
        const QByteArray text = std::move(*m_waiting);
        m_waiting.reset();
        m_busy = true;
        lock.unlock();
        std::string why;
        const bool ok = writeAtomically(m_path, text, &why);
        lock.lock();
        m_busy = false;
        if (!ok && !m_told) {
            m_told = true;
            lock.unlock();
            if (m_problem) m_problem(why);
            lock.lock();
        }
        m_idle.notify_all();
    }
}

}  // namespace zrv::collect
