#pragma once
// What tests and benchmarks look at inside a session, and the pacing they
// take over; no window needs any of it.

#include "session/Session.h"

#include <cstddef>

namespace zrv {

class SessionProbe {
public:
    // No request queued or running, and no result waiting for delivery.
    static bool idle(const Session& s) { return s.isIdle(); }
    // Requests waiting behind the one running.
    static std::size_t queued(const Session& s) { return s.queued(); }
    // Blocks until no request is queued or running.
    static void waitUntilIdle(Session& s) { s.waitUntilIdle(); }
    // Off, the polling timer's ticks ask for nothing, and whoever drives
    // the session asks for each step with poll().
    static void setPollsItself(Session& s, bool on) { s.m_pollsItself = on; }
    // Whether the connection is polled (one step a second, unless a window
    // holds the line).
    static bool polling(const Session& s) { return s.m_polling; }
    // Whether the line is open (it closes on the I/O thread, a moment after
    // the state says so).
    static bool portOpen(const Session& s) { return s.m_portOpen.load(std::memory_order_acquire); }
};

}  // namespace zrv
