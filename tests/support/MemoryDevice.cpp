#include "MemoryDevice.h"

namespace zrvtest {

namespace {

// The session owns (and at the end destroys) the line it opened; the test
// keeps the memory line behind it to look at afterwards.
class SharedLine : public zrv::SerialLine {
    template <typename F>
    auto locked(F&& f) -> decltype(f())
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f();
    }

public:
    SharedLine(std::shared_ptr<MemoryLine> line, std::mutex& mutex) : m_line(std::move(line)), m_mutex(mutex)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_line->open = true;
    }
    bool isOpen() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_line->isOpen();
    }
    void purge() override { locked([&] { m_line->purge(); }); }
    bool writeAll(const uint8_t* d, std::size_t n) override { return locked([&] { return m_line->writeAll(d, n); }); }
    std::size_t readFor(uint8_t* b, std::size_t c, milliseconds total, milliseconds silence) override
    {
        return locked([&] { return m_line->readFor(b, c, total, silence); });
    }
    std::size_t bytesQueued() override { return locked([&] { return m_line->bytesQueued(); }); }
    std::size_t readQueued(uint8_t* b, std::size_t c) override { return locked([&] { return m_line->readQueued(b, c); }); }
    zrv::LineEvents waitEvents(milliseconds w) override { return locked([&] { return m_line->waitEvents(w); }); }
    void pause(milliseconds t) override { locked([&] { m_line->pause(t); }); }
    void close() override { locked([&] { m_line->close(); }); }

private:
    std::shared_ptr<MemoryLine> m_line;
    std::mutex& m_mutex;
};

}  // namespace

MemoryDevice::MemoryDevice()
{
    m_line->peer = [this](const Bytes& frame) -> std::vector<Chunk> {
        // Called inside writeAll, under the lock already.
        if (m_script) return m_script(frame);
        return answer(frame);
    };
}

std::vector<Chunk> MemoryDevice::answer(const Bytes& frame)
{
    const auto now = m_lineTime ? m_origin + m_line->nowUs() : zrvsim::Clock::now();
    const auto reply = m_slave.handle(frame, now);
    if (!reply) return {};
    return {Chunk{milliseconds(3), *reply}};
}

zrv::Session::LineOpener MemoryDevice::opener()
{
    return [this](const std::string& name, std::string* why) -> std::unique_ptr<zrv::SerialLine> {
        if (name != "COM1") {
            if (why) *why = "no such port";
            return nullptr;
        }
        return std::make_unique<SharedLine>(m_line, m_mutex);
    };
}

std::vector<Bytes> MemoryDevice::written()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_line->written;
}

void MemoryDevice::clearWritten()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_line->written.clear();
}

void MemoryDevice::setScript(std::function<std::vector<Chunk>(const Bytes&)> script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(script);
}

}  // namespace zrvtest
