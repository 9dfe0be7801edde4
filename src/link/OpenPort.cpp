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
    auto line = PosixSerialLine::open(path, why);
    if (!line) return nullptr;
    line->applyLineSettings();
    line->purge();
    line->raiseDtr();
    line->raiseRts();
    return line;
}

}  // namespace zrv
