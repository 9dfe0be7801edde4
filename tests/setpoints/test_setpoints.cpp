// The setpoint catalogue, the edit conversions, the checks before a write and
// the block transfers.

#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointChecks.h"
#include "support/MemoryLine.h"
#include "text/NumberParse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace zrv;
using namespace zrv::setpoints;

namespace {

// A set that passes every check (the device model's defaults, as a device
// would deliver them).
void validSet(RegisterImage& img, ValveWeightArray& w)
{
    img.setHolding(reg::kP1Type, 16);
    img.setHolding(reg::kP2Type, 6);
    img.setHolding(reg::kTPA, 60);
    img.setHolding(reg::kTQA, 60);
    img.setHolding(reg::kLogPeriod, 60);
    img.setHolding(reg::kLogTolerance, 5);
    img.setHolding(reg::kDiffStepMax, 5);
    img.setHolding(reg::kTAvg, 10);
    for (auto [a, v] : std::initializer_list<std::pair<uint16_t, float>>{
             {32, 3.0f}, {34, 2.0f}, {36, 3.0f}, {38, 2.0f}, {40, 3.0f}, {42, 2.0f}, {44, 2.0f}, {50, 5.0f},
             {52, 0.5f}, {56, 0.3f}, {58, 1.0f}, {78, 10.f}, {80, 4.f}, {82, 10.f}, {84, 4.f}, {86, 10.f},
             {88, 4.f}, {90, 4.f}, {104, 12.f}, {106, 1.f}, {108, 1.f}, {110, 12.5f}})
        img.setHoldingF32(a, v);
    for (int i = 0; i < 8; ++i) {
        img.setHoldingF32(uint16_t(62 + 2 * i), 1.0f);
        w[std::size_t(i)] = uint8_t(1 << (i % 6));
    }
}

class Checks : public ::testing::Test {
protected:
    void SetUp() override { validSet(img, weights); }
    RegisterImage img;
    ValveWeightArray weights{};
};

}  // namespace

TEST(Catalogue, RowCountsPerView)
{
    const int counts[2][3] = {{2, 3, 4}, {2, 3, 4}};
    for (int tab = 0; tab < 2; ++tab)
        for (int sub = 0; sub < 3; ++sub) EXPECT_EQ(rowsFor(tab, sub).size(), std::size_t(counts[tab][sub]));
    EXPECT_EQ(rowsFor(2, kNoSubTab).size(), 17u);
    EXPECT_EQ(rowsFor(3, kNoSubTab).size(), 14u);
    EXPECT_EQ(rowsFor(4, kNoSubTab).size(), 2u);
    EXPECT_TRUE(rowsFor(0, 3).empty());
    EXPECT_TRUE(rowsFor(1, -1).empty());
    // The sub-tab is ignored where there is no strip.
    EXPECT_EQ(rowsFor(3, 2).size(), 14u);
}

TEST(Catalogue, RowsNumberFromOneAndNeverShowHiddenRegisters)
{
    std::set<uint16_t> shown;
    for (int tab = 0; tab < 5; ++tab) {
        for (int sub = (tab < 2 ? 0 : kNoSubTab); sub < (tab < 2 ? 3 : 0); ++sub) {
            int expected = 1;
            for (const Row* r : rowsFor(tab, sub)) {
                EXPECT_EQ(r->row, expected++);
                shown.insert(r->reg);
            }
        }
    }
    for (uint16_t hidden : {0, 3, 6, 7, 10, 15, 16, 31, 54}) EXPECT_EQ(shown.count(hidden), 0u) << hidden;
    EXPECT_EQ(shown.size(), 51u);
}

TEST(Catalogue, CyrillicUpperAndLowerLetters)
{
    EXPECT_STREQ(findRow(0, 0, 1)->label, "P2\u0412 (кгс/кв.см)");
    EXPECT_STREQ(findRow(0, 0, 2)->label, "P2\u041d (кгс/кв.см)");
    EXPECT_STREQ(findRow(1, 2, 3)->label, "P1M (кгс/кв.см)");  // Latin M
    EXPECT_STREQ(findRow(2, kNoSubTab, 2)->label, "Q1");
    EXPECT_EQ(labelFor(*findRow(0, 1, 3), false), "Qy (тыс. нм3/ч)");
    EXPECT_EQ(labelFor(*findRow(0, 1, 3), true), "Qy");
    EXPECT_EQ(labelFor(*findRow(1, 1, 3), true), "Qyr (тыс. нм3/ч)");
}

