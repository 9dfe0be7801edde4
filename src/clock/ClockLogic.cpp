#include "ClockLogic.h"

namespace zrv::clock {

TimeOfDay timeFromRegisters(uint16_t seconds, uint16_t minutes, uint16_t hours)
{
    if (!text::isValidTime(hours, minutes, seconds)) return {};
    return {hours, minutes, seconds};
}

CivilDate dateFromRegisters(uint16_t day, uint16_t month, uint16_t yearMinus2000)
{
    const int year = uint16_t(yearMinus2000 + 2000);
    if (!text::isValidDate(year, month, day)) return {2000, 1, 1};
    return {year, month, day};
}

std::array<uint16_t, 6> clockSetRegisters(const TimeOfDay& t, const CivilDate& d)
{
    return {uint16_t(t.seconds), uint16_t(t.minutes), uint16_t(t.hours),
            uint16_t(d.day),     uint16_t(d.month),   uint16_t(d.year - 2000)};
}

}  // namespace zrv::clock
