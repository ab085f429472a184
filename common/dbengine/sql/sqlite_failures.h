// What SQLite says when a translated statement fails, as the engine's errors.
// Two kinds of its texts come from the translator's side:
//  - the failures of the dialect's functions (sqlite_functions.h), which
//    carry the runtime's number (5, 6, 11, 13, 14, 94) inside their text;
//  - SQLite's own texts about a translation it will not prepare or run (too
//    deeply nested, too many tables in a join, an aggregate where none may
//    stand), which become syntax errors quoting the dialect statement.
// The engine asks here first and maps everything else itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace oskara::db::sql {

// The text a dialect function hands SQLite for `failure`, from which
// statementFailure gets the failure back whole.
std::string functionFailureText(const Error& failure);

// The engine's error for SQLite's result code `rc` and `message` when they
// come from a dialect function or are one of SQLite's texts about a
// translation; `statement` is the dialect text. std::nullopt otherwise.
std::optional<Error> statementFailure(int rc, std::string_view message, std::string_view statement);

}  // namespace oskara::db::sql
