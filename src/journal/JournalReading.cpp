#include "JournalReading.h"

#include <algorithm>
#include <cstdio>

namespace zrv::journal {

namespace {

// k requests of 125 registers, the stop flag tested after each, then the rest
// at the address reached, even when the rest is 0 (the device refuses that
// one; it only costs a counted failure).
bool readRun(uint16_t address, uint16_t count, const JournalHooks& h)
{
    const int full = count / kMaxRequest;
    const uint16_t rest = uint16_t(count - full * kMaxRequest);
    for (int k = 0; k < full; ++k) {
        if (!h.readInputs(address, kMaxRequest)) return false;
        address = uint16_t(address + kMaxRequest);
        if (h.stopRequested()) break;
    }
    return h.readInputs(address, rest) || rest == 0;
}

}  // namespace

bool readHead(uint16_t start, const JournalHooks& h)
{
    constexpr uint16_t kHead = 4;
    const uint16_t first = uint16_t(std::min<int>(kHead, kRingEnd - start));
    if (!h.readInputs(start, first)) return false;
    return first == kHead || h.readInputs(kRingFirst, uint16_t(kHead - first));
}

RecordKey keyAt(uint16_t start, const RegisterImage& image)
{
    RecordKey k;
    k.start = start;
    for (uint32_t i = 0; i < 3; ++i) k.stamp[i] = image.input(ringAddress(start, i + 1));
    return k;
}

std::string cutShortNote(const std::string& why) { return " (чтение прервано: " + why + ")"; }

std::string formatRecordKeys(const RecordKeys& keys)
{
    std::string out;
    char buf[32];
    for (const RecordKey& k : keys) {
        std::snprintf(buf, sizeof buf, "%s%04x:%04x:%04x:%04x", out.empty() ? "" : ",", k.start, k.stamp[0],
                      k.stamp[1], k.stamp[2]);
        out += buf;
    }
    return out;
}

RecordKeys parseRecordKeys(const std::string& text)
{
    RecordKeys keys;
    std::size_t pos = 0;
    while (pos <= text.size() && keys.size() < kKeysKept) {
        const std::size_t end = std::min(text.find(',', pos), text.size());
        const std::string item = text.substr(pos, end - pos);
        unsigned v[4] = {};
        char tail = 0;
        if (item.size() == 19 && std::sscanf(item.c_str(), "%4x:%4x:%4x:%4x%c", &v[0], &v[1], &v[2], &v[3], &tail) == 4 &&
            inRing(uint16_t(v[0])))
            keys.push_back({uint16_t(v[0]), {uint16_t(v[1]), uint16_t(v[2]), uint16_t(v[3])}});
        pos = end + 1;
    }
    return keys;
}

RecordKeys mergeRecordKeys(const RecordKeys& newer, const RecordKeys& older, std::size_t limit)
{
    RecordKeys out;
    for (const RecordKeys* list : {&newer, &older})
        for (const RecordKey& k : *list)
            if (out.size() < limit && std::find(out.begin(), out.end(), k) == out.end()) out.push_back(k);
    return out;
}

bool readRecord(uint16_t start, uint16_t end, const JournalHooks& h)
{
    if (end >= start) return readRun(start, uint16_t(end - start), h);
    return readRun(start, uint16_t(kRingEnd - start), h) && readRun(kRingFirst, uint16_t(end - kRingFirst), h);
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
                    const JournalHooks& h, const RecordKeys* known, ReadingResult* result)
{
    ReadingResult local;
    ReadingResult& r = result ? *result : local;
    r = ReadingResult{};
    int32_t recordsRead = 0;
    uint16_t wordsRead = 0;
    std::vector<uint16_t> words;
    words.reserve(32768);
    const uint16_t writePosition = recordEnd;
    const auto overwritten = [&] {
        return h.endWhereOverwritten && recordEnd != writePosition &&
               recordLength(recordStart, writePosition) <= recordLength(recordEnd, writePosition);
    };
    for (;;) {
        // Addresses outside the ring or a record shorter than its head end
        // the chain as an empty record would: nothing is read beyond the ring.
        if (recordEnd == recordStart || !inRing(recordEnd) || !inRing(recordStart) ||
            recordLength(recordStart, recordEnd) < kRecordHead || overwritten()) {
            r.chainEnded = true;
            break;
        }
        const uint16_t m = recordLength(recordStart, recordEnd);
        if (known && std::any_of(known->begin(), known->end(),
                                 [&](const RecordKey& k) { return k.start == recordStart; })) {
            if (!readHead(recordStart, h)) {
                r.cutShort = true;
                break;
            }
            const RecordKey here = keyAt(recordStart, image);
            if (std::find(known->begin(), known->end(), here) != known->end()) {
                r.reachedKnown = true;
                break;
            }
        }
        if (!readRecord(recordStart, recordEnd, h)) {
            r.cutShort = true;
            break;
        }
        wordsRead = uint16_t(wordsRead + m);
        if (h.showProgress) h.showProgress(wordsRead, recordsRead);

        words.assign(m, 0);
        for (uint32_t i = 0; i < m; ++i) words[i] = image.input(ringAddress(recordStart, i));
        const DecodedRecord record = decodeRecord(words);
        const std::string piece = builder.recordPiece(record);
        r.keys.push_back({recordStart, {record.words[1], record.words[2], record.words[3]}});
        recordEnd = recordStart;
        recordStart = record.words[0];
        if (h.append) h.append(piece);
        if (h.record) h.record(r.keys.back(), record, piece);

        if (wordsRead > kWordsReadLimit) break;
        if (h.stopRequested()) break;
        ++recordsRead;
    }
    r.recordsRead = recordsRead;
    return recordsRead;
}

}  // namespace zrv::journal
