#pragma once
// SerialLine over a raw TCP connection to a serial device server (or a GSM
// router in transparent mode): the same RTU frames, time-outs and retries as
// on a tty, without line settings, modem lines or a drain.

#include "SerialLine.h"

#include <chrono>
#include <memory>
#include <string>

namespace zrv {

class TcpLine final : public SerialLine {
public:
    // Waits at most `timeout` for the connection; null and the reason when
    // the host is unknown, refuses or does not answer.
    static std::unique_ptr<TcpLine> connect(const std::string& host, const std::string& port,
                                            std::chrono::milliseconds timeout, std::string* error = nullptr);

    ~TcpLine() override;
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    // A socket has no queue to flush: what has arrived is read and dropped.
    void purge() override;
    bool writeAll(const uint8_t* data, std::size_t length) override;
    std::size_t readFor(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                        std::chrono::milliseconds silence) override;
    std::size_t readFrame(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                          std::chrono::milliseconds silence, const FrameEnd& end) override;
    std::size_t bytesQueued() override;
    std::size_t readQueued(uint8_t* buf, std::size_t capacity) override;
    // No carrier to watch: only received data.
    LineEvents waitEvents(std::chrono::milliseconds wait) override;
    void pause(std::chrono::milliseconds time) override;
    void close() override;

private:
    explicit TcpLine(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace zrv
