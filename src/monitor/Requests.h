#pragma once
// The monitor's requests of the line (see link/Requests.h): the polling step
// and the control panel's commands.

#include "link/Requests.h"

namespace zrv {

// One polling step. A tick while a step still waits is dropped: that step
// will do.
struct Poll {
    constexpr QueueRule rule() const { return {true, false}; }
};

// Inverts valve 1..8 (others are refused before the queue).
struct ToggleValve {
    int valve = 0;
    constexpr QueueRule rule() const { return {}; }
};

// One step of the setpoint up or down.
struct Step {
    bool up = true;
    constexpr QueueRule rule() const { return {}; }
};

// The operating mode by its index in the panel's list.
struct SetMode {
    int index = 0;
    constexpr QueueRule rule() const { return {}; }
};

}  // namespace zrv
