#include "dbengine/sql/functions.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/variant.h"
#include "dbengine/errors.h"
#include "dbengine/sql/datetext.h"

namespace oskara::db::sql {
namespace {

using R = FunctionResult;
using F = FunctionForm;

constexpr DialectFunction kFunctions[] = {
    // Special forms.
    {"IIf", "", 3, 3, R::Unknown, F::IIf},
    {"IsNull", "", 1, 1, R::Boolean, F::IsNull},
    {"Nz", "", 1, 2, R::FirstArgument, F::Nz},
    // Aggregates.
    {"Count", "count", 1, 1, R::Number, F::Aggregate},
    {"Sum", "sum", 1, 1, R::Number, F::Aggregate},
    {"Avg", "avg", 1, 1, R::Number, F::Aggregate},
    {"Min", "min", 1, 1, R::FirstArgument, F::Aggregate},
    {"Max", "max", 1, 1, R::FirstArgument, F::Aggregate},
    {"First", "osk_first", 1, 1, R::FirstArgument, F::Aggregate},
    {"Last", "osk_last", 1, 1, R::FirstArgument, F::Aggregate},
    // Clock.
    {"Date", "osk_date", 0, 0, R::Date, F::Call},
    {"Time", "osk_time", 0, 0, R::Date, F::Call},
    {"Now", "osk_now", 0, 0, R::Date, F::Call},
    // Dates.
    {"DateDiff", "osk_datediff", 3, 5, R::Number, F::Call},
    {"DateAdd", "osk_dateadd", 3, 3, R::Date, F::Call},
    {"DatePart", "osk_datepart", 2, 4, R::Number, F::Call},
    {"DateSerial", "osk_dateserial", 3, 3, R::Date, F::Call},
    {"TimeSerial", "osk_timeserial", 3, 3, R::Date, F::Call},
    {"DateValue", "osk_datevalue", 1, 1, R::Date, F::Call},
    {"TimeValue", "osk_timevalue", 1, 1, R::Date, F::Call},
    {"Year", "osk_year", 1, 1, R::Number, F::Call},
    {"Month", "osk_month", 1, 1, R::Number, F::Call},
    {"Day", "osk_day", 1, 1, R::Number, F::Call},
    {"Hour", "osk_hour", 1, 1, R::Number, F::Call},
    {"Minute", "osk_minute", 1, 1, R::Number, F::Call},
    {"Second", "osk_second", 1, 1, R::Number, F::Call},
    {"Weekday", "osk_weekday", 1, 2, R::Number, F::Call},
    // Text.
    {"Len", "osk_len", 1, 1, R::Number, F::Call},
    {"Left", "osk_left", 2, 2, R::Text, F::Call},
    {"Right", "osk_right", 2, 2, R::Text, F::Call},
    {"Mid", "osk_mid", 2, 3, R::Text, F::Call},
    {"UCase", "osk_ucase", 1, 1, R::Text, F::Call},
    {"LCase", "osk_lcase", 1, 1, R::Text, F::Call},
    {"Trim", "osk_trim", 1, 1, R::Text, F::Call},
    {"LTrim", "osk_ltrim", 1, 1, R::Text, F::Call},
    {"RTrim", "osk_rtrim", 1, 1, R::Text, F::Call},
    {"InStr", "osk_instr", 2, 4, R::Number, F::Call},
    {"Space", "osk_space", 1, 1, R::Text, F::Call},
    // Numbers.
    {"Abs", "osk_abs", 1, 1, R::Number, F::Call},
    {"Int", "osk_int", 1, 1, R::Number, F::Call},
    {"Fix", "osk_fix", 1, 1, R::Number, F::Call},
    {"Sgn", "osk_sgn", 1, 1, R::Number, F::Call},
    {"Round", "osk_round", 1, 2, R::Number, F::Call},
    {"Sqr", "osk_sqr", 1, 1, R::Number, F::Call},
    {"Val", "osk_val", 1, 1, R::Number, F::Call},
    // Conversions.
    {"CStr", "osk_cstr", 1, 1, R::Text, F::Call},
    {"CInt", "osk_cint", 1, 1, R::Number, F::Call},
    {"CLng", "osk_clng", 1, 1, R::Number, F::Call},
    {"CDbl", "osk_cdbl", 1, 1, R::Number, F::Call},
    {"CSng", "osk_cdbl", 1, 1, R::Number, F::Call},
    {"CCur", "osk_cdbl", 1, 1, R::Number, F::Call},
    {"CDate", "osk_cdate", 1, 1, R::Date, F::Call},
    {"CVDate", "osk_cdate", 1, 1, R::Date, F::Call},
    {"CBool", "osk_cbool", 1, 1, R::Boolean, F::Call},
    {"StrComp", "osk_strcomp", 2, 3, R::Number, F::Call},
};

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

// ---- Reading arguments ----

// Thrown inside a function body; the wrapper turns it into an SQLite error.
struct FunctionFailure {
  std::string message;
};

[[noreturn]] void failWith(std::string message) { throw FunctionFailure{std::move(message)}; }

bool isNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string_view textOf(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// The value as the dialect writes it as text: 5, 2.5, the stored text.
std::string displayText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return formatDouble(sqlite3_value_double(v));
    case SQLITE_NULL: return {};
    default: return std::string(textOf(v));
  }
}

std::optional<double> parseNumberText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return std::nullopt;
  return d;
}

