#pragma once
// MODBUS RTU request frames and the checks on their replies.
//
// Request ADU: slave(1) function(1) PDU... crc(2, low-order CRC byte first).
//   1, 2, 3, 4  read:          start(2) count(2)                  -> 8 bytes
//   5           write coil:    address(2) FF 00 | 00 00           -> 8 bytes
//   16          write block:   start(2) count(2) bytes(1) data(2n) -> 9 + 2n bytes
// Reply ADU to a read: slave(1) function(1) bytes(1) data(bytes) crc(2).
//   registers: bytes = 2 * count; points: bytes = ceil(count / 8).
// Reply to 5 and 16: the request's first six bytes, then its own CRC.
// Exception reply: slave(1) function|0x80(1) code(1) crc(2).

#include "RegisterImage.h"
#include "TransactOutcome.h"

#include <cstddef>
#include <cstdint>

namespace zrv::modbus {

inline constexpr std::size_t kAduMax = 256;   // RTU frames never exceed this
inline constexpr std::size_t kReadHeader = 3;  // slave, function, byte count
inline constexpr std::size_t kCrcLength = 2;
inline constexpr std::size_t kWriteBlockHeader = 7;  // slave fn start(2) count(2) bytes
inline constexpr std::size_t kEchoLength = 6;        // slave fn address(2) value-or-count(2)

enum Function : uint8_t {
    kReadCoils = 1,
    kReadDiscreteInputs = 2,
    kReadHoldingRegisters = 3,
    kReadInputRegisters = 4,
    kWriteSingleCoil = 5,
    kWriteMultipleRegisters = 16,
};

// Data bytes a read reply carries for `count` points or registers.
constexpr std::size_t replyDataBytes(uint8_t function, uint16_t count)
{
    return (function == kReadCoils || function == kReadDiscreteInputs) ? (std::size_t(count) + 7) / 8
                                                                       : 2 * std::size_t(count);
}

// Builds the request into tx (kAduMax bytes); function 16 takes the holding
// registers start..start+count-1 from the image. Returns the frame length, or
// 0 when the function is not one the terminal uses or when the request or its
// reply would not fit in one frame.
std::size_t buildRequest(uint8_t* tx, uint8_t slave, uint8_t function, uint16_t start, uint16_t countOrValue,
                         const RegisterImage& image);

// Exception reply: slave, function | 0x80, code, CRC.
inline constexpr std::size_t kExceptionLength = 5;
inline constexpr uint8_t kExceptionFlag = 0x80;

struct ReplyVerdict {
    TransactOutcome outcome = TransactOutcome::Malformed;
    uint8_t exceptionCode = 0;
    bool ok() const { return outcome == TransactOutcome::Ok; }
};

// Checks the reply in rx (all kAduMax bytes, zero after the `received`
// bytes) against the request in tx and, only if every check passes, stores the
// read data in the image. Says why a reply was refused.
ReplyVerdict checkReply(const uint8_t* tx, const uint8_t* rx, std::size_t received, uint8_t slave, uint8_t function,
                        uint16_t start, uint16_t countOrValue, RegisterImage& image);

// How long the reply to a request of `function` from `slave` will be, told
// from its first bytes: 0 while too few have come to know, kLengthUnknown when
// the header cannot start that reply (another slave, another function, a byte
// count past the frame limit), else the whole frame with its CRC.
inline constexpr std::size_t kLengthUnknown = std::size_t(-1);
std::size_t expectedReplyLength(const uint8_t* rx, std::size_t received, uint8_t slave, uint8_t function);

}  // namespace zrv::modbus
