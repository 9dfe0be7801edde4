// ModbusTransact against an in-memory line: the frames it sends, the replies it
// accepts and the many it must refuse without touching the image.

#include "link/ModbusCrc16.h"
#include "link/ModbusFrame.h"
#include "link/ModbusTransact.h"
#include "support/MemoryLine.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace zrv;
using namespace zrvtest;

namespace {

class Transact : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<MemoryLine>();
        line = owned.get();
        link.setPort(std::move(owned));
        link.setCountSink([this](int32_t ok, int32_t failed) { statuses.push_back(transactionStatusText(ok, failed)); });
    }
    // The peer answers every request with `reply` (CRC added) after 10 ms.
    void replyWith(Bytes reply, bool addCrc = true)
    {
        Bytes r = addCrc ? withCrc(std::move(reply)) : std::move(reply);
        line->peer = [r](const Bytes&) { return std::vector<Chunk>{{milliseconds(10), r}}; };
    }
    void echoRequests()
    {
        line->peer = [](const Bytes& req) {
            return std::vector<Chunk>{{milliseconds(10), withCrc(Bytes(req.begin(), req.begin() + 6))}};
        };
    }
    int failures() const { return link.counters().failures.load(); }
    int successes() const { return link.counters().successes.load(); }

    RegisterImage img;
    ModbusLink link{img};
    MemoryLine* line = nullptr;
    std::vector<std::string> statuses;
};

}  // namespace

TEST_F(Transact, ReadCoilsFrameAndUnpacking)
{
    for (int i = 0; i < 16; ++i) img.setCoil(uint16_t(i), 1);
    replyWith({0x01, 0x01, 0x02, 0x05, 0x80});
    ASSERT_TRUE(link.transact(1, 0, 16).ok());
    EXPECT_EQ(line->written.at(0), withCrc({0x01, 0x01, 0x00, 0x00, 0x00, 0x10}));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(img.coil(uint16_t(i)), (i == 0 || i == 2 || i == 15) ? 1 : 0) << "coil " << i;
    EXPECT_EQ(statuses, std::vector<std::string>{"Успешных транзакций 1 /Сбоев 0"});
}

struct ByteCountCase {
    uint8_t function;
    uint16_t count;
    uint8_t bytes;
};
void PrintTo(const ByteCountCase& c, std::ostream* os)
{
    *os << "function " << int(c.function) << ", " << c.count << " points -> " << int(c.bytes) << " bytes";
}

class PointByteCount : public Transact, public ::testing::WithParamInterface<ByteCountCase> {};

TEST_P(PointByteCount, ExpectsCountDividedByEightRoundedUp)
{
    const auto [fn, count, bytes] = GetParam();
    Bytes ok{0x01, fn, bytes};
    ok.resize(3 + bytes, 0xFF);
    replyWith(ok);
    EXPECT_TRUE(link.transact(fn, 0, count).ok());
    Bytes wrong{0x01, fn, uint8_t(bytes + 1)};
    wrong.resize(3 + bytes + 1, 0xFF);
    replyWith(wrong);
    EXPECT_FALSE(link.transact(fn, 0, count).ok());
}

INSTANTIATE_TEST_SUITE_P(Counts, PointByteCount,
                         ::testing::Values(ByteCountCase{2, 24, 3}, ByteCountCase{1, 16, 2}, ByteCountCase{1, 9, 2},
                                           ByteCountCase{1, 8, 1}, ByteCountCase{2, 1, 1}));

