// Reading what the user typed for `db sql`: whether a statement gives rows,
// whether it is a bare table or query name, and the value of a --param.
#pragma once

#include <string>
#include <string_view>

#include "core/variant.h"

namespace oskara::tool {

// As the engine reads a text (dbengine/sql/classify.h): true for a SELECT (or
// TRANSFORM), also after a PARAMETERS declaration or an opening parenthesis;
// false for INSERT, UPDATE, DELETE and anything else.
bool returnsRows(std::string_view statement);

// The name when the whole text is one table or query name ("tblDTQueue",
// "[qryDtFollowUp2b]"), otherwise "".
std::string bareName(std::string_view statement);

// A parameter value from the command line: True/False, Null, a whole number
// (Long), a decimal number (Double), an ISO date or time, else text.
Variant parameterValue(std::string_view text);

}  // namespace oskara::tool
