#include "ModbusFrame.h"

#include "ModbusCrc16.h"

#include <cstring>

namespace zrv::modbus {

namespace {

void putWord(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v & 0xFF);
}

bool isRead(uint8_t function)
{
    return function >= kReadCoils && function <= kReadInputRegisters;
}

// Length of the reply frame a request asks for, at most the whole buffer.
std::size_t expectedReplyLength(uint8_t function, uint16_t countOrValue)
{
    const std::size_t n = isRead(function) ? kReadHeader + replyDataBytes(function, countOrValue) + kCrcLength
                                           : kEchoLength + kCrcLength;
    return n < kAduMax ? n : kAduMax;
}

}  // namespace

std::size_t buildRequest(uint8_t* tx, uint8_t slave, uint8_t function, uint16_t start, uint16_t countOrValue,
                         const RegisterImage& image)
{
    std::size_t n = 0;
    tx[n++] = slave;
    tx[n++] = function;
    putWord(tx + n, start);
    n += 2;
    if (isRead(function)) {
        // The reply has to fit the 256-byte receive buffer as well.
        if (kReadHeader + replyDataBytes(function, countOrValue) + kCrcLength > kAduMax) return 0;
        putWord(tx + n, countOrValue);
        n += 2;
    } else if (function == kWriteSingleCoil) {
        tx[n++] = countOrValue ? 0xFF : 0x00;
        tx[n++] = 0x00;
    } else if (function == kWriteMultipleRegisters) {
        const std::size_t dataBytes = 2 * std::size_t(countOrValue);
        if (kWriteBlockHeader + dataBytes + kCrcLength > kAduMax) return 0;
        putWord(tx + n, countOrValue);
        n += 2;
        tx[n++] = uint8_t(dataBytes);
        for (uint32_t i = 0; i < countOrValue; ++i) {
            putWord(tx + n, image.holding(uint16_t(start + i)));
            n += 2;
        }
    } else {
        return 0;
    }
    const uint16_t crc = ModbusCrc16(tx, n);
    tx[n++] = uint8_t(crc >> 8);
    tx[n++] = uint8_t(crc & 0xFF);
    return n;
}

ReplyVerdict checkReply(const uint8_t* tx, const uint8_t* rx, std::size_t received, uint8_t slave, uint8_t function,
                        uint16_t start, uint16_t countOrValue, RegisterImage& image)
{
    using O = TransactOutcome;
    const auto refuse = [](O why) { return ReplyVerdict{why, 0}; };
    if (received == 0) return refuse(O::Timeout);
    if (rx[0] != slave) return refuse(O::Malformed);
    if (rx[1] != function) {
        // An exception reply is refused like any other, but named.
        if (rx[1] == (function | kExceptionFlag) && received >= kExceptionLength &&
            ModbusCrc16(rx, kExceptionLength) == 0)
            return {O::Exception, rx[2]};
        return refuse(O::Malformed);
    }
    const std::size_t length = expectedReplyLength(function, countOrValue);
    // The frame must be whole and end where the request says it ends. A
    // good frame leaves the CRC at zero, and the zero fill behind it keeps it
    // there; a truncated reply padded by the zero fill, or one longer than
    // its byte count whose last two bytes close the CRC, would pass a CRC
    // check over the whole buffer alone, and a stray byte that brings its
    // own CRC along keeps both checks at zero. So: long enough, the CRC at
    // zero where the frame ends, and nothing but zero fill after it.
    if (received < length) return refuse(O::Malformed);
    if (ModbusCrc16(rx, length) != 0)
        // A frame whose CRC closes elsewhere is a frame of another length.
        return refuse(ModbusCrc16(rx, kAduMax) == 0 ? O::Malformed : O::CrcError);
    for (std::size_t i = length; i < received && i < kAduMax; ++i)
        if (rx[i] != 0) return refuse(O::Malformed);

    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs: {
        const std::size_t bytes = replyDataBytes(function, countOrValue);
        if (rx[2] != bytes || kReadHeader + bytes + kCrcLength > kAduMax) return refuse(O::Malformed);
        for (uint32_t i = 0; i < countOrValue; ++i) {
            const uint8_t bit = (rx[kReadHeader + i / 8] >> (i % 8)) & 1;
            if (function == kReadCoils)
                image.setCoil(uint16_t(start + i), bit);
            else
                image.setDiscrete(uint16_t(start + i), bit);
        }
        return {O::Ok, 0};
    }
    case kReadHoldingRegisters:
    case kReadInputRegisters: {
        const std::size_t bytes = replyDataBytes(function, countOrValue);
        if (rx[2] != uint8_t(bytes) || kReadHeader + bytes + kCrcLength > kAduMax) return refuse(O::Malformed);
        for (uint32_t i = 0; i < countOrValue; ++i) {
            const uint8_t* p = rx + kReadHeader + 2 * i;
            const uint16_t v = uint16_t((p[0] << 8) | p[1]);
            if (function == kReadHoldingRegisters)
                image.setHolding(uint16_t(start + i), v);
            else
                image.setInput(uint16_t(start + i), v);
        }
        return {O::Ok, 0};
    }
    case kWriteSingleCoil:
    case kWriteMultipleRegisters:
        return std::memcmp(rx, tx, kEchoLength) == 0 ? ReplyVerdict{O::Ok, 0} : refuse(O::EchoMismatch);
    default:
        return refuse(O::NotSent);
    }
}

std::size_t expectedReplyLength(const uint8_t* rx, std::size_t received, uint8_t slave, uint8_t function)
{
    if (received < 2) return 0;
    if (rx[0] != slave) return kLengthUnknown;
    if (rx[1] == (function | kExceptionFlag)) return kExceptionLength;
    if (rx[1] != function) return kLengthUnknown;
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters: {
        if (received < kReadHeader) return 0;
        const std::size_t length = kReadHeader + rx[2] + kCrcLength;
        return length <= kAduMax ? length : kLengthUnknown;
    }
    case kWriteSingleCoil:
    case kWriteMultipleRegisters:
        return kEchoLength + kCrcLength;
    default:
        return kLengthUnknown;
    }
}

}  // namespace zrv::modbus
