#pragma once
// The control panel's rules, apart from its widgets: indicator colours, the
// opening text, which buttons a mode allows, and the two hold-off counters
// that the polling step runs.

#include "link/RegisterImage.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace zrv {

// Polling steps the buttons stay off after a valve or step command, and the
// steps during which the mode is not read back after a mode change.
inline constexpr uint8_t kValveHoldOffSteps = 2;
inline constexpr uint8_t kModeHoldOffSteps = 5;

enum class ValveColour { Undefined, Open, Closed };  // black, green, red

// a: discrete input i-1 (open), b: discrete input i+7 (second state bit).
constexpr ValveColour valveColour(uint8_t a, uint8_t b)
{
    if ((a != 0) == (b != 0)) return ValveColour::Undefined;
    return a ? ValveColour::Open : ValveColour::Closed;
}

// The opening in per cent, weighted by holding registers 96..103 over the
// open valves (discrete inputs 0..7), in single precision as the device
// documents do: "37.5%", "100%", "0.3922%". With all weights zero the opening
// is unknown and shows as "н/д".
std::string openingText(const RegisterImage& image);

struct ButtonStates {
    bool valves = false;  // V1..V8
    bool steps = false;   // StepUp, StepDown
};

// Manual (0): valves; step (1): steps; every other mode, and no mode: none.
constexpr ButtonStates buttonsForMode(int mode)
{
    if (mode == 0) return {true, false};
    if (mode == 1) return {false, true};
    return {};
}

struct ValveHoldOffStep {
    bool disableButtons = false;        // first
    bool enableButtonsForMode = false;  // then
};

// One polling step of the valve hold-off: while the counter runs, the buttons
// stay off until coils 0..7 match discrete inputs 0..7; with it at 0 they
// follow the mode while coil 15 is set.
ValveHoldOffStep runValveHoldOff(uint8_t& counter, const RegisterImage& image);

// One polling step of the mode hold-off: true when the mode is to be read
// back this step; otherwise counts down.
bool runModeHoldOff(uint8_t& counter);

}  // namespace zrv
