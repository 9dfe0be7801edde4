#include "DateTimeValue.h"

namespace zrv::text {

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return kDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

bool isValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

bool isValidTime(int h, int m, int s) { return h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60; }

namespace {
// Days from 1 January 0001 (proleptic Gregorian) to the date, via the civil
// calendar algorithm on a March-based year.
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days from 1970-01-01
}
const int64_t kEpoch = daysFromCivil(1899, 12, 30);
}  // namespace

int64_t daysFromEpoch(const CivilDate& d) { return daysFromCivil(d.year, d.month, d.day) - kEpoch; }

CivilDate dateFromDays(int64_t days)
{
    int64_t z = days + kEpoch + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    const int64_t y = yoe + era * 400 + (m <= 2);
    return {int(y), m, d};
}

double encodeDateTime(const CivilDate& date, const TimeOfDay& t)
{
    return double(daysFromEpoch(date)) + (t.hours * 3600 + t.minutes * 60 + t.seconds) / 86400.0;
}

}  // namespace zrv::text
