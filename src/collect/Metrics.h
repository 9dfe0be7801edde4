#pragma once
// The fleet's health in the Prometheus text format, for node_exporter's
// textfile collector: a file written whole (a temporary file renamed over
// it), so a scrape never reads half of one.

#include "collect/FleetTypes.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zrv::collect {

// Per station: zrv_up, zrv_last_success_timestamp_seconds,
// zrv_battery_volts, zrv_clock_offset_seconds, zrv_open_findings{kind,
// severity}; per line, zrv_line_failure_ratio over the stations' last calls.
// A value not read (or read out of all reason) is NaN, as the format writes it.
QByteArray renderMetrics(const Roster& roster, const std::map<std::string, StationHistory>& histories);

// A sample's value as the format writes it: NaN, +Inf, -Inf, or the number.
QByteArray metricValue(double v);

// "ГРП \"12\"" for a label value: backslash, quote and line feed escaped.
QString labelValue(const QString& v);

// Writes the newest text it was given on a thread of its own, so a folder on
// a slow or hung disk never holds up a call; a text that comes while one is
// being written replaces the one waiting.
class MetricsFile {
public:
    // `problem` is told, once per run, why the file could not be written.
    MetricsFile(QString path, std::function<void(const std::string&)> problem);
    ~MetricsFile();  // writes what waits, then ends
    void post(QByteArray text);
    // Waits until what was posted is written or failed (tests, the end of a run).
    void flush();

    static bool writeAtomically(const QString& path, const QByteArray& text, std::string* why);

private:
    void run();
    QString m_path;
    std::function<void(const std::string&)> m_problem;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::optional<QByteArray> m_waiting;
    bool m_busy = false, m_stop = false, m_told = false;
    std::thread m_thread;
};

}  // namespace zrv::collect
