// Any six clock registers from the device. They always read as a real date
// and time, and what a set sends for those reads back as the same.

#include "FuzzCheck.h"
#include "clock/ClockLogic.h"

using namespace zrv;
using namespace zrv::clock;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 12) return 0;
    uint16_t r[6];
    for (int i = 0; i < 6; ++i) r[i] = uint16_t(data[2 * i] | (data[2 * i + 1] << 8));
    const TimeOfDay t = timeFromRegisters(r[0], r[1], r[2]);
    const CivilDate d = dateFromRegisters(r[3], r[4], r[5]);
    FUZZ_CHECK(text::isValidTime(t.hours, t.minutes, t.seconds));
    FUZZ_CHECK(text::isValidDate(d.year, d.month, d.day));
    const auto regs = clockSetRegisters(t, d);
    const TimeOfDay t2 = timeFromRegisters(regs[0], regs[1], regs[2]);
    const CivilDate d2 = dateFromRegisters(regs[3], regs[4], regs[5]);
    FUZZ_CHECK(t2.hours == t.hours && t2.minutes == t.minutes && t2.seconds == t.seconds);
    FUZZ_CHECK(d2.year == d.year && d2.month == d.month && d2.day == d.day);
    return 0;
}
