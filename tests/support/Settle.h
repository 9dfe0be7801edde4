#pragma once
// Waiting for a session the way the program's window thread would: events
// keep flowing (timers fire, modal windows open) until the session has
// nothing queued or running and every result it posted has been delivered.

namespace zrv {
class Session;
}

void settle(zrv::Session& session);
