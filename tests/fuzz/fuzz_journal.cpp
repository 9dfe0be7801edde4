// Any words as the device's journal ring and write position. The reading
// ends, asks only for registers inside the ring in requests of at most 125,
// and the report it builds is text a file can hold.

#include "FuzzCheck.h"
#include "journal/JournalReading.h"
#include "journal/ReportBuilder.h"
#include "text/Cp1251.h"

using namespace zrv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    static RegisterImage img;
    img.clear();
    // The ring from 512 on, as the device might hold it; the rest of it zero.
    const uint16_t end = uint16_t(reg::kRingFirst + ((data[0] | (data[1] << 8)) % (reg::kRingSize + 40)));
    std::size_t w = 0;
    for (std::size_t i = 2; i + 1 < size && w < reg::kRingSize; i += 2, ++w)
        img.setInput(uint16_t(reg::kRingFirst + w), uint16_t(data[i] | (data[i + 1] << 8)));
    img.setInput(reg::kInJournalWritePos, end);

    journal::ReportBuilder builder;
    std::string report = builder.header(img, 1);
    uint32_t requests = 0, words = 0;
    // The device may fall silent at any request (the write position's low
    // byte picks which, 0 never): nothing after it may be appended.
    const uint32_t silentFrom = data[0];
    uint32_t appendedAfterSilence = 0;
    journal::JournalHooks hooks;
    hooks.readInputs = [&](uint16_t start, uint16_t count) {
        // A run's rest goes out even when it is 0 registers (the device
        // refuses that one; it costs a counted failure, nothing more).
        FUZZ_CHECK(count <= journal::kMaxRequest);
        FUZZ_CHECK(start >= reg::kRingFirst && uint32_t(start) + count <= reg::kRingEnd);
        ++requests;
        words += count;
        return silentFrom == 0 || requests < silentFrom;
    };
    hooks.stopRequested = [] { return false; };
    hooks.showProgress = [](uint16_t, int32_t) {};
    hooks.append = [&](const std::string& piece) {
        appendedAfterSilence += silentFrom != 0 && requests >= silentFrom;
        report += piece + "\r\n";
    };
    journal::ReadingResult result;
    const int32_t records = journal::readRecords(end, img.input(end), img, builder, hooks, nullptr, &result);
    FUZZ_CHECK(records >= 0);
    FUZZ_CHECK(appendedAfterSilence == 0);
    FUZZ_CHECK(!result.cutShort || (silentFrom != 0 && requests == silentFrom));
    FUZZ_CHECK(result.keys.size() >= std::size_t(records));
    // Never more than the ring, plus what one record may run past the limit.
    FUZZ_CHECK(words <= uint32_t(reg::kRingSize) + 2u * reg::kRingSize);
    report += builder.summary(records);
    // Valid UTF-8 that CP1251 holds: through the file encoding and back,
    // unchanged.
    FUZZ_CHECK(text::cp1251ToUtf8(text::utf8ToCp1251(report)) == report);
    return 0;
}
