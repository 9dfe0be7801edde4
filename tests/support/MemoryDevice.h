#pragma once
// The device model behind an in-memory line, for window tests on a session
// without a pseudo-terminal: the session's I/O thread writes a request, the
// model answers at once in simulated time, so a silent device's 500 ms
// time-outs cost nothing.

#include "MemoryLine.h"
#include "ModbusSlave.h"
#include "session/Session.h"

#include <memory>
#include <mutex>

namespace zrvtest {

class MemoryDevice {
public:
    MemoryDevice();

    // The opener to give the session: "COM1" opens the line, any other name
    // fails as a missing port does.
    zrv::Session::LineOpener opener();

    // Under the lock, as the I/O thread may be on the line: the model, its
    // slave (fault plan) and the line (frames written, simulated clock).
    template <typename F>
    auto with(F&& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_device, m_slave, *m_line);
    }
    // Every frame the terminal wrote, in order.
    std::vector<Bytes> written();
    void clearWritten();

    // Scripted bytes instead of MODBUS answers (a modem): called with each
    // write while set, with the lock held.
    void setScript(std::function<std::vector<Chunk>(const Bytes&)> script);
    // What the model answers to a frame; for scripts (the lock is held).
    std::vector<Chunk> answer(const Bytes& frame);
    // The model lives in the line's simulated time instead of the real one
    // (its clock, measurements and journal move as the line's clock does).
    void useLineTime() { m_lineTime = true; }

private:
    std::mutex m_mutex;
    zrvsim::DeviceModel m_device;
    zrvsim::ModbusSlave m_slave{m_device};
    std::shared_ptr<MemoryLine> m_line = std::make_shared<MemoryLine>();
    std::function<std::vector<Chunk>(const Bytes&)> m_script;
    bool m_lineTime = false;
    zrvsim::Clock::time_point m_origin = zrvsim::Clock::now();
};

}  // namespace zrvtest
