#include "link/RegisterImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zrv;

TEST(RegisterImage, FloatLowHalfAtLowerAddress)
{
    RegisterImage img;
    img.setHoldingF32(reg::kP2B_PA, 1.0f);
    EXPECT_EQ(img.holding(32), 0x0000);
    EXPECT_EQ(img.holding(33), 0x3F80);
    EXPECT_EQ(img.holdingF32(32), 1.0f);

    img.setInput(0, 0x0000);
    img.setInput(1, 0xC0A0);  // -5.0
    EXPECT_EQ(img.inputF32(0), -5.0f);
}

TEST(RegisterImage, FloatRoundTripIsBitExact)
{
    RegisterImage img;
    for (float v : {0.0f, -0.0f, 1.23456f, -5.27f, 1e-40f, 3.4e38f, std::numeric_limits<float>::infinity()}) {
        img.setHoldingF32(110, v);
        EXPECT_EQ(floatBits(img.holdingF32(110)), floatBits(v));
    }
    img.setInputF32(65534, std::nanf(""));
    EXPECT_TRUE(std::isnan(img.inputF32(65534)));
}

struct WeightsCase {
    std::array<uint16_t, 8> weights;
    int number;
};
void PrintTo(const WeightsCase& c, std::ostream* os)
{
    *os << "weights";
    for (uint16_t w : c.weights) *os << ' ' << w;
    *os << " -> ZRV-" << c.number;
}

class DeviceNumber : public ::testing::TestWithParam<WeightsCase> {};

TEST_P(DeviceNumber, SumOfLowBytesModulo256)
{
    RegisterImage img;
    for (int i = 0; i < 8; ++i) img.setHolding(uint16_t(96 + i), GetParam().weights[std::size_t(i)]);
    EXPECT_EQ(img.deviceNumber(), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Weights, DeviceNumber,
                         ::testing::Values(WeightsCase{{32, 32, 32, 32, 16, 8, 4, 2}, 158},
                                           WeightsCase{{32, 32, 32, 32, 32, 32, 32, 32}, 0},
                                           WeightsCase{{200, 100, 0, 0, 0, 0, 0, 0}, 44},
                                           // only the low bytes count
                                           WeightsCase{{0x1234, 0xFF00, 0, 0, 0, 0, 0, 0x0101}, 0x35}));

TEST(RegisterImage, OutOfRangeAddressesAreHarmless)
{
    RegisterImage img;
    img.setCoil(16, 1);
    img.setDiscrete(24, 1);
    img.setHolding(114, 7);
    EXPECT_EQ(img.coil(16), 0);
    EXPECT_EQ(img.discrete(24), 0);
    EXPECT_EQ(img.holding(114), 0);
    img.setCoil(3, 5);  // any non-zero is "on"
    EXPECT_EQ(img.coil(3), 1);
}
