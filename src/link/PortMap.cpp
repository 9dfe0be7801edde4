#include "PortMap.h"

#include <cstdlib>
#include <filesystem>

namespace zrv {

std::string portsDirectory()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    return base + "/zrvterm/ports";
}

std::string defaultPortDevice(int n)
{
    if (n >= 1 && n <= 16) return "/dev/ttyS" + std::to_string(n - 1);
    if (n >= 17 && n <= 24) return "/dev/ttyUSB" + std::to_string(n - 17);
    if (n >= 25 && n <= 32) return "/dev/ttyACM" + std::to_string(n - 25);
    return {};
}

std::optional<int> comNumberFromName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0) return std::nullopt;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        n = n * 10 + (name[i] - '0');
    }
    if (name[3] == '0' || n < 1 || n > kComPortCount) return std::nullopt;
    return n;
}

std::string resolvePortName(const std::string& comName)
{
    const auto n = comNumberFromName(comName);
    if (!n) return {};
    const std::filesystem::path entry = std::filesystem::path(portsDirectory()) / comName;
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(entry, ec)) ||
        std::filesystem::exists(entry, ec))
        return entry.string();
    return defaultPortDevice(*n);
}

}  // namespace zrv