TEST_F(Transact, ReadRegistersHighByteFirstAtTheirAddresses)
{
    img.setHolding(95, 0xAAAA);
    img.setHolding(104, 0xBBBB);
    Bytes reply{0x01, 0x03, 16};
    for (int i = 0; i < 8; ++i) {
        reply.push_back(uint8_t(i));
        reply.push_back(uint8_t(0x10 + i));
    }
    replyWith(reply);
    ASSERT_TRUE(link.transact(3, 96, 8).ok());
    EXPECT_EQ(line->written.at(0), withCrc({0x01, 0x03, 0x00, 0x60, 0x00, 0x08}));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img.holding(uint16_t(96 + i)), (i << 8) | (0x10 + i));
    EXPECT_EQ(img.holding(95), 0xAAAA);  // neighbours untouched
    EXPECT_EQ(img.holding(104), 0xBBBB);

    replyWith({0x01, 0x04, 4, 0x00, 0x00, 0x3F, 0x80});
    ASSERT_TRUE(link.transact(4, 1000, 2).ok());
    EXPECT_EQ(img.inputF32(1000), 1.0f);
}

TEST_F(Transact, WriteSingleCoilSendsFF00ForAnyNonZeroAndNeedsTheEcho)
{
    echoRequests();
    EXPECT_TRUE(link.transact(5, 2, 7).ok());
    EXPECT_EQ(line->written.back(), withCrc({0x01, 0x05, 0x00, 0x02, 0xFF, 0x00}));
    EXPECT_TRUE(link.transact(5, 15, 0).ok());
    EXPECT_EQ(line->written.back(), withCrc({0x01, 0x05, 0x00, 0x0F, 0x00, 0x00}));

    replyWith({0x01, 0x05, 0x00, 0x03, 0xFF, 0x00});  // echoes another coil
    EXPECT_FALSE(link.transact(5, 2, 1).ok());
    replyWith({0x01, 0x05, 0x00, 0x02, 0x00, 0x00});  // echoes another value
    EXPECT_FALSE(link.transact(5, 2, 1).ok());
}

TEST_F(Transact, WriteWholeHoldingBlock)
{
    for (int a = 0; a < 114; ++a) img.setHolding(uint16_t(a), uint16_t(a * 257));
    img.setHoldingF32(32, 1.0f);
    echoRequests();
    ASSERT_TRUE(link.transact(16, 0, 114).ok());
    const Bytes& f = line->written.at(0);
    ASSERT_EQ(f.size(), 237u);
    EXPECT_EQ(f[6], 228);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x72}));
    // holding 1 high byte first, and the 1.0 float as 00 00 3F 80
    EXPECT_EQ(f[7 + 2], 0x01);
    EXPECT_EQ(f[7 + 3], 0x01);
    EXPECT_EQ(Bytes(f.begin() + 7 + 64, f.begin() + 7 + 68), (Bytes{0x00, 0x00, 0x3F, 0x80}));
    EXPECT_EQ(ModbusCrc16(f.data(), f.size()), 0);
}

TEST_F(Transact, FollowsTheSelectedSlaveAddress)
{
    link.setSlaveAddress(111);
    replyWith({111, 0x03, 2, 0x00, 0x02});
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->written.at(0)[0], 111);
    EXPECT_EQ(img.holding(0), 2);
    link.setSlaveAddress(1);  // the old slave's replies now fail the address check
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
}

TEST_F(Transact, SilenceFailsAfterTheReplyTimeout)
{
    line->peer = nullptr;
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTook, milliseconds(500));
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(statuses.back(), "Успешных транзакций 0 /Сбоев 1");
}

TEST_F(Transact, ReplyEndsAfterFiftyMillisecondsOfSilence)
{
    // A reply in two pieces 40 ms apart is one reply; 60 ms apart it is cut.
    const Bytes r = withCrc({0x01, 0x03, 2, 0x12, 0x34});
    line->peer = [r](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(5), Bytes(r.begin(), r.begin() + 3)},
                                  {milliseconds(40), Bytes(r.begin() + 3, r.end())}};
    };
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTook, milliseconds(95));
    line->peer = [r](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(5), Bytes(r.begin(), r.begin() + 3)},
                                  {milliseconds(60), Bytes(r.begin() + 3, r.end())}};
    };
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTook, milliseconds(55));
}

TEST_F(Transact, LateReplyStartingAfterTimeoutFails)
{
    line->peer = [](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(501), withCrc({0x01, 0x03, 2, 0, 1})}};
    };
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    // The next transaction purges the late bytes and works on its own reply.
    replyWith({0x01, 0x03, 2, 0, 9});
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(img.holding(0), 9);
    EXPECT_EQ(line->purges, 2);
}

