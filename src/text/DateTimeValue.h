#pragma once
// Calendar dates and times of day, and the date-and-time value: a count of
// days from 30 December 1899 with the time of day as its fraction.

#include <cstdint>

namespace zrv::text {

struct CivilDate {
    int year = 1899;
    int month = 12;
    int day = 30;
    bool operator==(const CivilDate&) const = default;
};

struct TimeOfDay {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const TimeOfDay&) const = default;
};

bool isLeapYear(int year);
int daysInMonth(int year, int month);  // 0 for a month outside 1..12
// Year 1..9999, month 1..12, day within the month.
bool isValidDate(int year, int month, int day);
// Hours 0..23, minutes and seconds 0..59.
bool isValidTime(int hours, int minutes, int seconds);

// Days from 30 December 1899 (negative before it). The date must be valid.
int64_t daysFromEpoch(const CivilDate& date);
CivilDate dateFromDays(int64_t days);

double encodeDateTime(const CivilDate& date, const TimeOfDay& time);

}  // namespace zrv::text
