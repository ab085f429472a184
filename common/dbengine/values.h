// Field values between callers and SQLite: the declared type of a column
// decides what a caller reads from it and what an assignment is converted to;
// values reach SQLite statements as bound parameters.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

#include "core/variant.h"

namespace oskara::db {

// The field types of the database files, told by the declared column type.
// `Any` is an expression or an undeclared column: its value follows SQLite's
// storage class.
enum class FieldType : uint8_t { Any, Text, Short, Long, Double, Boolean, Date };

FieldType fieldTypeOf(std::string_view declaredType);
FieldType fieldTypeOf(VarType type);  // the type a declared parameter takes

// The value of result column `index` of the row `stmt` stands on. A stored
// value that its declared type cannot hold (40000 in a SMALLINT, a number
// beyond the range of dates in a DATETIME) is shown as stored, so that the
// caller's conversion fails.
Variant readColumn(sqlite3_stmt* stmt, int index, FieldType type);

// `value` converted for a field (or parameter) of `type`; Null and Empty stay
// Null. Throws 3349 when a number does not fit and 3421 when the value does
// not convert, naming `field`.
Variant convertForField(const Variant& value, FieldType type, std::string_view field);

// Binds `value` to parameter `index` (from 1): Boolean as 1/0, Date as ISO
// text, Integer/Long as 64-bit integers, Null and Empty as NULL. Returns the
// SQLite result code; an object reference or error value is SQLITE_MISMATCH.
// With `copyText` false a String's text is not copied: the value must stay
// unchanged until the statement has run.
int bindValue(sqlite3_stmt* stmt, int index, const Variant& value, bool copyText = true);

}  // namespace oskara::db
