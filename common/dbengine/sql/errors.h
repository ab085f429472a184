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
}  // namespace errc

// A syntax error of the clause `number` names; `statement` is the dialect
// text as given, quoted in the error's text.
Error syntaxError(int32_t number, std::string_view detail, std::string_view statement);

// A table, link or stored query that the database does not have.
Error noSuchTable(std::string_view name);

// An unqualified field name that more than one source of the FROM clause has.
Error ambiguousField(std::string_view name, std::string_view statement);

}  // namespace oskara::db::sql