class Framing : public Transact, public ::testing::WithParamInterface<bool> {};

TEST_P(Framing, ExceptionAndStrayByteAndWrongFieldsFail)
{
    // Whether the reply ends at 50 ms of silence or at its own length, a
    // reply is refused for the same reasons.
    link.setFastFraming(GetParam());
    using O = TransactOutcome;
    img.setHolding(0, 77);
    const auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::pair<Bytes, O>> bad = {
        {withCrc({0x01, 0x83, 0x02}), O::Exception},                          // exception reply
        {cat(withCrc({0x01, 0x03, 2, 0, 5}), {0x01}), O::Malformed},          // stray byte
        {withCrc({0x02, 0x03, 2, 0, 5}), O::Malformed},                       // another slave
        {withCrc({0x01, 0x04, 2, 0, 5}), O::Malformed},                       // another function
        {withCrc({0x01, 0x03, 4, 0, 5, 0, 6}), O::Malformed},                 // byte count for two registers
        {withCrc({0x01, 0x03, 2, 0, 5, 0, 6}), O::Malformed},                 // longer than its byte count
        {[] { Bytes b = withCrc({0x01, 0x03, 2, 0, 5}); b.back() ^= 1; return b; }(), O::CrcError},
        {Bytes{0x01, 0x03, 2, 0}, O::Malformed},                              // truncated
        {withCrc({0x01, 0x03, 2, 0}), O::Malformed},                          // truncated, its CRC made to fit
    };
    for (const auto& [b, why] : bad) {
        replyWith(b, false);
        EXPECT_EQ(link.transact(3, 0, 1).outcome, why) << "reply of " << b.size() << " bytes";
        EXPECT_EQ(img.holding(0), 77);
    }
    EXPECT_EQ(failures(), int(bad.size()));
    EXPECT_EQ(successes(), 0);

    // A stray byte that brings its own CRC along keeps the CRC over the whole
    // buffer at zero; it is still a byte where the frame has ended. The
    // example from the field: 01 04 02 02 58 B9 AA, then 41 C0 30.
    replyWith({0x01, 0x04, 0x02, 0x02, 0x58, 0xB9, 0xAA, 0x41, 0xC0, 0x30}, false);
    EXPECT_EQ(link.transact(4, 0, 1).outcome, O::Malformed);
    EXPECT_EQ(img.input(0), 0);
    // Zero fill after a whole frame is still a whole frame.
    replyWith(cat(withCrc({0x01, 0x04, 0x02, 0x02, 0x58}), {0, 0, 0}), false);
    EXPECT_TRUE(link.transact(4, 0, 1).ok());
    EXPECT_EQ(img.input(0), 0x0258);
}

INSTANTIATE_TEST_SUITE_P(SilenceAndLength, Framing, ::testing::Bool());

