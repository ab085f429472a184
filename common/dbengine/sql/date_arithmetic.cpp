#include "dbengine/sql/date_arithmetic.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/error.h"
#include "core/text.h"
#include "dbengine/sql/datetext.h"

namespace oskara::db::sql {
namespace {

// Seconds since the day serial epoch, to the nearest second.
int64_t secondNumber(DateTime d) { return std::llround(d.serial * 86400.0); }

[[noreturn]] void beyondTheDates(const char* function) {
  throw Error(runtime_error::kOverflow,
              std::string("Overflow in ") + function + ": the result is beyond the range of dates.");
}

// More years than the range of dates holds: nothing added of them gives a
// date, and the arithmetic below stays far from integer overflow.
constexpr int64_t kYearsOfDates = 10000;

bool beyond(int64_t n, int64_t limit) { return n > limit || n < -limit; }

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

DateTime addMonths(DateTime d, int64_t months) {
  if (beyond(months, kYearsOfDates * 12)) beyondTheDates("DateAdd");
  DateTime::Parts p = d.parts();
  int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
  int year = static_cast<int>(floorDiv(total, 12));
  int month = static_cast<int>(total - static_cast<int64_t>(year) * 12) + 1;
  if (year < 100 || year > 9999) beyondTheDates("DateAdd");
  int day = std::min(p.day, DateTime::daysInMonth(year, month));
  return DateTime::fromParts(year, month, day, p.hour, p.minute, p.second);
}

}  // namespace

std::optional<Interval> intervalNamed(std::string_view name) {
  struct Name {
    std::string_view text;
    Interval interval;
  };
  static constexpr Name kNames[] = {{"yyyy", Interval::Year}, {"q", Interval::Quarter},
                                    {"m", Interval::Month},   {"y", Interval::DayOfYear},
                                    {"d", Interval::Day},     {"w", Interval::Weekday},
                                    {"ww", Interval::Week},   {"h", Interval::Hour},
                                    {"n", Interval::Minute},  {"s", Interval::Second}};
  for (const Name& n : kNames) {
    if (equalsIgnoreCase(name, n.text)) return n.interval;
  }
  return std::nullopt;
}

int64_t dayNumber(DateTime d) { return static_cast<int64_t>(std::floor(d.serial)); }

// Day serial 1 (31 December 1899) was a Sunday: 1 Sunday .. 7 Saturday.
int weekdayOf(int64_t day, int firstDay) {
  int sundayBased = static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
  if (firstDay < 1 || firstDay > 7) firstDay = 1;
  return (sundayBased - firstDay + 7) % 7 + 1;
}

int64_t dateDiff(Interval interval, DateTime a, DateTime b, int firstDay) {
  a.requireInRange();
  b.requireInRange();
  switch (interval) {
    case Interval::Year:
    case Interval::Quarter:
    case Interval::Month: {  // counted on the calendar; the rest on the serial
      const DateTime::Parts pa = a.parts(), pb = b.parts();
      if (interval == Interval::Year) return pb.year - pa.year;
      if (interval == Interval::Quarter) return (pb.year * 4 + (pb.month - 1) / 3) - (pa.year * 4 + (pa.month - 1) / 3);
      return (pb.year * 12 + pb.month) - (pa.year * 12 + pa.month);
    }
    case Interval::DayOfYear:
    case Interval::Day: return dayNumber(b) - dayNumber(a);
    case Interval::Weekday: return (dayNumber(b) - dayNumber(a)) / 7;
    case Interval::Week: {
      auto weekStart = [&](int64_t day) { return day - (weekdayOf(day, firstDay) - 1); };
      return (weekStart(dayNumber(b)) - weekStart(dayNumber(a))) / 7;
    }
    case Interval::Hour: return floorDiv(secondNumber(b), 3600) - floorDiv(secondNumber(a), 3600);
    case Interval::Minute: return floorDiv(secondNumber(b), 60) - floorDiv(secondNumber(a), 60);
    case Interval::Second: return secondNumber(b) - secondNumber(a);
  }
  return 0;
}

DateTime dateAdd(Interval interval, int64_t n, DateTime d) {
  switch (interval) {
    case Interval::Year:
      if (beyond(n, kYearsOfDates)) beyondTheDates("DateAdd");
      return addMonths(d, n * 12);
    case Interval::Quarter:
      if (beyond(n, kYearsOfDates * 4)) beyondTheDates("DateAdd");
      return addMonths(d, n * 3);
    case Interval::Month: return addMonths(d, n);
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday: return DateTime{d.serial + static_cast<double>(n)};
    case Interval::Week: return DateTime{d.serial + static_cast<double>(n) * 7};
    case Interval::Hour: return DateTime{d.serial + static_cast<double>(n) / 24};
    case Interval::Minute: return DateTime{d.serial + static_cast<double>(n) / 1440};
    case Interval::Second: return DateTime{d.serial + static_cast<double>(n) / 86400};
  }
  return d;
}

int64_t datePart(Interval interval, DateTime d, int firstDay) {
  DateTime::Parts p = d.parts();
  switch (interval) {
    case Interval::Year: return p.year;
    case Interval::Quarter: return (p.month - 1) / 3 + 1;
    case Interval::Month: return p.month;
    case Interval::DayOfYear: return dayNumber(d) - dayNumber(DateTime::fromParts(p.year, 1, 1)) + 1;
    case Interval::Day: return p.day;
    case Interval::Weekday: return weekdayOf(dayNumber(d), firstDay);
    case Interval::Week: return dateDiff(Interval::Week, DateTime::fromParts(p.year, 1, 1), d, firstDay) + 1;
    case Interval::Hour: return p.hour;
    case Interval::Minute: return p.minute;
    case Interval::Second: return p.second;
  }
  return 0;
}

DateTime dateSerial(int64_t year, int64_t month, int64_t day) {
  if (beyond(year, kYearsOfDates) || beyond(month, kYearsOfDates * 12)) beyondTheDates("DateSerial");
  if (year >= 0 && year < 100) year = expandTwoDigitYear(static_cast<int>(year));
  int64_t total = year * 12 + (month - 1);
  int64_t y = floorDiv(total, 12);
  if (y < 100 || y > 9999) beyondTheDates("DateSerial");
  DateTime first = DateTime::fromParts(static_cast<int>(y), static_cast<int>(total - y * 12) + 1, 1);
  return DateTime{first.serial + static_cast<double>(day - 1)};
}

DateTime timeSerial(int64_t hour, int64_t minute, int64_t second) {
  return DateTime{(static_cast<double>(hour) * 3600 + static_cast<double>(minute) * 60 + static_cast<double>(second)) /
                  86400.0};
}

}  // namespace oskara::db::sql
