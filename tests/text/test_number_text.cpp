#include "text/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using zrv::text::formatFixed;
using zrv::text::formatGeneral;

struct FixedCase {
    double value;
    int decimals;
    const char* text;
};
void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.value << " with " << c.decimals << " decimals: \"" << c.text << '"'; }

class Fixed : public ::testing::TestWithParam<FixedCase> {};

TEST_P(Fixed, FourSignificantDigitsAtMost)
{
    const auto& c = GetParam();
    EXPECT_EQ(formatFixed(c.value, 4, c.decimals), c.text) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Measurements, Fixed,
    ::testing::Values(
        // The measurement window's own examples (values as the device's floats).
        FixedCase{double(1.23456f), 2, "1.23"}, FixedCase{double(12.3456f), 2, "12.35"},
        FixedCase{double(123.456f), 2, "123.50"}, FixedCase{double(12345.0f) * 0.001, 1, "12.3"},
        FixedCase{double(0.912345f), 4, "0.9123"}, FixedCase{double(3.6f), 1, "3.6"},
        FixedCase{double(-5.27f), 1, "-5.3"},
        // Ties go away from zero on exact values; zero and tiny values.
        FixedCase{0.125, 2, "0.13"}, FixedCase{-0.125, 2, "-0.13"}, FixedCase{2.5, 0, "3"},
        FixedCase{0.0, 2, "0.00"}, FixedCase{-0.0, 1, "0.0"}, FixedCase{0.004, 2, "0.00"},
        FixedCase{-0.004, 2, "0.00"}, FixedCase{0.006, 2, "0.01"}, FixedCase{0.00012345, 4, "0.0001"},
        // Carries, and more than four integer digits.
        FixedCase{9.996, 2, "10.00"}, FixedCase{999.96, 1, "1000.0"}, FixedCase{9999.4, 1, "9999.0"},
        FixedCase{9999.6, 1, "1E4"}, FixedCase{12345.6, 2, "1.235E4"}, FixedCase{-3.4e38, 2, "-3.4E38"},
        FixedCase{1234.5, 2, "1235.00"}));

TEST(Fixed, NonFiniteValuesAreText)
{
    EXPECT_EQ(formatFixed(std::nan(""), 4, 2), "NAN");
    EXPECT_EQ(formatFixed(std::numeric_limits<double>::infinity(), 4, 2), "INF");
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::infinity(), 4, 1), "-INF");
    EXPECT_EQ(formatGeneral(std::nan(""), 4), "NAN");
}

struct GeneralCase {
    double value;
    const char* text;
};
void PrintTo(const GeneralCase& c, std::ostream* os) { *os << c.value << ": \"" << c.text << '"'; }

class General : public ::testing::TestWithParam<GeneralCase> {};

TEST_P(General, G4)
{
    EXPECT_EQ(formatGeneral(GetParam().value, 4), GetParam().text) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Examples, General,
                         ::testing::Values(GeneralCase{0.5, "0.5"}, GeneralCase{600, "600"}, GeneralCase{10000, "1E4"},
                                           GeneralCase{32768, "3.277E4"}, GeneralCase{0.00005, "5E-5"},
                                           GeneralCase{1e7, "1E7"}, GeneralCase{12.5, "12.5"}, GeneralCase{0, "0"},
                                           GeneralCase{100, "100"}, GeneralCase{37.5, "37.5"},
                                           GeneralCase{double(100.0f / 255.0f), "0.3922"},
                                           GeneralCase{9999.5, "1E4"}, GeneralCase{0.0001, "0.0001"},
                                           GeneralCase{-1.5, "-1.5"}, GeneralCase{1.0 / 3.0, "0.3333"},
                                           GeneralCase{123456789.0, "1.235E8"}, GeneralCase{-2.5e-7, "-2.5E-7"}));
