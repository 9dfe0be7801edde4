#pragma once
// The modem dialogue's requests of the line (see link/Requests.h), while
// the connection is dialling.

#include "link/Requests.h"

#include <string>

namespace zrv::modem {

// Dials the number; the dialogue is then supervised by ticks until the
// modem answers.
struct Dial {
    std::string number;
    constexpr QueueRule rule() const { return {}; }
};

// One look at the modem's answer; one waiting will do.
struct Tick {
    constexpr QueueRule rule() const { return {true, false}; }
};

// The dial abandoned and the port closed: it still runs at the close.
struct CancelDial {
    constexpr QueueRule rule() const { return {false, true}; }
};

}  // namespace zrv::modem
