#pragma once
// What the collector prints as it goes: a line for each call made, a line a
// port redrawn in place on a terminal, and a round's summary table.

#include "collect/FleetTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zrv::collect {

// A finished call on the port: its outcome, records and findings opened or
// cleared; `retryInS`, when it is tried again.
QString callLine(const std::string& port, const CallResult& call, std::optional<qint64> retryInS);

// One port as the live lines show it: the call of `station` (none: idle)
// is the (done + 1)-th of `total`.
struct PortLine {
    std::string port;
    int done = 0, total = 0;
    std::string station;
    QString phase;
};
// The ports' lines, drawn over the `drawnBefore` lines drawn last.
QByteArray liveLines(const std::vector<PortLine>& ports, int drawnBefore);

struct RoundSummary {
    const Roster& roster;
    const std::vector<CallResult>& results;  // in roster order
    const std::map<std::size_t, QDateTime>& notDue;  // not due this round: when it is
    const std::map<std::size_t, std::string>& elsewhere;  // another collector's: why
    std::size_t spooled = 0;
    int unsaved = 0;
};
QString roundSummary(const RoundSummary& round);

}  // namespace zrv::collect
