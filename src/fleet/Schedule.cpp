#include "Schedule.h"

#include <algorithm>

namespace zrv::fleet {

QDateTime dueAt(const Station& station, const StationHistory& history, const QDateTime& now)
{
    if (station.everyS <= 0) return now;
    // Never a success on record: due since ever.
    const QDateTime never = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    if (!history.calls.empty() && !history.calls.front().ok) {
        int failed = 0;
        for (const PastCall& c : history.calls) {
            if (c.ok) break;
            ++failed;
        }
        // The back-off of a round's retries, carried from call to call, and
        // never longer than the schedule itself.
        const qint64 backoff = std::min<qint64>(qint64(station.retryDelayS) << std::min(failed - 1, 20), station.everyS);
        return history.calls.front().started.addSecs(backoff);
    }
    if (!history.lastSuccess) return never;
    return history.lastSuccess->addSecs(station.everyS);
}

QDateTime dueAt(const Station& station, const std::map<std::string, StationHistory>& histories, const QDateTime& now)
{
    static const StationHistory kNone;
    const auto it = histories.find(station.name);
    return dueAt(station, it == histories.end() ? kNone : it->second, now);
}

int localMinute(const QDateTime& t)
{
    const QTime local = t.toLocalTime().time();
    return local.hour() * 60 + local.minute();
}

std::vector<std::size_t> dueStations(const Roster& roster, const std::map<std::string, StationHistory>& histories,
                                     const QDateTime& now)
{
    const int minute = localMinute(now);
    std::vector<std::pair<QDateTime, std::size_t>> due;
    for (std::size_t i = 0; i < roster.stations.size(); ++i) {
        const Station& s = roster.stations[i];
        if (!withinHours(s.window, minute)) continue;
        const QDateTime at = dueAt(s, histories, now);
        if (at <= now) due.emplace_back(at, i);
    }
    std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::size_t> out;
    for (const auto& d : due) out.push_back(d.second);
    return out;
}

}  // namespace zrv::fleet
