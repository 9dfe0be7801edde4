// Reading the journal ring: the requests made, where the loop ends, and the
// decoding, against ring contents put straight into the image.

#include "journal/JournalReading.h"

#include <gtest/gtest.h>

#include <random>

using namespace zrv;
using namespace zrv::journal;

namespace {

struct Request {
    uint16_t start, count;
    bool operator==(const Request&) const = default;
};

struct Recorder {
    std::vector<Request> requests;
    std::vector<std::string> pieces;
    std::vector<std::pair<uint16_t, int32_t>> progress;
    int stopAfterRequests = -1;  // the operator presses stop after this many
    int silentFrom = -1;         // the device answers no request from this one on (1 = the first)

    JournalHooks hooks()
    {
        JournalHooks h;
        h.readInputs = [this](uint16_t s, uint16_t c) {
            requests.push_back({s, c});
            return silentFrom < 0 || int(requests.size()) < silentFrom;
        };
        h.stopRequested = [this] { return stopAfterRequests >= 0 && int(requests.size()) >= stopAfterRequests; };
        h.showProgress = [this](uint16_t w, int32_t r) { progress.emplace_back(w, r); };
        h.append = [this](const std::string& p) { pieces.push_back(p); };
        return h;
    }
};

// Writes a record at `start` (wrapping) with `m` words, its link and stamp.
void putRecord(RegisterImage& img, uint16_t start, uint16_t m, uint16_t link, int minute = 0)
{
    for (uint32_t i = 0; i < m; ++i) img.setInput(ringAddress(start, i), 0);
    img.setInput(start, link);
    img.setInput(ringAddress(start, 1), uint16_t(minute & 0xFF));
    img.setInput(ringAddress(start, 2), uint16_t((7 << 8) | 6));
    img.setInput(ringAddress(start, 3), uint16_t((12 << 8) | 26));
}

int32_t run(RegisterImage& img, Recorder& rec, uint16_t end, uint16_t start)
{
    ReportBuilder b;
    return readRecords(end, start, img, b, rec.hooks());
}

}  // namespace

TEST(RecordLength, WithAndWithoutWrap)
{
    EXPECT_EQ(recordLength(1000, 1012), 12);
    EXPECT_EQ(recordLength(32760, 517), 7 + 5);
    EXPECT_EQ(recordLength(512, 32767), 32255);
    EXPECT_EQ(ringAddress(32766, 1), 512);
    EXPECT_FALSE(inRing(511));
    EXPECT_FALSE(inRing(32767));
}

TEST(JournalReading, EmptyJournalReadsNothing)
{
    RegisterImage img;
    Recorder rec;
    EXPECT_EQ(run(img, rec, 512, 512), 0);
    EXPECT_TRUE(rec.requests.empty());
    EXPECT_TRUE(rec.pieces.empty());
}

TEST(JournalReading, ChainOfRecordsNewestFirst)
{
    RegisterImage img;
    // Oldest at 512 (links to itself: the end), then 600, then 700.
    putRecord(img, 512, 88, 512, 1);
    putRecord(img, 600, 100, 512, 2);
    putRecord(img, 700, 12, 600, 3);
    Recorder rec;
    EXPECT_EQ(run(img, rec, 712, 700), 3);
    EXPECT_EQ(rec.requests, (std::vector<Request>{{700, 12}, {600, 100}, {512, 88}}));
    ASSERT_EQ(rec.pieces.size(), 3u);
    EXPECT_EQ(rec.pieces[0], "7:03:00  06.12.2026  P1=0.00 P2=0.00 T=0.00 Q=0\r\n");  // 12 words: stamp only
    EXPECT_EQ(rec.progress, (std::vector<std::pair<uint16_t, int32_t>>{{12, 0}, {112, 1}, {200, 2}}));
}

