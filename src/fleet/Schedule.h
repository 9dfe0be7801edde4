#pragma once
// When a station should be called: once its last successful call is older
// than its `every` (at once when it never succeeded; after a failed call,
// after the back-off of its retries), and only within its `hours`. The most
// overdue first.

#include "fleet/Health.h"
#include "fleet/Roster.h"

#include <QDateTime>

#include <map>
#include <string>
#include <vector>

namespace zrv::fleet {

// When the station is (or was) due, from what the store remembers of it; a
// station without `every` is due at `now`, every round.
QDateTime dueAt(const Station& station, const StationHistory& history, const QDateTime& now);
// The same from the histories by station (a station without one: never called).
QDateTime dueAt(const Station& station, const std::map<std::string, StationHistory>& histories, const QDateTime& now);

// The local minute of the day, as `hours` are written.
int localMinute(const QDateTime& t);

// The roster's stations due at `now` whose hours allow a start, by index,
// the most overdue first (roster order among equals).
std::vector<std::size_t> dueStations(const Roster& roster, const std::map<std::string, StationHistory>& histories,
                                     const QDateTime& now);

}  // namespace zrv::fleet
