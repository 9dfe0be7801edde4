#include "DeviceClock.h"

#include "link/ModbusFrame.h"

namespace zrv::clock {

ClockReading readDeviceClock(ModbusLink& link, bool time, bool date)
{
    ClockReading r;
    const RegisterImage& img = link.image();
    const auto readClockRegisters = [&link] {
        ModbusTransact(link, modbus::kReadInputRegisters, reg::kInClockSec, reg::kInClockCount);
    };
    const auto in = [&img](int i) { return img.input(uint16_t(reg::kInClockSec + i)); };
    if (time) {
        readClockRegisters();
        r.hasTime = true;
        r.time = timeFromRegisters(in(0), in(1), in(2));
    }
    if (date) {
        readClockRegisters();
        r.hasDate = true;
        r.date = dateFromRegisters(in(3), in(4), in(5));
    }
    return r;
}

bool setDeviceClock(ModbusLink& link, const TimeOfDay& time, const CivilDate& date)
{
    const auto regs = clockSetRegisters(time, date);
    for (uint16_t i = 0; i < regs.size(); ++i) link.image().setHolding(uint16_t(reg::kSetSec + i), regs[i]);
    return ModbusTransact(link, modbus::kWriteMultipleRegisters, reg::kSetSec, reg::kClockSetCount) == kTransactOk;
}

}  // namespace zrv::clock
