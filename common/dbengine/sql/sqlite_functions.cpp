#include "dbengine/sql/sqlite_functions.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/error.h"
#include "core/text.h"
#include "core/variant.h"
#include "dbengine/sql/bound.h"
#include "dbengine/sql/date_arithmetic.h"
#include "dbengine/sql/datetext.h"
#include "dbengine/sql/enum_table.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/sqlite_failures.h"
#include "dbengine/sql/tokenizer.h"

namespace oskara::db::sql {
namespace {

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// ---- Reading arguments ----

// A function body fails with the runtime's number and a text naming the
// function; the wrapper hands both to SQLite (sqlite_failures.h).
[[noreturn]] void fail(int32_t number, std::string text) { throw Error(number, std::move(text)); }

[[noreturn]] void overflow(const char* function, const std::string& why) {
  fail(runtime_error::kOverflow, std::string("Overflow in ") + function + ": " + why + ".");
}
[[noreturn]] void invalidArgument(const char* function, const std::string& why) {
  fail(errc::kInvalidCall, std::string("Invalid argument to ") + function + ": " + why + ".");
}
[[noreturn]] void outOfStringSpace(const char* function) {
  fail(errc::kOutOfStringSpace, std::string("Out of string space in ") + function + ": the text would be longer than " +
                                    std::to_string(kMaxTextBytes) + " bytes.");
}

bool isNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string_view textOf(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// A number as the dialect writes it as text: at most 15 significant digits,
// in exponent form from 1E+15 up and below 0.0001 (0.1 + 0.2 is 0.3, 10 ^ 15
// is 1E+15). A whole number of up to 15 digits is written out.
std::string numberDisplay(double d) {
  if (d == 0) return "0";  // also -0
  if (std::isinf(d)) overflow("a conversion to text", "the number is beyond the range of numbers");
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  return buf;
}

// The value as the dialect writes it as text: 5, 2.5, the stored text.
std::string displayText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
      const int64_t i = sqlite3_value_int64(v);
      if (i > -1'000'000'000'000'000 && i < 1'000'000'000'000'000) return std::to_string(i);
      return numberDisplay(static_cast<double>(i));  // beyond 15 digits it is a Double in the dialect
    }
    case SQLITE_FLOAT: return numberDisplay(sqlite3_value_double(v));
    case SQLITE_NULL: return {};
    default: return std::string(textOf(v));
  }
}

// A number written as text: blanks around it, one sign, digits with a point
// and an exponent. Nothing else ("inf" and "nan" are no numbers of the
// dialect); a number beyond a Double's range overflows.
std::optional<double> parseNumberText(std::string_view text, const char* function) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() || !(std::isdigit(static_cast<unsigned char>(digits.front())) || digits.front() == '.'))
    return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return std::nullopt;
  if (errno == ERANGE && std::isinf(d)) overflow(function, "'" + s + "' is beyond the range of numbers");
  return d;
}

std::optional<DateTime> parseDateText(std::string_view text) {
  // Most texts are a field's stored dates, read at their fixed places.
  if (auto stored = DateTime::parseStored(text)) return stored;
  if (auto iso = DateTime::parseIso(text)) return iso;
  return parseDialectDate(text);
}

double numberOf(sqlite3_value* v, const char* function) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return static_cast<double>(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    default: {
      std::string_view text = textOf(v);
      if (auto d = parseNumberText(text, function)) return *d;
      if (equalsIgnoreCase(text, "True")) return bound::kTrueNumber;
      if (equalsIgnoreCase(text, "False")) return bound::kFalseNumber;
      if (auto date = parseDateText(text)) return date->serial;
      fail(runtime_error::kTypeMismatch,
           std::string("Type mismatch in ") + function + ": '" + std::string(text) + "' is not a number.");
    }
  }
}

// A day count as a date: only within the dialect's range of dates.
DateTime checkedDate(double serial, const char* function) {
  if (!isDateSerial(serial)) overflow(function, numberDisplay(serial) + " is beyond the range of dates");
  return DateTime{serial};
}

DateTime dateOf(sqlite3_value* v, const char* function) {
  if (sqlite3_value_type(v) == SQLITE_TEXT || sqlite3_value_type(v) == SQLITE_BLOB) {
    std::string_view text = textOf(v);
    if (auto date = parseDateText(text)) return *date;
    if (!parseNumberText(text, function))
      fail(runtime_error::kTypeMismatch,
           std::string("Type mismatch in ") + function + ": '" + std::string(text) + "' is not a date.");
  }
  return checkedDate(numberOf(v, function), function);
}

