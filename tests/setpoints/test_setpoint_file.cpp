// Setpoint files: written, read back bit for bit, hand edits taken as typed,
// and every kind of damage refused without taking half a set.

#include "setpoints/SetpointFile.h"
#include "text/Cp1251.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace zrv;
using namespace zrv::setpoints;

namespace {

std::string replaceLine(std::string text, const std::string& startsWith, const std::string& with)
{
    const std::size_t at = text.find("\n" + startsWith);
    EXPECT_NE(at, std::string::npos) << startsWith;
    const std::size_t end = text.find('\n', at + 1);
    return text.replace(at + 1, end - at - 1, with);
}

class SetpointFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(5);
        for (uint16_t r = 0; r < kSetpointRegisters; ++r) image->setHolding(r, uint16_t(rng()));
        image->setHoldingF32(reg::kP2B_PA, 3.14159f);       // shown as 3.142
        image->setHoldingF32(reg::kQm, 2345.678f);          // shown as 2.346 (thousands)
        image->setHolding(reg::kTPA, 120);
        for (std::size_t v = 0; v < weights.size(); ++v) weights[v] = uint8_t(v + 1);
        text = formatSetpointFile(*image, weights, 127, "07.12.2026 12:55:10", "1.6");
    }
    std::unique_ptr<RegisterImage> image = std::make_unique<RegisterImage>();
    ValveWeightArray weights{};
    std::string text;
};

}  // namespace

TEST_F(SetpointFileTest, RoundTripIsBitForBit)
{
    EXPECT_EQ(text.rfind("# Уставки ZRV\n# Устройство: ZRV-127\n# Сохранено: 07.12.2026 12:55:10\n"
                         "# Программа: zrvterm 1.6\n", 0), 0u);
    EXPECT_NE(text.find("\nHR 32\tP2В (кгс/кв.см)\t3.142\t"), std::string::npos);
    EXPECT_NE(text.find("\nHR 33\t\t\t"), std::string::npos) << "a float's upper half shows no value";
    EXPECT_NE(text.find("\nW 8\tВесовой коэффициент клапана 8\t8\n"), std::string::npos);

    const SetpointFileResult r = parseSetpointFile(text);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.set.holding, currentSetpoints(*image, weights).holding);
    EXPECT_EQ(r.set.weights, currentSetpoints(*image, weights).weights);
    EXPECT_EQ(compareSetpoints(r.set, currentSetpoints(*image, weights)).count(), 0);

    // Windows line ends and a byte-order mark from an editor are fine.
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const SetpointFileResult r2 = parseSetpointFile(crlf);
    ASSERT_TRUE(r2.ok) << r2.error;
    EXPECT_EQ(r2.set.holding, r.set.holding);
}

TEST_F(SetpointFileTest, HandEditsGoInAsTyped)
{
    std::string edited = replaceLine(text, "HR 32\t", "HR 32\tP2В (кгс/кв.см)\t2.5\t0000");
    edited = replaceLine(edited, "HR 48\t", "HR 48\tQm (тыс. нм3/ч)\t1.5\tFFFF");
    edited = replaceLine(edited, "HR 4\t", "HR 4\tПериод управления TPA (с)\t90\t0078");
    const SetpointFileResult r = parseSetpointFile(edited);
    ASSERT_TRUE(r.ok) << r.error;
    RegisterImage check;
    for (uint16_t i = 0; i < kSetpointRegisters; ++i) check.setHolding(i, r.set.holding[i]);
    EXPECT_EQ(check.holdingF32(reg::kP2B_PA), 2.5f);
    EXPECT_EQ(check.holdingF32(reg::kQm), 1500.0f);  // thousands, as the table takes them
    EXPECT_EQ(check.holding(reg::kTPA), 90);
    const SetpointDifferences d = compareSetpoints(r.set, currentSetpoints(*image, weights));
    EXPECT_TRUE(d.holding[reg::kP2B_PA] && d.holding[reg::kQm] && d.holding[reg::kTPA]);
    EXPECT_EQ(d.count(), 5);  // 32 and 33, 48 and 49, 4
}

TEST_F(SetpointFileTest, DamagedFilesAreRefusedWithTheReason)
{
    const auto refused = [](const std::string& t, const std::string& why) {
        const SetpointFileResult r = parseSetpointFile(t);
        EXPECT_FALSE(r.ok) << why;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    };
    refused(text.substr(0, text.find("\nHR 60\t") + 1), "нет регистра 60 (файл неполон)");
    refused(text.substr(0, text.find("\nW 8\t") + 1), "весового коэффициента клапана 8");
    refused(text.substr(0, text.size() / 2), "строка");  // cut mid-line
    refused(replaceLine(text, "HR 5\t", "HR 114\tx\t1\t0001"), "нет такого регистра");
    refused(replaceLine(text, "HR 5\t", "HR 4\tx\t1\t0001"), "указан дважды");
    refused(replaceLine(text, "HR 4\t", "HR 4\tПериод управления TPA (с)\t70000\t0078"), "вне 0..65535");
    refused(replaceLine(text, "HR 32\t", "HR 32\tP2В\tмного\t0000"), "не число");
    refused(replaceLine(text, "HR 32\t", "HR 32\tP2В\t3.142\t12345"), "шестнадцатеричных");
    refused(replaceLine(text, "W 3\t", "W 3\tx\t300"), "вне 0..255");
    refused(replaceLine(text, "W 3\t", "W 9\tx\t3"), "нет такого клапана");
    refused(replaceLine(text, "HR 7\t", "HR 7 too few fields"), "ожидались");
    refused(replaceLine(text, "HR 7\t", "xyz"), "непонятная строка");
    refused("", "не файл уставок");
    refused("Текущий режим (Mode): 2\r\n", "не файл уставок");  // a journal report
    std::string binary = "# Уставки ZRV\n";
    for (int i = 0; i < 300; ++i) binary += char(i * 37);
    refused(binary, "не файл уставок");
    refused(std::string(70 * 1024, 'x'), "слишком велик");
}