std::optional<DateTime> parseDateText(std::string_view text) {
  if (auto iso = DateTime::parseIso(text)) return iso;
  return parseDialectDate(text);
}

double numberOf(sqlite3_value* v, const char* function) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return static_cast<double>(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    default: {
      std::string_view text = textOf(v);
      if (auto d = parseNumberText(text)) return *d;
      if (equalsIgnoreCase(text, "True")) return 1;
      if (equalsIgnoreCase(text, "False")) return 0;
      if (auto date = parseDateText(text)) return date->serial;
      failWith(std::string("Type mismatch in ") + function + ": '" + std::string(text) + "' is not a number");
    }
  }
}

DateTime dateOf(sqlite3_value* v, const char* function) {
  if (sqlite3_value_type(v) == SQLITE_TEXT || sqlite3_value_type(v) == SQLITE_BLOB) {
    std::string_view text = textOf(v);
    if (auto date = parseDateText(text)) return *date;
    failWith(std::string("Type mismatch in ") + function + ": '" + std::string(text) + "' is not a date");
  }
  return DateTime{numberOf(v, function)};
}

// Nearest whole number, halves to even, as the dialect rounds.
int64_t roundToInteger(double d, const char* function) {
  double r = std::nearbyint(d);
  if (!(r >= -9.2e18 && r <= 9.2e18)) failWith(std::string("Overflow in ") + function);
  return static_cast<int64_t>(r);
}

// ---- Writing results ----

