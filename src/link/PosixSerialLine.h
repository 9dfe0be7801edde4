#pragma once
// SerialLine over a POSIX tty: a serial port, a USB adapter or a
// pseudo-terminal. Opened exclusively (TIOCEXCL and flock), raw 9600 8N1
// without flow control, and read through poll() so that no wait spins.

#include "FdIo.h"

#include <memory>
#include <string>

namespace zrv {

class PosixSerialLine final : public fdio::FdLine {
public:
    // Opens the device for reading and writing, taking it for this process
    // alone. Returns null and sets `error` when the device does not exist, is
    // not a terminal or is held by another program.
    static std::unique_ptr<PosixSerialLine> open(const std::string& path, std::string* error = nullptr);
    // Wraps a descriptor that is already open (one end of a pty pair). Takes
    // ownership.
    static std::unique_ptr<PosixSerialLine> adopt(int fd);

    ~PosixSerialLine() override;
    PosixSerialLine(const PosixSerialLine&) = delete;
    PosixSerialLine& operator=(const PosixSerialLine&) = delete;

    // 9600 baud, 8 data bits, no parity, 1 stop bit, raw, no flow control,
    // zero bytes kept. False only when the tty refuses the settings.
    bool applyLineSettings();
    // Modem lines. A pseudo-terminal has none; that is not an error.
    void raiseDtr();
    void raiseRts();

    void purge() override;
    bool writeAll(const uint8_t* data, std::size_t length) override;
    LineEvents waitEvents(std::chrono::milliseconds wait) override;
    void close() override;

    int fd() const { return m_fd; }

private:
    explicit PosixSerialLine(int fd);
    void setModemLine(int bit);
    int carrierState();  // 1 / 0, or -1 when the line has no modem lines

    int m_lastCarrier = -1;
};

}  // namespace zrv
