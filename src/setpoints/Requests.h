#pragma once
// The setpoint block's requests of the line (see link/Requests.h).

#include "link/Requests.h"

namespace zrv::setpoints {

// The device's block read whole; it replaces the operator's edits.
struct Read {
    constexpr QueueRule rule() const { return {}; }
};

// The operator's edits as they stand when asked, checked and written whole.
struct Write {
    constexpr QueueRule rule() const { return {}; }
};

}  // namespace zrv::setpoints
