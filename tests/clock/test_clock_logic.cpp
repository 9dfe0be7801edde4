#include "clock/ClockLogic.h"
#include "text/DateTimeValue.h"

#include <gtest/gtest.h>

using namespace zrv;
using namespace zrv::clock;

TEST(ClockRegisters, DeviceValuesAsDateAndTime)
{
    EXPECT_EQ(timeFromRegisters(45, 30, 14), (TimeOfDay{14, 30, 45}));
    EXPECT_EQ(dateFromRegisters(15, 2, 9), (CivilDate{2009, 2, 15}));
}

TEST(ClockRegisters, ImpossibleValuesFallBack)
{
    EXPECT_EQ(timeFromRegisters(0, 0, 25), (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(timeFromRegisters(60, 0, 0), (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(timeFromRegisters(0, 60, 0), (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(timeFromRegisters(0xFFFF, 0xFFFF, 0xFFFF), (TimeOfDay{0, 0, 0}));
    EXPECT_EQ(timeFromRegisters(59, 59, 23), (TimeOfDay{23, 59, 59}));
    const CivilDate fallback{2000, 1, 1};
    EXPECT_EQ(dateFromRegisters(15, 13, 9), fallback);
    EXPECT_EQ(dateFromRegisters(0, 1, 9), fallback);
    EXPECT_EQ(dateFromRegisters(32, 1, 9), fallback);
    EXPECT_EQ(dateFromRegisters(29, 2, 9), fallback);            // 2009 is no leap year
    EXPECT_EQ(dateFromRegisters(29, 2, 8), (CivilDate{2008, 2, 29}));
    EXPECT_EQ(dateFromRegisters(1, 1, 0xFFFF), (CivilDate{1999, 1, 1}));  // 16-bit sum
    EXPECT_EQ(dateFromRegisters(1, 1, 65535 - 1999), fallback);   // year 0
    EXPECT_EQ(dateFromRegisters(1, 1, 8000), fallback);           // year 10000
    EXPECT_EQ(dateFromRegisters(0xFFFF, 0xFFFF, 0xFFFF), fallback);
}

TEST(ClockRegisters, SetSendsSecondsFirstAndTheYearLess2000)
{
    EXPECT_EQ(clockSetRegisters({14, 30, 45}, {2009, 2, 15}), (std::array<uint16_t, 6>{45, 30, 14, 15, 2, 9}));
    EXPECT_EQ(clockSetRegisters({0, 0, 0}, {1999, 12, 31})[5], 65535);
}

TEST(DateTimeValue, DaysFromTheEndOf1899)
{
    EXPECT_EQ(text::daysFromEpoch({1899, 12, 30}), 0);
    EXPECT_EQ(text::daysFromEpoch({1900, 1, 1}), 2);
    EXPECT_EQ(text::daysFromEpoch({2000, 1, 1}), 36526);
    EXPECT_EQ(text::daysFromEpoch({2026, 12, 6}), 46362);
    EXPECT_EQ(text::dateFromDays(46362), (text::CivilDate{2026, 12, 6}));
    EXPECT_EQ(text::dateFromDays(-1), (text::CivilDate{1899, 12, 29}));
    for (int64_t d = -700000; d < 3000000; d += 997)
        ASSERT_EQ(text::daysFromEpoch(text::dateFromDays(d)), d);
    EXPECT_DOUBLE_EQ(text::encodeDateTime({2000, 1, 1}, {12, 0, 0}), 36526.5);
}
