#pragma once
// What one polling step found, decoded once from the register image right
// after the step's reads, so every window that shows it shows the same step:
// the six measurements, the valve indicators, the opening, the power source,
// the mode, the device number and the buttons' hold-off.

#include "link/RegisterImage.h"
#include "monitor/ValveLogic.h"

#include <array>
#include <string>

namespace zrv {

// The device's measurements as it reports them (the flow in nm3/h; the
// measurement window and the trends show it in thousands).
struct Measurements {
    float p1 = 0, p2 = 0, tg = 0, qi = 0, vbat = 0, mq = 0;
};

// The valve and step buttons after a step: kept as they are, held off while
// a command settles, or given back to follow the mode.
enum class CommandHold { Unchanged, Held, Released };

struct PollSnapshot {
    Measurements measurements;
    std::array<ValveColour, reg::kValveCount> valves{};
    std::string opening;  // "37.5%", "н/д"
    bool mainsPower = true;
    int mode = 0;
    int deviceNumber = 0;
    bool externalControl = false;  // coil 15 as the device holds it
    CommandHold hold = CommandHold::Unchanged;
    bool modeReadBack = false;  // the mode register was read again this step
};

// Everything but the hold-off, from the image as it stands.
PollSnapshot snapshotOf(const RegisterImage& image);

}  // namespace zrv
