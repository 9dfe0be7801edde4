// "Считать новые записи": reading newest first and stopping at the first
// record an earlier report already holds, against the device model's ring,
// also after the ring has wrapped since that report.

#include "DeviceModel.h"
#include "journal/JournalCursor.h"
#include "journal/JournalReading.h"

#include <gtest/gtest.h>

#include <map>

using namespace zrv;
using namespace zrv::journal;
using zrvsim::JournalEntry;
using zrvsim::JournalStamp;

namespace {

class NewRecords : public ::testing::Test {
protected:
    // Each request copies the device's registers into the image, as a
    // transaction would.
    JournalHooks hooks()
    {
        JournalHooks h;
        h.readInputs = [this](uint16_t start, uint16_t count) {
            requests.push_back(start);
            if (silentFrom > 0 && int(requests.size()) >= silentFrom) return false;
            for (uint32_t i = 0; i < count; ++i) img.setInput(uint16_t(start + i), device.inputs[start + i]);
            return true;
        };
        h.stopRequested = [] { return false; };
        h.showProgress = [](uint16_t, int32_t) {};
        h.append = [this](const std::string& p) { pieces.push_back(p); };
        return h;
    }
    ReadingResult read(const RecordKeys* known)
    {
        requests.clear();
        pieces.clear();
        const uint16_t end = device.writePosition();
        const uint16_t start = device.inputs[end];
        ReportBuilder builder;
        ReadingResult r;
        readRecords(end, start, img, builder, hooks(), known, &r);
        return r;
    }
    // The collector's reading; each record it hands over is counted by its
    // P1, which is the minute it was written in.
    CursorReading readCursor(const JournalCursor& cursor)
    {
        requests.clear();
        pieces.clear();
        const uint16_t end = device.writePosition();
        ReportBuilder builder;
        JournalHooks h = hooks();
        h.record = [this](const RecordKey&, const DecodedRecord& r, const std::string&) { ++timesRead[int(r.p1)]; };
        return readFromCursor(end, device.inputs[end], img, builder, h, cursor);
    }
    // Each minute from `from` up to `to` read exactly once so far.
    ::testing::AssertionResult eachReadOnce(int from, int to)
    {
        for (int m = from; m < to; ++m)
            if (timesRead[m] != 1)
                return ::testing::AssertionFailure() << "record of minute " << m << " read " << timesRead[m] << " times";
        return ::testing::AssertionSuccess();
    }
    std::map<int, int> timesRead;

    // A record of 12 + 3n words, stamped a minute after the last.
    void append(int entries)
    {
        JournalStamp s;
        s.hours = 9 + minute / 60 % 12;
        s.min = minute % 60;
        s.day = 1 + minute / 720 % 28;
        s.p1 = float(minute);
        ++minute;
        device.appendRecord(s, std::vector<JournalEntry>(std::size_t(entries), JournalEntry{1, 0x0000, 2, 0}));
    }

    zrvsim::DeviceModel device;
    RegisterImage img;
    std::vector<uint16_t> requests;
    std::vector<std::string> pieces;
    int minute = 0;
    int silentFrom = 0;  // the device answers no request from this one on
};

}  // namespace

TEST_F(NewRecords, StopsAtTheFirstRecordHeldAndReadsOnlyTheNewOnes)
{
    for (int i = 0; i < 40; ++i) append(10);  // 42 words each
    const ReadingResult full = read(nullptr);
    ASSERT_EQ(full.recordsRead, 40);
    ASSERT_EQ(full.keys.size(), 40u);
    EXPECT_FALSE(full.reachedKnown);

    const uint16_t oldWrite = device.writePosition();
    for (int i = 0; i < 10; ++i) append(20);
    const ReadingResult fresh = read(&full.keys);
    EXPECT_TRUE(fresh.reachedKnown);
    EXPECT_EQ(fresh.recordsRead, 10);
    EXPECT_EQ(pieces.size(), 10u);
    // One request per new record, and one for the head of the known one.
    EXPECT_EQ(requests.size(), 11u);
    EXPECT_EQ(fresh.keys.front().start, device.inputs[device.writePosition()]);
    EXPECT_EQ(fresh.keys.back().start, oldWrite) << "the oldest new record begins where the old newest ended";

    // Nothing new: the head of the newest record alone.
    const RecordKeys both = mergeRecordKeys(fresh.keys, full.keys, kKeysKept);
    const ReadingResult none = read(&both);
    EXPECT_TRUE(none.reachedKnown);
    EXPECT_EQ(none.recordsRead, 0);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(pieces.empty());

    // Silent at the head of the record held, then at the third new record:
    // neither a match nor a record is made of what the image held before.
    for (int i = 0; i < 3; ++i) append(5);
    for (const int silent : {4, 3}) {
        silentFrom = silent;
        const ReadingResult cut = read(&both);
        EXPECT_TRUE(cut.cutShort);
        EXPECT_FALSE(cut.reachedKnown);
        EXPECT_EQ(pieces.size(), std::size_t(silent - 1));
        EXPECT_EQ(cut.keys.size(), std::size_t(silent - 1));
        EXPECT_EQ(requests.size(), std::size_t(silent));
    }
}

