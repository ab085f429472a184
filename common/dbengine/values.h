// Field values between callers and the store: the declared type of a column
// decides what a caller reads from it and what an assignment is converted to.
#pragma once

#include "dbengine/internal.h"

#include <cstdint>
#include <string_view>

#include "core/variant.h"

namespace oskara::db {

// The field types of the database files, told by the declared column type.
// `Any` is an expression or an undeclared column: its value is what the store
// holds.
enum class FieldType : uint8_t { Any, Text, Short, Long, Double, Boolean, Date };

FieldType fieldTypeOf(std::string_view declaredType);
FieldType fieldTypeOf(VarType type);  // the type a declared parameter takes

// `value` converted for a field (or parameter) of `type`; Null and Empty stay
// Null. Throws 3349 when a number does not fit and 3421 when the value does
// not convert, naming `field`.
Variant convertForField(const Variant& value, FieldType type, std::string_view field);
// The same for the field `column` of `table`, named "table.column" (the name
// is only put together for a failure), assigned to `target`: a text over a
// text keeps the room of the one it replaces. `target` is unchanged when the
// value does not convert.
void assignForField(Variant& target, const Variant& value, FieldType type, std::string_view table,
                    std::string_view column);

}  // namespace oskara::db
