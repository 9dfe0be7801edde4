#pragma once
// Waiting for a session the way the program's window thread would: events
// keep flowing (timers fire, modal windows open) until the session has
// nothing queued or running and every result it posted has been delivered.

#include <QString>

namespace zrv {
class Session;
struct SessionState;
}

void settle(zrv::Session& session);

// The session's state in one word, as the tests speak of it: "Disconnected",
// "Dialling", "Detecting", "Monitoring" (connected, idle), "ExternalControl"
// (the same, with this terminal's external control), "Busy" (a setpoint
// transfer), "ReadingJournal", "Call", "HangingUp".
QString stateName(const zrv::SessionState& state);
