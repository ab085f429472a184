#include "dbengine/sql/datetext.h"

#include <cctype>

namespace oskara::db::sql {
namespace {

// A cursor over the text with the few reads a date needs.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }
  void skipBlanks() {
    while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool take(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  // Up to `maxDigits` decimal digits; false when there is none.
  bool number(int& out, int& digits, int maxDigits = 4) {
    out = 0;
    digits = 0;
    while (!atEnd() && digits < maxDigits && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      out = out * 10 + (text_[pos_] - '0');
      ++pos_;
      ++digits;
    }
    return digits > 0;
  }
  // "AM" or "PM" without regard to case; 0 when absent, 1 for AM, 2 for PM.
  int meridiem() {
    if (pos_ + 2 > text_.size()) return 0;
    char a = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
    char m = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_ + 1])));
    if (m != 'M' || (a != 'A' && a != 'P')) return 0;
    pos_ += 2;
    return a == 'A' ? 1 : 2;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool validDate(int year, int month, int day) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

// "h:mm[:ss] [AM|PM]" at the reader's position, up to the end of the text.
bool readTime(Reader& r, int& hour, int& minute, int& second) {
  int digits = 0;
  if (!r.number(hour, digits, 2) || !r.take(':') || !r.number(minute, digits, 2) || digits != 2)
    return false;
  second = 0;
  if (r.take(':') && (!r.number(second, digits, 2) || digits != 2)) return false;
  r.skipBlanks();
  int ampm = r.meridiem();
  r.skipBlanks();
  if (!r.atEnd()) return false;
  if (ampm != 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (ampm == 2 ? 12 : 0);
  }
  return hour < 24 && minute < 60 && second < 60;
}

}  // namespace

int expandTwoDigitYear(int year) {
  if (year >= 100) return year;
  return year >= 30 ? 1900 + year : 2000 + year;
}

std::optional<DateTime> parseDialectDate(std::string_view text) {
  Reader r(text);
  r.skipBlanks();
  int first = 0, firstDigits = 0;
  if (!r.number(first, firstDigits)) return std::nullopt;

  int hour = 0, minute = 0, second = 0;
  if (r.peek() == ':') {  // a time of day alone
    Reader t(text);
    t.skipBlanks();
    if (firstDigits > 2 || !readTime(t, hour, minute, second)) return std::nullopt;
    return DateTime::fromParts(0, 0, 0, hour, minute, second);
  }

  int year = 0, month = 0, day = 0, digits = 0;
  if (r.take('/')) {  // month/day/year
    month = first;
    if (firstDigits > 2 || !r.number(day, digits, 2) || !r.take('/') || !r.number(year, digits))
      return std::nullopt;
    if (digits <= 2) year = expandTwoDigitYear(year);
  } else if (r.take('-')) {  // year-month-day
    year = first;
    if (firstDigits != 4 || !r.number(month, digits, 2) || !r.take('-') || !r.number(day, digits, 2))
      return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!validDate(year, month, day)) return std::nullopt;

  r.skipBlanks();
  if (!r.atEnd() && !readTime(r, hour, minute, second)) return std::nullopt;
  return DateTime::fromParts(year, month, day, hour, minute, second);
}

}  // namespace oskara::db::sql
