// The device model through its MODBUS slave, with time moved by hand.

#include "DeviceModel.h"
#include "ModbusSlave.h"

#include <gtest/gtest.h>

#include <bit>

using namespace zrvsim;
using namespace std::chrono_literals;

namespace {

Frame request(std::vector<uint8_t> bytes)
{
    Frame f(bytes.begin(), bytes.end());
    appendCrc(f);
    return f;
}

class Slave : public ::testing::Test {
protected:
    Frame ask(std::vector<uint8_t> bytes)
    {
        auto r = slave.handle(request(std::move(bytes)), t);
        return r ? *r : Frame{};
    }
    uint8_t exceptionOf(std::vector<uint8_t> bytes)
    {
        const Frame r = ask(std::move(bytes));
        return (r.size() == 5 && (r[1] & 0x80)) ? r[2] : 0;
    }
    DeviceModel dev;
    ModbusSlave slave{dev, 1};
    Clock::time_point t = Clock::now();
};

}  // namespace

TEST_F(Slave, StandardExceptions)
{
    EXPECT_EQ(exceptionOf({1, 7, 0, 0, 0, 1}), 1);         // function not supported
    EXPECT_EQ(exceptionOf({1, 3, 0, 0, 0, 0}), 3);         // zero registers
    EXPECT_EQ(exceptionOf({1, 4, 0x02, 0, 0, 126}), 3);    // above 125
    EXPECT_EQ(exceptionOf({1, 1, 0, 0, 0x07, 0xD1}), 3);   // above 2000 points
    EXPECT_EQ(exceptionOf({1, 3, 0, 100, 0, 20}), 2);      // past holding 113
    EXPECT_EQ(exceptionOf({1, 1, 0, 10, 0, 7}), 2);        // past coil 15
    EXPECT_EQ(exceptionOf({1, 5, 0, 3, 0x12, 0x34}), 3);   // coil value neither FF00 nor 0000
    EXPECT_EQ(exceptionOf({1, 16, 0, 0, 0, 2, 3, 0, 1, 0, 2}), 3);  // byte count disagrees
    EXPECT_EQ(exceptionOf({1, 4, 0xFF, 0xFF, 0, 2}), 2);   // past the input space
}

TEST_F(Slave, IgnoresOtherSlavesBroadcastsAndBadCrc)
{
    EXPECT_FALSE(slave.handle(request({2, 3, 0, 0, 0, 1}), t));
    EXPECT_FALSE(slave.handle(request({0, 5, 0, 15, 0xFF, 0}), t));
    Frame bad = request({1, 3, 0, 0, 0, 1});
    bad[2] ^= 1;
    EXPECT_FALSE(slave.handle(bad, t));
    slave.setAddress(111);
    EXPECT_EQ(ask({111, 3, 0, 0, 0, 1}).size(), 7u);
}

TEST_F(Slave, ValvesFollowCoilsOnlyUnderExternalControlAfterTheDelay)
{
    dev.valveDelay = 300ms;
    ask({1, 5, 0, 15, 0xFF, 0});   // external control
    ask({1, 5, 0, 5, 0xFF, 0});    // valve 6 open
    dev.advance(t + 100ms);
    EXPECT_EQ(dev.discretes[5], 0);
    dev.advance(t + 400ms);
    EXPECT_EQ(dev.discretes[5], 1);
    EXPECT_EQ(dev.discretes[13], 0);  // second bit: not at the closed end

    dev.valvesStuck = true;
    ask({1, 5, 0, 5, 0, 0});
    dev.advance(t + 2s);
    EXPECT_EQ(dev.discretes[5], 1);
}

TEST_F(Slave, StepStrobeMovesTheValveWord)
{
    ask({1, 5, 0, 15, 0xFF, 0});
    uint8_t word = 0;
    for (int i = 0; i < 8; ++i) word |= uint8_t(dev.coils[std::size_t(i)] << i);
    ask({1, 5, 0, 8, 0xFF, 0});                                  // direction up
    ask({1, 5, 0, 9, uint8_t(dev.coils[9] ? 0 : 0xFF), 0});      // toggle the strobe
    uint8_t after = 0;
    for (int i = 0; i < 8; ++i) after |= uint8_t(dev.coils[std::size_t(i)] << i);
    EXPECT_EQ(after, uint8_t(word + 1));
    ask({1, 5, 0, 9, uint8_t(dev.coils[9] ? 0 : 0xFF), 0});      // another step up
    ask({1, 5, 0, 8, 0, 0});                                     // direction down: no step
    ask({1, 5, 0, 9, uint8_t(dev.coils[9] ? 0 : 0xFF), 0});
    uint8_t last = 0;
    for (int i = 0; i < 8; ++i) last |= uint8_t(dev.coils[std::size_t(i)] << i);
    EXPECT_EQ(last, uint8_t(word + 1));
}

