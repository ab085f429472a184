// Values between the engine and the server, as text (libpq's text format): a
// parameter written for the type the server gave it, a result read as the
// field type the engine expects, by the column's type when that does not
// explain it. Dates are timestamps: a date alone at midnight, a time alone on
// 30 December 1899 (day zero of the engine's dates).
#pragma once

#include "dbengine/internal.h"

#include <libpq-fe.h>

#include <string>

#include "core/variant.h"
#include "dbengine/values.h"

namespace oskara::db::postgres {

// Type numbers of the server's built-in types that values are written and
// read by (pg_type.oid; fixed in every server).
namespace type_oid {
inline constexpr Oid kBool = 16;
inline constexpr Oid kInt8 = 20;
inline constexpr Oid kInt2 = 21;
inline constexpr Oid kInt4 = 23;
inline constexpr Oid kText = 25;
inline constexpr Oid kOid = 26;
inline constexpr Oid kFloat4 = 700;
inline constexpr Oid kFloat8 = 701;
inline constexpr Oid kDate = 1082;
inline constexpr Oid kTime = 1083;
inline constexpr Oid kTimestamp = 1114;
inline constexpr Oid kTimestampTz = 1184;
inline constexpr Oid kNumeric = 1700;
}  // namespace type_oid

// `value` (not Null) as the text of a parameter of type `type`. Throws the
// Variant's conversion failure when it does not convert.
std::string parameterText(const Variant& value, Oid type);

// A timestamp's text: "YYYY-MM-DD HH:MM:SS".
std::string timestampText(DateTime value);

// The value of a result cell (not Null) of column type `type`, read as
// `field` says.
Variant readValue(const char* text, int length, Oid type, FieldType field);

}  // namespace oskara::db::postgres
