// The dialect's date arithmetic, for the function bodies of every target: a
// date is a day count since 30 December 1899 with the time of day as its
// fraction (DateTime::serial). DateDiff counts the boundaries of an interval
// crossed, DateAdd moves by calendar units, DatePart reads one. Results
// beyond the range of dates throw oskara::Error overflow (6) with the text
// to show.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/variant.h"

namespace oskara::db::sql {

// The dialect's range of dates: 1 January 100 to 31 December 9999, 23:59:59.
inline constexpr double kFirstDateSerial = -657434;
inline constexpr double kLastDateSerial = 2958465 + 86399.0 / 86400;

// Whether a day count is a date of that range (false for NaN and infinities).
inline bool isDateSerial(double serial) { return serial >= kFirstDateSerial && serial <= kLastDateSerial; }

enum class Interval : uint8_t { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

// The interval a DateDiff, DateAdd or DatePart argument names ("yyyy", "q",
// "m", "y", "d", "w", "ww", "h", "n", "s"), without regard to case.
std::optional<Interval> intervalNamed(std::string_view name);

// The whole day a date falls on.
int64_t dayNumber(DateTime d);

// The day of the week of day number `day`: 1 for `firstDay` (1 Sunday .. 7
// Saturday; anything else counts as Sunday) up to 7.
int weekdayOf(int64_t day, int firstDay);

int64_t dateDiff(Interval interval, DateTime a, DateTime b, int firstDay);
DateTime dateAdd(Interval interval, int64_t n, DateTime d);
int64_t datePart(Interval interval, DateTime d, int firstDay);

// The date of a year, month and day that may overflow into the next month
// or year (DateSerial(2026, 14, 0) is the last of January 2027); a year of
// 0 to 99 is a two-digit year.
DateTime dateSerial(int64_t year, int64_t month, int64_t day);

// A time of day from hours, minutes and seconds that may overflow.
DateTime timeSerial(int64_t hour, int64_t minute, int64_t second);

}  // namespace oskara::db::sql
