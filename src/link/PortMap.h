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

}  // namespace zrv
