#pragma once
// The byte line under the MODBUS master and the modem dialogue. The real port
// (PosixSerialLine), a pseudo-terminal and the in-memory line of the tests all
// sit behind this interface, so that silence, partial frames, stray bytes and
// delays can be put on the line at will.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zrv {

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