void resultDate(sqlite3_context* ctx, DateTime d) {
  std::string iso = d.toIso();
  sqlite3_result_text(ctx, iso.c_str(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
}

void resultText(sqlite3_context* ctx, std::string_view s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// A whole double as an integer, so 3.0 reads back as 3.
void resultNumber(sqlite3_context* ctx, double d) {
  if (d == std::floor(d) && std::fabs(d) < 9e15) {
    sqlite3_result_int64(ctx, static_cast<int64_t>(d));
  } else {
    sqlite3_result_double(ctx, d);
  }
}

// ---- Dates ----

int64_t dayNumber(DateTime d) {
  if (!DateTime::isInRange(d.serial)) failWith("Overflow: the day serial " + formatDouble(d.serial) + " is no date");
  return static_cast<int64_t>(std::floor(d.serial));
}

// Seconds since the day serial epoch, to the nearest second.
int64_t secondNumber(DateTime d) { return std::llround(d.serial * 86400.0); }

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Day serial 1 (31 December 1899) was a Sunday: 1 Sunday .. 7 Saturday.
int weekdayOf(int64_t day, int firstDay) {
  int sundayBased = static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
  if (firstDay < 1 || firstDay > 7) firstDay = 1;
  return (sundayBased - firstDay + 7) % 7 + 1;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

DateTime addMonths(DateTime d, int64_t months) {
  DateTime::Parts p = d.parts();
  int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
  int year = static_cast<int>(floorDiv(total, 12));
  int month = static_cast<int>(total - static_cast<int64_t>(year) * 12) + 1;
  if (year < 100 || year > 9999) failWith("DateAdd: the result is outside the range of dates");
  int day = std::min(p.day, daysInMonth(year, month));
  return DateTime::fromParts(year, month, day, p.hour, p.minute, p.second);
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(sqlite3_value* v, const char* function) {
  std::string_view s = textOf(v);
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
    if (equalsIgnoreCase(s, n.text)) return n.interval;
  }
  failWith(std::string(function) + ": '" + std::string(s) + "' is not a date interval");
}

// DateDiff counts the boundaries of the interval crossed from a to b.
int64_t dateDiff(Interval interval, DateTime a, DateTime b, int firstDay) {
  DateTime::Parts pa = a.parts(), pb = b.parts();
  switch (interval) {
    case Interval::Year: return pb.year - pa.year;
    case Interval::Quarter: return (pb.year * 4 + (pb.month - 1) / 3) - (pa.year * 4 + (pa.month - 1) / 3);
    case Interval::Month: return (pb.year * 12 + pb.month) - (pa.year * 12 + pa.month);
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
    case Interval::Year: return addMonths(d, n * 12);
    case Interval::Quarter: return addMonths(d, n * 3);
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

int firstDayArg(int argc, sqlite3_value** argv, int index, const char* function) {
  if (argc <= index || isNull(argv[index])) return 1;
  int64_t f = roundToInteger(numberOf(argv[index], function), function);
  return f == 0 ? 1 : static_cast<int>(f);
}

// ---- Text, counted in characters of UTF-8 ----

size_t charLength(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Byte offset of character `index` (0-based), or s.size() past the end.
size_t byteOffset(std::string_view s, size_t index) {
  size_t i = 0;
  while (i < s.size() && index > 0) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --index;
  }
  return i;
}

// One code point at s[i]: its byte length.
size_t charBytes(std::string_view s, size_t i) {
  size_t j = i + 1;
  while (j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) ++j;
  return j - i;
}

int64_t countArg(sqlite3_value* v, const char* function) {
  int64_t n = roundToInteger(numberOf(v, function), function);
  if (n < 0) failWith(std::string("Invalid argument to ") + function + ": a negative length");
  return n;
}

// Case-insensitive search by characters; 0-based byte position or npos.
size_t findIgnoreCase(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (equalsIgnoreCase(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

// ---- Patterns: * any text, ? one character, # one digit, [a-z] [!a-z] a set ----

bool matchSet(std::string_view pattern, size_t& pi, std::string_view ch) {
  // pattern[pi] is '['; on return pi is past the closing ']'.
  size_t i = pi + 1;
  bool negate = i < pattern.size() && pattern[i] == '!';
  if (negate) ++i;
  bool matched = false;
  const char c = asciiLower(ch.size() == 1 ? ch[0] : '\0');
  while (i < pattern.size() && pattern[i] != ']') {
    size_t len = charBytes(pattern, i);
    std::string_view lo = pattern.substr(i, len);
    i += len;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      size_t hiLen = charBytes(pattern, i + 1);
      std::string_view hi = pattern.substr(i + 1, hiLen);
      i += 1 + hiLen;
      if (ch.size() == 1 && lo.size() == 1 && hi.size() == 1) {
        char l = asciiLower(lo[0]), h = asciiLower(hi[0]);
        if ((c >= l && c <= h) || (ch[0] >= lo[0] && ch[0] <= hi[0])) matched = true;
      } else if (ch >= lo && ch <= hi) {
        matched = true;
      }
    } else if (equalsIgnoreCase(lo, ch)) {
      matched = true;
    }
  }
  if (i >= pattern.size()) failWith("Like: a '[' in the pattern has no closing ']'");
  pi = i + 1;
  return matched != negate;
}

// Matches one pattern element at pi against the character at si.
bool matchOne(std::string_view s, size_t si, std::string_view pattern, size_t& pi) {
  std::string_view ch = s.substr(si, charBytes(s, si));
  char p = pattern[pi];
  if (p == '[') return matchSet(pattern, pi, ch);
  size_t len = charBytes(pattern, pi);
  std::string_view pc = pattern.substr(pi, len);
  pi += len;
  if (p == '?') return true;
  if (p == '#') return ch.size() == 1 && ch[0] >= '0' && ch[0] <= '9';
  return equalsIgnoreCase(pc, ch);
}

bool likeMatch(std::string_view s, std::string_view pattern) {
  size_t si = 0, pi = 0;
  size_t starPattern = std::string_view::npos, starText = 0;
  while (si < s.size()) {
    if (pi < pattern.size() && pattern[pi] == '*') {
      starPattern = ++pi;
      starText = si;
      continue;
    }
    size_t next = pi;
    if (pi < pattern.size() && matchOne(s, si, pattern, next)) {
      si += charBytes(s, si);
      pi = next;
      continue;
    }
    if (starPattern == std::string_view::npos) return false;
    starText += charBytes(s, starText);
    si = starText;
    pi = starPattern;
  }
  while (pi < pattern.size() && pattern[pi] == '*') ++pi;
  return pi == pattern.size();
}

// ---- Function bodies ----

using Body = void (*)(sqlite3_context*, int, sqlite3_value**);

// Wraps a body so that a FunctionFailure becomes the statement's error.
template <Body body>
void guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  try {
    body(ctx, argc, argv);
  } catch (const FunctionFailure& f) {
    sqlite3_result_error(ctx, f.message.c_str(), -1);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// Functions that give Null for a Null in any argument.
bool anyNull(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (isNull(argv[i])) {
      sqlite3_result_null(ctx);
      return true;
    }
  }
  return false;
}

void fnDate(sqlite3_context* ctx, int, sqlite3_value**) { resultDate(ctx, currentClock().now().datePart()); }
void fnTime(sqlite3_context* ctx, int, sqlite3_value**) { resultDate(ctx, currentClock().now().timePart()); }
void fnNow(sqlite3_context* ctx, int, sqlite3_value**) {
  DateTime::Parts p = currentClock().now().parts();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  resultText(ctx, buf);
}

void fnDateDiff(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  Interval interval = intervalOf(argv[0], "DateDiff");
  DateTime a = dateOf(argv[1], "DateDiff"), b = dateOf(argv[2], "DateDiff");
  sqlite3_result_int64(ctx, dateDiff(interval, a, b, firstDayArg(argc, argv, 3, "DateDiff")));
}

void fnDateAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  Interval interval = intervalOf(argv[0], "DateAdd");
  int64_t n = roundToInteger(numberOf(argv[1], "DateAdd"), "DateAdd");
  resultDate(ctx, dateAdd(interval, n, dateOf(argv[2], "DateAdd")));
}

void fnDatePart(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  Interval interval = intervalOf(argv[0], "DatePart");
  sqlite3_result_int64(ctx, datePart(interval, dateOf(argv[1], "DatePart"), firstDayArg(argc, argv, 2, "DatePart")));
}

void fnDateSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  int64_t year = roundToInteger(numberOf(argv[0], "DateSerial"), "DateSerial");
  int64_t month = roundToInteger(numberOf(argv[1], "DateSerial"), "DateSerial");
  int64_t day = roundToInteger(numberOf(argv[2], "DateSerial"), "DateSerial");
  if (year >= 0 && year < 100) year = expandTwoDigitYear(static_cast<int>(year));
  int64_t total = year * 12 + (month - 1);
  int64_t y = floorDiv(total, 12);
  if (y < 100 || y > 9999) failWith("DateSerial: the year is outside the range of dates");
  DateTime first = DateTime::fromParts(static_cast<int>(y), static_cast<int>(total - y * 12) + 1, 1);
  resultDate(ctx, DateTime{first.serial + static_cast<double>(day - 1)});
}

void fnTimeSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  int64_t seconds = roundToInteger(numberOf(argv[0], "TimeSerial"), "TimeSerial") * 3600 +
                    roundToInteger(numberOf(argv[1], "TimeSerial"), "TimeSerial") * 60 +
                    roundToInteger(numberOf(argv[2], "TimeSerial"), "TimeSerial");
  resultDate(ctx, DateTime{static_cast<double>(seconds) / 86400.0});
}

void fnDateValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "DateValue").datePart());
}

void fnTimeValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "TimeValue").timePart());
}

