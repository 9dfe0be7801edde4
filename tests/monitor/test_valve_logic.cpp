#include "monitor/ValveLogic.h"

#include <gtest/gtest.h>

using namespace zrv;

TEST(ValveColour, FromTheTwoStateInputs)
{
    EXPECT_EQ(valveColour(1, 0), ValveColour::Open);
    EXPECT_EQ(valveColour(0, 1), ValveColour::Closed);
    EXPECT_EQ(valveColour(0, 0), ValveColour::Undefined);
    EXPECT_EQ(valveColour(1, 1), ValveColour::Undefined);
}

namespace {
void setWeights(RegisterImage& img, std::initializer_list<uint16_t> w)
{
    uint16_t a = reg::kZrvFactor1;
    for (uint16_t v : w) img.setHolding(a++, v);
}
void setOpen(RegisterImage& img, uint8_t mask)
{
    for (uint16_t i = 0; i < 8; ++i) img.setDiscrete(i, (mask >> i) & 1);
}
}  // namespace

TEST(Opening, WeightedShareOfOpenValves)
{
    RegisterImage img;
    setWeights(img, {1, 2, 4, 8, 16, 32, 64, 128});
    setOpen(img, 0xFF);
    EXPECT_EQ(openingText(img), "100%");
    setOpen(img, 0x00);
    EXPECT_EQ(openingText(img), "0%");
    setOpen(img, 0x01);
    EXPECT_EQ(openingText(img), "0.3922%");
    setWeights(img, {3, 5, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(openingText(img), "37.5%");
    // Whole 16-bit weights count, not only their low bytes.
    setWeights(img, {0x100, 0x100, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(openingText(img), "50%");
    setWeights(img, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(openingText(img), "н/д");
}

TEST(ButtonsForMode, ManualStepAndTheRest)
{
    EXPECT_TRUE(buttonsForMode(0).valves);
    EXPECT_FALSE(buttonsForMode(0).steps);
    EXPECT_FALSE(buttonsForMode(1).valves);
    EXPECT_TRUE(buttonsForMode(1).steps);
    for (int mode : {-1, 2, 3, 4, 5}) {
        EXPECT_FALSE(buttonsForMode(mode).valves) << mode;
        EXPECT_FALSE(buttonsForMode(mode).steps) << mode;
    }
}

TEST(ValveHoldOff, ButtonsComeBackWhenValvesConfirmOrAtTheThirdStep)
{
    RegisterImage img;
    img.setCoil(reg::kCoilExternalControl, 1);
    img.setCoil(2, 1);  // valve 3 commanded open, not yet confirmed
    uint8_t counter = kValveHoldOffSteps;

    auto s = runValveHoldOff(counter, img);  // step 1
    EXPECT_TRUE(s.disableButtons);
    EXPECT_FALSE(s.enableButtonsForMode);
    s = runValveHoldOff(counter, img);  // step 2
    EXPECT_TRUE(s.disableButtons);
    EXPECT_FALSE(s.enableButtonsForMode);
    EXPECT_EQ(counter, 0);
    s = runValveHoldOff(counter, img);  // step 3: by mode in any case
    EXPECT_FALSE(s.disableButtons);
    EXPECT_TRUE(s.enableButtonsForMode);

    counter = kValveHoldOffSteps;
    img.setDiscrete(2, 1);  // confirmed at the first step
    s = runValveHoldOff(counter, img);
    EXPECT_TRUE(s.disableButtons);
    EXPECT_TRUE(s.enableButtonsForMode);
    EXPECT_EQ(counter, 0);
}

TEST(ValveHoldOff, WithoutExternalControlTheButtonsStayAsTheyAre)
{
    RegisterImage img;
    uint8_t counter = 0;
    const auto s = runValveHoldOff(counter, img);
    EXPECT_FALSE(s.disableButtons);
    EXPECT_FALSE(s.enableButtonsForMode);
    counter = 2;  // confirmed but coil 15 clear: disabled, not re-enabled
    const auto t = runValveHoldOff(counter, img);
    EXPECT_TRUE(t.disableButtons);
    EXPECT_FALSE(t.enableButtonsForMode);
}

TEST(ModeHoldOff, FiveStepsWithoutReadBackThenTheSixthReads)
{
    uint8_t counter = kModeHoldOffSteps;
    for (int step = 1; step <= 5; ++step) EXPECT_FALSE(runModeHoldOff(counter)) << step;
    EXPECT_TRUE(runModeHoldOff(counter));
    EXPECT_TRUE(runModeHoldOff(counter));
}