TEST_F(Transact, LengthFramingEndsAReplyAtItsLength)
{
    using us = std::chrono::microseconds;
    // 01 03 02 00 05 + CRC comes 10 ms after the request, in two pieces
    // 3 ms apart: the first piece holds the header, so the length is known
    // but not complete, and the read must not end at the 3.5-character gap.
    const Bytes reply = withCrc({0x01, 0x03, 2, 0, 5});
    line->peer = [reply](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(10), Bytes(reply.begin(), reply.begin() + 3)},
                                  {milliseconds(3), Bytes(reply.begin() + 3, reply.end())}};
    };
    ASSERT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTookUs, us(63000)) << "the silence rule: last byte + 50 ms";
    EXPECT_EQ(line->frameReads, 0);

    link.setFastFraming(true);
    ASSERT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTookUs, us(13000) + ModbusLink::kFrameGap);
    EXPECT_EQ(line->frameReads, 1);
    EXPECT_EQ(img.holding(0), 5);

    // A pause of 20 ms inside the frame: not a frame end under either rule.
    line->peer = [reply](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(10), Bytes(reply.begin(), reply.begin() + 4)},
                                  {milliseconds(20), Bytes(reply.begin() + 4, reply.end())}};
    };
    ASSERT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTookUs, us(30000) + ModbusLink::kFrameGap);

    // Exceptions are five bytes; echoes of 5 and 16 eight.
    replyWith({0x01, 0x83, 0x02});
    EXPECT_EQ(link.transact(3, 0, 1).outcome, TransactOutcome::Exception);
    EXPECT_EQ(line->lastReadTookUs, us(10000) + ModbusLink::kFrameGap);
    echoRequests();
    EXPECT_TRUE(link.transact(5, 15, 0xFF00).ok());
    EXPECT_EQ(line->lastReadTookUs, us(10000) + ModbusLink::kFrameGap);

    // Another slave's header cannot tell the length: back to the silence rule.
    replyWith({0x02, 0x03, 2, 0, 5});
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->lastReadTookUs, us(60000));
    // A byte 2 ms after the complete frame: the line chatters, and the read
    // runs on to the silence as before, which refuses the frame.
    line->peer = [reply](const Bytes&) {
        return std::vector<Chunk>{{milliseconds(10), reply}, {milliseconds(2), Bytes{0x55}}};
    };
    EXPECT_EQ(link.transact(3, 0, 1).outcome, TransactOutcome::Malformed);
    EXPECT_EQ(line->lastReadTookUs, us(62000));
}

TEST(ReplyLength, FromTheHeader)
{
    using modbus::expectedReplyLength;
    using modbus::kLengthUnknown;
    const uint8_t read[] = {0x01, 0x04, 250};
    EXPECT_EQ(expectedReplyLength(read, 1, 1, 4), 0u);
    EXPECT_EQ(expectedReplyLength(read, 2, 1, 4), 0u);
    EXPECT_EQ(expectedReplyLength(read, 3, 1, 4), 255u);
    const uint8_t tooLong[] = {0x01, 0x03, 252};
    EXPECT_EQ(expectedReplyLength(tooLong, 3, 1, 3), kLengthUnknown);
    const uint8_t coils[] = {0x07, 0x01, 2};
    EXPECT_EQ(expectedReplyLength(coils, 3, 7, 1), 7u);
    EXPECT_EQ(expectedReplyLength(coils, 3, 1, 1), kLengthUnknown);
    EXPECT_EQ(expectedReplyLength(coils, 3, 7, 2), kLengthUnknown);
    const uint8_t exception[] = {0x01, 0x90};
    EXPECT_EQ(expectedReplyLength(exception, 2, 1, 16), 5u);
    const uint8_t echo[] = {0x01, 0x10};
    EXPECT_EQ(expectedReplyLength(echo, 2, 1, 16), 8u);
    EXPECT_EQ(expectedReplyLength(echo, 2, 1, 6), kLengthUnknown);
}

TEST_F(Transact, SilenceAndALostLineAreTold)
{
    line->peer = [](const Bytes&) { return std::vector<Chunk>{}; };
    EXPECT_EQ(link.transact(3, 0, 1).outcome, TransactOutcome::Timeout);
    line->refuseWrites = true;
    EXPECT_EQ(link.transact(3, 0, 1).outcome, TransactOutcome::PortLost);
    echoRequests();
    line->refuseWrites = false;
    line->peer = [](const Bytes& req) {
        Bytes echo(req.begin(), req.begin() + 6);
        echo[5] ^= 1;
        return std::vector<Chunk>{{milliseconds(10), withCrc(echo)}};
    };
    EXPECT_EQ(link.transact(5, 3, 1).outcome, TransactOutcome::EchoMismatch);
    link.closePort();
    EXPECT_EQ(link.transact(3, 0, 1).outcome, TransactOutcome::NotSent);
}

TEST_F(Transact, ClosedPortFailsAtOnceAndCounts)
{
    link.closePort();
    EXPECT_EQ(link.port(), nullptr);
    EXPECT_FALSE(link.transact(1, 0, 16).ok());
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(statuses.back(), "Успешных транзакций 0 /Сбоев 1");
}

