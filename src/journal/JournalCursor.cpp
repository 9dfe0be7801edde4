#include "JournalCursor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zrv::journal {

namespace {

std::string keyText(const RecordKey& k) { return formatRecordKeys({k}); }

std::optional<RecordKey> keyFromText(const std::string& text)
{
    const RecordKeys k = parseRecordKeys(text);
    if (k.size() != 1) return std::nullopt;
    return k.front();
}

struct Seen {
    uint64_t words = 0;
    int records = 0;
    void add(uint32_t m)
    {
        words += m;
        ++records;
    }
    double mean() const { return records ? double(words) / records : 0.0; }
};

struct GapWalk {
    RecordKey above;  // the oldest record read so far
    Seen read;        // the gap's records read now
    bool closed = false;
    bool lost = false;       // the ring wrote over what was left of it
    uint32_t wordsLost = 0;  // how much, where the gap's bottom is known
    bool cutShort = false;
    bool stopped = false;
};

// Goes down the chain from the gap's upper record to its bottom. Each record
// is checked before it is read: it must lie further back from the write
// position than the record above it. A link that points forward again comes
// from a record the ring has since written over; everything from there down
// to the bottom is gone.
GapWalk walkGap(const JournalGap& g, uint16_t writePosition, const RegisterImage& image, ReportBuilder& builder,
                const JournalHooks& h, Seen& seen)
{
    GapWalk w;
    w.above = g.above;
    const auto age = [writePosition](uint16_t a) { return uint32_t(recordLength(a, writePosition)); };
    const auto lostDownFrom = [&](uint16_t oldestHeld) {
        w.closed = w.lost = true;
        if (g.bottom && inRing(*g.bottom)) w.wordsLost = recordLength(*g.bottom, oldestHeld);
    };
    if (!inRing(g.above.start) || (g.bottom && !inRing(*g.bottom))) {
        w.closed = true;  // not a place on this ring: nothing to go on from
        return w;
    }
    if (!readHead(g.above.start, h)) {
        w.cutShort = true;
        return w;
    }
    // The ring overwrites the oldest first: when the record above the gap
    // is gone, so is all of the gap.
    if (keyAt(g.above.start, image) != g.above) {
        lostDownFrom(g.above.start);
        return w;
    }
    // The gap's newest record takes its entries' times from the record above
    // it, not from whatever this call built last.
    DecodedRecord above;
    std::copy(g.above.stamp.begin(), g.above.stamp.end(), above.words + 1);
    builder.continueBelow(stampOf(above));
    uint16_t end = g.above.start;
    uint16_t start = image.input(g.above.start);
    std::vector<uint16_t> words;
    for (;;) {
        if (g.bottom && end == *g.bottom) {
            w.closed = true;
            return w;
        }
        if (start == end || !inRing(start) || recordLength(start, end) < kRecordHead || age(start) <= age(end)) {
            if (g.below) lostDownFrom(end);
            else w.closed = true;  // the ring's oldest record: the gap's end
            return w;
        }
        // The bottom lies inside this record: the chain no longer runs where
        // it did (a journal cleared meanwhile). Nothing to say it was lost.
        if (g.bottom && age(*g.bottom) > age(end) && age(*g.bottom) < age(start)) {
            w.closed = true;
            return w;
        }
        if (g.below && start == g.below->start) {
            if (!readHead(start, h)) {
                w.cutShort = true;
                return w;
            }
            if (keyAt(start, image) == *g.below) {
                w.closed = true;
                return w;
            }
        }
        const uint16_t m = recordLength(start, end);
        if (!readRecord(start, end, h)) {
            w.cutShort = true;
            return w;
        }
        words.assign(m, 0);
        for (uint32_t i = 0; i < m; ++i) words[i] = image.input(ringAddress(start, i));
        const DecodedRecord record = decodeRecord(words);
        const std::string piece = builder.recordPiece(record);
        w.above = {start, {record.words[1], record.words[2], record.words[3]}};
        seen.add(m);
        w.read.add(m);
        if (h.append) h.append(piece);
        if (h.record) h.record(w.above, record, piece);
        if (h.showProgress) h.showProgress(uint16_t(std::min<uint64_t>(seen.words, 0xFFFF)), seen.records);
        if (g.bottom && start == *g.bottom) {
            w.closed = true;
            return w;
        }
        end = start;
        start = record.words[0];
        if (h.stopRequested()) {
            w.stopped = true;
            return w;
        }
    }
}

}  // namespace

std::string formatGaps(const std::vector<JournalGap>& gaps)
{
    std::string out;
    for (const JournalGap& g : gaps) {
        if (!out.empty()) out += ',';
        out += keyText(g.above) + '>' + (g.below ? keyText(*g.below) : std::string()) + '>';
        char buf[16];
        if (g.bottom) {
            std::snprintf(buf, sizeof buf, "%04x", *g.bottom);
            out += buf;
        }
        std::snprintf(buf, sizeof buf, ">%04x", g.recordWords);
        out += buf;
    }
    return out;
}

