#include "core/variant.h"

#include <charconv>
#include <cmath>

#include "core/error.h"
#include "core/text.h"

namespace oskara {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

constexpr int64_t kSerialEpochFromUnixDays = 25569;  // 1970-01-01 is serial 25569

constexpr double serialOf(int64_t year, unsigned month, unsigned day) {
  return static_cast<double>(daysFromCivil(year, month, day) + kSerialEpochFromUnixDays);
}
// The range of dates: what the files' text holds, four-digit years, from
// 0000-01-01 00:00:00 to 9999-12-31 23:59:59.
constexpr double kFirstDateSerial = serialOf(0, 1, 1);
constexpr double kLastDateSerial = serialOf(9999, 12, 31) + 86399.0 / 86400.0;

[[noreturn]] void typeMismatch(const Variant& v, VarType target) {
  throw Error(runtime_error::kTypeMismatch,
              "Type mismatch: cannot convert " + v.debugString() + " to " +
                  std::string(varTypeName(target)) + ".");
}

[[noreturn]] void invalidNull(VarType target) {
  throw Error(runtime_error::kInvalidUseOfNull,
              "Invalid use of Null: Null cannot be converted to " + std::string(varTypeName(target)) +
                  ".");
}

[[noreturn]] void overflow(const Variant& v, VarType target) {
  throw Error(runtime_error::kOverflow,
              "Overflow: " + v.debugString() + " does not fit in " +
                  std::string(varTypeName(target)) + ".");
}

enum class NumberText { Number, NotANumber, TooLarge };

// The number a text spells: blanks around it, one sign, digits with a point
// and an exponent. "inf" and "nan" spell no number: the runtime has no such
// values. A number beyond a Double's range, either way, is TooLarge.
NumberText parseNumber(std::string_view text, double& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '+' || negative)) text.remove_prefix(1);
  if (text.empty() || !((text.front() >= '0' && text.front() <= '9') || text.front() == '.'))
    return NumberText::NotANumber;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (ptr != text.data() + text.size()) return NumberText::NotANumber;
  if (ec == std::errc::result_out_of_range) return NumberText::TooLarge;
  if (ec != std::errc()) return NumberText::NotANumber;
  if (negative) out = -out;
  return NumberText::Number;
}

}  // namespace

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second) {
  double serial = 0;
  if (year != 0 || month != 0 || day != 0)
    serial = static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                 kSerialEpochFromUnixDays);
  serial += (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return DateTime{serial};
}

std::optional<DateTime> DateTime::parseIso(std::string_view text) {
  auto digits = [&](size_t pos, size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
  };
  auto parseTime = [&](size_t pos, int& h, int& mi, int& s) {
    if (!digits(pos, 2, h) || text.size() < pos + 5 || text[pos + 2] != ':' || !digits(pos + 3, 2, mi))
      return false;
    s = 0;
    size_t end = pos + 5;
    if (text.size() > end && text[end] == ':') {
      if (!digits(end + 1, 2, s)) return false;
      end += 3;
      if (text.size() > end && text[end] == '.') {  // fractions of a second are dropped
        ++end;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
      }
    }
    return end == text.size() && h < 24 && mi < 60 && s < 60;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() >= 5 && text[2] == ':') {
    if (!parseTime(0, h, mi, s)) return std::nullopt;
    return fromParts(0, 0, 0, h, mi, s);
  }
  if (!digits(0, 4, y) || text.size() < 10 || text[4] != '-' || !digits(5, 2, mo) || text[7] != '-' ||
      !digits(8, 2, d))
    return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
  if (text.size() > 10) {
    if (text[10] != ' ' && text[10] != 'T') return std::nullopt;
    if (!parseTime(11, h, mi, s)) return std::nullopt;
  }
  if (d > daysInMonth(y, mo)) return std::nullopt;  // 31 February and the like
  return fromParts(y, mo, d, h, mi, s);
}

bool DateTime::isInRange(double serial) {
  return serial >= kFirstDateSerial && serial <= kLastDateSerial;
}

void DateTime::requireInRange() const {
  if (!isInRange(serial)) {
    throw Error(runtime_error::kOverflow,
                "Overflow: the day serial " + formatDouble(serial) + " is no date from the year 0 to 9999.");
  }
}

