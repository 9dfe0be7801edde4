// The journal as a table: rows from the report's own lines.

#include "journal/JournalCsv.h"
#include "journal/JournalReading.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zrv;
using namespace zrv::journal;

namespace {

std::vector<std::string> lines(const std::string& report)
{
    std::vector<std::string> out;
    std::istringstream in(report);
    std::string l;
    while (std::getline(in, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
    }
    return out;
}

}  // namespace

TEST(JournalCsv, RowsOfAGeneratedJournalWithAWrappingRecord)
{
    // Two records: the older at 32740 wrapping to 512 (27 + 5 words), the
    // newer after it. The device clock of the header: 06.12.2026 7:34:04.
    RegisterImage img;
    img.setInput(20, 4);
    img.setInput(21, 34);
    img.setInput(22, 7);
    img.setInput(23, 6);
    img.setInput(24, 12);
    img.setInput(25, 26);
    const auto put = [&img](uint16_t start, std::vector<uint16_t> words) {
        for (uint32_t i = 0; i < words.size(); ++i) img.setInput(ringAddress(start, i), words[i]);
    };
    const auto stamp = [](int h, int m, int s) {
        return std::vector<uint16_t>{uint16_t((s << 8) | m), uint16_t((h << 8) | 6), uint16_t((12 << 8) | 26)};
    };
    std::vector<uint16_t> older = {32740};
    for (uint16_t w : stamp(6, 0, 0)) older.push_back(w);
    for (int i = 0; i < 8; ++i) older.push_back(0);
    // Five holding-register entries (Mode = i) 10 s apart, then a float
    // entry of P1 = 2.5: 12 + 15 + 4 = 31 words.
    for (uint16_t i = 0; i < 5; ++i) older.insert(older.end(), {uint16_t(10 * i), 0x0000, i});
    older.insert(older.end(), {60, 0xC000, 0x0000, 0x4020});
    ASSERT_EQ(older.size(), 31u);
    older.push_back(0);  // pads to 32 words: half an entry, not decoded
    put(32740, older);
    const uint16_t newerStart = ringAddress(32740, 32);
    std::vector<uint16_t> newer = {32740};
    for (uint16_t w : stamp(7, 0, 0)) newer.push_back(w);
    for (int i = 0; i < 8; ++i) newer.push_back(0);
    newer.insert(newer.end(), {125, 0x4000 | 4, 21});  // T as a 16-bit value
    put(newerStart, newer);
    const uint16_t end = uint16_t(newerStart + newer.size());

    ReportBuilder b;
    std::string report = b.header(img, 1) + "\r\n";
    JournalHooks h;
    h.readInputs = [](uint16_t, uint16_t) { return true; };
    h.stopRequested = [] { return false; };
    h.showProgress = [](uint16_t, int32_t) {};
    h.append = [&report](const std::string& p) { report += p + "\r\n"; };
    ReadingResult r;
    readRecords(end, newerStart, img, b, h, nullptr, &r);
    ASSERT_EQ(r.keys.size(), 2u);
    EXPECT_EQ(r.keys[1].start, 32740);

    const auto rows = csvRows(lines(report));
    ASSERT_EQ(rows.size(), 1u + 6u);
    EXPECT_EQ(rows[0].recordTime, "06.12.2026 7:00:00");
    EXPECT_EQ(rows[0].entryTime, "06.12.2026 7:36:09");  // the device clock + 125 s
    EXPECT_EQ(rows[0].name, "T");
    EXPECT_EQ(rows[0].reg, "Input 4");
    EXPECT_EQ(rows[0].value, "21");
    // The wrapping record's entries, newest first, on the newer record's stamp.
    EXPECT_EQ(rows[1].recordTime, "06.12.2026 6:00:00");
    EXPECT_EQ(rows[1].entryTime, "06.12.2026 7:01:00");
    EXPECT_EQ(rows[1].name, "P1");
    EXPECT_EQ(rows[1].value, "2,5");
    EXPECT_EQ(rows[6].name, "Mode");
    EXPECT_EQ(rows[6].reg, "Holding 0");
    EXPECT_EQ(rows[6].value, "0");
    EXPECT_EQ(rows[6].entryTime, "06.12.2026 7:00:00");

    const std::string csv = journalCsv(lines(report));
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBF" "Время записи;Время события;Параметр;Регистр;Значение\r\n", 0), 0u);
    EXPECT_NE(csv.find("\r\n06.12.2026 7:00:00;06.12.2026 7:36:09;T;Input 4;21\r\n"), std::string::npos);
}

TEST(JournalCsv, OddLinesAndFieldsThatNeedQuoting)
{
    const std::vector<std::string> report = {
        "   No Time    Holding Register: 7 Szrv H:3 L:4=772",
        "      06.12.2026 7:00:00  Holding Register: 200 =5",
        "   Input Register: x =1",               // no register number: not an entry
        "   Holding Register: 1 ;odd\"name=  Error  ",  // hand-edited
        " No Time  06.12.2026  P1=1.00 P2=2.00 T=3.00 Q=4",
        "      7:00:00  Input Register: 0 P1=1.5e-07",  // after the last stamp
    };
    const auto rows = csvRows(report);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "Szrv H:3 L:4");
    EXPECT_EQ(rows[0].entryTime, "No Time");
    EXPECT_EQ(rows[0].recordTime, "No Time  06.12.2026");
    EXPECT_EQ(rows[1].name, "");
    EXPECT_EQ(rows[2].value, "Error");
    EXPECT_EQ(rows[3].recordTime, "");
    EXPECT_EQ(rows[3].value, "1,5e-07");
    const std::string csv = journalCsv(report);
    EXPECT_NE(csv.find(";\";odd\"\"name\";Holding 1;Error\r\n"), std::string::npos) << csv;
}