TEST_F(NewRecords, AcrossARingThatWrappedSinceTheLastReport)
{
    // Records of 1001 words: 32 fill the ring's 32255 registers but one.
    for (int i = 0; i < 30; ++i) append(330);
    const ReadingResult before = read(nullptr);
    ASSERT_EQ(before.recordsRead, 30);
    const uint16_t oldWrite = device.writePosition();

    // Five more: the ring wraps past its end and overwrites the oldest.
    for (int i = 0; i < 5; ++i) append(330);
    ASSERT_LT(device.writePosition(), oldWrite) << "the write position went round";
    const ReadingResult after = read(&before.keys);
    EXPECT_TRUE(after.reachedKnown);
    EXPECT_EQ(after.recordsRead, 5);
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_NE(pieces[0].find("P1=34.00"), std::string::npos) << pieces[0];  // the newest, minute 34
    EXPECT_NE(pieces[4].find("P1=30.00"), std::string::npos) << pieces[4];

    // An address the ring reused for a newer record is not the old record.
    RecordKeys stale = before.keys;
    for (RecordKey& k : stale) k.stamp[0] ^= 0x0100;  // other seconds
    const ReadingResult whole = read(&stale);
    EXPECT_FALSE(whole.reachedKnown);
    EXPECT_GE(whole.recordsRead, 31);
}

TEST_F(NewRecords, AReadingCutShortLeavesAGapTheNextCallsClose)
{
    // A first call: the device falls silent after 11 of its 30 records.
    for (int i = 0; i < 30; ++i) append(10);
    silentFrom = 12;
    CursorReading r = readCursor({});
    EXPECT_TRUE(r.cutShort);
    EXPECT_EQ(r.head.keys.size(), 11u);
    ASSERT_EQ(r.after.gaps.size(), 1u);
    EXPECT_FALSE(r.after.gaps[0].below) << "a first reading's gap runs down to the ring's oldest";

    // It answers again, with three new records: the new ones, then the 19
    // of the gap, and no record twice.
    silentFrom = 0;
    for (int i = 0; i < 3; ++i) append(10);
    r = readCursor(r.after);
    EXPECT_FALSE(r.cutShort);
    EXPECT_TRUE(r.head.reachedKnown);
    EXPECT_EQ(r.gapsClosed, 1);
    EXPECT_TRUE(r.after.gaps.empty());
    EXPECT_EQ(r.recordsLost, 0);
    EXPECT_TRUE(eachReadOnce(0, 33));
    const JournalCursor whole = r.after;

    // Twenty new, cut short after five, then cut short again inside the gap
    // (two gaps now), then a clean call: every record once, nothing left.
    for (int i = 0; i < 20; ++i) append(10);
    silentFrom = 6;
    r = readCursor(whole);
    ASSERT_EQ(r.after.gaps.size(), 1u);
    EXPECT_EQ(r.after.gaps[0].below, whole.keys.front());
    EXPECT_EQ(r.after.gaps[0].bottom, whole.end);
    // The cursor survives its text form, as the store keeps it.
    EXPECT_EQ(parseGaps(formatGaps(r.after.gaps)), r.after.gaps);
    for (int i = 0; i < 4; ++i) append(10);
    silentFrom = 4 + 1 + 1 + 6;  // the new four, the head held, the gap's upper head, five of the gap
    r = readCursor(r.after);
    EXPECT_TRUE(r.cutShort);
    EXPECT_EQ(r.after.gaps.size(), 1u) << "the same gap, its upper end lower now";
    silentFrom = 0;
    r = readCursor(r.after);
    EXPECT_TRUE(r.after.gaps.empty());
    EXPECT_TRUE(eachReadOnce(0, 57));
    EXPECT_EQ(timesRead.size(), 57u);

    // A reading stopped in the new records and one in the gap below it
    // leave two gaps; one call closes both.
    const JournalCursor clean = r.after;
    for (int i = 0; i < 10; ++i) append(10);
    silentFrom = 4;
    r = readCursor(clean);
    for (int i = 0; i < 10; ++i) append(10);
    silentFrom = 5;
    r = readCursor(r.after);
    EXPECT_EQ(r.after.gaps.size(), 2u);
    silentFrom = 0;
    r = readCursor(r.after);
    EXPECT_TRUE(r.after.gaps.empty());
    EXPECT_EQ(r.gapsClosed, 2);
    EXPECT_TRUE(eachReadOnce(0, 77));
}

