#pragma once
// What a serving collector itself did, in the Prometheus text exposition
// format, for its own /metrics: calls by outcome and their duration, records
// stored and lost, the spool, each store's queue and whether it answers, the
// shared database, leases and claims, and each line's use. Counted as things
// happen, so that a scrape only renders what is already here: it never waits
// for a store or a line. The stations' own gauges are not here: they come
// from the store, whichever collector called (`zrvcollect metrics`).

#include "fleet/CallResult.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zrv::collect {

using fleet::CallResult;

// Cumulative buckets, as Prometheus keeps them; the last is +Inf.
class Histogram {
public:
    explicit Histogram(std::vector<double> bounds) : m_bounds(std::move(bounds)), m_counts(m_bounds.size() + 1, 0) {}
    void observe(double v);
    QByteArray render(const char* name, const char* help) const;

private:
    std::vector<double> m_bounds;
    std::vector<unsigned long long> m_counts;  // per bucket, not cumulative
    double m_sum = 0;
    unsigned long long m_count = 0;
};

struct StoreGauge {
    QString name;   // as the summary shows it: no password
    std::size_t queued = 0;
    bool up = false;
};

class ServiceMetrics {
public:
    explicit ServiceMetrics(std::string version);

    // A call as it ended, on its line (the port it went out on).
    void called(const CallResult& call);
    // A call settled: written to every store (its records stored), or not.
    void settled(const CallResult& call, bool everywhere);
    void claimed(double seconds) { m_claims.observe(seconds); }

    // What is read at the scrape from what the collector holds.
    struct Now {
        std::vector<StoreGauge> stores;
        std::optional<bool> sharedDatabase;  // none without a shared roster
        std::size_t leases = 0;
        std::size_t spoolLines = 0;
        long long spoolBytes = 0;
    };
    QByteArray render(const Now& now) const;

private:
    struct Line {
        unsigned long long calls = 0, failed = 0;
        double busySeconds = 0;
    };
    std::string m_version;
    std::map<std::string, unsigned long long> m_calls;  // by outcome's name
    Histogram m_duration;
    Histogram m_claims;
    unsigned long long m_recordsStored = 0, m_recordsLost = 0;
    std::map<std::string, Line> m_lines;
};

}  // namespace zrv::collect
