// Variant: the value type shared by the database layer and the automation
// layer. It holds one of the automation types the system passes around and
// converts between them the way the system's callers rely on:
//  - to boolean: 0 is false, any other number true; "True"/"False" texts;
//  - to 16-bit integer: rounds half to even, fails outside -32768..32767;
//  - Null to text, or to any number, fails ("Invalid use of Null");
//  - a number becomes a date only within the range of dates, the years 0 to
//    9999; beyond it, and for infinities, the conversion overflows (6); NaN
//    does not convert (13);
//  - dates are local wall-clock values without a time zone.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace oskara {

// A local date and time as a day serial: whole days since 30 December 1899,
// the fraction is the time of day. A value below 1 is a time of day alone, a
// whole number a date alone. Conversions make serials of the range of dates
// only; parts() and toIso() raise overflow (6) for a serial beyond it.
struct DateTime {
  double serial = 0;

  // Whether `serial` lies in the range of dates, the dates the files' text
  // holds: 0000-01-01 00:00:00 to 9999-12-31 23:59:59.
  static bool isInRange(double serial);
  // Raises overflow (6) for a serial beyond the range of dates, as parts() does.
  void requireInRange() const;
  // The days of `month` (1 to 12) of `year` in the proleptic Gregorian calendar.
  static int daysInMonth(int year, int month);

  static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0);
  // Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" (or with 'T') and "HH:MM:SS".
  static std::optional<DateTime> parseIso(std::string_view text);
  // The one rule for a value stored in a date field: exactly "YYYY-MM-DD",
  // "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS", each part in its range and the day
  // in its month. Anything else stored there is malformed. The files' CHECK
  // constraints state the same rule in SQL (contract/schema.h).
  static std::optional<DateTime> parseStored(std::string_view text);

  struct Parts {
    int year, month, day, hour, minute, second;
  };
  Parts parts() const;
  DateTime datePart() const;
  DateTime timePart() const;
  bool hasDate() const;  // false for a time of day alone
  bool hasTime() const;  // false for a date alone
  // "YYYY-MM-DD", "HH:MM:SS" or "YYYY-MM-DD HH:MM:SS", whichever fits.
  std::string toIso() const;

  auto operator<=>(const DateTime&) const = default;
};

// Object references are automation objects; the type is completed by
// common/automation.
class Dispatch;
using ObjectRef = std::shared_ptr<Dispatch>;

enum class VarType : uint8_t {
  Empty = 0,
  Null = 1,
  Integer = 2,  // 16-bit
  Long = 3,     // 32-bit
  Double = 5,
  Date = 7,
  String = 8,
  Object = 9,
  Error = 10,
  Boolean = 11,
};

std::string_view varTypeName(VarType type);

class Variant {
 public:
  struct NullValue {
    bool operator==(const NullValue&) const = default;
  };
  struct ErrorValue {
    int32_t code = 0;
    bool operator==(const ErrorValue&) const = default;
  };

  Variant() = default;  // Empty
  Variant(bool value) : value_(value) {}
  Variant(int16_t value) : value_(value) {}
  Variant(int32_t value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(DateTime value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::string_view value) : value_(std::string(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}
  Variant(ObjectRef value) : value_(std::move(value)) {}

  static Variant null() { return Variant(NullValue{}); }
  static Variant error(int32_t code) { return Variant(ErrorValue{code}); }
  // A whole number in the narrowest of Integer, Long and Double that holds it.
  static Variant fromInt64(int64_t value);

  // Makes this the text `text`. A text held already keeps its room, so that
  // a value written over and over (a field of each row read or written) need
  // not allocate each time.
  void assignText(std::string_view text) {
    if (auto* held = std::get_if<std::string>(&value_)) {
      held->assign(text);
    } else {
      value_.emplace<std::string>(text);
    }
  }

  VarType type() const;
  bool isEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  bool isNull() const { return std::holds_alternative<NullValue>(value_); }
  bool isNumeric() const;  // Boolean, Integer, Long or Double

  // Conversions; each throws oskara::Error (6 overflow, 13 type mismatch,
  // 94 invalid use of Null) when the value does not convert.
  bool toBool() const;
  int16_t toInt16() const;
  int32_t toInt32() const;
  double toDouble() const;
  DateTime toDate() const;
  std::string toString() const;
  ObjectRef toObject() const;
  int32_t errorCode() const;

  Variant convertTo(VarType type) const;

  // Typed access without conversion; nullptr when the variant holds another type.
  template <typename T>
  const T* get() const {
    return std::get_if<T>(&value_);
  }

  // Same type and same value (two Nulls are equal, as are two Empties).
  bool operator==(const Variant& other) const = default;

  // Readable form for messages and test output: "Null", "Empty", "\"text\"", "30".
  std::string debugString() const;

 private:
  explicit Variant(NullValue v) : value_(v) {}
  explicit Variant(ErrorValue v) : value_(v) {}

  // The value as a number, for a conversion to `target`, which failures name.
  double numberFor(VarType target) const;

  std::variant<std::monostate, NullValue, bool, int16_t, int32_t, double, DateTime, std::string,
               ObjectRef, ErrorValue>
      value_;
};

// The system's number text: a blank before a number that is zero or positive,
// the minus sign before a negative one (30 -> " 30", -5 -> "-5"). Doubles use
// the shortest decimal form that reads back as the same value, always in
// plain notation with a period, never grouped, whatever the locale
// (" 250.5", " 100000", " 0.0001").
std::string numberText(int64_t value);
std::string numberText(double value);

// Plain decimal text of a double, shortest round-trip form, no blank.
std::string formatDouble(double value);

}  // namespace oskara
