#include "StatementDeadline.h"

#include <sys/socket.h>

namespace zrv::collect {

StatementDeadline::StatementDeadline()
{
    m_thread = std::thread([this] { loop(); });
}

StatementDeadline::~StatementDeadline()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void StatementDeadline::watch(int socket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_socket = socket;
}

void StatementDeadline::arm(std::chrono::milliseconds limit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto until = std::chrono::steady_clock::now() + limit;
    m_until = until;
    m_fired = false;
    // A watcher asleep until a time no later than this one looks again
    // then, and waits on for this statement: most statements wake nobody,
    // which on a busy machine is a context switch each one spared.
    if (!m_sleepingUntil || until < *m_sleepingUntil) m_cv.notify_all();
}

bool StatementDeadline::disarm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_until.reset();
    return m_fired;
}

void StatementDeadline::loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stopping || m_until; });
        if (m_stopping) return;
        const auto until = *m_until;
        m_sleepingUntil = until;
        // Woken early only for a statement with an earlier limit; at the
        // time, the statement it slept for may have ended, and another one
        // with a later limit may be running.
        m_cv.wait_until(lock, until, [this, until] { return m_stopping || (m_until && *m_until < until); });
        m_sleepingUntil.reset();
        if (m_stopping) return;
        if (!m_until || *m_until > std::chrono::steady_clock::now()) continue;
        // Still under the lock that disarming takes: the socket cannot have
        // been closed (and its number reused) since the statement began.
        if (m_socket >= 0) ::shutdown(m_socket, SHUT_RDWR);
        m_fired = true;
        m_until.reset();
    }
}

}  // namespace zrv::collect