// Nearest whole number, halves to even, as the dialect rounds.
int64_t roundToInteger(double d, const char* function) {
  double r = std::nearbyint(d);
  if (!(r >= -9.2e18 && r <= 9.2e18)) overflow(function, numberDisplay(d) + " is too large");
  return static_cast<int64_t>(r);
}

// ---- Writing results ----

void resultDate(sqlite3_context* ctx, DateTime d, const char* function) {
  std::string iso = checkedDate(d.serial, function).toIso();
  sqlite3_result_text(ctx, iso.c_str(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
}

void resultText(sqlite3_context* ctx, std::string_view s, const char* function) {
  if (s.size() > kMaxTextBytes) outOfStringSpace(function);
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// A whole double as an integer, so 3.0 reads back as 3. The dialect has no
// infinities: a result beyond a Double's range overflows.
void resultNumber(sqlite3_context* ctx, double d, const char* function) {
  if (std::isinf(d)) overflow(function, "the result is beyond the range of numbers");
  if (std::isnan(d)) invalidArgument(function, "the result is no number");
  if (d == std::floor(d) && std::fabs(d) < 9e15) {
    sqlite3_result_int64(ctx, static_cast<int64_t>(d));
  } else {
    sqlite3_result_double(ctx, d);
  }
}

// ---- Dates ----

Interval intervalOf(sqlite3_value* v, const char* function) {
  std::string_view s = textOf(v);
  if (auto interval = intervalNamed(s)) return *interval;
  invalidArgument(function, "'" + std::string(s) + "' is not a date interval");
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
  if (n < 0) invalidArgument(function, "a negative length");
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
  const char c = lowerAscii(ch.size() == 1 ? ch[0] : '\0');
  while (i < pattern.size() && pattern[i] != ']') {
    size_t len = charBytes(pattern, i);
    std::string_view lo = pattern.substr(i, len);
    i += len;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      size_t hiLen = charBytes(pattern, i + 1);
      std::string_view hi = pattern.substr(i + 1, hiLen);
      i += 1 + hiLen;
      if (ch.size() == 1 && lo.size() == 1 && hi.size() == 1) {
        char l = lowerAscii(lo[0]), h = lowerAscii(hi[0]);
        if ((c >= l && c <= h) || (ch[0] >= lo[0] && ch[0] <= hi[0])) matched = true;
      } else if (ch >= lo && ch <= hi) {
        matched = true;
      }
    } else if (equalsIgnoreCase(lo, ch)) {
      matched = true;
    }
  }
  if (i >= pattern.size()) invalidArgument("Like", "a '[' in the pattern has no closing ']'");
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

// Wraps a body so that whatever it throws becomes the statement's error,
// with its number (memory running out is 7).
template <Body body>
void guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  try {
    body(ctx, argc, argv);
  } catch (...) {
    const std::string text = functionFailureText(currentFailure());
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
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

void fnDate(sqlite3_context* ctx, int, sqlite3_value**) { resultDate(ctx, currentClock().now().datePart(), "Date"); }
void fnTime(sqlite3_context* ctx, int, sqlite3_value**) { resultDate(ctx, currentClock().now().timePart(), "Time"); }
void fnNow(sqlite3_context* ctx, int, sqlite3_value**) {
  DateTime::Parts p = currentClock().now().parts();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  resultText(ctx, buf, "Now");
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
  resultDate(ctx, dateAdd(interval, n, dateOf(argv[2], "DateAdd")), "DateAdd");
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
  resultDate(ctx, dateSerial(year, month, day), "DateSerial");
}

void fnTimeSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  resultDate(ctx,
             timeSerial(roundToInteger(numberOf(argv[0], "TimeSerial"), "TimeSerial"),
                        roundToInteger(numberOf(argv[1], "TimeSerial"), "TimeSerial"),
                        roundToInteger(numberOf(argv[2], "TimeSerial"), "TimeSerial")),
             "TimeSerial");
}

void fnDateValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "DateValue").datePart(), "DateValue");
}

void fnTimeValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "TimeValue").timePart(), "TimeValue");
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
  resultText(ctx, std::string_view(s).substr(0, byteOffset(s, static_cast<size_t>(n))), "Left");
}

