// The translator's errors: their numbers (the engine's errors.h gives them to
// its callers under the same names) and the texts that name what failed.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/error.h"

namespace oskara::db::sql {

namespace errc {
inline constexpr int32_t kReserved = 3000;            // a failure with no closer number (a function SQLite would not register)
inline constexpr int32_t kSyntaxExpression = 3075;    // an expression, or text that cannot be read as tokens
inline constexpr int32_t kNoSuchTable = 3078;
inline constexpr int32_t kAmbiguousField = 3079;
inline constexpr int32_t kInvalidStatement = 3129;    // not SELECT, INSERT, UPDATE, DELETE
inline constexpr int32_t kSyntaxFrom = 3131;
inline constexpr int32_t kSyntaxInsert = 3134;
inline constexpr int32_t kCharactersAfterEnd = 3142;  // text after the closing ";": no clause is at fault
inline constexpr int32_t kSyntaxUpdate = 3144;
inline constexpr int32_t kSyntaxSelect = 3141;        // a SELECT's own words: TOP, its keys, its result columns
inline constexpr int32_t kSubqueryFields = 3306;      // a subquery giving one value asks for more than one field

// The runtime's numbers that the dialect's functions raise when they run,
// beside those of core/error.h (overflow 6, type mismatch 13, Null 94).
inline constexpr int32_t kInvalidCall = 5;            // an argument outside what the function accepts
inline constexpr int32_t kDivisionByZero = 11;
inline constexpr int32_t kOutOfStringSpace = 14;      // a text longer than kMaxTextBytes (function_catalog.h)
}  // namespace errc

// A syntax error of the clause `number` names; `statement` is the dialect
// text as given, quoted in the error's text.
Error syntaxError(int32_t number, std::string_view detail, std::string_view statement);

// A table, link or stored query that the database does not have.
Error noSuchTable(std::string_view name);

// An unqualified field name that more than one source of the FROM clause has.
Error ambiguousField(std::string_view name, std::string_view statement);

}  // namespace oskara::db::sql