struct ShowCase {
    int tab, sub, row;
    uint16_t reg;
    float f;          // for float rows
    uint16_t u;       // for integer rows
    const char* text;
};
void PrintTo(const ShowCase& c, std::ostream* os)
{
    *os << "tab " << c.tab << " sub " << c.sub << " row " << c.row << " (register " << c.reg << ") shows \"" << c.text
        << '"';
}

class RowDisplay : public ::testing::TestWithParam<ShowCase> {};

TEST_P(RowDisplay, FormatsTheRegister)
{
    const ShowCase& c = GetParam();
    RegisterImage img;
    const Row* r = findRow(c.tab, c.sub, c.row);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->reg, c.reg);
    if (reg::isFloatHolding(r->reg)) img.setHoldingF32(c.reg, c.f);
    else img.setHolding(c.reg, c.u);
    EXPECT_EQ(displayText(*r, img), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowDisplay,
    ::testing::Values(ShowCase{0, 1, 3, 46, 12500.f, 0, "12.5"}, ShowCase{0, 1, 3, 46, 0.f, 0, "0"},
                      ShowCase{0, 0, 1, 32, 0.5f, 0, "0.5"}, ShowCase{0, 2, 4, 48, 25000.f, 0, "25"},
                      ShowCase{1, 2, 4, 94, 800.f, 0, "0.8"}, ShowCase{2, -1, 1, 60, 78.5f, 0, "78.5"},
                      ShowCase{2, -1, 9, 76, 1.35f, 0, "1.35"}, ShowCase{2, -1, 10, 96, 0, 300, "300"},
                      ShowCase{3, -1, 1, 1, 0, 600, "600"}, ShowCase{3, -1, 4, 5, 0, 10000, "1E4"},
                      ShowCase{3, -1, 5, 56, 0.00005f, 0, "5E-5"}, ShowCase{3, -1, 12, 110, 1e7f, 0, "1E7"},
                      ShowCase{3, -1, 13, 112, 0, 65535, "65535"}, ShowCase{3, -1, 14, 113, 0, 30, "30"},
                      ShowCase{4, -1, 1, 8, 0, 32768, "3.277E4"}, ShowCase{4, -1, 2, 9, 0, 20, "20"}));

TEST(Edit, TypingOnePointFiveStoresEachNumberOnTheWay)
{
    RegisterImage img;
    ValveWeightArray w{};
    EXPECT_EQ(applyEdit(0, 0, 1, "1", img, w).kind, EditResult::Stored);
    EXPECT_EQ(img.holdingF32(32), 1.0f);
    EXPECT_EQ(applyEdit(0, 0, 1, "1.", img, w).kind, EditResult::Stored);
    EXPECT_EQ(applyEdit(0, 0, 1, "1.5", img, w).kind, EditResult::Stored);
    EXPECT_EQ(img.holdingF32(32), 1.5f);
}

TEST(Edit, LoneMinusAndEmptyText)
{
    RegisterImage img;
    ValveWeightArray w{};
    img.setHoldingF32(34, 2.0f);
    const EditResult minus = applyEdit(0, 0, 2, "-", img, w);
    EXPECT_EQ(minus.kind, EditResult::NotANumber);
    EXPECT_EQ(minus.message, "'-' is not a valid floating point value");
    EXPECT_EQ(img.holdingF32(34), 2.0f);
    EXPECT_EQ(applyEdit(0, 0, 2, "", img, w).kind, EditResult::Ignored);
    EXPECT_EQ(applyEdit(0, 0, 2, "-2", img, w).kind, EditResult::Stored);
    EXPECT_EQ(img.holdingF32(34), -2.0f);
}

TEST(Edit, ConversionsByRow)
{
    RegisterImage img;
    ValveWeightArray w{};
    applyEdit(0, 2, 4, "25", img, w);  // Qm, thousands
    EXPECT_EQ(img.holdingF32(48), 25000.0f);
    applyEdit(3, kNoSubTab, 3, "700.9", img, w);  // TPA, integer
    EXPECT_EQ(img.holding(4), 700);
    applyEdit(3, kNoSubTab, 3, "-1", img, w);
    EXPECT_EQ(img.holding(4), 65535);
    applyEdit(3, kNoSubTab, 3, "-2.7", img, w);  // truncated toward zero
    EXPECT_EQ(img.holding(4), 65534);
    applyEdit(3, kNoSubTab, 3, "70000", img, w);  // low 16 bits
    EXPECT_EQ(img.holding(4), 70000 - 65536);
    applyEdit(4, kNoSubTab, 1, "1e30", img, w);  // huge: its low 16 bits, and 10^30 is a multiple of 2^16
    EXPECT_EQ(img.holding(8), 0);
    applyEdit(4, kNoSubTab, 1, "65537.9", img, w);
    EXPECT_EQ(img.holding(8), 1);
    // A row the view does not list stores nothing.
    EXPECT_EQ(applyEdit(0, 0, 3, "5", img, w).kind, EditResult::Ignored);
}

