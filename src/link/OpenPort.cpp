#include "OpenPort.h"

#include "PortMap.h"
#include "PosixSerialLine.h"
#include "TcpLine.h"

namespace zrv {

std::unique_ptr<SerialLine> openPort(const std::string& portName, std::string* why)
{
    const std::string path = resolvePortName(portName);
    std::string entry;
    if (readPortEntryFile(path, &entry)) {
        std::string problem;
        const auto endpoint = parseTcpEntry(entry, &problem);
        if (!endpoint) {
            if (why) *why = path + ": " + problem;
            return nullptr;
        }
        return TcpLine::connect(endpoint->host, endpoint->port, kTcpConnectTimeout, why);
    }
    return openDevice(path, why);
}

std::unique_ptr<SerialLine> openDevice(const std::string& path, std::string* why)
{
    auto line = PosixSerialLine::open(path, why);
    if (!line) return nullptr;
    line->applyLineSettings();
    line->purge();
    line->raiseDtr();
    line->raiseRts();
    return line;
}

std::unique_ptr<SerialLine> openPortSpec(const std::string& spec, std::string* why)
{
    if (spec.rfind("tcp ", 0) == 0) {
        const auto endpoint = parseTcpEntry(spec, why);
        if (!endpoint) return nullptr;
        return TcpLine::connect(endpoint->host, endpoint->port, kTcpConnectTimeout, why);
    }
    if (spec.rfind("/", 0) == 0) return openDevice(spec, why);
    return openPort(spec, why);
}

}  // namespace zrv
