#pragma once
// The device clock over the link, on the session's I/O thread: read from
// input registers 20..25, set through holding registers 10..15 in one block.

#include "clock/ClockLogic.h"
#include "link/ModbusTransact.h"

namespace zrv::clock {

// The clock as one read found it.
struct ClockReading {
    bool hasTime = false;
    bool hasDate = false;
    TimeOfDay time;
    CivilDate date;
};

// The time and the date each take a read of their own, as the window asks
// for them; a failed read leaves the image's last values.
ClockReading readDeviceClock(ModbusLink& link, bool time, bool date);
bool setDeviceClock(ModbusLink& link, const TimeOfDay& time, const CivilDate& date);

}  // namespace zrv::clock