TEST(Edit, WeightsGoToValveWeightsNotTheImage)
{
    RegisterImage img;
    ValveWeightArray w{};
    img.setHolding(96, 7);
    EXPECT_EQ(applyEdit(2, kNoSubTab, 10, "300", img, w).kind, EditResult::Stored);
    EXPECT_EQ(w[0].load(), 44);
    EXPECT_EQ(img.holding(96), 7);
    applyEdit(2, kNoSubTab, 17, "257", img, w);
    EXPECT_EQ(w[7].load(), 1);
    const EditResult half = applyEdit(2, kNoSubTab, 11, "2.5", img, w);
    EXPECT_EQ(half.kind, EditResult::NotAWhole);
    EXPECT_EQ(half.message, "'2.5' is not a valid integer value");
    EXPECT_EQ(w[1].load(), 0);
    EXPECT_EQ(applyEdit(2, kNoSubTab, 11, "1e10", img, w).kind, EditResult::NotAWhole);
    EXPECT_EQ(applyEdit(2, kNoSubTab, 11, "-1", img, w).kind, EditResult::Stored);
    EXPECT_EQ(w[1].load(), 255);
}

TEST(Edit, AnyTextGivesAValueOrTheMessageNeverInfinity)
{
    RegisterImage img;
    ValveWeightArray w{};
    for (const char* t : {"abc", ".", "1e40", "-1e39", "NaN", "inf", "1,5", "1.2.3", "e5", "1e", "--1",
                          "\xd0\xb0\xd0\xb1", "0x10", "1 2"}) {
        img.setHoldingF32(32, 3.0f);
        const EditResult r = applyEdit(0, 0, 1, t, img, w);
        EXPECT_EQ(r.kind, EditResult::NotANumber) << t;
        EXPECT_NE(r.message.find(std::string("'") + t + "'"), std::string::npos) << r.message;
        EXPECT_EQ(img.holdingF32(32), 3.0f);
    }
    for (const char* t : {" 7 ", "+7", "7.", ".5", "1E3", "3.4e38", "1e-50"}) {
        EXPECT_EQ(applyEdit(0, 0, 1, t, img, w).kind, EditResult::Stored) << t;
        EXPECT_TRUE(std::isfinite(img.holdingF32(32)));
    }
    // A flow that overflows only once scaled by 1000 is refused as well.
    EXPECT_EQ(applyEdit(0, 2, 4, "1e37", img, w).kind, EditResult::NotANumber);
}

TEST_F(Checks, AValidSetPassesAndCopiesTheWeights)
{
    EXPECT_EQ(checkBeforeWrite(img, weights), "");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img.holding(uint16_t(96 + i)), weights[std::size_t(i)].load());
}

TEST_F(Checks, FlowCoefficientHidesAnEarlierCrossCheckAndStopsTheRest)
{
    img.setHoldingF32(32, 2.0f);  // P2B(PA) < P2H(PA)
    img.setHoldingF32(34, 3.0f);
    img.setHoldingF32(62, 0.4f);  // Q1
    img.setHolding(reg::kTPA, 700);
    weights[0] = 0;
    EXPECT_EQ(checkBeforeWrite(img, weights), "Ошибка коэффициента Q1");
    EXPECT_EQ(img.holding(96), 0);  // weights never reached
    img.setHoldingF32(62, 1.0f);
    EXPECT_EQ(checkBeforeWrite(img, weights), "Ошибка TPA");
    img.setHolding(reg::kTPA, 60);
    weights[0] = 1;
    EXPECT_EQ(checkBeforeWrite(img, weights), "P2B(PA)<P2H(PA)");
}

TEST_F(Checks, WeightsUpTo32Pass)
{
    weights[4] = 32;
    EXPECT_EQ(checkBeforeWrite(img, weights), "");
    EXPECT_EQ(img.holding(100), 32);
    weights[4] = 33;
    EXPECT_EQ(checkBeforeWrite(img, weights), "Ошибка весового коэффициента клапана 5");
    weights[4] = 0;
    EXPECT_EQ(checkBeforeWrite(img, weights), "Ошибка весового коэффициента клапана 5");
}