void fnRight(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  std::string s = displayText(argv[0]);
  int64_t n = countArg(argv[1], "Right");
  size_t length = charLength(s);
  size_t skip = static_cast<size_t>(n) >= length ? 0 : length - static_cast<size_t>(n);
  resultText(ctx, std::string_view(s).substr(byteOffset(s, skip)), "Right");
}

void fnMid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  std::string s = displayText(argv[0]);
  int64_t start = roundToInteger(numberOf(argv[1], "Mid"), "Mid");
  if (start < 1) invalidArgument("Mid", "the start must be 1 or more");
  size_t from = byteOffset(s, static_cast<size_t>(start - 1));
  size_t to = s.size();
  if (argc > 2 && !isNull(argv[2]))
    to = from + byteOffset(std::string_view(s).substr(from), static_cast<size_t>(countArg(argv[2], "Mid")));
  resultText(ctx, std::string_view(s).substr(from, to - from), "Mid");
}

template <char (*convert)(char)>
void fnCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  std::string s = displayText(argv[0]);
  for (char& c : s) c = convert(c);
  resultText(ctx, s, "UCase or LCase");
}

template <bool left, bool right>
void fnTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  std::string s = displayText(argv[0]);
  std::string_view v = s;
  while (left && !v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (right && !v.empty() && v.back() == ' ') v.remove_suffix(1);
  resultText(ctx, v, "Trim");
}

// Whether a compare argument asks for binary comparison (0); text
// comparison (1, or none) disregards case.
bool binaryCompare(int argc, sqlite3_value** argv, int index, const char* function) {
  return argc > index && !isNull(argv[index]) && numberOf(argv[index], function) == 0;
}

// InStr([start,] text, sought[, compare]): the character position of sought, 0 when absent.
void fnInStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  int first = argc >= 3 ? 1 : 0;
  int64_t start = 1;
  if (first == 1) {
    if (isNull(argv[0])) fail(runtime_error::kInvalidUseOfNull, "Invalid use of Null: the start of InStr.");
    start = roundToInteger(numberOf(argv[0], "InStr"), "InStr");
    if (start < 1) invalidArgument("InStr", "the start must be 1 or more");
  }
  if (isNull(argv[first]) || isNull(argv[first + 1])) return sqlite3_result_null(ctx);
  std::string hay = displayText(argv[first]), needle = displayText(argv[first + 1]);
  bool binary = binaryCompare(argc, argv, 3, "InStr");
  size_t from = byteOffset(hay, static_cast<size_t>(start - 1));
  if (static_cast<size_t>(start - 1) > charLength(hay)) return sqlite3_result_int(ctx, 0);
  size_t at = binary ? hay.find(needle, from) : findIgnoreCase(hay, needle, from);
  if (at == std::string::npos) return sqlite3_result_int(ctx, 0);
  sqlite3_result_int64(ctx, static_cast<int64_t>(charLength(std::string_view(hay).substr(0, at))) + 1);
}

// `count` copies of `unit`, checked against the longest text before anything is taken.
void resultRepeated(sqlite3_context* ctx, int64_t count, std::string_view unit, const char* function) {
  if (!unit.empty() && static_cast<uint64_t>(count) > kMaxTextBytes / unit.size()) outOfStringSpace(function);
  if (unit.size() == 1) return resultText(ctx, std::string(static_cast<size_t>(count), unit.front()), function);
  std::string s;
  s.reserve(static_cast<size_t>(count) * unit.size());
  for (int64_t i = 0; i < count; ++i) s += unit;
  resultText(ctx, s, function);
}

void fnSpace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultRepeated(ctx, countArg(argv[0], "Space"), " ", "Space");
}

