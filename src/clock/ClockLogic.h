#pragma once
// The device clock as the clock window holds it: what the device's registers
// mean as a date and a time, and what a set sends.

#include "text/DateTimeValue.h"

#include <array>
#include <cstdint>

namespace zrv::clock {

using text::CivilDate;
using text::TimeOfDay;

// Ticks (of 500 ms) that a half stays at the operator's value after a change.
inline constexpr uint8_t kPickerHoldOffTicks = 10;

// Input registers 20..22; an impossible time reads as 00:00:00.
TimeOfDay timeFromRegisters(uint16_t seconds, uint16_t minutes, uint16_t hours);
// Input registers 23..25; year = register + 2000 as a 16-bit sum; an
// impossible date reads as 1 January 2000.
CivilDate dateFromRegisters(uint16_t day, uint16_t month, uint16_t yearMinus2000);

// Holding registers 10..15 for a set: seconds, minutes, hours, day, month,
// year - 2000 modulo 65536.
std::array<uint16_t, 6> clockSetRegisters(const TimeOfDay& time, const CivilDate& date);

// What the clock window holds; the session keeps it, so it outlives the
// window's closing. Window thread only.
struct ClockState {
    TimeOfDay ClockTime;
    CivilDate ClockDate;
    bool SyncWithPC = false;
    uint8_t TimeHoldOff = 0;
    uint8_t DateHoldOff = 0;
};

}  // namespace zrv::clock
