// The journal report's text, character for character.

#include "journal/ReportBuilder.h"
#include "text/Cp1251.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zrv;
using namespace zrv::journal;

namespace {

void setClock(RegisterImage& img, int h, int m, int s, int d, int mo, int yMinus2000)
{
    img.setInput(20, uint16_t(s));
    img.setInput(21, uint16_t(m));
    img.setInput(22, uint16_t(h));
    img.setInput(23, uint16_t(d));
    img.setInput(24, uint16_t(mo));
    img.setInput(25, uint16_t(yMinus2000));
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(text.substr(from, at - from));
    EXPECT_EQ(from, text.size()) << "text must end with CR LF";
    return out;
}

Entry holdingEntry(uint16_t offset, uint8_t address, uint16_t value) { return {offset, address, value, 0}; }

Entry floatEntry(uint16_t offset, uint16_t tag, float v)
{
    const uint32_t b = floatBits(v);
    return {offset, uint16_t(tag | 0x8000), uint16_t(b & 0xFFFF), uint16_t(b >> 16)};
}

}  // namespace

TEST(ReportHeader, FirstLinesAndTheFiftyFiveSettings)
{
    RegisterImage img;
    setClock(img, 7, 34, 4, 6, 12, 26);
    const uint16_t weights[] = {200, 55, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) img.setHolding(uint16_t(96 + i), weights[i]);
    img.setHolding(7, 772);
    img.setHoldingF32(32, 1.5f);
    img.setHoldingF32(46, 1500.0f);
    img.setHoldingF32(62, 1.0f);
    img.setHolding(112, 5);
    ReportBuilder b;
    const std::vector<std::string> lines = splitLines(b.header(img, 1));
    ASSERT_EQ(lines.size(), 57u);
    EXPECT_EQ(lines[0], "7:34:04  06.12.2026     ZRV-255");
    EXPECT_EQ(lines[1], "MODBUS Address: 1");
    EXPECT_EQ(lines[2], "Текущий режим (Mode): 0");
    EXPECT_EQ(lines[3], "Тип датчика давления \u04201 (P1_type): 0");
    EXPECT_EQ(lines[9], "Площадь проходного сечения ZRV (Szrv): H:3 L:4");
    EXPECT_EQ(lines[12], "P2B(PA): 1.50");
    EXPECT_EQ(lines[19], "Уставка расхода в режиме QA (Qy): 1500");
    EXPECT_EQ(lines[27], "Масштабный коэффициент расхода (Q0): 1.00");
    EXPECT_EQ(lines[44], "Весовой коэффициент клапана (ZRV_factor0): 200");
    EXPECT_EQ(lines[52], "Максимальное давление отсечки для обратного потока(P1 max): 0.00");
    EXPECT_EQ(lines[56], "Максимальный шаг изменения слова-состояния (DiffStep_max): 5");
    EXPECT_EQ(b.summary(0), "Загружено 0 записей в период c  по 06.12.2026");
}

TEST(ReportHeader, WeightSumIsNotReducedModulo256)
{
    RegisterImage img;
    setClock(img, 7, 34, 4, 6, 12, 26);
    for (int i = 0; i < 8; ++i) img.setHolding(uint16_t(96 + i), 0x0120);
    ReportBuilder b;
    EXPECT_EQ(b.header(img, 111).substr(0, 32), "7:34:04  06.12.2026     ZRV-2304");
}