template <int DateTime::Parts::*field>
void fnDateField(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  sqlite3_result_int(ctx, dateOf(argv[0], "a date function").parts().*field);
}

void fnWeekday(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  DateTime d = dateOf(argv[0], "Weekday");
  sqlite3_result_int(ctx, weekdayOf(dayNumber(d), firstDayArg(argc, argv, 1, "Weekday")));
}

void fnLen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  sqlite3_result_int64(ctx, static_cast<int64_t>(charLength(displayText(argv[0]))));
}

void fnLeft(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  std::string s = displayText(argv[0]);
  int64_t n = countArg(argv[1], "Left");
  resultText(ctx, std::string_view(s).substr(0, byteOffset(s, static_cast<size_t>(n))));
}

void fnRight(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  std::string s = displayText(argv[0]);
  int64_t n = countArg(argv[1], "Right");
  size_t length = charLength(s);
  size_t skip = static_cast<size_t>(n) >= length ? 0 : length - static_cast<size_t>(n);
  resultText(ctx, std::string_view(s).substr(byteOffset(s, skip)));
}

void fnMid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  std::string s = displayText(argv[0]);
  int64_t start = roundToInteger(numberOf(argv[1], "Mid"), "Mid");
  if (start < 1) failWith("Invalid argument to Mid: the start must be 1 or more");
  size_t from = byteOffset(s, static_cast<size_t>(start - 1));
  size_t to = s.size();
  if (argc > 2 && !isNull(argv[2])) to = from + byteOffset(std::string_view(s).substr(from), static_cast<size_t>(countArg(argv[2], "Mid")));
  resultText(ctx, std::string_view(s).substr(from, to - from));
}

