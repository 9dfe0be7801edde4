#pragma once
// The device clock's requests of the line (see link/Requests.h).

#include "clock/ClockLogic.h"
#include "link/Requests.h"

namespace zrv::clock {

// The time, the date or both, each a read of its own. A read asked while
// one still waits is dropped: the one waiting will do.
struct Read {
    bool time = true;
    bool date = true;
    constexpr QueueRule rule() const { return {true, false}; }
};

// Time and date set in one block.
struct Set {
    TimeOfDay time;
    CivilDate date;
    constexpr QueueRule rule() const { return {}; }
};

}  // namespace zrv::clock