int DateTime::daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::optional<DateTime> DateTime::parseStored(std::string_view text) {
  // Each of the three forms has its digits and separators at fixed places, so
  // a stored value (read for every date of every row) is taken apart in
  // place, without parseIso's search for its form.
  const auto twoDigits = [&](size_t at, int& out) {
    const unsigned tens = static_cast<unsigned char>(text[at]) - unsigned{'0'};
    const unsigned ones = static_cast<unsigned char>(text[at + 1]) - unsigned{'0'};
    out = static_cast<int>(tens * 10 + ones);
    return tens <= 9 && ones <= 9;
  };
  int hour = 0, minute = 0, second = 0;
  const auto time = [&](size_t at) {  // "HH:MM:SS" at `at`
    return text[at + 2] == ':' && text[at + 5] == ':' && twoDigits(at, hour) && twoDigits(at + 3, minute) &&
           twoDigits(at + 6, second) && hour < 24 && minute < 60 && second < 60;
  };
  if (text.size() == 8) {
    if (!time(0)) return std::nullopt;
    return fromParts(0, 0, 0, hour, minute, second);
  }
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  int century = 0, yearOfCentury = 0, month = 0, day = 0;
  if (text[4] != '-' || text[7] != '-' || !twoDigits(0, century) || !twoDigits(2, yearOfCentury) ||
      !twoDigits(5, month) || !twoDigits(8, day))
    return std::nullopt;
  const int year = century * 100 + yearOfCentury;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
  if (text.size() == 19 && (text[10] != ' ' || !time(11))) return std::nullopt;
  return fromParts(year, month, day, hour, minute, second);
}

DateTime::Parts DateTime::parts() const {
  requireInRange();
  Parts p{};
  double days = std::floor(serial);
  // Round to the nearest second so that 0.1-style fractions do not lose a second.
  int64_t seconds = std::llround((serial - days) * 86400.0);
  if (seconds >= 86400) {
    days += 1;
    seconds -= 86400;
  }
  if (days != 0 || serial >= 1) {
    civilFromDays(static_cast<int64_t>(days) - kSerialEpochFromUnixDays, p.year, p.month, p.day);
  } else {
    p.year = 1899;
    p.month = 12;
    p.day = 30;
  }
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  return p;
}

DateTime DateTime::datePart() const { return DateTime{std::floor(serial)}; }
DateTime DateTime::timePart() const { return DateTime{serial - std::floor(serial)}; }
bool DateTime::hasDate() const { return std::floor(serial) != 0; }
bool DateTime::hasTime() const { return serial != std::floor(serial); }

std::string DateTime::toIso() const {
  Parts p = parts();
  // Every date and time value bound to a statement passes here: the digits
  // are written by hand.
  char buf[20];
  char* out = buf;
  auto put = [&out](int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      out[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    out += width;
  };
  auto putTime = [&] {
    put(p.hour, 2);
    *out++ = ':';
    put(p.minute, 2);
    *out++ = ':';
    put(p.second, 2);
  };
  // Decided on the value rounded to the second, as the text shows it: a
  // serial a hair below day zero is midnight of day zero, a time alone.
  const bool date = p.year != 1899 || p.month != 12 || p.day != 30;
  const bool time = !date || p.hour != 0 || p.minute != 0 || p.second != 0;
  if (date) {
    put(p.year, 4);
    *out++ = '-';
    put(p.month, 2);
    *out++ = '-';
    put(p.day, 2);
    if (time) *out++ = ' ';
  }
  if (time) putTime();
  return std::string(buf, static_cast<size_t>(out - buf));
}

std::string_view varTypeName(VarType type) {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Double: return "Double";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::Error: return "Error";
    case VarType::Boolean: return "Boolean";
  }
  return "Unknown";
}

Variant Variant::fromInt64(int64_t value) {
  if (value >= INT16_MIN && value <= INT16_MAX) return Variant(static_cast<int16_t>(value));
  if (value >= INT32_MIN && value <= INT32_MAX) return Variant(static_cast<int32_t>(value));
  return Variant(static_cast<double>(value));
}

VarType Variant::type() const {
  static constexpr VarType kTypes[] = {VarType::Empty, VarType::Null,   VarType::Boolean,
                                       VarType::Integer, VarType::Long, VarType::Double,
                                       VarType::Date,  VarType::String, VarType::Object,
                                       VarType::Error};
  return kTypes[value_.index()];
}

bool Variant::isNumeric() const {
  VarType t = type();
  return t == VarType::Boolean || t == VarType::Integer || t == VarType::Long || t == VarType::Double;
}

double Variant::numberFor(VarType target) const {
  double d = 0;
  switch (type()) {
    case VarType::Empty: return 0;
    case VarType::Null: invalidNull(target);
    case VarType::Boolean: return *get<bool>() ? -1 : 0;
    case VarType::Integer: return *get<int16_t>();
    case VarType::Long: return *get<int32_t>();
    case VarType::Double: d = *get<double>(); break;
    case VarType::Date: d = get<DateTime>()->serial; break;
    case VarType::String: {
      const std::string& s = *get<std::string>();
      switch (parseNumber(s, d)) {
        case NumberText::Number: return d;
        case NumberText::TooLarge: overflow(*this, target);
        case NumberText::NotANumber: break;
      }
      if (equalsIgnoreCase(s, "True")) return -1;
      if (equalsIgnoreCase(s, "False")) return 0;
      if (auto date = DateTime::parseIso(s)) return date->serial;
      typeMismatch(*this, target);
    }
    case VarType::Object:
    case VarType::Error: typeMismatch(*this, target);
  }
  // The runtime has no NaN and no infinities: a Double or a date made
  // elsewhere that holds one does not convert.
  if (std::isnan(d)) typeMismatch(*this, target);
  if (std::isinf(d)) overflow(*this, target);
  return d;
}

