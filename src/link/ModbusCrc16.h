#pragma once
// MODBUS RTU CRC-16: width 16, polynomial 0xA001 reflected (0x8005 normal),
// initial value 0xFFFF, no final inversion.
//
// Computed with the high-byte and low-byte tables of the MODBUS over serial
// line reference. The result is (high byte << 8) | low byte of that pair and a
// frame carries the high byte first, which is the CRC register's low-order
// byte: the standard wire order. 01 03 00 00 00 01 -> 0x840A, sent 84 0A.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zrv {

namespace crc_detail {
// The reference tables are the bytes of the reflected 0xA001 table: the "Hi"
// table holds each entry's low byte and the "Lo" table its high byte.
consteval std::array<uint16_t, 256> reflectedTable()
{
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
        t[i] = c;
    }
    return t;
}
consteval std::array<uint8_t, 256> tableHi()
{
    std::array<uint8_t, 256> out{};
    const auto t = reflectedTable();
    for (unsigned i = 0; i < 256; ++i) out[i] = uint8_t(t[i] & 0xFF);
    return out;
}
consteval std::array<uint8_t, 256> tableLo()
{
    std::array<uint8_t, 256> out{};
    const auto t = reflectedTable();
    for (unsigned i = 0; i < 256; ++i) out[i] = uint8_t(t[i] >> 8);
    return out;
}
}  // namespace crc_detail

inline constexpr std::array<uint8_t, 256> kCrcTableHi = crc_detail::tableHi();
inline constexpr std::array<uint8_t, 256> kCrcTableLo = crc_detail::tableLo();

// The published tables open with these bytes and both end with 0x40.
static_assert(kCrcTableHi[0] == 0x00 && kCrcTableHi[1] == 0xC1 && kCrcTableHi[2] == 0x81 &&
              kCrcTableHi[3] == 0x40 && kCrcTableHi[255] == 0x40);
static_assert(kCrcTableLo[0] == 0x00 && kCrcTableLo[1] == 0xC0 && kCrcTableLo[2] == 0xC1 &&
              kCrcTableLo[3] == 0x01 && kCrcTableLo[255] == 0x40);

constexpr uint16_t ModbusCrc16(const uint8_t* data, std::size_t length)
{
    uint8_t hi = 0xFF;
    uint8_t lo = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t index = hi ^ data[i];
        hi = lo ^ kCrcTableHi[index];
        lo = kCrcTableLo[index];
    }
    return uint16_t((hi << 8) | lo);
}

}  // namespace zrv