template <char (*convert)(char)>
void fnCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  std::string s = displayText(argv[0]);
  for (char& c : s) c = convert(c);
  resultText(ctx, s);
}

template <bool left, bool right>
void fnTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  std::string s = displayText(argv[0]);
  std::string_view v = s;
  while (left && !v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (right && !v.empty() && v.back() == ' ') v.remove_suffix(1);
  resultText(ctx, v);
}

// InStr([start,] text, sought[, compare]): the character position of sought, 0 when absent.
void fnInStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  int first = argc >= 3 ? 1 : 0;
  int64_t start = 1;
  if (first == 1) {
    if (isNull(argv[0])) failWith("Invalid use of Null: the start of InStr");
    start = roundToInteger(numberOf(argv[0], "InStr"), "InStr");
    if (start < 1) failWith("Invalid argument to InStr: the start must be 1 or more");
  }
  if (isNull(argv[first]) || isNull(argv[first + 1])) return sqlite3_result_null(ctx);
  std::string hay = displayText(argv[first]), needle = displayText(argv[first + 1]);
  bool binary = argc == 4 && !isNull(argv[3]) && numberOf(argv[3], "InStr") == 0;
  size_t from = byteOffset(hay, static_cast<size_t>(start - 1));
  if (static_cast<size_t>(start - 1) > charLength(hay)) return sqlite3_result_int(ctx, 0);
  size_t at = binary ? hay.find(needle, from) : findIgnoreCase(hay, needle, from);
  if (at == std::string::npos) return sqlite3_result_int(ctx, 0);
  sqlite3_result_int64(ctx, static_cast<int64_t>(charLength(std::string_view(hay).substr(0, at))) + 1);
}

void fnSpace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultText(ctx, std::string(static_cast<size_t>(countArg(argv[0], "Space")), ' '));
}

void fnStrComp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  std::string a = displayText(argv[0]), b = displayText(argv[1]);
  bool binary = argc == 3 && !isNull(argv[2]) && numberOf(argv[2], "StrComp") == 0;
  if (!binary) {
    for (char& c : a) c = asciiLower(c);
    for (char& c : b) c = asciiLower(c);
  }
  int cmp = a.compare(b);
  sqlite3_result_int(ctx, cmp < 0 ? -1 : cmp > 0 ? 1 : 0);
}

