#pragma once
// One polling step, run by the session on its I/O thread once a Timer1 tick
// asks for it: read the live tables, run the control panel's two hold-off
// counters, read the mode back unless a mode change is recent, and say what
// the windows are to show.

#include "link/ModbusTransact.h"

#include <atomic>
#include <cstdint>

namespace zrv {

struct PollResult {
    int deviceNumber = 0;               // "Обнаружен ZRV-" and this
    bool disableButtons = false;        // the valve hold-off, first ...
    bool enableButtonsForMode = false;  // ... then
    bool modeReadBack = false;          // the mode register was read again
};

class TUpdate1 {
public:
    TUpdate1(ModbusLink& link, std::atomic<uint8_t>& valveHoldOff, std::atomic<uint8_t>& modeHoldOff)
        : m_link(link), m_valveHoldOff(valveHoldOff), m_modeHoldOff(modeHoldOff)
    {
    }

    PollResult Execute();

private:
    ModbusLink& m_link;
    std::atomic<uint8_t>& m_valveHoldOff;
    std::atomic<uint8_t>& m_modeHoldOff;
};

}  // namespace zrv
