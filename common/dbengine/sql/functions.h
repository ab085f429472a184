// The dialect's functions. The binder looks a call up in the catalogue
// below; the emitter writes the SQLite function it names; and
// registerDialectFunctions puts those SQLite functions (all prefixed osk_) on
// a connection. Dates travel as ISO text (YYYY-MM-DD, YYYY-MM-DD HH:MM:SS,
// HH:MM:SS), as the database files store them.
#pragma once

#include <cstdint>
#include <string_view>

struct sqlite3;

namespace oskara::db::sql {

// What a call gives, for the binder's typing of expressions.
enum class FunctionResult : uint8_t { Text, Number, Boolean, Date, FirstArgument, Unknown };

// How a call is written in SQLite.
enum class FunctionForm : uint8_t {
  Call,       // sqlName(args)
  Aggregate,  // sqlName(args), and the query becomes an aggregate
  IIf,        // CASE WHEN c THEN a ELSE b END
  IsNull,     // (x IS NULL)
  Nz,         // coalesce(x, default or '')
};

struct DialectFunction {
  std::string_view name;     // as the dialect spells it
  std::string_view sqlName;  // the SQLite function the emitter calls (Call and Aggregate)
  int8_t minArgs;
  int8_t maxArgs;
  FunctionResult result;
  FunctionForm form;
};

// A dialect function by name, without regard to case; nullptr when unknown.
const DialectFunction* findDialectFunction(std::string_view name);

// Helpers the emitter writes for operators (not callable by name in the dialect).
namespace helper {
inline constexpr std::string_view kLike = "osk_like";          // (value, pattern) -> 1/0/NULL
inline constexpr std::string_view kConcat = "osk_concat";      // a & b, Null only when both are
inline constexpr std::string_view kAdd = "osk_add";            // + decided by the values: number, date or text
inline constexpr std::string_view kSubtract = "osk_subtract";  // - decided by the values: number or date
inline constexpr std::string_view kIntDivide = "osk_intdiv";   // a \ b
inline constexpr std::string_view kMod = "osk_mod";            // a Mod b
inline constexpr std::string_view kPower = "osk_pow";          // a ^ b
}  // namespace helper

// Registers every SQLite function the emitter relies on. The clock functions
// read oskara::currentClock() at each call. Throws oskara::Error (3000) if
// SQLite refuses a registration.
void registerDialectFunctions(sqlite3* db);

}  // namespace oskara::db::sql
