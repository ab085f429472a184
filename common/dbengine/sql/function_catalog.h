// The dialect's functions as the binder knows them: their names, how many
// arguments they take, what they give and which form they have. How a
// function is computed belongs to each target (for SQLite, sqlite_functions.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace oskara::db::sql {

// The longest text an expression may give, in bytes of UTF-8 (16 MiB): a
// function or operator whose result would be longer fails with out of
// string space (14) instead of taking memory without bound.
inline constexpr size_t kMaxTextBytes = size_t{16} << 20;

enum class Function : uint8_t {
  // Special forms.
  IIf, IsNull, Nz,
  // Aggregates.
  Count, Sum, Avg, Min, Max, First, Last,
  // Clock.
  Date, Time, Now,
  // Dates.
  DateDiff, DateAdd, DatePart, DateSerial, TimeSerial, DateValue, TimeValue,
  Year, Month, Day, Hour, Minute, Second, Weekday,
  // Text.
  Len, Left, Right, Mid, UCase, LCase, Trim, LTrim, RTrim, InStr, Space, String, Replace,
  // Numbers.
  Abs, Int, Fix, Sgn, Round, Sqr, Val,
  // Conversions.
  CStr, CInt, CLng, CDbl, CSng, CCur, CDate, CVDate, CBool, StrComp,
};
inline constexpr size_t kFunctionCount = static_cast<size_t>(Function::StrComp) + 1;  // the last above

// What a call gives, for the binder's typing of expressions.
enum class FunctionResult : uint8_t { Text, Number, Boolean, Date, FirstArgument, Unknown };

// How the binder makes a call of the bound tree.
enum class FunctionForm : uint8_t {
  Call,       // a call of the function
  Aggregate,  // a call, and the query becomes an aggregate
  IIf,        // a conditional expression
  IsNull,     // a test for Null
  Nz,         // a call of Nz with its default made explicit ("" when none is given)
};

struct DialectFunction {
  Function function;
  std::string_view name;  // as the dialect spells it
  int8_t minArgs;
  int8_t maxArgs;
  FunctionResult result;
  FunctionForm form;
};

// A dialect function by name, without regard to case; nullptr when unknown.
const DialectFunction* findDialectFunction(std::string_view name);

}  // namespace oskara::db::sql