// Abs, Int, Fix and Sgn keep an integer an integer.
template <double (*op)(double), bool keepsIntegers = true>
void fnNumeric(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  if (keepsIntegers && sqlite3_value_type(argv[0]) == SQLITE_INTEGER) {
    int64_t i = sqlite3_value_int64(argv[0]);
    return sqlite3_result_int64(ctx, static_cast<int64_t>(op(static_cast<double>(i))));
  }
  resultNumber(ctx, op(numberOf(argv[0], "a numeric function")));
}

double absOf(double d) { return std::fabs(d); }
double intOf(double d) { return std::floor(d); }
double fixOf(double d) { return std::trunc(d); }
double sgnOf(double d) { return d > 0 ? 1 : d < 0 ? -1 : 0; }
double sqrOf(double d) {
  if (d < 0) failWith("Invalid argument to Sqr: a negative number");
  return std::sqrt(d);
}

void fnRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  double d = numberOf(argv[0], "Round");
  int64_t places = argc > 1 && !isNull(argv[1]) ? roundToInteger(numberOf(argv[1], "Round"), "Round") : 0;
  if (places < 0) failWith("Invalid argument to Round: negative decimal places");
  if (places == 0) return resultNumber(ctx, std::nearbyint(d));
  double scale = std::pow(10.0, static_cast<double>(places));
  sqlite3_result_double(ctx, std::nearbyint(d * scale) / scale);
}

// Val reads the number at the start of a text, ignoring blanks anywhere;
// what follows the number is ignored, and a text without one is 0.
void fnVal(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) failWith("Invalid use of Null in Val");
  std::string s;
  for (char c : displayText(argv[0])) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  }
  if (s.size() > 2 && s[0] == '&' && (asciiUpper(s[1]) == 'H' || asciiUpper(s[1]) == 'O')) {
    return resultNumber(ctx, static_cast<double>(std::strtoll(s.c_str() + 2, nullptr, asciiUpper(s[1]) == 'H' ? 16 : 8)));
  }
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      s[i] = 'e';
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      i = j;
    }
  }
  std::string number = s.substr(0, i);
  char* end = nullptr;
  double d = std::strtod(number.c_str(), &end);
  resultNumber(ctx, end == number.c_str() ? 0 : d);
}

void fnCStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultText(ctx, displayText(argv[0]));
}

template <int64_t low, int64_t high>
void fnCInteger(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  int64_t n = roundToInteger(numberOf(argv[0], "an integer conversion"), "an integer conversion");
  if (n < low || n > high) failWith("Overflow: " + displayText(argv[0]) + " does not fit the integer type");
  sqlite3_result_int64(ctx, n);
}

void fnCDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  sqlite3_result_double(ctx, numberOf(argv[0], "CDbl"));
}

void fnCDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "CDate"));
}

void fnCBool(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
    std::string_view s = textOf(argv[0]);
    if (equalsIgnoreCase(s, "True") || equalsIgnoreCase(s, "Yes")) return sqlite3_result_int(ctx, 1);
    if (equalsIgnoreCase(s, "False") || equalsIgnoreCase(s, "No")) return sqlite3_result_int(ctx, 0);
  }
  sqlite3_result_int(ctx, numberOf(argv[0], "CBool") != 0 ? 1 : 0);
}

void fnLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  sqlite3_result_int(ctx, likeMatch(displayText(argv[0]), displayText(argv[1])) ? 1 : 0);
}

void fnConcat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) && isNull(argv[1])) return sqlite3_result_null(ctx);
  resultText(ctx, displayText(argv[0]) + displayText(argv[1]));
}

bool isDateText(sqlite3_value* v, DateTime& out) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) return false;
  std::string_view s = textOf(v);
  if (parseNumberText(s)) return false;
  auto d = parseDateText(s);
  if (d) out = *d;
  return d.has_value();
}

