#pragma once
// What is asked of the one line, as values. Each request says how it meets
// the queue of the session's I/O thread; the session runs it and answers
// through the request's reply. The connection's own requests are here, each
// subsystem's beside its logic (X/Requests.h), so that a new request is a
// value in its own library and one runner in the session.

#include <string>

namespace zrv {

// How a request meets the queue: whether it is dropped while one of its kind
// still waits (the one waiting will do), and whether the close still runs
// it (what ends a connection: control given back, the line hung up, a dial
// abandoned).
struct QueueRule {
    bool coalesce = false;
    bool runsAtClose = false;
};

// The port by its "COMn" name, a modem's dialogue on it first when
// `viaModem`, then the device looked for and its tables read whole.
struct Connect {
    std::string port;
    bool viaModem = false;
    constexpr QueueRule rule() const { return {}; }
};

// Ends the connection the way it was made: control given back, a modem
// call hung up, the port closed.
struct Disconnect {
    constexpr QueueRule rule() const { return {false, true}; }
};

// Coil 15, by this terminal's choice ("Внешнее управление"). Giving control
// back is part of ending a connection: it still runs at the close.
struct ExternalControl {
    bool on = false;
    constexpr QueueRule rule() const { return {false, !on}; }
};

}  // namespace zrv
