#pragma once
// SerialLine over a raw TCP connection to a serial device server (or a GSM
// router in transparent mode): the same RTU frames, time-outs and retries as
// on a tty, without line settings, modem lines or a drain.

#include "FdIo.h"

#include <chrono>
#include <memory>
#include <string>

namespace zrv {

class TcpLine final : public fdio::FdLine {
public:
    // Waits at most `timeout` for the connection; null and the reason when
    // the host is unknown, refuses or does not answer.
    static std::unique_ptr<TcpLine> connect(const std::string& host, const std::string& port,
                                            std::chrono::milliseconds timeout, std::string* error = nullptr);

    ~TcpLine() override;
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    // A socket has no queue to flush: what has arrived is read and dropped.
    void purge() override;
    bool writeAll(const uint8_t* data, std::size_t length) override;
    // No carrier to watch: only received data.
    LineEvents waitEvents(std::chrono::milliseconds wait) override;
    void close() override;

private:
    explicit TcpLine(int fd) : FdLine(fd) {}
};

}  // namespace zrv