TEST_F(Checks, WeightAbove32IsRefusedAfterCopyingTheOnesBefore)
{
    weights[2] = 44;  // 300 typed
    img.setHolding(96, 99);
    EXPECT_EQ(checkBeforeWrite(img, weights), "Ошибка весового коэффициента клапана 3");
    EXPECT_EQ(img.holding(96), weights[0].load());
    EXPECT_EQ(img.holding(98), 0);
    weights[2] = 1;  // 257 typed
    EXPECT_EQ(checkBeforeWrite(img, weights), "");
}

struct Boundary {
    const char* name;
    std::function<void(RegisterImage&)> set;
    const char* message;  // "" when the set must pass
};

class CheckBoundaries : public Checks, public ::testing::WithParamInterface<Boundary> {};

TEST_P(CheckBoundaries, LastFailingMessageOrNone)
{
    GetParam().set(img);
    EXPECT_EQ(checkBeforeWrite(img, weights), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, CheckBoundaries,
    ::testing::Values(
        Boundary{"P2maxAboveP1type",
                 [](RegisterImage& i) {
                     i.setHolding(reg::kP1Type, 6);
                     i.setHolding(reg::kP2Type, 16);
                     i.setHoldingF32(reg::kP2Max, 10.f);
                     i.setHoldingF32(reg::kP1Max, 6.f);
                 },
                 "Ошибка максимального давления отсечки P2"},
        Boundary{"Tavg31", [](RegisterImage& i) { i.setHolding(reg::kTAvg, 31); },
                 "Ошибка времени усреднения давления"},
        Boundary{"Tavg30", [](RegisterImage& i) { i.setHolding(reg::kTAvg, 30); }, ""},
        Boundary{"LogPeriod32768", [](RegisterImage& i) { i.setHolding(reg::kLogPeriod, 32768); }, ""},
        Boundary{"LogPeriod32769", [](RegisterImage& i) { i.setHolding(reg::kLogPeriod, 32769); },
                 "Ошибка периода записи журнала событий"},
        Boundary{"LogToleranceZero", [](RegisterImage& i) { i.setHolding(reg::kLogTolerance, 0); },
                 "Ошибка отклонения измеряемого парамера журнала событий"},
        Boundary{"JournalHidesParameter",
                 [](RegisterImage& i) {
                     i.setHolding(reg::kTAvg, 0);
                     i.setHolding(reg::kLogPeriod, 0);
                 },
                 "Ошибка периода записи журнала событий"},
        Boundary{"DpkrEdges",
                 [](RegisterImage& i) {
                     i.setHoldingF32(reg::kDPkr, 0.1f);
                     i.setHoldingF32(reg::kP2Min, 9.9f);
                     i.setHoldingF32(reg::kP2H_PA, 9.9f);
                     i.setHoldingF32(reg::kP2H_QA, 9.9f);
                     i.setHoldingF32(reg::kP2H_QM, 9.9f);
                     i.setHoldingF32(reg::kP2B_PA, 9.9f);
                 },
                 "P2B(PA)>P2 MAX"},
        Boundary{"DpkrBelow", [](RegisterImage& i) { i.setHoldingF32(reg::kDPkr, 0.09f); },
                 "Ошибка допустимого отклонения выходного давления"},
        Boundary{"P1typeAbove76", [](RegisterImage& i) { i.setHolding(reg::kP1Type, 77); },
                 "Ошибка типа датчика давления P1"},
        Boundary{"GNegative", [](RegisterImage& i) { i.setHoldingF32(reg::kG, -0.1f); }, "Ошибка коэффициента G"},
        Boundary{"PipeVolumeHuge", [](RegisterImage& i) { i.setHoldingF32(reg::kPipeVolume, 1.1e7f); },
                 "Ошибка объема трубы"},
        Boundary{"DiffStepZero", [](RegisterImage& i) { i.setHolding(reg::kDiffStepMax, 0); },
                 "Ошибка максимального шага слова-состояния"},
        Boundary{"P2MAboveP2H", [](RegisterImage& i) { i.setHoldingF32(reg::kP2M_QM, 2.5f); }, "P2M>P2H(QM)"},
        Boundary{"P1HBelowMin", [](RegisterImage& i) { i.setHoldingF32(reg::kP1H_QM, 0.5f); },
                 "P1H(QM)<P1 MIN)"},
        Boundary{"Q8High", [](RegisterImage& i) { i.setHoldingF32(76, 2.01f); }, "Ошибка коэффициента Q8"},
        Boundary{"QAtBothEdges",
                 [](RegisterImage& i) {
                     i.setHoldingF32(reg::kQ1, 0.5f);
                     i.setHoldingF32(reg::kQ1 + 14, 2.0f);
                 },
                 ""},
        Boundary{"Q1Low", [](RegisterImage& i) { i.setHoldingF32(reg::kQ1, 0.49f); }, "Ошибка коэффициента Q1"},
        Boundary{"Tpa600", [](RegisterImage& i) { i.setHolding(reg::kTPA, 600); }, ""},
        Boundary{"Tpa601", [](RegisterImage& i) { i.setHolding(reg::kTPA, 601); }, "Ошибка TPA"},
        Boundary{"Tqa600", [](RegisterImage& i) { i.setHolding(reg::kTQA, 600); }, ""},
        Boundary{"Tqa601", [](RegisterImage& i) { i.setHolding(reg::kTQA, 601); }, "Ошибка TQA"},
        Boundary{"LogTolerance20", [](RegisterImage& i) { i.setHolding(reg::kLogTolerance, 20); }, ""},
        Boundary{"LogTolerance21", [](RegisterImage& i) { i.setHolding(reg::kLogTolerance, 21); },
                 "Ошибка отклонения измеряемого парамера журнала событий"},
        Boundary{"GAtItsLimits",
                 [](RegisterImage& i) { i.setHoldingF32(reg::kG, 4.0f); }, ""},
        Boundary{"GZero", [](RegisterImage& i) { i.setHoldingF32(reg::kG, 0.0f); }, ""},
        Boundary{"GAbove", [](RegisterImage& i) { i.setHoldingF32(reg::kG, 4.001f); }, "Ошибка коэффициента G"},
        // A value that is no number, as only a device can send one.
        Boundary{"GNotANumber", [](RegisterImage& i) { i.setHoldingF32(reg::kG, std::nanf("")); },
                 "Ошибка коэффициента G"},
        Boundary{"P1MaxNotANumber", [](RegisterImage& i) { i.setHoldingF32(reg::kP1Max, std::nanf("")); },
                 "Ошибка максимального давления отсечки P1"},
        Boundary{"Q3NotANumber", [](RegisterImage& i) { i.setHoldingF32(reg::kQ1 + 4, std::nanf("")); },
                 "Ошибка коэффициента Q3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transfer, ReadShrinksFrom114AndAFailureOnceAsksFor113)
{
    RegisterImage img;
    ModbusLink link(img);
    auto owned = std::make_unique<zrvtest::MemoryLine>();
    zrvtest::MemoryLine* line = owned.get();
    link.setPort(std::move(owned));
    int calls = 0;
    line->peer = [&calls](const zrvtest::Bytes& req) {
        if (++calls == 1) return std::vector<zrvtest::Chunk>{};  // lost
        const int count = req[5];
        zrvtest::Bytes reply{0x01, 0x03, uint8_t(2 * count)};
        for (int i = 0; i < count; ++i) reply.insert(reply.end(), {0x00, 0x07});
        return std::vector<zrvtest::Chunk>{{zrvtest::milliseconds(5), zrvtest::withCrc(reply)}};
    };
    img.setHolding(113, 0xABCD);
    ASSERT_TRUE(readHoldingBlock(link));
    ASSERT_EQ(line->written.size(), 2u);
    EXPECT_EQ(line->written[0][5], 114);
    EXPECT_EQ(line->written[1][5], 113);
    EXPECT_EQ(img.holding(112), 7);
    EXPECT_EQ(img.holding(113), 0xABCD);
}

TEST(Transfer, SilentDeviceCosts104AttemptsDownTo11)
{
    RegisterImage img;
    ModbusLink link(img);
    auto owned = std::make_unique<zrvtest::MemoryLine>();
    zrvtest::MemoryLine* line = owned.get();
    link.setPort(std::move(owned));
    EXPECT_FALSE(writeHoldingBlock(link));
    ASSERT_EQ(line->written.size(), 104u);
    EXPECT_EQ(line->written.front().size(), 237u);
    EXPECT_EQ(line->written.back()[5], 11);
    EXPECT_EQ(line->now, zrvtest::milliseconds(104 * 500));  // simulated: about 52 s
    EXPECT_FALSE(readHoldingBlock(link));
}
