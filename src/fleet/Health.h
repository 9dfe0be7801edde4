#pragma once
// What needs a visit: each call judged against the station's rules, from
// what the call read and what the store remembers of the station's last
// calls. A finding stays open while calls keep seeing it and is cleared by
// the first call that looks and no longer does; a value no device could
// report (a battery of -5 V, a clock years off, NaN) neither raises nor
// clears anything.

#include "fleet/Findings.h"
#include "fleet/Outcome.h"

#include <QDateTime>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace zrv::fleet {

struct CallResult;
struct Station;

// What the store remembers of a station.
struct PastCall {
    QDateTime started;  // UTC
    bool ok = false;
    std::optional<double> vbat;
    std::optional<long long> clockOffsetS;
    bool clockSet = false;
    int transactionsOk = 0, transactionsFailed = 0;
    bool lineTaken = false;  // see lineTaken()
};
struct StationHistory {
    std::vector<PastCall> calls;  // newest first, at most the last 30 days
    std::vector<Finding> open;
    std::optional<QDateTime> lastSuccess;
};

// A dial the modem answered BUSY: the station's line was held by another
// call (another collector's, after a claim passed on, or one still hanging
// up). It is stored as the failed call it is and backs the schedule off, but
// says nothing of the line's health: the link finding passes it over. A line
// that stays busy shows as overdue.
bool lineTaken(Outcome outcome, const std::string& why);

Health judgeCall(const Station& station, const StationHistory& history, const CallResult& call);

// The history with the call added, as the next call of the round sees it.
void remember(StationHistory& history, const CallResult& call, const Health& health);

// Values a device can report; anything else is no reading.
bool plausibleVolts(double v);
bool plausibleOffset(long long seconds);
bool plausiblePressure(double v);

// A finding's values as JSON (the store's `detail`, MQTT, the spool), and
// back: numbers only, at most 32 (kFindingValues); a NaN is null.
inline constexpr int kFindingValues = 32;
QJsonObject findingValuesToJson(const std::map<std::string, double>& values);
std::map<std::string, double> findingValuesFromJson(const QJsonObject& o);

}  // namespace zrv::fleet