TEST_F(Transact, WriteRefusedByTheLineFailsWithoutWaiting)
{
    line->refuseWrites = true;
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(line->now, milliseconds(0));
}

TEST_F(Transact, RequestsThatCannotFitOneFrameAreNotSent)
{
    // 126 registers would need a 257-byte reply; 124 written registers a
    // 257-byte request. Neither may overrun the 256-byte buffers.
    echoRequests();
    EXPECT_FALSE(link.transact(4, 512, 126).ok());
    EXPECT_FALSE(link.transact(16, 0, 124).ok());
    EXPECT_FALSE(link.transact(3, 0, 65535).ok());
    EXPECT_FALSE(link.transact(7, 0, 1).ok());  // not a function the terminal uses
    EXPECT_TRUE(line->written.empty());
    EXPECT_EQ(failures(), 4);
}

TEST_F(Transact, ReadOfZeroRegistersGoesOutAndFailsOnTheException)
{
    replyWith({0x01, 0x84, 0x03});
    EXPECT_FALSE(link.transact(4, 600, 0).ok());
    EXPECT_EQ(line->written.at(0), withCrc({0x01, 0x04, 0x02, 0x58, 0x00, 0x00}));
}

TEST_F(Transact, CountersKeepCountingAcrossReconnection)
{
    echoRequests();
    link.transact(5, 0, 1);
    link.closePort();
    link.transact(5, 0, 1);
    link.setPort(std::make_unique<MemoryLine>());
    link.transact(5, 0, 1);
    EXPECT_EQ(successes(), 1);
    EXPECT_EQ(failures(), 2);
    EXPECT_EQ(statuses.back(), "Успешных транзакций 1 /Сбоев 2");
}

TEST_F(Transact, AnyReplyBytesAtAllLeaveTheImageAloneUnlessValid)
{
    // Random garbage, some of it with the right head or a valid CRC.
    std::mt19937 rng(7);
    for (int a = 0; a < 114; ++a) img.setHolding(uint16_t(a), 0x5A5A);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes b(rng() % 300);
        if (b.size() == 3 + 228) b.push_back(0);  // never exactly one whole valid frame
        for (auto& x : b) x = uint8_t(rng());
        if (round % 2 && b.size() >= 3) {
            b[0] = 0x01;
            b[1] = 0x03;
            b[2] = uint8_t(rng() % 4 ? 228 : rng());
        }
        replyWith(b, round % 3 == 0);
        const int failedBefore = failures();
        if (link.transact(3, 0, 114).ok()) {
            ADD_FAILURE() << "accepted round " << round << " of " << b.size() << " bytes";
            continue;
        }
        ++refused;
        ASSERT_EQ(failures(), failedBefore + 1);
        for (int a = 0; a < 114; ++a) ASSERT_EQ(img.holding(uint16_t(a)), 0x5A5A) << "round " << round;
    }
    EXPECT_EQ(refused, 3000);  // none has exactly 228 data bytes and its CRC right behind them
}

TEST_F(Transact, ZeroBytesAfterACompleteFrameAreAccepted)
{
    Bytes r = withCrc({0x01, 0x03, 2, 0x00, 0x2A});
    r.insert(r.end(), {0, 0, 0});
    replyWith(r, false);
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
    EXPECT_EQ(img.holding(0), 42);
}

TEST_F(Transact, WindowsMayReadTheImageWhileAWorkerTransacts)
{
    // The polling worker rewrites entries that the window thread draws at the
    // same moment; every entry is atomic, so this is well defined (and clean
    // under ThreadSanitizer).
    replyWith({0x01, 0x04, 4, 0x00, 0x00, 0x3F, 0x80});
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) link.transact(4, 0, 2);
        done = true;
    });
    int seen = 0;
    while (!done) seen += img.inputF32(0) == 1.0f;
    worker.join();
    EXPECT_EQ(img.inputF32(0), 1.0f);
    EXPECT_EQ(successes(), 200);
    (void)seen;
}