TEST(JournalReading, WrappingRecordIsReadInTwoRunsAndDecodedInRingOrder)
{
    RegisterImage img;
    // 15 words up to the ring's end and 4 past it; the float entry at words
    // 12..15 straddles the end (its high half at 512), then one 3-word entry.
    putRecord(img, 32752, 19, 32752);
    const uint32_t b = floatBits(2.5f);
    img.setInput(32764, 5);
    img.setInput(32765, 0xC000);
    img.setInput(32766, uint16_t(b & 0xFFFF));
    img.setInput(512, uint16_t(b >> 16));
    img.setInput(513, 6);
    img.setInput(514, 8);
    img.setInput(515, 30);
    Recorder rec;
    EXPECT_EQ(run(img, rec, 516, 32752), 1);
    EXPECT_EQ(rec.requests, (std::vector<Request>{{32752, 15}, {512, 4}}));
    EXPECT_NE(rec.pieces[0].find("Holding Register: 8 Log_Period=30"), std::string::npos);
    ASSERT_EQ(rec.pieces.size(), 1u);
    EXPECT_NE(rec.pieces[0].find("Input Register: 0 P1=2.5"), std::string::npos);
}

TEST(JournalReading, ExactMultipleOf125AsksForZeroAtTheEnd)
{
    RegisterImage img;
    putRecord(img, 1000, 250, 1000);
    Recorder rec;
    run(img, rec, 1250, 1000);
    EXPECT_EQ(rec.requests, (std::vector<Request>{{1000, 125}, {1125, 125}, {1250, 0}}));
}

TEST(JournalReading, StopMidRecordFinishesTheRestAndDoesNotCountIt)
{
    RegisterImage img;
    putRecord(img, 2000, 400, 1000);
    putRecord(img, 1000, 12, 1000);
    Recorder rec;
    rec.stopAfterRequests = 1;
    EXPECT_EQ(run(img, rec, 2400, 2000), 0);
    EXPECT_EQ(rec.requests, (std::vector<Request>{{2000, 125}, {2125, 25}}));
    EXPECT_EQ(rec.pieces.size(), 1u);  // decoded and appended all the same
}

TEST(JournalReading, StopDuringAWrappingRecordStillBeginsTheSecondRun)
{
    RegisterImage img;
    putRecord(img, 32500, 267 + 300, 32500);
    Recorder rec;
    rec.stopAfterRequests = 1;
    run(img, rec, 812, 32500);
    EXPECT_EQ(rec.requests, (std::vector<Request>{{32500, 125}, {32625, 17}, {512, 125}, {637, 50}}));
}

TEST(JournalReading, ASilentDeviceEndsTheReadingWithTheRecordsTrulyRead)
{
    // 1000 and 600, 400 words each (four requests: 125, 125, 125, 25), then
    // the oldest at 512 (88, linking to itself).
    RegisterImage img;
    putRecord(img, 512, 88, 512, 1);
    putRecord(img, 600, 400, 512, 2);
    putRecord(img, 1000, 400, 600, 3);
    struct Case {
        int silentFrom;
        std::size_t pieces;  // records appended before the silence
        std::size_t requests;
    };
    // In the first request, the last 125 of a record, its rest, the first
    // request of the next record, the last one of the chain.
    for (const Case c : {Case{1, 0, 1}, Case{3, 0, 3}, Case{4, 0, 4}, Case{5, 1, 5}, Case{9, 2, 9}}) {
        SCOPED_TRACE(c.silentFrom);
        Recorder rec;
        rec.silentFrom = c.silentFrom;
        ReportBuilder b;
        ReadingResult result;
        const int32_t records = readRecords(1400, 1000, img, b, rec.hooks(), nullptr, &result);
        EXPECT_TRUE(result.cutShort);
        EXPECT_EQ(rec.pieces.size(), c.pieces);
        EXPECT_EQ(records, int32_t(c.pieces));
        EXPECT_EQ(result.keys.size(), c.pieces);
        // Nothing is asked after the unanswered request.
        EXPECT_EQ(rec.requests.size(), c.requests);
    }
    // The request for no registers at the end of a record of 125 * k words
    // is refused by every device; it does not cut a reading short.
    putRecord(img, 2000, 250, 1000);
    Recorder rec;
    rec.silentFrom = 3;
    ReportBuilder b;
    ReadingResult result;
    readRecords(2250, 2000, img, b, rec.hooks(), nullptr, &result);
    EXPECT_EQ(rec.requests[2], (Request{2250, 0}));
    EXPECT_TRUE(result.cutShort);  // at the next record, 1000
    EXPECT_EQ(rec.pieces.size(), 1u);
}