// String(n, c): n times the first character of a text, or the character of a code.
void fnString(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  const int64_t count = countArg(argv[0], "String");
  std::string unit;
  if (sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
    std::string_view s = textOf(argv[1]);
    if (s.empty()) invalidArgument("String", "an empty text gives no character");
    unit = s.substr(0, charBytes(s, 0));
  } else {
    int64_t code = roundToInteger(numberOf(argv[1], "String"), "String");
    if (code < 0 || code > 255) invalidArgument("String", "the character code must be 0 to 255");
    unit = code < 0x80 ? std::string(1, static_cast<char>(code))  // Latin-1, written as UTF-8
                       : std::string{static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
  }
  resultRepeated(ctx, count, unit, "String");
}

// Replace(text, find, with[, start[, count[, compare]]]): the text from
// `start` on, with `count` (all for -1) occurrences of find replaced.
void fnReplace(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 3, argv)) return;
  const std::string s = displayText(argv[0]), find = displayText(argv[1]), with = displayText(argv[2]);
  int64_t start = argc > 3 && !isNull(argv[3]) ? roundToInteger(numberOf(argv[3], "Replace"), "Replace") : 1;
  if (start < 1) invalidArgument("Replace", "the start must be 1 or more");
  int64_t count = argc > 4 && !isNull(argv[4]) ? roundToInteger(numberOf(argv[4], "Replace"), "Replace") : -1;
  if (count < -1) invalidArgument("Replace", "the count must be -1 or more");
  const bool binary = binaryCompare(argc, argv, 5, "Replace");
  std::string_view rest = std::string_view(s).substr(byteOffset(s, static_cast<size_t>(start - 1)));
  std::string out;
  size_t at = 0;
  for (int64_t done = 0; !find.empty() && (count < 0 || done < count); ++done) {
    size_t found = binary ? rest.find(find, at) : findIgnoreCase(rest, find, at);
    if (found == std::string_view::npos) break;
    if (out.size() + (found - at) + with.size() > kMaxTextBytes) outOfStringSpace("Replace");
    out.append(rest.substr(at, found - at)).append(with);
    at = found + find.size();
  }
  if (out.size() + (rest.size() - at) > kMaxTextBytes) outOfStringSpace("Replace");
  out.append(rest.substr(at));
  resultText(ctx, out, "Replace");
}

void fnStrComp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  std::string a = displayText(argv[0]), b = displayText(argv[1]);
  if (!binaryCompare(argc, argv, 2, "StrComp")) {
    for (char& c : a) c = lowerAscii(c);
    for (char& c : b) c = lowerAscii(c);
  }
  int cmp = a.compare(b);
  sqlite3_result_int(ctx, cmp < 0 ? -1 : cmp > 0 ? 1 : 0);
}

// Abs, Int, Fix and Sgn keep an integer an integer.
template <double (*op)(double), bool keepsIntegers = true>
void fnNumeric(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  if (keepsIntegers && sqlite3_value_type(argv[0]) == SQLITE_INTEGER) {
    const double r = op(static_cast<double>(sqlite3_value_int64(argv[0])));
    if (r >= -9.2e18 && r <= 9.2e18) return sqlite3_result_int64(ctx, static_cast<int64_t>(r));
  }
  resultNumber(ctx, op(numberOf(argv[0], "a numeric function")), "a numeric function");
}

double absOf(double d) { return std::fabs(d); }
double intOf(double d) { return std::floor(d); }
double fixOf(double d) { return std::trunc(d); }
double sgnOf(double d) { return d > 0 ? 1 : d < 0 ? -1 : 0; }
double sqrOf(double d) {
  if (d < 0) invalidArgument("Sqr", "a negative number");
  return std::sqrt(d);
}

void fnRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  double d = numberOf(argv[0], "Round");
  int64_t places = argc > 1 && !isNull(argv[1]) ? roundToInteger(numberOf(argv[1], "Round"), "Round") : 0;
  if (places < 0) invalidArgument("Round", "negative decimal places");
  if (places == 0) return resultNumber(ctx, std::nearbyint(d), "Round");
  if (places > 15) return resultNumber(ctx, d, "Round");  // a Double has no more digits to round
  double scale = std::pow(10.0, static_cast<double>(places));
  const double scaled = d * scale;
  if (std::isinf(scaled)) return resultNumber(ctx, d, "Round");  // too large to have those decimals
  sqlite3_result_double(ctx, std::nearbyint(scaled) / scale);
}

// Val reads the number at the start of a text, ignoring blanks anywhere;
// what follows the number is ignored, and a text without one is 0.
void fnVal(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) fail(runtime_error::kInvalidUseOfNull, "Invalid use of Null in Val.");
  std::string s;
  for (char c : displayText(argv[0])) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  }
  if (s.size() > 2 && s[0] == '&' && (asciiUpper(s[1]) == 'H' || asciiUpper(s[1]) == 'O')) {
    const int radix = asciiUpper(s[1]) == 'H' ? 16 : 8;
    size_t end = 2;
    while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end])) && (radix == 16 || s[end] < '8')) ++end;
    auto value = radixNumber(std::string_view(s).substr(2, end - 2), radix);
    if (!value) overflow("Val", "'" + s.substr(0, end) + "' does not fit in a Long");
    return sqlite3_result_int(ctx, *value);
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
  resultNumber(ctx, end == number.c_str() ? 0 : d, "Val");
}

void fnCStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultText(ctx, displayText(argv[0]), "CStr");
}

template <int64_t low, int64_t high>
void fnCInteger(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  int64_t n = roundToInteger(numberOf(argv[0], "an integer conversion"), "an integer conversion");
  if (n < low || n > high) overflow("an integer conversion", displayText(argv[0]) + " does not fit the integer type");
  sqlite3_result_int64(ctx, n);
}

void fnCDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  sqlite3_result_double(ctx, numberOf(argv[0], "CDbl"));
}

// Currency: four decimals, halves to even, within +-922,337,203,685,477.5807.
void fnCCur(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  const double scaled = std::nearbyint(numberOf(argv[0], "CCur") * 10000.0);
  if (!(std::fabs(scaled) <= 9223372036854775807.0))
    overflow("CCur", displayText(argv[0]) + " does not fit a Currency");
  resultNumber(ctx, scaled / 10000.0, "CCur");
}

void fnCDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 1, argv)) return;
  resultDate(ctx, dateOf(argv[0], "CDate"), "CDate");
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

void resultJoined(sqlite3_context* ctx, std::string_view a, std::string_view b, const char* function) {
  if (a.size() + b.size() > kMaxTextBytes) outOfStringSpace(function);
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a).append(b);
  resultText(ctx, s, function);
}

void fnConcat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) && isNull(argv[1])) return sqlite3_result_null(ctx);
  resultJoined(ctx, displayText(argv[0]), displayText(argv[1]), "&");
}

bool isDateText(sqlite3_value* v, DateTime& out) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) return false;
  std::string_view s = textOf(v);
  if (parseNumberText(s, "a date")) return false;
  auto d = parseDateText(s);
  if (d) out = *d;
  return d.has_value();
}

void resultSum(sqlite3_context* ctx, sqlite3_value* a, sqlite3_value* b, bool subtract) {
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    int64_t r;
    bool overflowed = subtract ? __builtin_sub_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &r)
                               : __builtin_add_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &r);
    if (!overflowed) return sqlite3_result_int64(ctx, r);
  }
  const char* op = subtract ? "-" : "+";
  double x = numberOf(a, op), y = numberOf(b, op);
  resultNumber(ctx, subtract ? x - y : x + y, op);
}

// a + b: two texts join, a date and a number give a date, numbers add.
void fnAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  DateTime d;
  bool aText = sqlite3_value_type(argv[0]) == SQLITE_TEXT, bText = sqlite3_value_type(argv[1]) == SQLITE_TEXT;
  if (isDateText(argv[0], d) && !bText) return resultDate(ctx, DateTime{d.serial + numberOf(argv[1], "+")}, "+");
  if (isDateText(argv[1], d) && !aText) return resultDate(ctx, DateTime{d.serial + numberOf(argv[0], "+")}, "+");
  if (aText && bText) return resultJoined(ctx, textOf(argv[0]), textOf(argv[1]), "+");
  resultSum(ctx, argv[0], argv[1], false);
}

// a - b: two dates give the days between them, a date less a number a date.
void fnSubtract(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  DateTime a, b;
  bool aDate = isDateText(argv[0], a), bDate = isDateText(argv[1], b);
  if (aDate && bDate) return resultNumber(ctx, a.serial - b.serial, "-");
  if (aDate) return resultDate(ctx, DateTime{a.serial - numberOf(argv[1], "-")}, "-");
  resultSum(ctx, argv[0], argv[1], true);
}

// a / b, always a real number (4 / 2 is 2.0). Division by zero fails, and
// 0 / 0 overflows, as in the runtime.
void fnDivide(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  const double a = numberOf(argv[0], "/"), b = numberOf(argv[1], "/");
  if (b == 0) {
    if (a == 0) overflow("/", "0 / 0 has no value");
    fail(errc::kDivisionByZero, "Division by zero.");
  }
  const double q = a / b;
  if (std::isinf(q)) overflow("/", "the result is beyond the range of numbers");
  sqlite3_result_double(ctx, q);
}

void fnIntDiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  int64_t a = roundToInteger(numberOf(argv[0], "\\"), "\\"), b = roundToInteger(numberOf(argv[1], "\\"), "\\");
  if (b == 0) fail(errc::kDivisionByZero, "Division by zero.");
  sqlite3_result_int64(ctx, a / b);
}

