#include "dbengine/postgres/values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace oskara::db::postgres {
namespace {

bool isInteger(Oid type) { return type == type_oid::kInt2 || type == type_oid::kInt4 || type == type_oid::kInt8; }
bool isFloating(Oid type) {
  return type == type_oid::kFloat4 || type == type_oid::kFloat8 || type == type_oid::kNumeric;
}
bool isDate(Oid type) {
  return type == type_oid::kTimestamp || type == type_oid::kTimestampTz || type == type_oid::kDate ||
         type == type_oid::kTime;
}

// The shortest text that reads back as the same double.
std::string doubleText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

// A timestamp, date or time of day as the server writes it, as a DateTime.
// Fractions of a second and a zone are dropped: the engine's dates hold seconds.
std::optional<DateTime> parseDate(std::string_view text) {
  if (text.size() >= 19 && text[10] == ' ') {
    text = text.substr(0, 19);
  } else if (text.size() >= 8 && text[2] == ':') {
    text = text.substr(0, 8);
  } else if (text.size() > 10 && text[4] == '-') {
    return std::nullopt;  // a date before the common era, or with a zone: shown as written
  }
  return DateTime::parseIso(text);
}

Variant integerIn(int64_t v, int64_t lo, int64_t hi) {
  if (v < lo || v > hi) return Variant::fromInt64(v);  // out of range: the caller's conversion fails
  return hi == INT16_MAX ? Variant(static_cast<int16_t>(v)) : Variant(static_cast<int32_t>(v));
}

// A cell by its column type alone.
Variant byType(std::string_view text, Oid type) {
  if (type == type_oid::kBool) return Variant(text == "t");
  if (isInteger(type) || type == type_oid::kOid) return Variant::fromInt64(std::strtoll(text.data(), nullptr, 10));
  if (isFloating(type)) return Variant(std::strtod(std::string(text).c_str(), nullptr));
  if (isDate(type)) {
    if (auto d = parseDate(text)) return Variant(*d);
  }
  return Variant(std::string(text));
}

}  // namespace

std::string timestampText(DateTime value) {
  const DateTime::Parts p = value.parts();
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

std::string parameterText(const Variant& value, Oid type) {
  if (type == type_oid::kBool) return value.toBool() ? "t" : "f";
  if (type == type_oid::kInt2) return std::to_string(value.toInt16());
  if (type == type_oid::kInt4) return std::to_string(value.toInt32());
  if (type == type_oid::kInt8) {
    const double d = std::nearbyint(value.toDouble());
    if (!(d >= -9.2e18 && d <= 9.2e18)) return doubleText(d);  // the server refuses it: out of range
    return std::to_string(static_cast<int64_t>(d));
  }
  if (isFloating(type)) return doubleText(value.toDouble());
  if (isDate(type)) return timestampText(value.toDate());
  // Text, and types the engine has no conversion for: as the files store them.
  switch (value.type()) {
    case VarType::Date: return value.get<DateTime>()->toIso();
    case VarType::Boolean: return *value.get<bool>() ? "1" : "0";
    case VarType::Double: return doubleText(*value.get<double>());
    default: return value.toString();
  }
}

Variant readValue(const char* text, int length, Oid type, FieldType field) {
  const std::string_view cell(text, static_cast<size_t>(length));
  switch (field) {
    case FieldType::Text: return Variant(std::string(cell));
    case FieldType::Short:
      if (isInteger(type)) return integerIn(std::strtoll(text, nullptr, 10), INT16_MIN, INT16_MAX);
      break;
    case FieldType::Long:
      if (isInteger(type)) return integerIn(std::strtoll(text, nullptr, 10), INT32_MIN, INT32_MAX);
      break;
    case FieldType::Double:
      if (isInteger(type) || isFloating(type)) return Variant(std::strtod(text, nullptr));
      break;
    case FieldType::Boolean:
      if (type == type_oid::kBool) return Variant(cell == "t");
      if (isInteger(type) || isFloating(type)) return Variant(std::strtod(text, nullptr) != 0);
      break;
    case FieldType::Date:
      if (isDate(type)) {
        if (auto d = parseDate(cell)) return Variant(*d);
      }
      break;
    case FieldType::Any:
      break;
  }
  // What the declared type cannot explain is shown as the server gives it.
  return byType(cell, type);
}

}  // namespace oskara::db::postgres
