// Any bytes as what the modem answers to a dial. Supervision never blocks,
// reads only what is queued, and ends with one of its outcomes and texts.

#include "FuzzCheck.h"
#include "modem/ModemDialogue.h"
#include "support/MemoryLine.h"

using namespace zrv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zrvtest::MemoryLine line;
    // The answer comes in pieces: each 0xFF byte starts a new piece 40 ms on.
    std::vector<zrvtest::Chunk> chunks(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) chunks.push_back({std::chrono::milliseconds(40), {}});
        else chunks.back().bytes.push_back(data[i]);
    }
    bool dialled = false;
    line.peer = [&](const zrvtest::Bytes&) {
        if (dialled) return std::vector<zrvtest::Chunk>{};
        dialled = true;
        return chunks;
    };
    modem::ModemDialogue d(line);
    d.dial("5550");
    modem::TickOutcome r;
    uint32_t ticks = 0;
    while (!(r = d.tick()).finished()) {
        FUZZ_CHECK(++ticks <= modem::kNoAnswerTicks + 1);
        line.pause(modem::kTickInterval);
    }
    using K = modem::TickOutcome;
    switch (r.kind) {
    case K::Connected: FUZZ_CHECK(r.state == "Соединение успешно"); break;
    case K::Failed: FUZZ_CHECK(r.state == "Нет линии" || r.state == "Нет несущей" || r.state == "Занято"); break;
    case K::NoAnswer: FUZZ_CHECK(r.state == "Нет ответа"); break;
    case K::Carrier: FUZZ_CHECK(r.state.empty()); break;
    default: FUZZ_CHECK(false);
    }
    FUZZ_CHECK(!d.dialling());
    return 0;
}
