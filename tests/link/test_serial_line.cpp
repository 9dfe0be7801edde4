// PosixSerialLine on a real pseudo-terminal.

#include "link/PosixSerialLine.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

using namespace zrv;
using namespace std::chrono_literals;

TEST(PosixSerialLine, OpenIsExclusiveAndReleasedOnClose)
{
    zrvtest::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::string error;
    auto first = PosixSerialLine::open(pty.slavePath, &error);
    ASSERT_TRUE(first) << error;
    EXPECT_TRUE(first->applyLineSettings());
    first->raiseDtr();  // a pty has no modem lines: ignored, not fatal
    first->raiseRts();

    auto second = PosixSerialLine::open(pty.slavePath, &error);
    EXPECT_FALSE(second);
    EXPECT_NE(error.find(pty.slavePath), std::string::npos);

    first->close();
    EXPECT_FALSE(first->isOpen());
    auto third = PosixSerialLine::open(pty.slavePath, &error);
    EXPECT_TRUE(third) << error;
}

TEST(PosixSerialLine, MissingOrNonTerminalDevicesFailWithAReason)
{
    std::string error;
    EXPECT_FALSE(PosixSerialLine::open("/dev/zrv-no-such-port", &error));
    EXPECT_NE(error.find("нет такого файла или папки"), std::string::npos) << error;
    EXPECT_FALSE(PosixSerialLine::open("/dev/null", &error));
    EXPECT_NE(error.find("это не последовательный порт"), std::string::npos) << error;
    EXPECT_FALSE(PosixSerialLine::open("", &error));
}

TEST(PosixSerialLine, ReadEndsOnSilenceAfterTheLastByteAndKeepsZeroBytes)
{
    zrvtest::PtyPair pty;
    auto line = PosixSerialLine::open(pty.slavePath);
    ASSERT_TRUE(line);
    ASSERT_TRUE(line->applyLineSettings());

    std::thread peer([&] {
        const uint8_t a[] = {0x01, 0x00, 0x0D, 0x0A};
        const uint8_t b[] = {0x00, 0xFF};
        [[maybe_unused]] auto n = ::write(pty.master, a, sizeof a);
        std::this_thread::sleep_for(20ms);  // shorter than the silence: same reply
        n = ::write(pty.master, b, sizeof b);
    });
    uint8_t buf[256] = {};
    const std::size_t got = line->readFor(buf, sizeof buf, 2000ms, 100ms);
    peer.join();
    ASSERT_EQ(got, 6u);
    const uint8_t want[] = {0x01, 0x00, 0x0D, 0x0A, 0x00, 0xFF};
    EXPECT_TRUE(std::equal(buf, buf + 6, want));
}

TEST(PosixSerialLine, AGapLongerThanTheSilenceSplitsAReply)
{
    zrvtest::PtyPair pty;
    auto line = PosixSerialLine::open(pty.slavePath);
    ASSERT_TRUE(line && line->applyLineSettings());
    std::thread peer([&] {
        const uint8_t a[] = {0x01, 0x03, 0x02};
        const uint8_t b[] = {0x00, 0x05};
        [[maybe_unused]] auto n = ::write(pty.master, a, sizeof a);
        std::this_thread::sleep_for(150ms);  // three times the 50 ms silence
        n = ::write(pty.master, b, sizeof b);
    });
    uint8_t buf[256] = {};
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(line->readFor(buf, sizeof buf, 500ms, 50ms), 3u);
    // The read ends once the silence has passed after the last byte, not at
    // the total time-out and not before the silence.
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 50ms);
    EXPECT_EQ(line->readFor(buf, sizeof buf, 500ms, 50ms), 2u);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x05);
    peer.join();
}

TEST(PosixSerialLine, ReadWithNothingWaitsTheTotalTimeAndPurgeDropsOldBytes)
{
    zrvtest::PtyPair pty;
    auto line = PosixSerialLine::open(pty.slavePath);
    ASSERT_TRUE(line && line->applyLineSettings());
    uint8_t buf[16];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(line->readFor(buf, sizeof buf, 60ms, 10ms), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 60ms);

    const uint8_t stale[] = {9, 9, 9};
    ASSERT_EQ(::write(pty.master, stale, 3), 3);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(line->bytesQueued(), 3u);
    EXPECT_TRUE(line->waitEvents(0ms).received);
    line->purge();
    EXPECT_EQ(line->bytesQueued(), 0u);
    EXPECT_FALSE(line->waitEvents(0ms).received);
}

TEST(PosixSerialLine, WriteReachesThePeerAndQueuedBytesCanBeTaken)
{
    zrvtest::PtyPair pty;
    auto line = PosixSerialLine::open(pty.slavePath);
    ASSERT_TRUE(line && line->applyLineSettings());
    const uint8_t out[] = {'A', 'T', '\r', 0};
    ASSERT_TRUE(line->writeAll(out, sizeof out));
    uint8_t in[8] = {};
    std::this_thread::sleep_for(10ms);
    ASSERT_EQ(::read(pty.master, in, sizeof in), 4);
    EXPECT_EQ(in[2], '\r');

    const uint8_t reply[] = "OK\r\n";
    ASSERT_EQ(::write(pty.master, reply, 4), 4);
    EXPECT_TRUE(line->waitEvents(1000ms).received);
    uint8_t got[2] = {};
    EXPECT_EQ(line->readQueued(got, 2), 2u);  // no more than asked
    EXPECT_EQ(got[0], 'O');
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(line->bytesQueued(), 2u);
}
