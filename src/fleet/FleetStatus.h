#pragma once
// The fleet as the terminal (and `zrvcollect --findings`) sees it: the
// collector's roster, what the collector's store says of each station's last
// call, its open findings and its history (read only: a reader never writes
// the collector's data), and the way from a station's port to a name in
// "Выбор устройства".

#include "fleet/Health.h"
#include "fleet/Paths.h"
#include "fleet/Roster.h"
#include "fleet/StoreReader.h"
#include "link/TransactOutcome.h"

#include <QDateTime>

#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

namespace zrv::fleet {

// A station's last call, as the store holds it.
struct LastCall {
    std::string startedUtc;  // ISO 8601, UTC
    int attempt = 1;
    std::string outcome;     // the store's word: "ok", "no-device", ...
    std::string why;
    unsigned deviceNumber = 0;               // 0: not found
    std::optional<long long> clockOffsetS;   // positive: the device is ahead
    std::optional<int> setpointDifferences;  // nothing: no profile compared
    int recordsRead = 0;

    bool failed() const { return outcome != kOkWord; }
    bool differs() const { return setpointDifferences.value_or(0) > 0; }
};

// Each station's open findings, by station name.
using StationFindings = std::map<std::string, std::vector<Finding>>;

// The last call of every station the store knows, by station name, and with
// `findings` their open findings; nothing and why (in Russian) when the
// store is missing, not a database or not the collector's. The source is an
// SQLite file or a PostgreSQL URL (see StoreReader.h). `busy`: the collector
// held the store longer than the short wait (the last values read are still
// good). `remark`: something the operator should know of a store that was
// read (a newer schema).
std::optional<std::map<std::string, LastCall>> readLastCalls(const std::string& source, std::string* why,
                                                             bool* busy = nullptr, std::string* remark = nullptr,
                                                             StationFindings* findings = nullptr);

// A station's history as its chart draws it, in time order; NaN where
// nothing (or nothing a device reports) was stored.
struct HistoryRead {
    struct Pressures {
        qint64 ms;  // since the epoch
        double p1, p2;
    };
    struct Call {
        qint64 ms;
        double vbat, clockOffsetS;
        double p2Max, p2Min, p1Max, p1Min;  // the cut-off limits it read
    };
    std::vector<Pressures> pressures;  // from the journal records
    std::vector<Call> calls;
};
std::optional<HistoryRead> readStationHistory(const std::string& source, const std::string& station,
                                              const QDateTime& fromUtc, std::string* why);

// The schema version of a store opened for reading (0: from before
// versions were kept); nothing and why when it cannot be read.
std::optional<long long> storeSchemaVersion(StoreConnection& db, std::string* why, bool* busy = nullptr);
// What a reader says of a store a newer collector wrote; empty when it is not.
std::string newerStoreRemark(long long version);
// A journal record's time as stored ("yyyy-MM-ddTHH:mm:ss", the device's
// local time) in ms since the epoch; nothing for what is no such time.
std::optional<qint64> recordedAtMs(const std::string& recordedAt);

// A store's `why` is read no further than this: a cell shows a line of it.
inline constexpr int kWhyRead = 4096;

// The store the collector writes for this roster: its first sqlite: store
// (a relative path taken against the roster's folder), else its first
// PostgreSQL URL, or the collector's default when the roster names no store
// at all. Empty (and why) when the roster's stores are all brokers.
std::string rosterStorePath(const Roster& roster, const std::string& rosterPath, std::string* why);


// Where a station's port stands among COM1..COM32: `com`, and, when an
// entry had to be made in the ports folder for it, what it holds.
struct PortChoice {
    int com = 0;
    std::string madeEntry;  // "tcp HOST PORT" or "-> /dev/..."; empty when none was made
};

// The entry the stations window made last, remembered by it: its own to
// reuse and to remove, as long as the entry still holds what it wrote.
struct OwnEntry {
    int com = 0;
    std::string content;  // as PortChoice::madeEntry
};

// The COMn for a station's port: COMn itself; for "tcp HOST PORT" or a
// device path, the ports-folder entry that already leads there, else the
// window's own entry made over for it, else a new one under the highest free
// name. A name in `reserved` (the roster's own COMn ports) is never taken or
// reused, so choosing one station never leads another's port elsewhere.
std::optional<PortChoice> preparePort(const std::string& stationPort, const std::set<int>& reserved,
                                      const std::optional<OwnEntry>& own, std::string* why);

// Removes the window's own entry, when it still holds what was written.
void removeOwnEntry(const OwnEntry& own);

// Whether COMn leads to the station's port now (no entry is made).
bool stationOnCom(const std::string& stationPort, int com);

}  // namespace zrv::fleet
