#include "link/ModbusCrc16.h"

#include <gtest/gtest.h>

#include <vector>

using zrv::ModbusCrc16;

TEST(ModbusCrc16, PublishedExamples)
{
    const uint8_t readOne[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(ModbusCrc16(readOne, sizeof readOne), 0x840A);
    // Read 16 coils of slave 1: 01 01 00 00 00 10 3D C6.
    const uint8_t coils[] = {0x01, 0x01, 0x00, 0x00, 0x00, 0x10};
    EXPECT_EQ(ModbusCrc16(coils, sizeof coils), 0x3DC6);
    // Slave 17 read holding registers 107..109 (the reference's example): 76 87.
    const uint8_t ref[] = {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};
    EXPECT_EQ(ModbusCrc16(ref, sizeof ref), 0x7687);
    EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);
}

TEST(ModbusCrc16, TablesMatchBitwiseAlgorithm)
{
    // An independent bit-by-bit CRC over many messages.
    auto bitwise = [](const std::vector<uint8_t>& m) {
        uint16_t crc = 0xFFFF;
        for (uint8_t b : m) {
            crc ^= b;
            for (int i = 0; i < 8; ++i) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        }
        return uint16_t((crc << 8) | (crc >> 8));  // the table routine's byte order
    };
    std::vector<uint8_t> m;
    uint32_t x = 1;
    for (int len = 0; len < 300; ++len) {
        x = x * 1103515245u + 12345u;
        m.push_back(uint8_t(x >> 16));
        ASSERT_EQ(ModbusCrc16(m.data(), m.size()), bitwise(m)) << "length " << m.size();
    }
}

TEST(ModbusCrc16, FrameWithItsCrcAndZeroFillChecksToZero)
{
    std::vector<uint8_t> buf(256, 0);
    const uint8_t frame[] = {0x01, 0x01, 0x02, 0x05, 0x80};
    std::copy(frame, frame + 5, buf.begin());
    const uint16_t crc = ModbusCrc16(frame, 5);
    buf[5] = uint8_t(crc >> 8);
    buf[6] = uint8_t(crc & 0xFF);
    EXPECT_EQ(ModbusCrc16(buf.data(), buf.size()), 0);
    buf[7] = 0x01;  // one stray byte after the frame
    EXPECT_NE(ModbusCrc16(buf.data(), buf.size()), 0);
}
