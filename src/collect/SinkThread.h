#pragma once
// A store on a thread of its own, behind a bounded queue, so that no call and
// no port ever waits for a store: a slow broker or a database that has gone
// quiet holds up only its own queue. The store is opened, written and closed
// on that thread alone (a Qt SQL connection belongs to the thread that made
// it).

#include "collect/Output.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace zrv::collect {

class SinkThread {
public:
    // What a write came to: told on the store's thread.
    using Written = std::function<void(bool ok, const SinkError& error)>;

    SinkThread(std::unique_ptr<Sink> sink, std::size_t capacity);
    // What is queued is done first, then the store is closed on its thread.
    ~SinkThread();
    SinkThread(const SinkThread&) = delete;
    SinkThread& operator=(const SinkThread&) = delete;

    const QString& name() const { return m_name; }
    // Whether the output keeps journal cursors and history (see CursorKeeper).
    bool keepsCursor() const { return m_keepsCursor; }
    // Whether a call this store could not take goes to the spool (standard
    // output has no later: its writer waits for room instead).
    bool spools() const { return m_spools; }
    // For the collector's own metrics: what waits, and whether the store
    // took the last thing it was given (its opening, or a write).
    std::size_t queued();
    bool up() const { return m_up.load(std::memory_order_relaxed); }
    void markUp(bool up) { m_up.store(up, std::memory_order_relaxed); }

    // Opens the store and writes the call. False, at once, when the queue is
    // full (unless the store does not spool: then it waits for room).
    // Writes queued while an earlier one found the store unreachable fail
    // with its reason without trying again: they would only wait as long.
    bool write(const CallResult& call, Written done);
    // Any work on the store, queued behind the writes (moving a cursor).
    void post(std::function<void(Sink&)> job);
    // Runs job on the store's thread and waits for it: only between rounds
    // (the spool, the cursors), never while calls run.
    void runAndWait(std::function<void(Sink&)> job);

private:
    struct Job {
        uint64_t seq = 0;
        std::function<void(Sink&)> run;  // any work, or:
        std::shared_ptr<const CallResult> call;  // a write
        Written done;
    };
    enum class Room { Refuse, Wait, Always };
    bool push(Job job, Room room);
    void loop();

    std::unique_ptr<Sink> m_sink;
    const QString m_name;
    const bool m_keepsCursor;
    const bool m_spools;
    const std::size_t m_capacity;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Job> m_queue;
    uint64_t m_lastSeq = 0;
    // Writes queued up to this one fail fast with m_down.
    uint64_t m_failedThrough = 0;
    SinkError m_down;
    bool m_stopping = false;
    std::atomic<bool> m_up{false};
    std::thread m_thread;
};

}  // namespace zrv::collect