void resultSum(sqlite3_context* ctx, sqlite3_value* a, sqlite3_value* b, bool subtract) {
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    int64_t r;
    bool overflow = subtract ? __builtin_sub_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &r)
                             : __builtin_add_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &r);
    if (!overflow) return sqlite3_result_int64(ctx, r);
  }
  double x = numberOf(a, subtract ? "-" : "+"), y = numberOf(b, subtract ? "-" : "+");
  sqlite3_result_double(ctx, subtract ? x - y : x + y);
}

// a + b: two texts join, a date and a number give a date, numbers add.
void fnAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  DateTime d;
  bool aText = sqlite3_value_type(argv[0]) == SQLITE_TEXT, bText = sqlite3_value_type(argv[1]) == SQLITE_TEXT;
  if (isDateText(argv[0], d) && !bText) return resultDate(ctx, DateTime{d.serial + numberOf(argv[1], "+")});
  if (isDateText(argv[1], d) && !aText) return resultDate(ctx, DateTime{d.serial + numberOf(argv[0], "+")});
  if (aText && bText) return resultText(ctx, std::string(textOf(argv[0])) + std::string(textOf(argv[1])));
  resultSum(ctx, argv[0], argv[1], false);
}

// a - b: two dates give the days between them, a date less a number a date.
void fnSubtract(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  DateTime a, b;
  bool aDate = isDateText(argv[0], a), bDate = isDateText(argv[1], b);
  if (aDate && bDate) return resultNumber(ctx, a.serial - b.serial);
  if (aDate) return resultDate(ctx, DateTime{a.serial - numberOf(argv[1], "-")});
  resultSum(ctx, argv[0], argv[1], true);
}

void fnIntDiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  int64_t a = roundToInteger(numberOf(argv[0], "\\"), "\\"), b = roundToInteger(numberOf(argv[1], "\\"), "\\");
  if (b == 0) failWith("Division by zero");
  sqlite3_result_int64(ctx, a / b);
}

void fnMod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  int64_t a = roundToInteger(numberOf(argv[0], "Mod"), "Mod"), b = roundToInteger(numberOf(argv[1], "Mod"), "Mod");
  if (b == 0) failWith("Division by zero");
  sqlite3_result_int64(ctx, a % b);
}

void fnPow(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  resultNumber(ctx, std::pow(numberOf(argv[0], "^"), numberOf(argv[1], "^")));
}

// ---- Aggregates First and Last ----

struct Kept {
  sqlite3_value* value;  // owned copy, or null before the first row
  bool seen;
};

template <bool keepLast>
void keepStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* kept = static_cast<Kept*>(sqlite3_aggregate_context(ctx, sizeof(Kept)));
  if (!kept) return sqlite3_result_error_nomem(ctx);
  if (kept->seen && !keepLast) return;
  sqlite3_value_free(kept->value);
  kept->value = sqlite3_value_dup(argv[0]);
  kept->seen = true;
}

void keepFinal(sqlite3_context* ctx) {
  auto* kept = static_cast<Kept*>(sqlite3_aggregate_context(ctx, 0));
  if (!kept || !kept->seen) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, kept->value);
  sqlite3_value_free(kept->value);
  kept->value = nullptr;
}

struct Registration {
  const char* name;
  int args;  // -1: any number
  Body body;
  bool deterministic;
};

