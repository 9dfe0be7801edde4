#include "PortMap.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::optional<TcpEndpoint> parseTcpEntry(const std::string& text, std::string* why)
{
    const auto fail = [why](const std::string& what) -> std::optional<TcpEndpoint> {
        if (why) *why = what;
        return std::nullopt;
    };
    std::istringstream in(text);
    std::string kind, host, port, extra;
    in >> kind >> host >> port;
    if (kind != "tcp" || host.empty() || port.empty())
        return fail("not a port entry of the form \"tcp HOST PORT\"");
    if (in >> extra) return fail("more than \"tcp HOST PORT\" in the port entry");
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stol(port) < 1 ||
        std::stol(port) > 65535)
        return fail("TCP port \"" + port + "\" is not a number from 1 to 65535");
    for (unsigned char c : host)
        if (c < 0x21 || c > 0x7E) return fail("the host name holds characters a host name cannot have");
    return TcpEndpoint{host, port};
}

bool readPortEntryFile(const std::string& path, std::string* text)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // An entry is one short line; a large file is not one, and is not read
    // whole.
    std::string buf(513, '\0');
    in.read(buf.data(), std::streamsize(buf.size()));
    buf.resize(std::size_t(in.gcount()));
    *text = buf.size() > 512 ? std::string() : buf;
    return true;
}

}  // namespace zrv
