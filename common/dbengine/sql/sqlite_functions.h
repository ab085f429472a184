// The dialect's functions and operators as SQLite computes them: the SQLite
// function the SQLite emitter writes for each, and registerDialectFunctions,
// which puts the ones of our own (all prefixed osk_) on a connection. Dates
// travel as ISO text (YYYY-MM-DD, YYYY-MM-DD HH:MM:SS, HH:MM:SS), as the
// database files store them.
#pragma once

#include <string_view>

#include "dbengine/sql/function_catalog.h"

struct sqlite3;

namespace oskara::db::sql {

// The SQLite function that computes a dialect function: SQLite's own or one
// registered below; "" for IIf and IsNull, which are written as expressions.
std::string_view sqliteFunctionName(Function f);

// Functions written for the operators whose dialect meaning SQLite's own
// operators do not have (not callable by name in the dialect).
namespace sqlite_operator {
inline constexpr const char* kLike = "osk_like";          // (value, pattern) -> 1/0/NULL
inline constexpr const char* kConcat = "osk_concat";      // a & b, Null only when both are
inline constexpr const char* kAdd = "osk_add";            // + decided by the values: number, date or text
inline constexpr const char* kSubtract = "osk_subtract";  // - decided by the values: number or date
inline constexpr const char* kIntDivide = "osk_intdiv";   // a \ b
inline constexpr const char* kMod = "osk_mod";            // a Mod b
inline constexpr const char* kPower = "osk_pow";          // a ^ b
inline constexpr const char* kDivide = "osk_div";         // a / b, failing on division by zero
}  // namespace sqlite_operator

// Registers every SQLite function the SQLite emitter relies on. The clock
// functions read oskara::currentClock() at each call. Throws oskara::Error
// (3000) if SQLite refuses a registration.
void registerDialectFunctions(sqlite3* db);

}  // namespace oskara::db::sql
