#include "JournalReading.h"

namespace zrv::journal {

namespace {

// k requests of 125 registers, the stop flag tested after each, then the rest
// at the address reached, even when the rest is 0 (the device refuses that
// one; it only costs a counted failure).
void readRun(uint16_t address, uint16_t count, const JournalHooks& h)
{
    const int full = count / kMaxRequest;
    const uint16_t rest = uint16_t(count - full * kMaxRequest);
    for (int k = 0; k < full; ++k) {
        h.readInputs(address, kMaxRequest);
        address = uint16_t(address + kMaxRequest);
        if (h.stopRequested()) break;
    }
    h.readInputs(address, rest);
}

}  // namespace

void readRecord(uint16_t start, uint16_t end, const JournalHooks& h)
{
    if (end >= start) {
        readRun(start, uint16_t(end - start), h);
    } else {
        readRun(start, uint16_t(kRingEnd - start), h);
        readRun(kRingFirst, uint16_t(end - kRingFirst), h);
    }
}

DecodedRecord decodeRecord(const std::vector<uint16_t>& w)
{
    DecodedRecord r;
    if (w.size() < kRecordHead) return r;
    for (int i = 0; i < 4; ++i) r.words[i] = w[std::size_t(i)];
    r.p1 = floatFromHalves(w[4], w[5]);
    r.p2 = floatFromHalves(w[6], w[7]);
    r.t = floatFromHalves(w[8], w[9]);
    r.q = floatFromHalves(w[10], w[11]);
    std::size_t p = kRecordHead;
    const std::size_t m = w.size();
    while (p < m) {
        if (p + 2 > m) break;
        Entry e;
        e.offsetSeconds = w[p];
        e.tag = w[p + 1];
        const std::size_t size = e.isFloat() ? 4 : 3;
        if (p + size > m) break;  // its words would come from the next record
        e.value = w[p + 2];
        if (e.isFloat()) e.valueHigh = w[p + 3];
        r.entries.push_back(e);
        p += size;
    }
    return r;
}

int32_t readRecords(uint16_t recordEnd, uint16_t recordStart, const RegisterImage& image, ReportBuilder& builder,
                    const JournalHooks& h)
{
    int32_t recordsRead = 0;
    uint16_t wordsRead = 0;
    std::vector<uint16_t> words;
    words.reserve(32768);
    for (;;) {
        if (recordEnd == recordStart) break;
        // Addresses outside the ring or a record shorter than its head end
        // the chain as an empty record would: nothing is read beyond the ring.
        if (!inRing(recordEnd) || !inRing(recordStart)) break;
        const uint16_t m = recordLength(recordStart, recordEnd);
        if (m < kRecordHead) break;
        readRecord(recordStart, recordEnd, h);
        wordsRead = uint16_t(wordsRead + m);
        h.showProgress(wordsRead, recordsRead);

        words.assign(m, 0);
        for (uint32_t i = 0; i < m; ++i) words[i] = image.input(ringAddress(recordStart, i));
        const DecodedRecord record = decodeRecord(words);
        const std::string piece = builder.recordPiece(record);
        recordEnd = recordStart;
        recordStart = record.words[0];
        h.append(piece);

        if (wordsRead > kWordsReadLimit) break;
        if (h.stopRequested()) break;
        ++recordsRead;
    }
    return recordsRead;
}

}  // namespace zrv::journal
