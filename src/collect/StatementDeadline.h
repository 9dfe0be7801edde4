#pragma once
// A bound on how long one statement may keep a PostgreSQL connection
// waiting. A database behind a link that has gone silent (a WAN link, a
// firewall that dropped the connection's state, a VPN that hangs) answers
// nothing and closes nothing: libpq would wait in its read for ever, and
// TCP keepalives do not help where a middlebox still acknowledges. So a
// watcher shuts the connection's socket down under a statement that runs
// past its limit; libpq's read then fails, and the store's caller sees an
// unreachable database within the limit rather than never.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace zrv::collect {

class StatementDeadline {
public:
    StatementDeadline();
    ~StatementDeadline();
    StatementDeadline(const StatementDeadline&) = delete;
    StatementDeadline& operator=(const StatementDeadline&) = delete;

    // The connection's socket once it is open; -1 when there is none. Only
    // between statements, on the thread that runs them.
    void watch(int socket);

    // Runs one statement with a limit on it. True when it ran past the
    // limit and its connection was shut down.
    template <class Statement>
    bool run(std::chrono::milliseconds limit, Statement&& statement)
    {
        arm(limit);
        statement();
        return disarm();
    }

private:
    void arm(std::chrono::milliseconds limit);
    bool disarm();
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_socket = -1;
    std::optional<std::chrono::steady_clock::time_point> m_until;
    std::optional<std::chrono::steady_clock::time_point> m_sleepingUntil;  // the watcher's
    bool m_fired = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace zrv::collect