void fnMod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  int64_t a = roundToInteger(numberOf(argv[0], "Mod"), "Mod"), b = roundToInteger(numberOf(argv[1], "Mod"), "Mod");
  if (b == 0) fail(errc::kDivisionByZero, "Division by zero.");
  sqlite3_result_int64(ctx, a % b);
}

void fnPow(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (anyNull(ctx, 2, argv)) return;
  resultNumber(ctx, std::pow(numberOf(argv[0], "^"), numberOf(argv[1], "^")), "^");
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

// Every dialect function as SQLite computes it, in the order of Function
// (checked below): the SQLite function the emitter writes, and the body
// registered under that name.
struct SqliteFunction {
  Function function;
  const char* name;  // SQLite's own function, or one registered here; "" for the forms written as expressions
  int args;          // -1: any number
  Body body;         // registered under `name`; null where SQLite has it, another entry registers it, or
                     // it is an aggregate (First, Last: registered on their own)
  bool deterministic;
};

constexpr SqliteFunction kSqliteFunctions[] = {
    {Function::IIf, "", 0, nullptr, false},     // CASE WHEN
    {Function::IsNull, "", 0, nullptr, false},  // IS NULL
    {Function::Nz, "coalesce", 2, nullptr, false},
    {Function::Count, "count", 1, nullptr, false},
    {Function::Sum, "sum", 1, nullptr, false},
    {Function::Avg, "avg", 1, nullptr, false},
    {Function::Min, "min", 1, nullptr, false},
    {Function::Max, "max", 1, nullptr, false},
    {Function::First, "osk_first", 1, nullptr, false},
    {Function::Last, "osk_last", 1, nullptr, false},
    // The clock, marked deterministic so that SQLite reads it once per run of
    // a statement, not once per row: every row of a statement sees the same
    // moment, as on a server, where the clock is a parameter of the statement.
    {Function::Date, "osk_date", 0, guarded<fnDate>, true},
    {Function::Time, "osk_time", 0, guarded<fnTime>, true},
    {Function::Now, "osk_now", 0, guarded<fnNow>, true},
    {Function::DateDiff, "osk_datediff", -1, guarded<fnDateDiff>, true},
    {Function::DateAdd, "osk_dateadd", 3, guarded<fnDateAdd>, true},
    {Function::DatePart, "osk_datepart", -1, guarded<fnDatePart>, true},
    {Function::DateSerial, "osk_dateserial", 3, guarded<fnDateSerial>, true},
    {Function::TimeSerial, "osk_timeserial", 3, guarded<fnTimeSerial>, true},
    {Function::DateValue, "osk_datevalue", 1, guarded<fnDateValue>, true},
    {Function::TimeValue, "osk_timevalue", 1, guarded<fnTimeValue>, true},
    {Function::Year, "osk_year", 1, guarded<fnDateField<&DateTime::Parts::year>>, true},
    {Function::Month, "osk_month", 1, guarded<fnDateField<&DateTime::Parts::month>>, true},
    {Function::Day, "osk_day", 1, guarded<fnDateField<&DateTime::Parts::day>>, true},
    {Function::Hour, "osk_hour", 1, guarded<fnDateField<&DateTime::Parts::hour>>, true},
    {Function::Minute, "osk_minute", 1, guarded<fnDateField<&DateTime::Parts::minute>>, true},
    {Function::Second, "osk_second", 1, guarded<fnDateField<&DateTime::Parts::second>>, true},
    {Function::Weekday, "osk_weekday", -1, guarded<fnWeekday>, true},
    {Function::Len, "osk_len", 1, guarded<fnLen>, true},
    {Function::Left, "osk_left", 2, guarded<fnLeft>, true},
    {Function::Right, "osk_right", 2, guarded<fnRight>, true},
    {Function::Mid, "osk_mid", -1, guarded<fnMid>, true},
    {Function::UCase, "osk_ucase", 1, guarded<fnCase<asciiUpper>>, true},
    {Function::LCase, "osk_lcase", 1, guarded<fnCase<lowerAscii>>, true},
    {Function::Trim, "osk_trim", 1, guarded<fnTrim<true, true>>, true},
    {Function::LTrim, "osk_ltrim", 1, guarded<fnTrim<true, false>>, true},
    {Function::RTrim, "osk_rtrim", 1, guarded<fnTrim<false, true>>, true},
    {Function::InStr, "osk_instr", -1, guarded<fnInStr>, true},
    {Function::Space, "osk_space", 1, guarded<fnSpace>, true},
    {Function::String, "osk_string", 2, guarded<fnString>, true},
    {Function::Replace, "osk_replace", -1, guarded<fnReplace>, true},
    {Function::Abs, "osk_abs", 1, guarded<fnNumeric<absOf>>, true},
    {Function::Int, "osk_int", 1, guarded<fnNumeric<intOf>>, true},
    {Function::Fix, "osk_fix", 1, guarded<fnNumeric<fixOf>>, true},
    {Function::Sgn, "osk_sgn", 1, guarded<fnNumeric<sgnOf>>, true},
    {Function::Round, "osk_round", -1, guarded<fnRound>, true},
    {Function::Sqr, "osk_sqr", 1, guarded<fnNumeric<sqrOf, false>>, true},
    {Function::Val, "osk_val", 1, guarded<fnVal>, true},
    {Function::CStr, "osk_cstr", 1, guarded<fnCStr>, true},
    {Function::CInt, "osk_cint", 1, guarded<fnCInteger<-32768, 32767>>, true},
    {Function::CLng, "osk_clng", 1, guarded<fnCInteger<-2147483648LL, 2147483647LL>>, true},
    {Function::CDbl, "osk_cdbl", 1, guarded<fnCDbl>, true},
    {Function::CSng, "osk_cdbl", 1, nullptr, false},
    {Function::CCur, "osk_ccur", 1, guarded<fnCCur>, true},
    {Function::CDate, "osk_cdate", 1, guarded<fnCDate>, true},
    {Function::CVDate, "osk_cdate", 1, nullptr, false},
    {Function::CBool, "osk_cbool", 1, guarded<fnCBool>, true},
    {Function::StrComp, "osk_strcomp", -1, guarded<fnStrComp>, true},
};

static_assert(inEnumOrder<&SqliteFunction::function>(kSqliteFunctions, kFunctionCount),
              "kSqliteFunctions lists every Function, in the order of the enum");

// The functions written for operators.
struct OperatorFunction {
  const char* name;
  Body body;
};

constexpr OperatorFunction kOperatorFunctions[] = {
    {sqlite_operator::kLike, guarded<fnLike>},           {sqlite_operator::kConcat, guarded<fnConcat>},
    {sqlite_operator::kAdd, guarded<fnAdd>},             {sqlite_operator::kSubtract, guarded<fnSubtract>},
    {sqlite_operator::kIntDivide, guarded<fnIntDiv>},    {sqlite_operator::kMod, guarded<fnMod>},
    {sqlite_operator::kPower, guarded<fnPow>},        {sqlite_operator::kDivide, guarded<fnDivide>},
};

void check(sqlite3* db, int rc, const char* name) {
  if (rc != SQLITE_OK)
    throw Error(errc::kReserved, std::string("Could not register the SQL function ") + name + ": " +
                                     sqlite3_errmsg(db) + ".");
}

}  // namespace

std::string_view sqliteFunctionName(Function f) { return kSqliteFunctions[static_cast<int>(f)].name; }

void registerDialectFunctions(sqlite3* db) {
  auto add = [&](const char* name, int args, Body body, bool deterministic) {
    int flags = SQLITE_UTF8 | (deterministic ? SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS : 0);
    check(db, sqlite3_create_function_v2(db, name, args, flags, nullptr, body, nullptr, nullptr, nullptr), name);
  };
  for (const SqliteFunction& f : kSqliteFunctions) {
    if (f.body) add(f.name, f.args, f.body, f.deterministic);
  }
  for (const OperatorFunction& f : kOperatorFunctions) add(f.name, 2, f.body, true);
  // The aggregates First and Last keep one value of their group.
  const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  const char* first = kSqliteFunctions[static_cast<int>(Function::First)].name;
  const char* last = kSqliteFunctions[static_cast<int>(Function::Last)].name;
  check(db, sqlite3_create_function_v2(db, first, 1, flags, nullptr, nullptr, keepStep<false>, keepFinal, nullptr), first);
  check(db, sqlite3_create_function_v2(db, last, 1, flags, nullptr, nullptr, keepStep<true>, keepFinal, nullptr), last);
}

}  // namespace oskara::db::sql