std::vector<JournalGap> parseGaps(const std::string& text)
{
    std::vector<JournalGap> gaps;
    std::size_t pos = 0;
    while (pos < text.size() && gaps.size() < kGapsKept) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        const std::string item = text.substr(pos, comma - pos);
        pos = comma + 1;
        const std::size_t a = item.find('>');
        const std::size_t b = a == std::string::npos ? a : item.find('>', a + 1);
        if (b == std::string::npos) continue;
        JournalGap g;
        const auto above = keyFromText(item.substr(0, a));
        if (!above) continue;
        g.above = *above;
        const std::string below = item.substr(a + 1, b - a - 1);
        if (!below.empty()) {
            g.below = keyFromText(below);
            if (!g.below) continue;
        }
        const std::size_t c = item.find('>', b + 1);
        const std::string bottom = item.substr(b + 1, c == std::string::npos ? c : c - b - 1);
        if (c != std::string::npos) {
            unsigned v = 0;
            char tail = 0;
            const std::string words = item.substr(c + 1);
            if (words.size() != 4 || std::sscanf(words.c_str(), "%4x%c", &v, &tail) != 1 || v > kRingSize) continue;
            g.recordWords = uint16_t(v);
        }
        if (!bottom.empty()) {
            unsigned v = 0;
            char tail = 0;
            if (bottom.size() != 4 || std::sscanf(bottom.c_str(), "%4x%c", &v, &tail) != 1 || !inRing(uint16_t(v)))
                continue;
            g.bottom = uint16_t(v);
        }
        gaps.push_back(g);
    }
    return gaps;
}

CursorReading readFromCursor(uint16_t recordEnd, uint16_t recordStart, const RegisterImage& image,
                             ReportBuilder& builder, const JournalHooks& h, const JournalCursor& before)
{
    CursorReading out;
    const uint16_t writePosition = recordEnd;
    JournalHooks headHooks = h;
    headHooks.endWhereOverwritten = true;
    readRecords(recordEnd, recordStart, image, builder, headHooks, before.keys.empty() ? nullptr : &before.keys,
                &out.head);
    const ReadingResult& head = out.head;

    Seen seen;
    uint16_t end = writePosition;
    for (const RecordKey& k : head.keys) {
        seen.add(recordLength(k.start, end));
        end = k.start;
    }
    const Seen headSeen = seen;
    const bool stopped = h.stopRequested();
    out.cutShort = head.cutShort;

    JournalCursor& after = out.after;
    after = before;
    std::vector<JournalGap> gaps;
    if (!head.keys.empty()) {
        after.keys = mergeRecordKeys(head.keys, before.keys, kKeysKept);
        after.end = writePosition;
        // Short of the records held (or, on a first reading, of the ring's
        // oldest): what lies between is still to be read.
        const bool readToTheEnd = head.reachedKnown || head.chainEnded || (!head.cutShort && !stopped);
        if (!readToTheEnd) {
            JournalGap g;
            g.above = head.keys.back();
            if (!before.keys.empty()) {
                g.below = before.keys.front();
                g.bottom = before.end;
            }
            g.recordWords = uint16_t(std::lround(headSeen.mean()));
            gaps.push_back(g);
        }
    } else if (head.reachedKnown) {
        after.end = writePosition;
    }

    for (const JournalGap& g : before.gaps) {
        if (out.cutShort || stopped || h.stopRequested()) {
            gaps.push_back(g);
            continue;
        }
        const GapWalk w = walkGap(g, writePosition, image, builder, h, seen);
        if (w.cutShort) out.cutShort = true;
        if (w.lost) {
            out.wordsLost += w.wordsLost;
            ++out.gapsLost;
            // Records of a device's journal run alike from hour to hour:
            // those read in the gap, or next to it, tell the length of the
            // lost ones best.
            const double mean = w.read.records ? w.read.mean()
                                : g.recordWords ? double(g.recordWords)
                                : seen.records  ? seen.mean()
                                                : 21.0;
            if (w.wordsLost) out.recordsLost += std::max(1, int(std::lround(w.wordsLost / mean)));
        }
        if (w.closed) {
            ++out.gapsClosed;
            continue;
        }
        JournalGap rest = g;
        rest.above = w.above;
        gaps.push_back(rest);
    }
    while (gaps.size() > kGapsKept) {
        JournalGap& newer = gaps[gaps.size() - 2];
        newer.below = gaps.back().below;
        newer.bottom = gaps.back().bottom;
        gaps.pop_back();
    }
    after.gaps = std::move(gaps);
    return out;
}

}  // namespace zrv::journal
