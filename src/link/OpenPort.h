#pragma once
// Opens the line a port name stands for: a tty (set to 9600 8N1, purged, DTR
// and RTS raised) or, for a ports-directory entry "tcp HOST PORT", a TCP
// connection to a serial device server.

#include "SerialLine.h"

#include <chrono>
#include <memory>
#include <string>

namespace zrv {

// A serial device server that does not accept within this time reads like a
// port that cannot be opened.
inline constexpr std::chrono::milliseconds kTcpConnectTimeout{5000};

// Null and the reason when the port cannot be opened.
std::unique_ptr<SerialLine> openPort(const std::string& portName, std::string* why);

// A tty by its path, set up as above.
std::unique_ptr<SerialLine> openDevice(const std::string& path, std::string* why);

// A port as a roster writes it: "COMn", a device path, or "tcp HOST PORT".
std::unique_ptr<SerialLine> openPortSpec(const std::string& spec, std::string* why);

}  // namespace zrv
