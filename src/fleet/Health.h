#pragma once
// What needs a visit: each call judged against the station's rules, from
// what the call read and what the store remembers of the station's last
// calls. A finding stays open while calls keep seeing it and is cleared by
// the first call that looks and no longer does; a value no device could
// report (a battery of -5 V, a clock years off, NaN) neither raises nor
// clears anything.

#include <QDateTime>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zrv::fleet {

struct CallResult;
struct Station;

// The stored words of the kinds; a store may hold others (a newer collector)
// and those are shown and kept as they are.
namespace kind {
inline constexpr const char* kBatteryLow = "battery-low";
inline constexpr const char* kBatteryFalling = "battery-falling";
inline constexpr const char* kOnBattery = "on-battery";
inline constexpr const char* kClockOffset = "clock-offset";
inline constexpr const char* kClockDrift = "clock-drift";
inline constexpr const char* kPressureP2 = "pressure-p2";
inline constexpr const char* kPressureP1 = "pressure-p1";
inline constexpr const char* kSetpoints = "setpoints";
inline constexpr const char* kLink = "link";
}  // namespace kind

inline constexpr const char* kWarning = "warning";
inline constexpr const char* kCritical = "critical";

// Thresholds a utility would choose; `[health]` of the roster and a
// station's own `health` table override them.
struct HealthRules {
    double batteryWarningV = 3.4;
    double batteryCriticalV = 3.2;
    double batteryFallV = 0.1;  // per 30 days, fitted over the calls of that span
    bool onBatteryWarns = true;
    double clockDriftSPerDay = 10;
    double linkFailures = 0.2;  // share of failed transactions
    int linkCalls = 10;         // over this many last calls
};

struct Finding {
    std::string kind;
    std::string severity;  // kWarning or kCritical
    std::string since;     // UTC, ISO 8601: the call (or journal record) that first saw it
    std::string text;      // for people, in Russian
    std::map<std::string, double> values;  // what raised it, by name

    bool critical() const { return severity == kCritical; }
};

// What the store remembers of a station.
struct PastCall {
    QDateTime started;  // UTC
    bool ok = false;
    std::optional<double> vbat;
    std::optional<long long> clockOffsetS;
    bool clockSet = false;
    int transactionsOk = 0, transactionsFailed = 0;
};
struct StationHistory {
    std::vector<PastCall> calls;  // newest first, at most the last 30 days
    std::vector<Finding> open;
    std::optional<QDateTime> lastSuccess;
};

// What a call judged: the findings open after it (those of kinds it could
// not judge carried over), the kinds it judged (a store clears an open
// finding of such a kind that is not among `open`), and what it opened and
// cleared against the history.
struct Health {
    std::vector<Finding> open;
    std::vector<std::string> judged;
    std::vector<Finding> opened;
    std::vector<Finding> cleared;
};

Health judgeCall(const Station& station, const StationHistory& history, const CallResult& call);

// The history with the call added, as the next call of the round sees it.
void remember(StationHistory& history, const CallResult& call, const Health& health);

// Values a device can report; anything else is no reading.
bool plausibleVolts(double v);
bool plausibleOffset(long long seconds);

// "battery-low" -> "батарея разряжена"; an unknown kind as it stands.
std::string kindText(const std::string& kind);

}  // namespace zrv::fleet
