#pragma once
// One polling step, run on the session's I/O thread once a Timer1 tick asks
// for it: read the live tables, run the control panel's two hold-off
// counters, read the mode back unless a mode change is recent, and hand on
// what the step found.

#include "link/ModbusTransact.h"
#include "monitor/PollSnapshot.h"

#include <atomic>
#include <cstdint>

namespace zrv {

class TUpdate1 {
public:
    TUpdate1(ModbusLink& link, uint8_t& valveHoldOff, uint8_t& modeHoldOff)
        : m_link(link), m_valveHoldOff(valveHoldOff), m_modeHoldOff(modeHoldOff)
    {
    }

    PollSnapshot Execute();

private:
    ModbusLink& m_link;
    uint8_t& m_valveHoldOff;
    uint8_t& m_modeHoldOff;
};

}  // namespace zrv
