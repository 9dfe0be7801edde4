#include "MemoryLine.h"

#include "link/ModbusCrc16.h"

namespace zrvtest {

Bytes withCrc(Bytes frame)
{
    const uint16_t crc = zrv::ModbusCrc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc & 0xFF));
    return frame;
}

}  // namespace zrvtest