double Variant::toDouble() const { return numberFor(VarType::Double); }

bool Variant::toBool() const {
  if (auto b = get<bool>()) return *b;
  return numberFor(VarType::Boolean) != 0;
}

int16_t Variant::toInt16() const {
  if (auto i = get<int16_t>()) return *i;
  double d = std::nearbyint(numberFor(VarType::Integer));  // round half to even
  if (!(d >= INT16_MIN && d <= INT16_MAX)) overflow(*this, VarType::Integer);
  return static_cast<int16_t>(d);
}

int32_t Variant::toInt32() const {
  if (auto i = get<int32_t>()) return *i;
  if (auto i = get<int16_t>()) return *i;
  double d = std::nearbyint(numberFor(VarType::Long));
  if (!(d >= INT32_MIN && d <= INT32_MAX)) overflow(*this, VarType::Long);
  return static_cast<int32_t>(d);
}

DateTime Variant::toDate() const {
  if (auto d = get<DateTime>()) return *d;
  if (isNull()) invalidNull(VarType::Date);
  if (auto s = get<std::string>()) {
    if (auto d = DateTime::parseIso(*s)) return *d;
    typeMismatch(*this, VarType::Date);
  }
  const double serial = numberFor(VarType::Date);
  if (!DateTime::isInRange(serial)) overflow(*this, VarType::Date);
  return DateTime{serial};
}

std::string Variant::toString() const {
  switch (type()) {
    case VarType::Empty: return "";
    case VarType::Null: invalidNull(VarType::String);
    case VarType::Boolean: return *get<bool>() ? "True" : "False";
    case VarType::Integer: return std::to_string(*get<int16_t>());
    case VarType::Long: return std::to_string(*get<int32_t>());
    case VarType::Double: return formatDouble(*get<double>());
    case VarType::Date: return get<DateTime>()->toIso();
    case VarType::String: return *get<std::string>();
    case VarType::Error: return "Error " + std::to_string(get<ErrorValue>()->code);
    case VarType::Object: typeMismatch(*this, VarType::String);
  }
  typeMismatch(*this, VarType::String);
}

ObjectRef Variant::toObject() const {
  if (auto o = get<ObjectRef>()) return *o;
  if (isEmpty()) return nullptr;  // an unset object reference
  typeMismatch(*this, VarType::Object);
}

int32_t Variant::errorCode() const {
  if (auto e = get<ErrorValue>()) return e->code;
  typeMismatch(*this, VarType::Error);
}

Variant Variant::convertTo(VarType target) const {
  if (type() == target) return *this;
  switch (target) {
    case VarType::Empty: return Variant();
    case VarType::Null: return null();
    case VarType::Boolean: return Variant(toBool());
    case VarType::Integer: return Variant(toInt16());
    case VarType::Long: return Variant(toInt32());
    case VarType::Double: return Variant(toDouble());
    case VarType::Date: return Variant(toDate());
    case VarType::String: return Variant(toString());
    case VarType::Object: return Variant(toObject());
    case VarType::Error: return error(toInt32());
  }
  typeMismatch(*this, target);
}

std::string Variant::debugString() const {
  switch (type()) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::String: return "\"" + *get<std::string>() + "\"";
    case VarType::Date: {
      // Messages about a date made elsewhere of a serial beyond the dates
      // still show it.
      const double serial = get<DateTime>()->serial;
      if (!DateTime::isInRange(serial)) return "#" + formatDouble(serial) + "#";
      return "#" + get<DateTime>()->toIso() + "#";
    }
    case VarType::Object: return *get<ObjectRef>() ? "<object>" : "Nothing";
    default: return toString();
  }
}

std::string numberText(int64_t value) {
  return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

std::string formatDouble(double value) {
  if (value == 0) return "0";  // also for -0
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return std::to_string(value);
  return std::string(buf, ptr);
}

std::string numberText(double value) {
  // Fixed notation whatever the magnitude: the shortest form may be the
  // exponent one (1e+05), which has no place in a statement's text.
  if (value == 0) return " 0";  // also for -0
  char buf[400];  // every double fits: the longest fixed form, 0.000…, has under 330 characters
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  const std::string digits = ec == std::errc() ? std::string(buf, end) : formatDouble(value);
  return digits.front() == '-' ? digits : " " + digits;
}

}  // namespace oskara
