// Any bytes as the reply to a request of the terminal, through the whole
// transaction on the in-memory line. A refused reply leaves the image as it
// was; an accepted one was whole, ended where its request said, and changed
// only the points it was asked for. The first byte's high bit picks the
// framing rule: both must check a reply alike.

#include "FuzzCheck.h"
#include "link/ModbusCrc16.h"
#include "link/ModbusFrame.h"
#include "link/ModbusTransact.h"
#include "support/MemoryLine.h"

#include <cstring>

using namespace zrv;

namespace {

struct Request {
    uint8_t function;
    uint16_t start;
    uint16_t countOrValue;
};

// The requests the terminal makes, and a few at the edges.
constexpr Request kRequests[] = {
    {1, 0, 16}, {2, 0, 24}, {3, 0, 114}, {4, 0, 28}, {3, 96, 8}, {3, 0, 1}, {4, 20, 6}, {4, 512, 125},
    {4, 32700, 67}, {5, 15, 1}, {5, 2, 0}, {16, 0, 1}, {16, 10, 6}, {16, 0, 114}, {1, 0, 1}, {3, 0, 125},
};

struct Snapshot {
    uint8_t coils[reg::kCoilCount];
    uint8_t discrete[reg::kDiscreteCount];
    uint16_t holding[reg::kHoldingCount];
};

Snapshot take(const RegisterImage& img)
{
    Snapshot s{};
    for (uint16_t a = 0; a < reg::kCoilCount; ++a) s.coils[a] = img.coil(a);
    for (uint16_t a = 0; a < reg::kDiscreteCount; ++a) s.discrete[a] = img.discrete(a);
    for (uint16_t a = 0; a < reg::kHoldingCount; ++a) s.holding[a] = img.holding(a);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const Request rq = kRequests[(data[0] & 0x7F) % (sizeof kRequests / sizeof kRequests[0])];
    const zrvtest::Bytes reply(data + 1, data + size);

    static RegisterImage img;
    static ModbusLink link(img);
    auto owned = std::make_unique<zrvtest::MemoryLine>();
    zrvtest::MemoryLine* line = owned.get();
    link.setPort(std::move(owned));
    const bool fast = data[0] & 0x80;
    link.setFastFraming(fast);
    line->peer = [&reply, fast](const zrvtest::Bytes&) {
        // Under the length rule the reply also comes in two pieces with a
        // gap longer than 3.5 characters between them.
        if (!fast || reply.size() < 2) return std::vector<zrvtest::Chunk>{{std::chrono::milliseconds(5), reply}};
        const auto half = reply.begin() + std::ptrdiff_t(reply.size() / 2);
        return std::vector<zrvtest::Chunk>{{std::chrono::milliseconds(5), zrvtest::Bytes(reply.begin(), half)},
                                           {std::chrono::milliseconds(6), zrvtest::Bytes(half, reply.end())}};
    };

    // A pattern the reply has to overwrite to be seen.
    for (uint16_t a = 0; a < reg::kCoilCount; ++a) img.setCoil(a, a & 1);
    for (uint16_t a = 0; a < reg::kHoldingCount; ++a) img.setHolding(a, uint16_t(0xA500 + a));
    for (uint32_t a = rq.start; a < uint32_t(rq.start) + 130 && a < 65536; ++a) img.setInput(uint16_t(a), 0x5A5A);
    const Snapshot before = take(img);
    const uint16_t inputBefore = img.input(rq.start);

    const TransactResult result = link.transact(rq.function, rq.start, rq.countOrValue);
    const Snapshot after = take(img);
    const bool isRead = rq.function <= 4;
    const std::size_t dataBytes = modbus::replyDataBytes(rq.function, rq.countOrValue);
    const std::size_t expected = isRead ? 3 + dataBytes + 2 : 8;

    if (!result.ok()) {
        // Nothing of a refused reply reaches the image.
        FUZZ_CHECK(std::memcmp(&before, &after, sizeof before) == 0);
        FUZZ_CHECK(img.input(rq.start) == inputBefore);
        FUZZ_CHECK(result.outcome != TransactOutcome::Ok);
    } else {
        FUZZ_CHECK(result.outcome == TransactOutcome::Ok);
        // Whole, ending where the request says, only zero fill after it.
        FUZZ_CHECK(reply.size() >= expected);
        FUZZ_CHECK(reply[0] == 1 && reply[1] == rq.function);
        FUZZ_CHECK(ModbusCrc16(reply.data(), expected) == 0);
        // A first piece that is exactly the frame ends the read under the
        // length rule; the second piece then is a later arrival, not this
        // reply. Otherwise everything after the frame was read with it.
        const std::size_t half = reply.size() / 2;
        const std::size_t seen = (fast && reply.size() >= 2 && expected == half) ? half : reply.size();
        for (std::size_t i = expected; i < seen && i < modbus::kAduMax; ++i) FUZZ_CHECK(reply[i] == 0);
        if (!isRead) {
            FUZZ_CHECK(std::memcmp(reply.data(), line->written.at(0).data(), 6) == 0);
            FUZZ_CHECK(std::memcmp(&before, &after, sizeof before) == 0);
        }
        // Only the asked-for points changed.
        const auto outside = [&](uint32_t a) { return a < rq.start || a >= uint32_t(rq.start) + rq.countOrValue; };
        if (rq.function != 1)
            for (uint16_t a = 0; a < reg::kCoilCount; ++a) FUZZ_CHECK(after.coils[a] == before.coils[a]);
        if (rq.function != 2)
            for (uint16_t a = 0; a < reg::kDiscreteCount; ++a) FUZZ_CHECK(after.discrete[a] == before.discrete[a]);
        for (uint16_t a = 0; a < reg::kHoldingCount; ++a)
            if (rq.function != 3 || outside(a)) FUZZ_CHECK(after.holding[a] == before.holding[a]);
    }
    link.closePort();
    return 0;
}