TEST_F(Slave, ClockWriteSetsTheRunningClock)
{
    // 14:30:45 on 15.02.2009 as seconds, minutes, hours, day, month, year-2000.
    const Frame r = ask({1, 16, 0, 10, 0, 6, 12, 0, 45, 0, 30, 0, 14, 0, 15, 0, 2, 0, 9});
    ASSERT_EQ(r.size(), 8u);
    dev.advance(Clock::now());
    EXPECT_EQ(dev.inputs[25], 9);
    EXPECT_EQ(dev.inputs[24], 2);
    EXPECT_EQ(dev.inputs[23], 15);
    EXPECT_EQ(dev.inputs[22], 14);
    EXPECT_EQ(dev.inputs[21], 30);
    EXPECT_NEAR(dev.inputs[20], 46, 2);
}

TEST_F(Slave, ModeAndSetpointsReadBackAfterAWrite)
{
    ask({1, 16, 0, 0, 0, 1, 2, 0, 3});
    EXPECT_EQ(ask({1, 3, 0, 0, 0, 1}), request({1, 3, 2, 0, 3}));
    // Defaults are sane: valve weights 1..32, flow coefficients 0.5..2.
    for (int i = 0; i < 8; ++i) {
        EXPECT_GE(dev.holdings[std::size_t(96 + i)], 1);
        EXPECT_LE(dev.holdings[std::size_t(96 + i)], 32);
        const float q = std::bit_cast<float>((uint32_t(dev.holdings[std::size_t(63 + 2 * i)]) << 16) |
                                             dev.holdings[std::size_t(62 + 2 * i)]);
        EXPECT_GE(q, 0.5f);
        EXPECT_LE(q, 2.0f);
    }
}

TEST(DeviceJournal, EmptyJournalLinksToItself)
{
    DeviceModel dev;
    EXPECT_EQ(dev.writePosition(), 512);
    EXPECT_EQ(dev.inputs[512], 512);
}

TEST(DeviceJournal, RecordsChainNewestFirstAndWrapAtTheRingEnd)
{
    DeviceModel dev;
    dev.setWritePosition(32760, 32760);  // close to the end of the ring
    JournalStamp s;
    s.hours = 7, s.min = 34, s.sec = 4, s.day = 6, s.month = 12, s.year = 2026;
    dev.appendRecord(s, {});  // 12 words: 32760..32766, then 512..516
    EXPECT_EQ(dev.writePosition(), 517);
    EXPECT_EQ(dev.inputs[517], 32760);      // link to the newest record
    EXPECT_EQ(dev.inputs[32761], (4 << 8) | 34);
    EXPECT_EQ(dev.inputs[32762], (7 << 8) | 6);
    EXPECT_EQ(dev.inputs[32763], (12 << 8) | 26);
    dev.appendRecord(s, {{5, 0x8000 | 32, 0x0000, 0x3F80}, {9, 0, 2, 0}});
    EXPECT_EQ(dev.writePosition(), 517 + 12 + 4 + 3);
    EXPECT_EQ(dev.inputs[517], 32760);      // the older record's start, as word 0
    EXPECT_EQ(dev.inputs[517 + 12 + 1], 0x8020);
}

TEST(DeviceJournal, PreloadedJournalIsAChainInsideTheRing)
{
    DeviceModel dev;
    dev.preloadJournal(400, 3);
    uint16_t end = dev.writePosition();
    uint16_t start = dev.inputs[end];
    int records = 0;
    while (start != end && records < 1000) {
        ASSERT_GE(start, 512);
        ASSERT_LT(start, 32767);
        const uint16_t older = dev.inputs[start];
        end = start;
        start = older;
        ++records;
    }
    EXPECT_EQ(records, 400);
}

TEST(DeviceJournal, PreparedCasesForTheReader)
{
    DeviceModel dev;
    ASSERT_TRUE(dev.prepareJournalCase("block125"));
    const uint16_t end = dev.writePosition();
    EXPECT_EQ(end - dev.inputs[end], 250);
    ASSERT_TRUE(dev.prepareJournalCase("wrap"));
    EXPECT_LT(dev.writePosition(), dev.inputs[dev.writePosition()]);  // the newest record wraps
    ASSERT_TRUE(dev.prepareJournalCase("short"));
    EXPECT_EQ(dev.writePosition() - dev.inputs[dev.writePosition()], 12);
    ASSERT_TRUE(dev.prepareJournalCase("outside"));
    EXPECT_LT(dev.writePosition(), 512);
    ASSERT_TRUE(dev.prepareJournalCase("loop"));
    EXPECT_NE(dev.inputs[512], 512);
    EXPECT_FALSE(dev.prepareJournalCase("nonsense"));
}

TEST(DeviceJournal, DeviationsAreLoggedEveryLogPeriod)
{
    DeviceModel dev;
    dev.holdMeasurements = true;
    dev.holdings[8] = 1;  // every second
    dev.holdings[9] = 5;  // 5 %
    const auto t0 = Clock::now();
    dev.advance(t0 + 2s);  // the first time every value counts as moved
    const uint16_t first = dev.writePosition();
    EXPECT_GT(first, 512);
    dev.advance(t0 + 4s);  // nothing moved
    EXPECT_EQ(dev.writePosition(), first);
    const uint32_t b = std::bit_cast<uint32_t>(100.0f);  // P1 jumps
    dev.inputs[0] = uint16_t(b & 0xFFFF);
    dev.inputs[1] = uint16_t(b >> 16);
    dev.advance(t0 + 6s);
    EXPECT_EQ(dev.writePosition(), first + 12 + 4);
}
