#include "ServiceMetrics.h"

#include "collect/Metrics.h"
#include "fleet/Outcome.h"

#include <cmath>

namespace zrv::collect {

namespace {

QByteArray head(const char* name, const char* type, const char* help)
{
    return QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

QByteArray label(const char* name, const QString& value)
{
    return QByteArray("{") + name + "=\"" + labelValue(value).toUtf8() + "\"}";
}

}  // namespace

void Histogram::observe(double v)
{
    if (!std::isfinite(v) || v < 0) return;
    std::size_t i = 0;
    while (i < m_bounds.size() && v > m_bounds[i]) ++i;
    ++m_counts[i];
    m_sum += v;
    ++m_count;
}

QByteArray Histogram::render(const char* name, const char* help) const
{
    QByteArray out = head(name, "histogram", help);
    unsigned long long cumulative = 0;
    for (std::size_t i = 0; i <= m_bounds.size(); ++i) {
        cumulative += m_counts[i];
        out += QByteArray(name) + "_bucket{le=\"" + (i < m_bounds.size() ? metricValue(m_bounds[i]) : "+Inf") + "\"} " +
               QByteArray::number(cumulative) + '\n';
    }
    out += QByteArray(name) + "_sum " + metricValue(m_sum) + '\n';
    out += QByteArray(name) + "_count " + QByteArray::number(m_count) + '\n';
    return out;
}

ServiceMetrics::ServiceMetrics(std::string version)
    : m_version(std::move(version)),
      // A call on a direct line takes seconds, a dialled one half a minute,
      // a long journal several minutes.
      m_duration({1, 2, 5, 10, 20, 30, 45, 60, 120, 300, 600}),
      m_claims({0.001, 0.002, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5})
{
    // Every outcome from the start, so that a rate over it is defined.
    for (fleet::Outcome o : {fleet::Outcome::Ok, fleet::Outcome::PortUnavailable, fleet::Outcome::DialFailed,
                             fleet::Outcome::NoDevice, fleet::Outcome::TablesUnread, fleet::Outcome::Incomplete,
                             fleet::Outcome::Stopped})
        m_calls[fleet::outcomeName(o)] = 0;
}

void ServiceMetrics::called(const CallResult& call)
{
    ++m_calls[fleet::outcomeName(call.outcome)];
    m_duration.observe(call.seconds);
    Line& line = m_lines[call.port];
    ++line.calls;
    line.failed += !call.ok();
    if (std::isfinite(call.seconds) && call.seconds > 0) line.busySeconds += call.seconds;
    m_recordsLost += std::max(0, call.recordsLost);
}

void ServiceMetrics::settled(const CallResult& call, bool everywhere)
{
    if (everywhere) m_recordsStored += call.records.size();
}

QByteArray ServiceMetrics::render(const Now& now) const
{
    QByteArray out = head("zrv_build_info", "gauge", "The collector's version; always 1.");
    out += "zrv_build_info" + label("version", QString::fromStdString(m_version)) + " 1\n";

    out += head("zrv_calls_total", "counter", "Calls this collector made, by how they ended.");
    for (const auto& [outcome, n] : m_calls)
        out += "zrv_calls_total" + label("outcome", QString::fromStdString(outcome)) + ' ' + QByteArray::number(n) + '\n';
    out += m_duration.render("zrv_call_duration_seconds", "How long a call took, from the port opened to the line hung up.");

    out += head("zrv_journal_records_stored_total", "counter", "Journal records of calls written to every store.");
    out += "zrv_journal_records_stored_total " + QByteArray::number(m_recordsStored) + '\n';
    out += head("zrv_journal_records_lost_total", "counter",
                "Journal records the device's ring wrote over before a call could read them (about).");
    out += "zrv_journal_records_lost_total " + QByteArray::number(m_recordsLost) + '\n';

    out += head("zrv_spool_lines", "gauge", "Calls waiting in the spool for a store that could not take them.");
    out += "zrv_spool_lines " + QByteArray::number(qulonglong(now.spoolLines)) + '\n';
    out += head("zrv_spool_bytes", "gauge", "Size of the spool file.");
    out += "zrv_spool_bytes " + QByteArray::number(now.spoolBytes) + '\n';

    out += head("zrv_store_queue_depth", "gauge", "Calls queued for a store's thread.");
    for (const StoreGauge& s : now.stores)
        out += "zrv_store_queue_depth" + label("store", s.name) + ' ' + QByteArray::number(qulonglong(s.queued)) + '\n';
    out += head("zrv_store_up", "gauge", "Whether the store took the last thing it was given (1) or not (0).");
    for (const StoreGauge& s : now.stores) out += "zrv_store_up" + label("store", s.name) + (s.up ? " 1\n" : " 0\n");

    if (now.sharedDatabase) {
        out += head("zrv_shared_database_up", "gauge", "Whether the database of the shared roster answers (1) or not (0).");
        out += QByteArray("zrv_shared_database_up ") + (*now.sharedDatabase ? "1" : "0") + '\n';
        out += head("zrv_leases_held", "gauge", "Stations claimed through the shared roster and being called now.");
        out += "zrv_leases_held " + QByteArray::number(qulonglong(now.leases)) + '\n';
        out += m_claims.render("zrv_claim_duration_seconds", "How long a claim of due stations took in the shared database.");
    }

    out += head("zrv_line_calls_total", "counter", "Calls made on a line (a port or a pool's modem).");
    for (const auto& [line, l] : m_lines)
        out += "zrv_line_calls_total" + label("line", QString::fromStdString(line)) + ' ' + QByteArray::number(l.calls) + '\n';
    out += head("zrv_line_failed_calls_total", "counter", "Calls on a line that did not end well.");
    for (const auto& [line, l] : m_lines)
        out += "zrv_line_failed_calls_total" + label("line", QString::fromStdString(line)) + ' ' + QByteArray::number(l.failed) +
               '\n';
    out += head("zrv_line_busy_seconds_total", "counter", "Time a line spent in calls.");
    for (const auto& [line, l] : m_lines)
        out += "zrv_line_busy_seconds_total" + label("line", QString::fromStdString(line)) + ' ' + metricValue(l.busySeconds) + '\n';
    return out;
}

}  // namespace zrv::collect