TEST_F(NewRecords, AGapTheRingWroteOverIsCountedAsLost)
{
    // Records of 312 words; 103 fill the ring.
    for (int i = 0; i < 40; ++i) append(100);
    const CursorReading first = readCursor({});
    ASSERT_TRUE(first.after.gaps.empty());
    for (int i = 0; i < 30; ++i) append(100);
    silentFrom = 22;  // three requests a record: 7 new records read, 23 left in the gap
    const CursorReading cut = readCursor(first.after);
    ASSERT_EQ(cut.after.gaps.size(), 1u);

    // Before the next call the device writes enough to go round the ring
    // past the 10 oldest records of the gap, and then past all of it.
    for (int i = 0; i < 83; ++i) append(100);  // minutes 50..152 left whole
    silentFrom = 0;
    CursorReading r = readCursor(cut.after);
    EXPECT_TRUE(r.after.gaps.empty());
    EXPECT_EQ(r.gapsLost, 1);
    EXPECT_EQ(r.recordsLost, 10);
    EXPECT_TRUE(eachReadOnce(40 + 10, 40 + 30)) << "what the ring kept of the gap is read";

    for (int i = 0; i < 40; ++i) append(100);
    silentFrom = 5;  // the newest read, the rest a gap of 39
    const CursorReading again = readCursor(r.after);
    ASSERT_EQ(again.after.gaps.size(), 1u);
    for (int i = 0; i < 110; ++i) append(100);
    silentFrom = 0;
    r = readCursor(again.after);
    EXPECT_TRUE(r.after.gaps.empty());
    EXPECT_EQ(r.recordsLost, 39) << "the whole gap, the record above it gone too";
    // The new records stop where the ring wrote over the oldest: nothing it
    // holds now is read as a record that was never written.
    EXPECT_EQ(r.head.recordsRead, 103);
    EXPECT_LT(timesRead.rbegin()->first, 303);
    EXPECT_GE(timesRead.begin()->first, 0);
}

TEST(RecordKeysText, RoundTripAndDamage)
{
    const RecordKeys keys = {{512, {0x1e05, 0x0906, 0x0c1a}}, {32766, {0, 0xffff, 1}}};
    const std::string text = formatRecordKeys(keys);
    EXPECT_EQ(text, "0200:1e05:0906:0c1a,7ffe:0000:ffff:0001");
    EXPECT_EQ(parseRecordKeys(text), keys);
    // Keys outside the ring, short items, junk and overlong text are skipped.
    EXPECT_EQ(parseRecordKeys("0100:0000:0000:0000,zz,0200:1e05:0906:0c1a,7fff:0:0:0,0200:1e05:0906:0c1az"),
              RecordKeys{keys[0]});
    EXPECT_TRUE(parseRecordKeys("").empty());
    EXPECT_EQ(parseRecordKeys(std::string(100000, ',') + text).size(), 2u);
    RecordKeys many;
    for (uint16_t i = 0; i < 200; ++i) many.push_back({uint16_t(600 + i), {i, 0, 0}});
    EXPECT_EQ(parseRecordKeys(formatRecordKeys(many)).size(), kKeysKept);
    EXPECT_EQ(mergeRecordKeys({keys[1]}, keys, 10), (RecordKeys{keys[1], keys[0]}));
}
