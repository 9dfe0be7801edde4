#pragma once
// The byte line under the MODBUS master and the modem dialogue. The real port
// (PosixSerialLine), a pseudo-terminal and the in-memory line of the tests all
// sit behind this interface, so that silence, partial frames, stray bytes and
// delays can be put on the line at will.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace zrv {

// Ends a read early, by the frame's own length: once `length` says the bytes
// so far are exactly one whole frame and `gap` (3.5 characters) has passed
// without another byte. While `length` cannot tell (0), and after it saw a
// header it does not know or more bytes than the frame holds, the read goes
// on under the plain silence rule.
struct FrameEnd {
    std::function<std::size_t(const uint8_t* data, std::size_t received)> length;
    std::chrono::microseconds gap{4000};
};

// Whether bytes so far make one complete frame by `end`.
inline bool frameComplete(const FrameEnd& end, const uint8_t* data, std::size_t received)
{
    if (!end.length || received == 0) return false;
    const std::size_t n = end.length(data, received);
    return n != 0 && n == received;
}

struct LineEvents {
    bool received = false;        // bytes are waiting to be read
    bool carrierChanged = false;  // the carrier-detect line went up or down
};

class SerialLine {
public:
    virtual ~SerialLine() = default;

    virtual bool isOpen() const = 0;
    // Drops whatever waits in the transmit and receive queues.
    virtual void purge() = 0;
    // Sends every byte; false when the line refused them.
    virtual bool writeAll(const uint8_t* data, std::size_t length) = 0;
    // Collects bytes into buf until it is full, until `silence` has passed
    // since the last byte (only once a byte came), or until `total` has passed
    // since the call, whichever is first. Returns how many bytes came.
    virtual std::size_t readFor(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                                std::chrono::milliseconds silence) = 0;
    // readFor, ending early at a complete frame (see FrameEnd). A line that
    // cannot time a gap that short keeps the silence rule.
    virtual std::size_t readFrame(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                                  std::chrono::milliseconds silence, const FrameEnd& end)
    {
        (void)end;
        return readFor(buf, capacity, total, silence);
    }
    // Received bytes waiting in the queue now.
    virtual std::size_t bytesQueued() = 0;
    // Takes at most `capacity` of the waiting bytes without blocking.
    virtual std::size_t readQueued(uint8_t* buf, std::size_t capacity) = 0;
    // Waits at most `wait` for received data or a carrier change; a zero wait
    // only looks.
    virtual LineEvents waitEvents(std::chrono::milliseconds wait) = 0;
    // Keeps the line silent (nothing sent) for the given time.
    virtual void pause(std::chrono::milliseconds time) = 0;
    virtual void close() = 0;
};

}  // namespace zrv
