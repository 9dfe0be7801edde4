#pragma once
// What needs a visit, as the roster sets it and the stores keep it: the
// kinds of finding, the thresholds, a finding, and what a call judged.
// Plain C++, so that the roster's parser stays free of Qt (see Health.h for
// the judging).

#include <map>
#include <string>
#include <vector>

namespace zrv::fleet {

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
inline constexpr const char* kOverdue = "overdue";
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

// "battery-low" -> "батарея разряжена"; an unknown kind as it stands.
std::string kindText(const std::string& kind);

}  // namespace zrv::fleet
