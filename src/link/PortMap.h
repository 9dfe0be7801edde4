#pragma once
// COM1..COM32 on Linux. A link or device named COMn in the ports directory
// wins; otherwise a fixed table maps the names onto the usual tty devices.

#include <optional>
#include <string>

namespace zrv {

inline constexpr int kComPortCount = 32;

// $XDG_CONFIG_HOME/zrvterm/ports, or ~/.config/zrvterm/ports.
std::string portsDirectory();

// The fixed default: COM1-16 -> /dev/ttyS0-15, COM17-24 -> /dev/ttyUSB0-7,
// COM25-32 -> /dev/ttyACM0-7. Empty outside COM1..COM32.
std::string defaultPortDevice(int comNumber);

// "COM7" -> 7; nothing for any other text.
std::optional<int> comNumberFromName(const std::string& name);

// The device to open for "COMn": the ports-directory entry when it exists
// (a dangling link counts, so that its open fails with the link's name),
// else the default. Empty for names outside COM1..COM32.
std::string resolvePortName(const std::string& comName);

// A ports-directory entry may be a small text file "tcp HOST PORT" instead
// of a device: the port is then a raw TCP connection to a serial device
// server or a GSM router in transparent mode.
struct TcpEndpoint {
    std::string host;
    std::string port;  // 1..65535, digits
};

// Parses the entry's text: "tcp", the host, the port, separated by blanks,
// an end of line allowed. Nothing (and why) for any other text.
std::optional<TcpEndpoint> parseTcpEntry(const std::string& text, std::string* why = nullptr);

// When `path` is a regular file (a device or a dangling link is not), reads
// at most a small entry from it into `text` and returns true.
bool readPortEntryFile(const std::string& path, std::string* text);

}  // namespace zrv