constexpr Registration kRegistrations[] = {
    {"osk_date", 0, guarded<fnDate>, false},
    {"osk_time", 0, guarded<fnTime>, false},
    {"osk_now", 0, guarded<fnNow>, false},
    {"osk_datediff", -1, guarded<fnDateDiff>, true},
    {"osk_dateadd", 3, guarded<fnDateAdd>, true},
    {"osk_datepart", -1, guarded<fnDatePart>, true},
    {"osk_dateserial", 3, guarded<fnDateSerial>, true},
    {"osk_timeserial", 3, guarded<fnTimeSerial>, true},
    {"osk_datevalue", 1, guarded<fnDateValue>, true},
    {"osk_timevalue", 1, guarded<fnTimeValue>, true},
    {"osk_year", 1, guarded<fnDateField<&DateTime::Parts::year>>, true},
    {"osk_month", 1, guarded<fnDateField<&DateTime::Parts::month>>, true},
    {"osk_day", 1, guarded<fnDateField<&DateTime::Parts::day>>, true},
    {"osk_hour", 1, guarded<fnDateField<&DateTime::Parts::hour>>, true},
    {"osk_minute", 1, guarded<fnDateField<&DateTime::Parts::minute>>, true},
    {"osk_second", 1, guarded<fnDateField<&DateTime::Parts::second>>, true},
    {"osk_weekday", -1, guarded<fnWeekday>, true},
    {"osk_len", 1, guarded<fnLen>, true},
    {"osk_left", 2, guarded<fnLeft>, true},
    {"osk_right", 2, guarded<fnRight>, true},
    {"osk_mid", -1, guarded<fnMid>, true},
    {"osk_ucase", 1, guarded<fnCase<asciiUpper>>, true},
    {"osk_lcase", 1, guarded<fnCase<asciiLower>>, true},
    {"osk_trim", 1, guarded<fnTrim<true, true>>, true},
    {"osk_ltrim", 1, guarded<fnTrim<true, false>>, true},
    {"osk_rtrim", 1, guarded<fnTrim<false, true>>, true},
    {"osk_instr", -1, guarded<fnInStr>, true},
    {"osk_space", 1, guarded<fnSpace>, true},
    {"osk_strcomp", -1, guarded<fnStrComp>, true},
    {"osk_abs", 1, guarded<fnNumeric<absOf>>, true},
    {"osk_int", 1, guarded<fnNumeric<intOf>>, true},
    {"osk_fix", 1, guarded<fnNumeric<fixOf>>, true},
    {"osk_sgn", 1, guarded<fnNumeric<sgnOf>>, true},
    {"osk_sqr", 1, guarded<fnNumeric<sqrOf, false>>, true},
    {"osk_round", -1, guarded<fnRound>, true},
    {"osk_val", 1, guarded<fnVal>, true},
    {"osk_cstr", 1, guarded<fnCStr>, true},
    {"osk_cint", 1, guarded<fnCInteger<-32768, 32767>>, true},
    {"osk_clng", 1, guarded<fnCInteger<-2147483648LL, 2147483647LL>>, true},
    {"osk_cdbl", 1, guarded<fnCDbl>, true},
    {"osk_cdate", 1, guarded<fnCDate>, true},
    {"osk_cbool", 1, guarded<fnCBool>, true},
    {"osk_like", 2, guarded<fnLike>, true},
    {"osk_concat", 2, guarded<fnConcat>, true},
    {"osk_add", 2, guarded<fnAdd>, true},
    {"osk_subtract", 2, guarded<fnSubtract>, true},
    {"osk_intdiv", 2, guarded<fnIntDiv>, true},
    {"osk_mod", 2, guarded<fnMod>, true},
    {"osk_pow", 2, guarded<fnPow>, true},
};

void check(sqlite3* db, int rc, const char* name) {
  if (rc != SQLITE_OK)
    throw Error(errc::kReserved, std::string("Could not register the SQL function ") + name + ": " +
                                     sqlite3_errmsg(db) + ".");
}

}  // namespace

const DialectFunction* findDialectFunction(std::string_view name) {
  for (const DialectFunction& f : kFunctions) {
    if (equalsIgnoreCase(f.name, name)) return &f;
  }
  return nullptr;
}

void registerDialectFunctions(sqlite3* db) {
  for (const Registration& r : kRegistrations) {
    int flags = SQLITE_UTF8 | (r.deterministic ? SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS : 0);
    check(db, sqlite3_create_function_v2(db, r.name, r.args, flags, nullptr, r.body, nullptr, nullptr, nullptr),
          r.name);
  }
  const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  check(db, sqlite3_create_function_v2(db, "osk_first", 1, flags, nullptr, nullptr, keepStep<false>, keepFinal, nullptr),
        "osk_first");
  check(db, sqlite3_create_function_v2(db, "osk_last", 1, flags, nullptr, nullptr, keepStep<true>, keepFinal, nullptr),
        "osk_last");
}

}  // namespace oskara::db::sql
