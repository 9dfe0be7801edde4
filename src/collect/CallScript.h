#pragma once
// One call of one station, as one script on the session's I/O thread: open
// (dial), detect and read all tables, one polling step, the device clock (set
// when the roster allows and past its tolerance), the journal records new
// since the cursor, the setpoints against the approved profile, hang up.
// Setpoints are never written, nor anything else but the clock.

#include "collect/FleetTypes.h"
#include "session/CallLine.h"

#include <QString>

#include <functional>
#include <map>

namespace zrv::collect {

struct CallPlan {
    Station station;
    int attempt = 1;
    // Where the reading of each device's journal stands, by device number
    // (a device not here: the whole ring).
    std::map<unsigned, journal::JournalCursor> known;
};

// The phase for the live line ("набор номера ...", "чтение журнала ...").
// Called on the I/O thread.
using CallProgress = std::function<void(const QString& phase)>;

CallResult runStationCall(CallLine& line, const CallPlan& plan, const CallProgress& progress);

}  // namespace zrv::collect
