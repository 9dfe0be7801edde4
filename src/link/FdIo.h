#pragma once
// What a tty and a TCP socket share once open: waiting with poll(), reading
// a reply until the line falls silent (or the frame is complete), and the
// bytes already queued. Used by PosixSerialLine and TcpLine only.

#include "SerialLine.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zrv::fdio {

using Clock = std::chrono::steady_clock;

// ppoll with a time-out measured in steady-clock time; returns poll's result.
int pollFor(int fd, short events, Clock::duration timeout, short* revents);

// Reads until `total` has passed, or `silence` (the frame's own gap once
// `end` says it is complete) after the last byte, or the peer is gone.
std::size_t readReply(int fd, uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                      std::chrono::milliseconds silence, const FrameEnd* end);

std::size_t bytesQueued(int fd);
std::size_t readQueued(int fd, uint8_t* buf, std::size_t capacity);

// Writes every byte, waiting at most 5 s for room; `send` uses send() with
// MSG_NOSIGNAL (a vanished socket peer fails the write instead of raising
// SIGPIPE).
bool writeAll(int fd, const uint8_t* data, std::size_t length, bool send);

// A line on one descriptor: the reading side, the same for both.
class FdLine : public SerialLine {
public:
    bool isOpen() const override { return m_fd >= 0; }
    std::size_t readFor(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                        std::chrono::milliseconds silence) override
    {
        return readReply(m_fd, buf, capacity, total, silence, nullptr);
    }
    std::size_t readFrame(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                          std::chrono::milliseconds silence, const FrameEnd& end) override
    {
        return readReply(m_fd, buf, capacity, total, silence, &end);
    }
    std::size_t bytesQueued() override { return fdio::bytesQueued(m_fd); }
    std::size_t readQueued(uint8_t* buf, std::size_t capacity) override
    {
        return fdio::readQueued(m_fd, buf, capacity);
    }
    void pause(std::chrono::milliseconds time) override;

protected:
    explicit FdLine(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace zrv::fdio
