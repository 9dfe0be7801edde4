#pragma once
// What one call of a station brought back: stored, published and summed up.

#include "fleet/Findings.h"
#include "fleet/Outcome.h"
#include "journal/JournalCursor.h"
#include "journal/JournalReading.h"
#include "monitor/PollSnapshot.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace zrv::fleet {


struct CallResult {
    QString callId;  // unique; a replayed call keeps it
    std::string station;
    std::string port;
    QDateTime started;  // UTC
    double seconds = 0;
    int attempt = 1;  // which try of the round this was
    Outcome outcome = Outcome::Stopped;
    std::string why;  // what went wrong, in words, when not ok

    unsigned deviceNumber = 0;  // 0 until found
    std::optional<Measurements> measurements;
    std::optional<bool> onBattery;  // the power source, from the same poll

    // The device's own cut-off limits (holding registers 50/52, 104/106), as
    // read with the setpoints.
    struct Limits {
        float p2Max = 0, p2Min = 0, p1Max = 0, p1Min = 0;
    };
    std::optional<Limits> limits;

    // Device local time against the host's local time at the read, in
    // seconds (positive: the device is ahead).
    std::optional<long long> clockOffsetS;
    QString deviceTime;  // as read, local, "yyyy-MM-ddTHH:mm:ss"
    bool clockSet = false;

    // The new records newest first, then those of gaps earlier calls left,
    // each gap newest first.
    std::vector<journal::RecordData> records;
    bool journalCutShort = false;
    // Where the journal reading stands after this call (none: not read).
    // Stores keep it once the call is safe in every one of them.
    std::optional<journal::JournalCursor> cursor;
    // The ring wrote over records of a gap before they could be read: about
    // how many (see CursorReading).
    int recordsLost = 0;

    // Registers whose value differs from the approved profile; empty
    // without a profile or when none differ (see hasProfile).
    bool hasProfile = false;
    std::vector<int> setpointDifferences;
    std::string profileProblem;  // the profile could not be read

    int transactionsOk = 0;
    int transactionsFailed = 0;
    // The failures by kind: the line's health, not just its count.
    int timeouts = 0;    // nothing came back
    int crcErrors = 0;   // a garbled reply
    int exceptions = 0;  // the device refused
    int otherFailures = 0;

    // What the call was judged to show (see Health.h); set by the collector
    // before the call goes to the stores.
    Health health;

    // The collector that made the call (its name), and when the station is
    // next due after it: stored in the call's own transaction, so that a
    // call and its schedule are never out of step. Unset (no schedule) for
    // a call from before schedules.
    std::string collector;
    std::optional<QDateTime> nextDue;
    // The number of the claim the call was made under (a shared roster's
    // pool or port station); none for a call made without one.
    std::optional<long long> leaseToken;

    bool ok() const { return outcome == Outcome::Ok; }
};

}  // namespace zrv::fleet