TEST(ReportHeader, InvalidClockMarkers)
{
    RegisterImage img;
    setClock(img, 25, 34, 4, 6, 12, 26);
    ReportBuilder noTime;
    EXPECT_EQ(noTime.header(img, 1).substr(0, 29), " No Time  06.12.2026     ZRV-");
    EXPECT_EQ(noTime.entryLine(holdingEntry(10, 0, 2)), "      No Time    Holding Register: 0 Mode=2\r\n\r\n");

    setClock(img, 7, 34, 4, 6, 13, 26);
    ReportBuilder noDate;
    EXPECT_EQ(noDate.header(img, 1).substr(0, 31), " No Date  7:34:04       ZRV-0\r\n");
    EXPECT_EQ(noDate.summary(1), "Загружена 1 запись в период c  по неустановленную дату");
    // The base keeps its valid time on day 0.
    EXPECT_EQ(noDate.entryLine(holdingEntry(0, 0, 1)), "      30.12.1899 7:34:04  Holding Register: 0 Mode=1\r\n\r\n");

    setClock(img, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
    ReportBuilder neither;
    EXPECT_EQ(neither.header(img, 1).substr(0, 25), " No Time   No Date       ");
}

TEST(ReportRecord, TheWorkedFiveLines)
{
    RegisterImage img;
    setClock(img, 7, 34, 4, 6, 12, 26);
    ReportBuilder b;
    b.header(img, 1);
    DecodedRecord r;
    r.words[1] = uint16_t((0 << 8) | 0);   // seconds 0, minutes 0
    r.words[2] = uint16_t((7 << 8) | 6);   // hours 7, day 6
    r.words[3] = uint16_t((12 << 8) | 26);  // month 12, year 26
    r.p1 = 3.5f;
    r.p2 = 0.3f;
    r.t = 20.25f;
    r.q = 1250.5f;
    r.entries = {holdingEntry(10, 0, 2), floatEntry(125, 0x4000, 3.25f)};
    EXPECT_EQ(b.recordPiece(r),
              "      06.12.2026 7:36:09  Input Register: 0 P1=3.25\r\n"
              "\r\n"
              "      06.12.2026 7:34:14  Holding Register: 0 Mode=2\r\n"
              "\r\n"
              "7:00:00  06.12.2026  P1=3.50 P2=0.30 T=20.25 Q=1250.5\r\n");
    // The next record's entries stand on this record's stamp.
    EXPECT_EQ(b.entryLine(holdingEntry(60, 8, 30)), "      06.12.2026 7:01:00  Holding Register: 8 Log_Period=30\r\n\r\n");
    EXPECT_EQ(b.summary(1), "Загружена 1 запись в период c 06.12.2026 по 06.12.2026");
}

TEST(ReportRecord, EntryForms)
{
    RegisterImage img;
    setClock(img, 0, 0, 0, 6, 12, 26);  // midnight
    ReportBuilder b;
    b.header(img, 1);
    EXPECT_EQ(b.entryLine(holdingEntry(0, 7, 772)), "      06.12.2026  Holding Register: 7 Szrv H:3 L:4=772\r\n\r\n");
    EXPECT_EQ(b.entryLine(floatEntry(0, 0x4000, 1.5f)), "      06.12.2026  Input Register: 0 P1=1.5\r\n\r\n");
    EXPECT_EQ(b.entryLine(floatEntry(65535, 78, 2.0f)),
              "      06.12.2026 18:12:15  Holding Register: 78 P1\u0412(\u0420\u0410)=2\r\n\r\n");
    EXPECT_EQ(b.entryLine(holdingEntry(0, 200, 1)), "      06.12.2026  Holding Register: 200 =1\r\n\r\n");
    EXPECT_EQ(b.entryLine(Entry{0, 0x4000 | 9, 1, 0}), "      06.12.2026  Input Register: 9 =1\r\n\r\n");
    EXPECT_EQ(b.entryLine(floatEntry(0, 0, std::numeric_limits<float>::quiet_NaN())),
              "      06.12.2026  Holding Register: 0 Mode=  Error  \r\n\r\n");
    EXPECT_EQ(b.entryLine(floatEntry(0, 0x4000 | 6, 1.5e-6f)), "      06.12.2026  Input Register: 6 Qi=1.5E-06\r\n\r\n");
    setClock(img, 23, 0, 0, 31, 12, 26);
    b.header(img, 1);
    EXPECT_EQ(b.entryLine(holdingEntry(7200, 109, 4)),
              "      01.01.2027 1:00:00  Holding Register: 109 DiffStep_max=4\r\n\r\n");
}

TEST(ReportNames, EntryNamesByAddress)
{
    EXPECT_EQ(entryRegisterName(false, 46), "прямой Qy");
    EXPECT_EQ(entryRegisterName(false, 80), "P1\u041d(PA)");
    EXPECT_EQ(entryRegisterName(false, 82), "P1B(QA)");
    EXPECT_EQ(entryRegisterName(false, 110), "Pipe_Volume");
    EXPECT_EQ(entryRegisterName(false, 111), "");
    EXPECT_EQ(entryRegisterName(false, 255), "");
    EXPECT_EQ(entryRegisterName(false, 33), "");
    EXPECT_EQ(entryRegisterName(true, 4), "T");
    int named = 0;
    for (int a = 0; a < 256; ++a) named += !entryRegisterName(false, uint8_t(a)).empty();
    EXPECT_EQ(named, 60);
}

struct Ending {
    int n;
    const char* text;
};
void PrintTo(const Ending& e, std::ostream* os) { *os << e.n << " records: \"" << e.text << '"'; }

class SummaryEndings : public ::testing::TestWithParam<Ending> {};

TEST_P(SummaryEndings, RussianPlural)
{
    ReportBuilder b;
    EXPECT_EQ(b.summary(GetParam().n), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, SummaryEndings,
    ::testing::Values(Ending{0, "Загружено 0 записей в период c  по "}, Ending{1, "Загружена 1 запись в период c  по "},
                      Ending{2, "Загружено 2 записи в период c  по "}, Ending{5, "Загружено 5 записей в период c  по "},
                      Ending{11, "Загружено 11 записей в период c  по "}, Ending{12, "Загружено 12 записи в период c  по "},
                      Ending{21, "Загружена 21 запись в период c  по "}, Ending{22, "Загружено 22 записи в период c  по "},
                      Ending{25, "Загружено 25 записей в период c  по "}, Ending{101, "Загружена 101 запись в период c  по "},
                      Ending{111, "Загружено 111 записей в период c  по "}));

TEST(ReportFormats, FGAndG2)
{
    EXPECT_EQ(formatF(1.5f), "1.50");
    EXPECT_EQ(formatF(123.456f), "123.50");
    EXPECT_EQ(formatF(12345.0f), "1.235E4");
    EXPECT_EQ(formatG(1250.5f), "1250.5");
    EXPECT_EQ(formatG(12345678.0f), "1.234568E7");
    EXPECT_EQ(formatG2(12345678.0f), "1.234568E07");
    EXPECT_EQ(formatG(0.0001f), "0.0001");
    EXPECT_EQ(formatG(0.00001f), "1E-5");  // the float lies just below 0.00001
    EXPECT_EQ(formatG(0.000001f), "1E-6");
    EXPECT_EQ(formatG2(0.000001f), "1E-06");
    EXPECT_EQ(formatG(0.0f), "0");
    EXPECT_EQ(formatG(1234567.0f), "1234567");
}

TEST(ReportBytes, Cp1251WithTheLookAlikesWhereTheyBelong)
{
    using text::utf8ToCp1251;
    EXPECT_EQ(utf8ToCp1251("Загружено"), "\xC7\xE0\xE3\xF0\xF3\xE6\xE5\xED\xEE");
    // "c" of " в период c " is Latin; "Р" of "Р1" in the header is Cyrillic.
    ReportBuilder b;
    const std::string summary = utf8ToCp1251(b.summary(3));
    EXPECT_NE(summary.find(" \xE2 \xEF\xE5\xF0\xE8\xEE\xE4 c "), std::string::npos);
    RegisterImage img;
    const std::string header = utf8ToCp1251(b.header(img, 1));
    EXPECT_NE(header.find("\xE4\xE0\xE2\xEB\xE5\xED\xE8\xFF \xD0" "1 (P1_type)"), std::string::npos);
    EXPECT_NE(header.find("\xF0\xE5\xE6\xE8\xEC\xE5 \xD0\xC0 (TPA)"), std::string::npos);
    EXPECT_NE(header.find("\xF0\xE5\xE6\xE8\xEC\xE5 Q\xC0 (TQA)"), std::string::npos);
    EXPECT_EQ(text::cp1251ToUtf8(utf8ToCp1251("№ Ёё «x» — €")), "№ Ёё «x» — €");
    EXPECT_EQ(utf8ToCp1251("日本\xFF"), "???");
    EXPECT_EQ(text::cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

TEST(ReportBytes, OnlyShortestUtf8FormsAreCharacters)
{
    using text::utf8ToCp1251;
    // Overlong forms of NUL, "A" and "А", a surrogate, and past U+10FFFF:
    // each lead byte becomes "?" and its continuations too.
    EXPECT_EQ(utf8ToCp1251(std::string("\xC0\x80", 2)), "??");
    EXPECT_EQ(utf8ToCp1251("\xC1\x81"), "??");
    EXPECT_EQ(utf8ToCp1251("\xE0\x90\x90"), "???");
    EXPECT_EQ(utf8ToCp1251("\xF0\x80\x80\x81"), "????");
    EXPECT_EQ(utf8ToCp1251("\xED\xA0\x80"), "???");
    EXPECT_EQ(utf8ToCp1251("\xF4\x90\x80\x80"), "????");
    // The shortest forms at each length's lower edge still decode.
    EXPECT_EQ(utf8ToCp1251("\xC2\xA0\xD0\x90"), "\xA0\xC0");
    EXPECT_EQ(utf8ToCp1251("\xE2\x80\x94"), "\x97");
}