TEST_F(SetpointFileTest, AnyBytesAtAllNeverThrowAndOkMeansAWholeSet)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        std::string t = text;
        for (int k = 0; k < 1 + round % 5; ++k) t[rng() % t.size()] = char(rng());
        const SetpointFileResult r = parseSetpointFile(t);
        if (!r.ok) {
            EXPECT_FALSE(r.error.empty());
            continue;
        }
        // A set that was taken is whole: written again, it reads the same.
        RegisterImage again;
        ValveWeightArray w{};
        for (uint16_t i = 0; i < kSetpointRegisters; ++i) again.setHolding(i, r.set.holding[i]);
        for (std::size_t v = 0; v < w.size(); ++v) w[v] = r.set.weights[v];
        const SetpointFileResult back = parseSetpointFile(formatSetpointFile(again, w, 1, "-", "-"));
        ASSERT_TRUE(back.ok) << back.error;
        EXPECT_EQ(back.set.holding, r.set.holding);
        EXPECT_EQ(back.set.weights, r.set.weights);
    }
}

TEST_F(SetpointFileTest, AWindowsEditorsFileWithDecimalCommasReadsAsTheOriginal)
{
    const SetpointFileResult original = parseSetpointFile(text);
    ASSERT_TRUE(original.ok) << original.error;
    EXPECT_STREQ(original.encoding, "UTF-8");
    EXPECT_EQ(original.deviceNumber, std::optional<unsigned>(127));

    // Notepad on a Russian Windows: CP1251, CRLF, and the operator typed
    // commas where the file had points (one value changed, one the same).
    std::string edited = replaceLine(text, "HR 32\t", "HR 32\tP2В (кгс/кв.см)\t3,142\t0000");
    edited = replaceLine(edited, "HR 48\t", "HR 48\tQm (тыс. нм3/ч)\t1,5\tFFFF");
    std::string windows;
    for (char c : text::utf8ToCp1251(edited)) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const SetpointFileResult r = parseSetpointFile(windows);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_STREQ(r.encoding, "CP1251");
    EXPECT_EQ(r.deviceNumber, std::optional<unsigned>(127));
    RegisterImage check;
    for (uint16_t i = 0; i < kSetpointRegisters; ++i) check.setHolding(i, r.set.holding[i]);
    EXPECT_EQ(check.holdingF32(reg::kP2B_PA), 3.142f);  // typed as 3.142: the code 0000 lost
    EXPECT_EQ(check.holdingF32(reg::kQm), 1500.0f);
    for (uint16_t i = 0; i < kSetpointRegisters; ++i)
        if (i != reg::kP2B_PA && i != reg::kP2B_PA + 1 && i != reg::kQm && i != reg::kQm + 1) {
            EXPECT_EQ(r.set.holding[i], original.set.holding[i]) << i;
        }

    // Neither encoding gives the header: both are named; no English anywhere.
    for (const std::string& bad : {std::string("\xFF\xFE# \x04\x23"), std::string("Mode;2;\x98\n"),
                                   replaceLine(text, "HR 32\t", "HR 32\tP2В\t2,7,1\t0000")}) {
        const SetpointFileResult refused = parseSetpointFile(bad);
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error.find("valid"), std::string::npos) << refused.error;
        if (bad[0] != '#') {
            EXPECT_NE(refused.error.find("ни в кодировке UTF-8, ни в CP1251"), std::string::npos) << refused.error;
        }
    }
    // A byte-order mark promises UTF-8; CP1251 behind it is refused as such.
    EXPECT_NE(parseSetpointFile("\xEF\xBB\xBF" + text::utf8ToCp1251(text)).error.find("метка UTF-8"), std::string::npos);
}

TEST_F(SetpointFileTest, AnotherDevicesFileAsksFirst)
{
    const SetpointFileResult own = parseSetpointFile(text);
    ASSERT_TRUE(own.ok);
    EXPECT_FALSE(otherDeviceQuestion(own, *image, 127).has_value());
    EXPECT_EQ(otherDeviceQuestion(own, *image, 255).value_or(""),
              "Файл уставок сохранён для ZRV-127, подключено ZRV-255. Загрузить?");
    // Same sum, other weights: another device all the same.
    auto other = std::make_unique<RegisterImage>();
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) other->setHolding(r, image->holding(r));
    other->setHolding(reg::kZrvFactor1, uint16_t(image->holding(reg::kZrvFactor1) + 1));
    other->setHolding(reg::kZrvFactor1 + 1, uint16_t(image->holding(reg::kZrvFactor1 + 1) - 1));
    EXPECT_NE(otherDeviceQuestion(own, *other, 127).value_or("").find("с другими весовыми коэффициентами"), std::string::npos);
    // A hand-written file names no device: no question.
    const SetpointFileResult hand = parseSetpointFile(replaceLine(text, "# Устройство", "# от руки"));
    ASSERT_TRUE(hand.ok) << hand.error;
    EXPECT_FALSE(hand.deviceNumber.has_value());
    EXPECT_FALSE(otherDeviceQuestion(hand, *other, 255).has_value());
}
