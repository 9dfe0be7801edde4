// "Считать новые записи": reading newest first and stopping at the first
// record an earlier report already holds, against the device model's ring,
// also after the ring has wrapped since that report.

#include "DeviceModel.h"
#include "journal/JournalReading.h"

#include <gtest/gtest.h>

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
