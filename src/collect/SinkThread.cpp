#include "SinkThread.h"

#include <future>

namespace zrv::collect {

SinkThread::SinkThread(std::unique_ptr<Sink> sink, std::size_t capacity)
    : m_sink(std::move(sink)),
      m_name(m_sink->name()),
      m_keepsCursor(m_sink->cursors() != nullptr),
      m_spools(m_sink->spools()),
      m_capacity(std::max<std::size_t>(1, capacity))
{
    m_thread = std::thread([this] { loop(); });
}

SinkThread::~SinkThread()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

bool SinkThread::push(Job job, Room room)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (room == Room::Wait) m_cv.wait(lock, [this] { return m_queue.size() < m_capacity; });
    else if (room == Room::Refuse && m_queue.size() >= m_capacity) return false;
    job.seq = ++m_lastSeq;
    m_queue.push_back(std::move(job));
    m_cv.notify_all();
    return true;
}

bool SinkThread::write(const CallResult& call, Written done)
{
    Job job;
    job.call = std::make_shared<const CallResult>(call);
    job.done = std::move(done);
    return push(std::move(job), m_spools ? Room::Refuse : Room::Wait);
}

void SinkThread::post(std::function<void(Sink&)> job)
{
    Job j;
    j.run = std::move(job);
    // Small and few (a cursor a call, the spool and the cursors between
    // rounds): never held up by a full queue of writes.
    push(std::move(j), Room::Always);
}

std::size_t SinkThread::queued()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

void SinkThread::runAndWait(std::function<void(Sink&)> job)
{
    std::promise<void> done;
    post([&](Sink& sink) {
        job(sink);
        done.set_value();
    });
    done.get_future().wait();
}

void SinkThread::loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) break;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_cv.notify_all();  // room for a writer that waits
        if (!job.call) {
            lock.unlock();
            job.run(*m_sink);
            lock.lock();
            continue;
        }
        if (job.seq <= m_failedThrough) {
            const SinkError down = m_down;
            lock.unlock();
            job.done(false, down);
            lock.lock();
            continue;
        }
        lock.unlock();
        SinkError error;
        const bool ok = m_sink->open(&error) && m_sink->write(*job.call, &error);
        markUp(ok);
        job.done(ok, error);
        lock.lock();
        if (!ok) {
            // What was queued meanwhile would only wait as long again: it
            // goes to the spool with this reason; later writes try anew.
            m_failedThrough = m_lastSeq;
            m_down = error;
        }
    }
    lock.unlock();
    m_sink->close();
    m_sink.reset();
}

}  // namespace zrv::collect