TEST(JournalReading, LoopingChainEndsOnTheRingLimit)
{
    RegisterImage img;
    putRecord(img, 1000, 1000, 3000);  // 1000 -> 3000
    putRecord(img, 3000, 1000, 1000);  // 3000 -> 1000 (loops)
    Recorder rec;
    const int32_t records = run(img, rec, 2000, 1000);
    // 1000 words, then the wrapping 30255 from 3000 back to 1000, then 2000
    // more pass 32239: the loop ends and the last record is not counted.
    EXPECT_EQ(rec.pieces.size(), 3u);
    EXPECT_EQ(records, 2);
    EXPECT_EQ(rec.progress.back().first, 33255);
}

TEST(JournalReading, AddressesOutsideTheRingOrShortRecordsEndTheLoop)
{
    RegisterImage img;
    Recorder rec;
    EXPECT_EQ(run(img, rec, 100, 512), 0);      // write position below the ring
    EXPECT_EQ(run(img, rec, 600, 40000), 0);    // start beyond it
    EXPECT_EQ(run(img, rec, 32767, 32000), 0);  // end at the first address past it
    EXPECT_EQ(run(img, rec, 611, 600), 0);      // 11 words: shorter than a head
    EXPECT_TRUE(rec.requests.empty());
    // A link that leaves the ring ends the chain after the record holding it.
    putRecord(img, 700, 20, 20000 + 32767);
    Recorder rec2;
    EXPECT_EQ(run(img, rec2, 720, 700), 1);
    EXPECT_EQ(rec2.requests.size(), 1u);
}

TEST(Decode, EntriesOfThreeOrFourWordsAndNoneFromBeyondTheRecord)
{
    std::vector<uint16_t> w(12, 0);
    w.insert(w.end(), {10, 0x0000, 2});                     // 3 words
    w.insert(w.end(), {20, 0xC004, 0x0000, 0x3FC0});       // 4 words, float 1.5
    DecodedRecord r = decodeRecord(w);
    ASSERT_EQ(r.entries.size(), 2u);
    EXPECT_EQ(r.entries[1].valueHigh, 0x3FC0);
    w.insert(w.end(), {30, 0x8000, 0x1234});               // a float missing its last word
    r = decodeRecord(w);
    EXPECT_EQ(r.entries.size(), 2u);
    w.push_back(99);                                        // now it is whole
    EXPECT_EQ(decodeRecord(w).entries.size(), 3u);
    w.resize(12 + 3 + 4 + 4 + 2);                           // a lone offset and tag
    EXPECT_EQ(decodeRecord(w).entries.size(), 3u);
    EXPECT_TRUE(decodeRecord(std::vector<uint16_t>(12, 0)).entries.empty());
}

TEST(JournalFuzz, AnyRingGivesAReportAndAnEnd)
{
    std::mt19937 rng(2026);
    for (int round = 0; round < 40; ++round) {
        RegisterImage img;
        for (uint32_t a = 512; a < 32767; ++a) img.setInput(uint16_t(a), uint16_t(rng()));
        // Mostly links into the ring, sometimes anywhere.
        for (int k = 0; k < 200; ++k) {
            const uint16_t a = uint16_t(512 + rng() % 32255);
            img.setInput(a, uint16_t(rng() % 4 ? 512 + rng() % 32255 : rng()));
        }
        Recorder rec;
        ReportBuilder b;
        b.header(img, 1);
        const uint16_t end = uint16_t(rng() % 3 ? 512 + rng() % 32255 : rng());
        const int32_t n = readRecords(end, img.input(end), img, b, rec.hooks());
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 32239 / 12 + 1);
        EXPECT_EQ(rec.pieces.size(), rec.progress.size());
        EXPECT_FALSE(b.summary(n).empty());
        for (const Request& r : rec.requests) {
            EXPECT_GE(r.start, 512);
            EXPECT_LE(uint32_t(r.start) + r.count, 32767u);
            EXPECT_LE(r.count, 125);
        }
    }
}
